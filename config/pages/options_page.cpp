// The "Options" page: the hold and double-press timings, written at Done.
#include <cstdint>
#include <limits>

#include "config/resource.h"
#include "config/pages/pages.h"
#include "platform/ui.h"
#include "shared/press_rule.h"
#include "shared/settings.h"

namespace {

struct Timing {
  int slider;
  const char16_t* value_name;
  int minimum, maximum;
};

constexpr Timing kTimings[] = {
    {IDC_HOLD_SLIDER, u"HoldInterval", 200, 800},
    {IDC_DBLCLICK_SLIDER, u"DblClickInterval", 200, 2000},
};

// A stored number too large for a position still belongs at the top end.
int SliderPosition(uint32_t stored) {
  constexpr auto kMost = static_cast<uint32_t>(std::numeric_limits<int>::max());
  return static_cast<int>(stored > kMost ? kMost : stored);
}

}  // namespace

intptr_t OptionsPageProc(plat::Window page, const plat::DialogMessage& message) {
  switch (message.event) {
    case plat::DialogEvent::kInit:
      // The trackbar keeps its position within its range: a stored value
      // outside it shows, and is written back, at the nearest end.
      for (const Timing& timing : kTimings) {
        plat::SetSliderRange(page, timing.slider, timing.minimum, timing.maximum);
        const uint32_t stored = ReadSettingDword(timing.value_name, press_rule::kDefaultIntervalMs);
        plat::SetSliderPosition(page, timing.slider, SliderPosition(stored));
      }
      return 1;
    case plat::DialogEvent::kApply:
      for (const Timing& timing : kTimings) {
        const int position = plat::GetSliderPosition(page, timing.slider);
        WriteSettingDword(timing.value_name, static_cast<uint32_t>(position));
      }
      return 0;
    case plat::DialogEvent::kCommand:
    case plat::DialogEvent::kKeyDown:
      return 0;
  }
  return 0;
}
