#include "config/tapdeck.h"

#include <memory>
#include <string>

#include "config/assignment_dump.h"
#include "config/model/add_buttons.h"
#include "config/model/assignment_model.h"
#include "config/model/user_button_changes.h"
#include "config/model/catalogue.h"
#include "config/model/launch_buttons.h"
#include "config/model/options_model.h"
#include "config/pages/pages.h"
#include "config/resource.h"
#include "platform/platform.h"
#include "platform/ui.h"
#include "shared/debuglog.h"
#include "shared/settings.h"
#include "shared/text.h"

namespace {

constexpr char16_t kMainWindowClass[] = u"Velbrook_QuadrakeyMainWindowClassname";
constexpr char16_t kProductName[] = u"Quadrakey";
// The Pocket PC menu bar's height, kept free below the main window.
constexpr int kMenuBarHeight = 26;
constexpr char16_t kStartMutexName[] = u"QuadrakeyTapdeckStartMutex";
// Making a window takes milliseconds; a start that waits longer goes on.
constexpr uint32_t kStartWaitMs = 10000;
// The bar classes (trackbars) and 0x400.
constexpr uint32_t kControlClasses = 0x404;

// What one run owns, made as start-up goes and released when it ends,
// whichever way it ends.
struct Run {
  plat::Window main_window = 0;
  std::unique_ptr<LaunchButtons> buttons;
  std::unique_ptr<AssignmentModel> assignments;
  std::unique_ptr<AddButtonsModel> add_buttons;
  OptionsModel options;
  ~Run() { ClearCatalogue(); }
};

// Held from the look for a running copy until this copy's window exists.
// Without it (no mutex, a wait that fails) the start goes on as before.
class StartLock {
 public:
  StartLock() : mutex_(plat::CreateNamedMutex(kStartMutexName)) {
    if (mutex_ == nullptr) return;
    const plat::WaitResult result = plat::WaitForMutex(mutex_, kStartWaitMs);
    held_ = result == plat::WaitResult::Acquired || result == plat::WaitResult::Abandoned;
  }
  ~StartLock() {
    Release();
    if (mutex_ != nullptr) plat::CloseMutex(mutex_);
  }
  StartLock(const StartLock&) = delete;
  StartLock& operator=(const StartLock&) = delete;
  void Release() {
    if (held_) plat::ReleaseMutex(mutex_);
    held_ = false;
  }

 private:
  plat::Mutex mutex_;
  bool held_ = false;
};

void StartLog() {
  SetLogFile(GetLogFilePath(u"tapdeck.log"));
  SetLogFlush(true);
  ResetLogFile();
  EnableLog(true);
}

void LogVersion(const plat::Version& version) {
  LogFormat(u"CE %ld.%ld, build %ld, platform %ld\n", false, version.major, version.minor,
            version.build, version.platform_id);
  if (!version.service_pack.empty()) LogFormat(u"   (%s)\n", false, version.service_pack);
}

void LogCatalogue() {
  LogText(u"\nShortcut list:\n");
  for (size_t i = 0; i < GetCatalogueCount(); ++i) {
    LogFormat(u"  %ld: ", false, static_cast<int32_t>(i));
    LogFormat(u"%s\n", false, GetCatalogueEntry(i).Path());
  }
  LogText(u"\n");
}

// A code once known is kept: probing rewrites the button's table entry.
void CompleteVirtualKeys(LaunchButtons& buttons) {
  LogText(u"Setting Virtual Key codes:\n");
  const uint32_t count = static_cast<uint32_t>(buttons.GetButtonCount());
  for (uint32_t i = 0; i < count; ++i) {
    uint32_t code = GetVirtualKey(i);
    LogFormat(u"  button %ld == %ld", false, i, code);
    if (code == 0) {
      code = buttons.ProbeVirtualKey(i);
      SetVirtualKey(i, code);
      LogFormat(u", set to %ld", false, code);
    }
    LogText(u"\n");
  }
}

}  // namespace

intptr_t TapdeckMainWindowProc(plat::Window window, plat::WindowEvent event, uintptr_t first,
                               intptr_t /*second*/) {
  switch (event) {
    case plat::WindowEvent::kDestroy:
      plat::PostQuit(0);
      return 0;
    case plat::WindowEvent::kKeyDown:
    case plat::WindowEvent::kKeyUp:
    case plat::WindowEvent::kTimer:
    case plat::WindowEvent::kAppMessage:
    case plat::WindowEvent::kKeyEvent:
    case plat::WindowEvent::kTrayCommand:
    case plat::WindowEvent::kAppText:
    case plat::WindowEvent::kSessionEnd:
      return 0;
    case plat::WindowEvent::kHotKey: {
      // The caption is the hot key's id in decimal.
      const std::u16string id = DecimalText(static_cast<int32_t>(first));
      plat::MessageBoxOwned(window, u"HotKey!", &id, plat::kMbOk | plat::kMbTopmost);
      return 0;
    }
  }
  return 0;
}

int RunTapdeck() {
  const plat::Version version = plat::GetVersion();

  // Looking for a running copy and making this one's window is one step
  // for all starts: two that race would each find none and both stay.
  StartLock start_lock;
  // A second start only brings the running copy to the front; its log stays.
  const plat::Window running = plat::FindTopLevelWindow(kMainWindowClass);
  if (running != 0) {
    plat::SetForegroundWindow(running);
    return 0;
  }

  Run run;

  plat::WorkArea area = plat::GetWorkArea();
  area.height -= kMenuBarHeight;
  run.main_window = plat::CreateMainWindow(kMainWindowClass, kProductName, TapdeckMainWindowProc, area);
  // Without its window no second start finds this copy and no one reaches
  // its pages: end, rather than wait for a person who cannot come.
  if (run.main_window == 0) return 1;
  start_lock.Release();  // the window is there for the next start to find
  plat::SetForegroundWindow(run.main_window);
  plat::InitControls(kControlClasses);

  StartLog();
  LogVersion(version);
  std::u16string app_folder;
  ReadAppFolder(app_folder);
  LogText(app_folder);  // the next line begins with its own line end

  // A change of the button list that a kill cut short is completed before
  // anything reads the list.
  FinishUserButtonChange();

  BuildCatalogue(run.main_window);
  LogCatalogue();

  run.buttons = std::make_unique<LaunchButtons>();
  // Buttons numbered from a table read with gaps would store the person's
  // choices, key codes and takeovers under other buttons' letters for good.
  if (run.buttons->ReadError() != 0) {
    const uint32_t error = run.buttons->ReadError();
    LogFormat(u"The button table could not be read (error %ld): nothing was changed\n", false, error);
    const std::u16string text = u"The device's table of hardware buttons could not be read (error " +
                                DecimalText(static_cast<int32_t>(error)) +
                                u"). Quadrakey has changed nothing. Please start it again.";
    const std::u16string caption = kProductName;
    plat::MessageBoxOwned(run.main_window, text, &caption, plat::kMbOk | plat::kMbIconStop);
    return 1;
  }
  run.buttons->RepairAfterProbe();
  CompleteVirtualKeys(*run.buttons);
  run.assignments = std::make_unique<AssignmentModel>(*run.buttons);
  run.add_buttons = std::make_unique<AddButtonsModel>(*run.buttons, run.assignments.get(), run.main_window);
  run.add_buttons->StartListenerIfDue();

  const plat::PageSpec pages[] = {
      {IDD_SETTINGS, u"Settings", AssignmentPageProc, reinterpret_cast<intptr_t>(run.assignments.get())},
      {IDD_ADD_BUTTONS, u"Add Buttons", AddButtonsPageProc, reinterpret_cast<intptr_t>(run.add_buttons.get())},
      {IDD_OPTIONS, u"Options", OptionsPageKeepingTunedTiming, reinterpret_cast<intptr_t>(&run.options)},
      {IDD_HELP, u"Help", HelpPageProc},
      {IDD_ABOUT, u"About", AboutPageProc},
  };
  // Done or not, the pages have stored what the person changed. A set that
  // could not be made changed nothing; the log says why, and the dump follows.
  if (!plat::RunPageSet(run.main_window, kProductName, pages, 5)) {
    const uint32_t error = plat::GetLastError();
    if (error != 0) LogFormat(u"The pages could not be shown (error %ld)\n", false, error);
  }

  DumpAssignments(run.buttons->GetButtonCount());
  run.add_buttons.reset();
  run.assignments.reset();
  run.buttons.reset();

  plat::PostQuit(0);
  return plat::RunMessageLoop();
}
