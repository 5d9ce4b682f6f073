// The rotation choice: which orientations "<Rotate Screen>" steps through
// for one press slot, stored as the slot's "RotateScreen" launch parameters.
#include <string>

#include "config/resource.h"
#include "config/tapdeck_run.h"
#include "platform/ui.h"
#include "shared/settings.h"
#include "shared/text.h"

namespace {

constexpr char16_t kParameterKey[] = u"RotateScreen";

// Check box of each mask bit: 0, 90, 180 and 270 degrees.
constexpr int kOrientationBoxes[4] = {IDC_ROTATE_0, IDC_ROTATE_90, IDC_ROTATE_180, IDC_ROTATE_270};

intptr_t RotationDialogProc(plat::Window dialog, const plat::DialogMessage& message) {
  switch (message.event) {
    case plat::DialogEvent::kInit:
      plat::InitShellDialog(dialog, plat::kShidiDoneButton | plat::kShidiFullScreen);
      for (int bit = 0; bit < 4; ++bit)
        plat::SetChecked(dialog, kOrientationBoxes[bit], (message.param >> bit) & 1);
      return 0;
    case plat::DialogEvent::kCommand:
      if (message.control == plat::kIdDone) {
        intptr_t mask = 0;
        for (int bit = 0; bit < 4; ++bit)
          if (plat::IsChecked(dialog, kOrientationBoxes[bit])) mask |= intptr_t{1} << bit;
        plat::EndDialog(dialog, mask);
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

void RunRotationChoice(plat::Window owner, int32_t button, int32_t press_count, bool hold) {
  const uint32_t slot_button = static_cast<uint32_t>(button);
  // Anything but a positive number (missing, letters, 0, negative) shows 0 degrees only.
  int32_t mask = TextToLong(GetLaunchParams(kParameterKey, slot_button, press_count, hold));
  if (mask < 1) mask = 1;
  const intptr_t chosen = plat::RunDialog(owner, IDD_ROTATE, RotationDialogProc, mask);
  // Every box cleared (0) or cancelled (-1): the slot keeps what it had.
  if (chosen >= 1)
    SetLaunchParams(kParameterKey, slot_button, press_count, hold, DecimalText(chosen));
}
