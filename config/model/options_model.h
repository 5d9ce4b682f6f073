// The "Options" page's model: the two global intervals every button without
// its own falls back on, as the page shows them (in milliseconds, within the
// range its sliders offer), and whether each press shows a notice; stored at
// Done.
#pragma once

#include <cstdint>
#include <string>

#include "shared/button_model.h"

class OptionsModel {
 public:
  enum Interval { kHold, kDoublePress, kIntervalCount };

  // Reads both stored values. A value outside its range, or of the wrong
  // kind, shows at the nearest end or as the default; it stays stored as it
  // is until Save.
  void Load();
  // False when a value could not be written (logged by the store); the
  // others are written all the same.
  bool Save() const;

  uint32_t Value(Interval interval) const { return values_[interval]; }
  // Kept within the interval's range.
  void Set(Interval interval, uint32_t ms);
  static const ButtonSetting& SettingOf(Interval interval);
  // The notice of each press (on by default on a PC, off on the device).
  bool PressNotice() const { return press_notice_; }
  void SetPressNotice(bool shown) { press_notice_ = shown; }
  // "400 ms": what the page shows beside the slider.
  static std::u16string Shown(uint32_t ms);

 private:
  uint32_t values_[kIntervalCount] = {};
  bool press_notice_ = false;
};
