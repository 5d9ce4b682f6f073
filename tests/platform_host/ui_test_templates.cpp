#include "tests/platform_host/ui_test_templates.h"

namespace {

using device::ControlKind;
using device::ControlTemplate;

constexpr uint32_t kVisible = 0x10000000;
constexpr uint32_t kDisabled = 0x08000000;
constexpr uint32_t kAutoCheckBox = 0x3;
constexpr uint32_t kCheckBox = 0x2;
constexpr uint32_t kNotify = 0x1;
constexpr uint32_t kDropDownList = 0x3;

const ControlTemplate kPageAControls[] = {
    {101, ControlKind::kListBox, u"ListBox", u"", 4, 4, 129, 40, kVisible | kNotify},
    {102, ControlKind::kCheckBox, u"Button", u"Use the thing", 4, 46, 130, 8, kVisible | kAutoCheckBox},
    {103, ControlKind::kComboBox, u"ComboBox", u"", 67, 56, 66, 80, kVisible | kDropDownList},
    {104, ControlKind::kTrackbar, u"msctls_trackbar32", u"", 87, 70, 47, 13, kVisible | 0x18},
    {105, ControlKind::kLabel, u"Static", u"A note shown with the thing", 4, 86, 130, 8, 0},
    {106, ControlKind::kButton, u"Button", u"Never", 4, 96, 40, 12, kVisible | kDisabled},
    {107, ControlKind::kButton, u"Button", u"Choose...", 50, 96, 40, 12, kVisible},
    {108, ControlKind::kCheckBox, u"Button", u"Manual", 4, 110, 60, 8, kVisible | kCheckBox},
    {109, ControlKind::kLabel, u"Static", u"", 4, 120, 130, 8, kVisible},
    {110, ControlKind::kButton, u"Button", u"Busy", 96, 96, 36, 12, kVisible},
    {-1, ControlKind::kLabel, u"Static", u"Pick one:", 4, 58, 60, 8, kVisible},
    {1009, ControlKind::kCustom, u"SIPPREF", u"", 75, 135, 59, 16, 0},
};

const ControlTemplate kPageBControls[] = {
    {111, ControlKind::kButton, u"Button", u"Message", 4, 4, 50, 12, kVisible},
    {112, ControlKind::kButton, u"Button", u"Pick file", 4, 20, 50, 12, kVisible},
    {113, ControlKind::kTrackbar, u"msctls_trackbar32", u"", 4, 36, 60, 13, kVisible | 0x18},
    {119, ControlKind::kLabel, u"Static", u"", 4, 52, 130, 8, kVisible},
};

const ControlTemplate kChoiceControls[] = {
    {-1, ControlKind::kLabel, u"Static", u"Choose any:", 4, 4, 130, 19, kVisible},
    {121, ControlKind::kCheckBox, u"Button", u"One", 4, 33, 89, 10, kVisible | kAutoCheckBox},
    {122, ControlKind::kCheckBox, u"Button", u"Two", 4, 45, 89, 10, kVisible | kAutoCheckBox},
    {123, ControlKind::kCheckBox, u"Button", u"Four", 4, 57, 89, 10, kVisible | kAutoCheckBox},
    {1009, ControlKind::kCustom, u"SIPPREF", u"", 74, 135, 59, 16, 0},
};

const ControlTemplate kPlainControls[] = {
    {-1, ControlKind::kLabel, u"Static", u"Nothing to choose", 4, 4, 100, 8, kVisible},
};

}  // namespace

namespace device {

const DialogTemplate kDialogTemplates[] = {
    {ui_test::kPageA, u"", u"Arial", 10, 0, 0, 138, 155, 0x40, kPageAControls,
     static_cast<int>(sizeof kPageAControls / sizeof kPageAControls[0])},
    {ui_test::kPageB, u"", u"Arial", 10, 0, 0, 138, 155, 0x40, kPageBControls,
     static_cast<int>(sizeof kPageBControls / sizeof kPageBControls[0])},
    {ui_test::kChoiceDialog, u"Choose", u"Arial", 10, 0, 0, 138, 168, 0x40, kChoiceControls,
     static_cast<int>(sizeof kChoiceControls / sizeof kChoiceControls[0])},
    {ui_test::kPlainDialog, u"Plain", u"Arial", 10, 0, 0, 100, 60, 0x40, kPlainControls,
     static_cast<int>(sizeof kPlainControls / sizeof kPlainControls[0])},
};
const int kDialogTemplateCount = 4;

}  // namespace device

namespace ui_test {

intptr_t ChoiceProc(plat::Window dialog, const plat::DialogMessage& message) {
  using namespace plat;
  if (message.event == DialogEvent::kInit) {
    InitShellDialog(dialog, kShidiDoneButton | kShidiFullScreen);
    SetChecked(dialog, 121, (message.param & 1) != 0);
    SetChecked(dialog, 122, (message.param & 2) != 0);
    SetChecked(dialog, 123, (message.param & 4) != 0);
  } else if (message.event == DialogEvent::kCommand && message.control == kIdDone) {
    EndDialog(dialog, (IsChecked(dialog, 121) ? 1 : 0) | (IsChecked(dialog, 122) ? 2 : 0) |
                          (IsChecked(dialog, 123) ? 4 : 0));
  } else if (message.event == DialogEvent::kCommand && message.control == kIdCancel) {
    EndDialog(dialog, -1);
  }
  return 0;
}

}  // namespace ui_test
