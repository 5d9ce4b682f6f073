#include "launcher/dispatch.h"

#include "keylistener/listener_control.h"
#include "platform/platform.h"
#include "shared/button_model.h"
#include "shared/debuglog.h"
#include "shared/press_notice.h"
#include "shared/settings.h"
#include "shared/special_actions.h"
#include "shared/text.h"
#include "shared/user_buttons.h"

namespace {

const std::u16string kCaption = u"Quadrakey";

void KeyPress(uint8_t key) {
  plat::KeybdEvent(key, 0, plat::kKeyEventSilent, 0);
  plat::KeybdEvent(key, 0, plat::kKeyEventKeyUp | plat::kKeyEventSilent, 0);
}

void ToggleInputPanel() {
  plat::SipInfo info{};
  info.size = sizeof(plat::SipInfo);
  plat::ShSipInfo(plat::kSpiGetSipInfo, 0, &info, 0);
  const bool shown = (info.flags & plat::kSipfOn) != 0;
  plat::ShSipPreference(plat::GetForegroundWindow(), shown ? plat::kSipForceDown : plat::kSipUp);
}

bool ShowToday() {
  const plat::Window desktop = plat::GetDesktopWindow();
  if (desktop == 0) return false;
  plat::SetForegroundWindow(desktop);
  return true;
}

void StartRotationTool(uint32_t button, int32_t press_count, bool hold) {
  const std::u16string params = GetLaunchParams(u"RotateScreen", button, press_count, hold);
  const std::u16string program = GetAppFolderPath(kRotationProgram);
  // Not waited for, and a failed start is not reported.
  plat::CreateProcess(program, params);
}

enum class OpenResult { Missing, Launched, Refused };

OpenResult OpenAssignment(const char16_t* assignment) {
  const std::u16string file = assignment;
  if (!FileExists(file)) {
    plat::MessageBox(kMissingAssignmentText, &kCaption,
                     plat::kMbOk | plat::kMbIconExclamation | plat::kMbTopmost);
    return OpenResult::Missing;
  }
  if (plat::ShellOpen(file)) {
    LogFormat(u"Launched %s\n", false, file);
    return OpenResult::Launched;
  }
  const std::u16string text = ShellFailureText(file, plat::GetLastError());
  LogFormat(u"%s\n", false, text);
  plat::MessageBeep(plat::kMbIconExclamation);
  plat::MessageBox(text, &kCaption, plat::kMbOk | plat::kMbIconStop | plat::kMbTopmost);
  return OpenResult::Refused;
}

bool CloseReport(uint32_t button, int32_t press_count, bool hold, const char16_t* shortcut,
                 const char16_t* app, bool success) {
  SetLogFile(GetLogFilePath(u"launch.log"));
  SetLogFlush(true);
  ResetLogFile();
  EnableLog(true);
  LogFormat(u"Launch button %ld, press %ld, hold %ld\n", false, button, press_count, hold);
  LogFormat(u"  shortcut: %s\n", false, shortcut);
  LogFormat(u"  app: %s\n", false, app);
  LogText(u"  (no exe)\n");
  LogText(u"  (no cmdline)\n");
  // A press on a damaged registry may have lost its counter, its setting
  // or what it did: it is never reported as gone through.
  const uint32_t damage = plat::RegistryDamage();
  if (damage != 0) success = false;
  if (success) {
    LogText(u"Success");
  } else {
    LogFormat(u"Error: %ld", false, damage);
  }
  return success;
}

// What the Settings page calls the button: a hardware button by its name,
// a user-defined one by the name it was given.
std::u16string ButtonShownName(uint32_t button) {
  const ButtonTable table = ReadButtonTable();
  const std::vector<const ButtonTableEntry*> hardware = table.Buttons();
  if (button < hardware.size()) return hardware[button]->name;
  UserButtonList list;
  list.Load();
  const size_t user = button - hardware.size();
  if (user < list.Count()) return list.NameAt(user);
  return u"Button " + DecimalText(static_cast<int64_t>(button) + 1);
}

// The listener shows it, after the press has done its work: a notice never
// delays what the press does.
void TellNotice(uint32_t button, int32_t press_count, bool hold, const std::u16string& assignment) {
  if (!PressNoticeWanted() || !IsKeyListenerRunning()) return;
  TellKeyListenerNotice(PressNoticeText(ButtonShownName(button), press_count, hold, assignment));
}

bool DispatchSlot(uint32_t button, int32_t press_count, bool hold, const std::u16string& assignment);

}  // namespace

bool DispatchPressSlot(uint32_t button, int32_t press_count, bool hold) {
  const std::u16string assignment = GetShortcut(button, press_count, hold);
  const bool done = DispatchSlot(button, press_count, hold, assignment);
  TellNotice(button, press_count, hold, assignment);
  return done;
}

bool CopyToBuffer(char16_t* buffer, size_t capacity, const std::u16string& text) {
  if (capacity == 0) return text.empty();
  const size_t count = text.size() < capacity ? text.size() : capacity - 1;
  text.copy(buffer, count);
  buffer[count] = u'\0';
  return count == text.size();
}

std::u16string ShellFailureText(const std::u16string& file, uint32_t error) {
  static const char16_t kDigits[] = u"0123456789abcdef";
  std::u16string hex;
  do {
    hex.insert(hex.begin(), kDigits[error & 0xF]);
    error >>= 4;
  } while (error != 0);
  return u"Error opening shortcut \"" + file + u"\": " + hex;
}

void ReportRegistryDamage(uint32_t error) {
  const std::u16string text = u"The device's registry is damaged (error " + DecimalText(error) +
                              u"). This key press may not have done what is assigned to it.";
  plat::MessageBox(text, &kCaption, plat::kMbOk | plat::kMbIconStop | plat::kMbTopmost);
}

namespace {

bool DispatchSlot(uint32_t button, int32_t press_count, bool hold, const std::u16string& assignment) {
  char16_t shortcut[kWorkingBufferChars];
  char16_t app[kWorkingBufferChars];
  const bool fits = CopyToBuffer(shortcut, kWorkingBufferChars, assignment);
  CopyToBuffer(app, kWorkingBufferChars, shortcut);
  bool success = true;

  if (!fits) {
    plat::MessageBox(kTooLongAssignmentText, &kCaption,
                     plat::kMbOk | plat::kMbIconExclamation | plat::kMbTopmost);
    return CloseReport(button, press_count, hold, shortcut, app, false);
  }
  if (shortcut[0] == u'\0') return CloseReport(button, press_count, hold, shortcut, app, success);

  // Anything but a special action is a path.
  const int index = FindSpecialAction(shortcut);
  const SpecialActionRow* action = index >= 0 ? &kSpecialActions[index] : nullptr;
  const PcUse pc_use = action != nullptr && plat::OnPc() ? action->pc : PcUse::kAsOnDevice;
  if (pc_use == PcUse::kLeftOut) {
    // Kept as stored, but nothing a PC has: the person hears why, once a press.
    const bool reported = CloseReport(button, press_count, hold, shortcut, app, success);
    LogFormat(u"\n  %s does nothing on a PC\n", false, GetSpecialActionName(index));
    plat::MessageBox(LeftOutOnPcText(GetSpecialActionName(index)), &kCaption,
                     plat::kMbOk | plat::kMbIconExclamation | plat::kMbTopmost);
    return reported;
  }
  if (pc_use == PcUse::kKeyChord) {
    plat::KeybdEvent(action->pc_with, 0, plat::kKeyEventSilent, 0);
    KeyPress(action->pc_key);
    plat::KeybdEvent(action->pc_with, 0, plat::kKeyEventKeyUp | plat::kKeyEventSilent, 0);
    return CloseReport(button, press_count, hold, shortcut, app, success);
  }
  switch (action != nullptr ? action->effect : ActionEffect::kOpenAssignment) {
    case ActionEffect::kShowToday:
      success = ShowToday();
      break;
    case ActionEffect::kToggleInputPanel:
      ToggleInputPanel();
      break;
    case ActionEffect::kKeyPress:
      KeyPress(action->key);
      break;
    case ActionEffect::kKeyDownOnly:
      plat::KeybdEvent(action->key, 0, plat::kKeyEventSilent, 0);
      break;
    case ActionEffect::kStartRotation:
      StartRotationTool(button, press_count, hold);
      break;
    case ActionEffect::kNothing:
      break;
    case ActionEffect::kOpenAssignment: {
      // Only a missing file ends in the report; a shell launch does not.
      const OpenResult opened = OpenAssignment(shortcut);
      if (opened != OpenResult::Missing) return opened == OpenResult::Launched;
      break;
    }
  }
  return CloseReport(button, press_count, hold, shortcut, app, success);
}

}  // namespace
