#include "launcher/dispatch.h"

#include "platform/platform.h"
#include "shared/debuglog.h"
#include "shared/settings.h"
#include "shared/special_actions.h"
#include "shared/text.h"

namespace {

const std::u16string kCaption = u"Quadrakey";

constexpr uint8_t kVkLeftWindows = 91;
constexpr uint8_t kVkUp = 38;
constexpr uint8_t kVkDown = 40;
constexpr uint8_t kVkPageUp = 33;
constexpr uint8_t kVkPageDown = 34;
constexpr uint8_t kVkReturn = 13;
constexpr uint8_t kVkEscape = 27;
constexpr uint8_t kVkOff = 223;

const char16_t kMissingFileText[] =
    u"Cannot find the shortcut or program assigned to this key press. It may have been moved or "
    u"deleted since you last assigned it. Please run Quadrakey and make an assignment for this key "
    u"press again.";
const char16_t kTooLongText[] =
    u"The shortcut or program assigned to this key press has too long a path to be opened. Please "
    u"run Quadrakey and make an assignment for this key press again.";

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
  const std::u16string program = GetAppFolderPath(u"Turnscreen.exe");
  // Not waited for, and a failed start is not reported.
  plat::CreateProcess(program, params);
}

enum class OpenResult { Missing, Launched, Refused };

OpenResult OpenAssignment(const char16_t* assignment) {
  const std::u16string file = assignment;
  if (!FileExists(file)) {
    plat::MessageBox(kMissingFileText, &kCaption,
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
  SetLogFile(GetAppFolderPath(u"launch.log"));
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

}  // namespace

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

bool DispatchPressSlot(uint32_t button, int32_t press_count, bool hold) {
  char16_t shortcut[kWorkingBufferChars];
  char16_t app[kWorkingBufferChars];
  const bool fits = CopyToBuffer(shortcut, kWorkingBufferChars, GetShortcut(button, press_count, hold));
  CopyToBuffer(app, kWorkingBufferChars, shortcut);
  bool success = true;

  if (!fits) {
    plat::MessageBox(kTooLongText, &kCaption,
                     plat::kMbOk | plat::kMbIconExclamation | plat::kMbTopmost);
    return CloseReport(button, press_count, hold, shortcut, app, false);
  }
  if (shortcut[0] == u'\0') return CloseReport(button, press_count, hold, shortcut, app, success);

  // -1 (not a special action) takes the default: the path route.
  switch (static_cast<SpecialAction>(FindSpecialAction(shortcut))) {
    case SpecialAction::kToday:
      success = ShowToday();
      break;
    case SpecialAction::kInputPanel:
      ToggleInputPanel();
      break;
    case SpecialAction::kStartMenu:
      KeyPress(kVkLeftWindows);
      break;
    case SpecialAction::kRotateScreen:
      StartRotationTool(button, press_count, hold);
      break;
    case SpecialAction::kScrollUp:
      KeyPress(kVkUp);
      break;
    case SpecialAction::kScrollDown:
      KeyPress(kVkDown);
      break;
    case SpecialAction::kPageUp:
      KeyPress(kVkPageUp);
      break;
    case SpecialAction::kPageDown:
      KeyPress(kVkPageDown);
      break;
    case SpecialAction::kOkEnter:
      KeyPress(kVkReturn);
      break;
    case SpecialAction::kEscCancel:
      KeyPress(kVkEscape);
      break;
    case SpecialAction::kPowerOff:
      // The off key goes down only; the device is off before a key-up matters.
      plat::KeybdEvent(kVkOff, 0, plat::kKeyEventSilent, 0);
      break;
    case SpecialAction::kDoNothing:
      break;
    case SpecialAction::kRecord:
    case SpecialAction::kOpenFile:
    default: {
      // Only a missing file ends in the report; a shell launch does not.
      const OpenResult opened = OpenAssignment(shortcut);
      if (opened != OpenResult::Missing) return opened == OpenResult::Launched;
      break;
    }
  }
  return CloseReport(button, press_count, hold, shortcut, app, success);
}
