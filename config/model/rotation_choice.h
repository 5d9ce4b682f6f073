// The rotation choice of one press slot: which orientations "<Rotate
// Screen>" steps through, kept as the slot's "RotateScreen" launch
// parameters, the mask Turnscreen takes (1, 2, 4, 8: 0, 90, 180, 270
// degrees). The dialog's binding is config/pages/rotation_dialog.cpp.
#pragma once

#include <cstdint>

struct RotationSlot {
  uint32_t button;
  int32_t press_count;
  bool hold;
};

constexpr int kOrientationCount = 4;

// The mask the dialog opens with: the stored one, or 1 (0 degrees only) for
// anything that is not a positive number (missing, letters, 0, negative).
int32_t RotationMaskToShow(const RotationSlot& slot);
// Whether orientation `bit` (0 to 3) is in the mask; higher bits count for none.
bool HasOrientation(intptr_t mask, int bit);
// The dialog's result at Done: the mask of the checked orientations.
intptr_t RotationMaskOf(const bool checked[kOrientationCount]);
// Stores a result of 1 or more; every box cleared (0) or cancelled (-1)
// leaves the slot as it was. True when it stored.
bool StoreRotationChoice(const RotationSlot& slot, intptr_t result);
