// The rotation choice's dialog: its check boxes bound to the slot's mask
// (config/model/rotation_choice.h).
#include "config/model/rotation_choice.h"
#include "config/pages/pages.h"
#include "config/resource.h"
#include "platform/ui.h"

namespace {

// Check box of each mask bit: 0, 90, 180 and 270 degrees.
constexpr int kOrientationBoxes[kOrientationCount] = {IDC_ROTATE_0, IDC_ROTATE_90, IDC_ROTATE_180, IDC_ROTATE_270};

intptr_t RotationDialogProc(plat::Window dialog, const plat::DialogMessage& message) {
  switch (message.event) {
    case plat::DialogEvent::kInit:
      plat::InitShellDialog(dialog, plat::kShidiDoneButton | plat::kShidiFullScreen);
      for (int bit = 0; bit < kOrientationCount; ++bit)
        plat::SetChecked(dialog, kOrientationBoxes[bit], HasOrientation(message.param, bit));
      return 0;
    case plat::DialogEvent::kCommand:
      if (message.control == plat::kIdDone) {
        bool checked[kOrientationCount];
        for (int bit = 0; bit < kOrientationCount; ++bit) checked[bit] = plat::IsChecked(dialog, kOrientationBoxes[bit]);
        plat::EndDialog(dialog, RotationMaskOf(checked));
      } else if (message.control == plat::kIdCancel) {
        plat::EndDialog(dialog, -1);
      }
      return 0;
    case plat::DialogEvent::kApply:
    case plat::DialogEvent::kKeyDown:
      return 0;
  }
  return 0;
}

}  // namespace

void RunRotationChoice(plat::Window owner, uint32_t button, int32_t press_count, bool hold) {
  const RotationSlot slot = {button, press_count, hold};
  StoreRotationChoice(slot, plat::RunDialog(owner, IDD_ROTATE, RotationDialogProc, RotationMaskToShow(slot)));
}
