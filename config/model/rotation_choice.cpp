#include "config/model/rotation_choice.h"

#include "shared/settings.h"
#include "shared/text.h"

namespace {
constexpr char16_t kParameterKey[] = u"RotateScreen";
}  // namespace

int32_t RotationMaskToShow(const RotationSlot& slot) {
  const int32_t mask = TextToLong(GetLaunchParams(kParameterKey, slot.button, slot.press_count, slot.hold));
  return mask < 1 ? 1 : mask;
}

bool HasOrientation(intptr_t mask, int bit) { return bit >= 0 && bit < kOrientationCount && ((mask >> bit) & 1); }

intptr_t RotationMaskOf(const bool checked[kOrientationCount]) {
  intptr_t mask = 0;
  for (int bit = 0; bit < kOrientationCount; ++bit)
    if (checked[bit]) mask |= intptr_t{1} << bit;
  return mask;
}

bool StoreRotationChoice(const RotationSlot& slot, intptr_t result) {
  if (result < 1) return false;
  SetLaunchParams(kParameterKey, slot.button, slot.press_count, slot.hold, DecimalText(result));
  return true;
}
