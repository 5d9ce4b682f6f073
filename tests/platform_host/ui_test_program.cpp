// A small program with a main window and a page set over the test
// templates, for driving through devicesim ui as a person would. Each
// reaction shows in a status label, so the screen tells what happened.
//   (no argument)  five combo box lines;  "lines N"  N combo box lines
// The busy button keeps it from waiting for input until the device file
// \busy-release exists. Ends with 0 after Done, 4 after cancelling the page
// set. A second copy brings the first one's window to the front and ends
// with 0.
#include <cstdlib>
#include <string>

#include "platform/host/device/device.h"
#include "platform/ui.h"
#include "tests/platform_host/ui_test_templates.h"

namespace {

using namespace plat;
using namespace ui_test;

const char16_t kClass[] = u"QkUiTestWindow";
const std::u16string kCaption = u"UI Test";
const std::u16string kBusyRelease = u"\\busy-release";
int combo_lines = 5;

std::u16string Decimal(long long value) { return device::FromUtf8(std::to_string(value)); }

void Status(Window page, int id, const std::u16string& text) { SetControlText(page, id, text); }

intptr_t PageA(Window page, const DialogMessage& message) {
  switch (message.event) {
    case DialogEvent::kKeyDown:  // pages take no keys
      return 0;
    case DialogEvent::kInit:
      AddLine(page, kList, u"Alpha", 10);
      AddLine(page, kList, u"Beta", 20);
      AddLine(page, kList, u"Gamma", 30);
      SelectLine(page, kList, 0);
      for (int i = 0; i < combo_lines; ++i) AddLine(page, kCombo, u"Entry " + Decimal(i), 1000 + i);
      SetSliderRange(page, kSlider, 200, 800);
      SetSliderPosition(page, kSlider, 400);
      Status(page, kStatus, u"ready");
      return 1;
    case DialogEvent::kCommand: {
      int id = message.control;
      if ((id == kList || id == kCombo) && message.code == kNotifySelChange) {
        int line = GetSelectedLine(page, id);
        Status(page, kStatus, std::u16string(id == kList ? u"list" : u"combo") + u": " + Decimal(line) +
                                  u" code " + Decimal(GetLineCode(page, id, line)));
      } else if (id == kCheck && message.code == kNotifyClicked) {
        bool on = IsChecked(page, kCheck);
        ShowControl(page, kHiddenNote, on);
        Status(page, kStatus, on ? u"check: on" : u"check: off");
      } else if (id == kManualCheck) {
        Status(page, kStatus, u"manual clicked");
      } else if (id == kDialogButton) {
        intptr_t result = RunDialog(page, kChoiceDialog, ChoiceProc, 5);
        Status(page, kStatus, u"dialog: " + Decimal(result));
      } else if (id == kBusyButton) {
        // Busy until the test lets go (it makes the file), however slow the
        // machine: a fixed spell could end before the test's next request.
        device::Journal("uitest", "\"busy\":\"started\"");
        for (int waited = 0; waited < 120000 && GetFileAttributes(kBusyRelease) == kInvalidFileAttributes;
             waited += 10)
          Sleep(10);
        Status(page, kStatus, u"busy done");
      }
      return 0;
    }
    case DialogEvent::kApply:
      MessageBoxOwned(page, u"Applying page A", &kCaption, kMbIconInformation);
      device::Journal("uitest", "\"apply\":\"A\",\"slider\":" + std::to_string(GetSliderPosition(page, kSlider)));
      return 0;
  }
  return 0;
}

intptr_t PageB(Window page, const DialogMessage& message) {
  if (message.event == DialogEvent::kApply) {
    device::Journal("uitest", "\"apply\":\"B\"");
    return 0;
  }
  if (message.event != DialogEvent::kCommand) return message.event == DialogEvent::kInit ? 1 : 0;
  if (message.control == 111) {
    int answer = MessageBoxOwned(page, u"Hello from page B", &kCaption, kMbIconInformation);
    Status(page, 119, u"answered " + Decimal(answer));
  } else if (message.control == 112) {
    static const char16_t* const kFilters[] = {u"All Files", u"*.*", u"Notes (.pwi)", u"*.pwi"};
    OpenFileRequest request;
    request.owner = page;
    request.filters = kFilters;
    request.filter_count = 2;
    request.title = u"Select file to launch";
    request.flags = kOfnFileMustExist;
    request.capacity = 40;
    std::u16string path;
    if (GetOpenFileName(request, &path)) {
      Status(page, 119, u"file: " + path);
    } else {
      Status(page, 119, u"file: none (error " + Decimal(GetLastError()) + u")");
    }
  }
  return 0;
}

intptr_t MainProc(Window, WindowEvent event, uintptr_t, intptr_t) {
  if (event == WindowEvent::kDestroy) PostQuit(0);
  return 0;
}

}  // namespace

// No log and no other process-wide objects of its own.
void DeviceStartUp() {}
void DeviceShutDown() {}

int DeviceMain(const std::u16string& command_line) {
  if (command_line.rfind(u"lines ", 0) == 0)
    combo_lines = std::atoi(device::ToUtf8(command_line.substr(6)).c_str());
  if (Window running = FindTopLevelWindow(kClass)) {
    SetForegroundWindow(running);
    return 0;
  }
  Window main = CreateMainWindow(kClass, kCaption, MainProc, GetWorkArea());
  SetForegroundWindow(main);
  InitControls(0x404);
  const PageSpec pages[] = {{kPageA, u"Page A", PageA}, {kPageB, u"Page B", PageB}};
  bool done = RunPageSet(main, kCaption, pages, 2);
  PostQuit(done ? 0 : 4);
  return RunMessageLoop();
}
