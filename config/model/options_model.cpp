#include "config/model/options_model.h"

#include "shared/press_notice.h"
#include "shared/settings.h"
#include "shared/text.h"

const ButtonSetting& OptionsModel::SettingOf(Interval interval) {
  return interval == kHold ? kHoldIntervalSetting : kDoubleIntervalSetting;
}

void OptionsModel::Load() {
  for (int i = 0; i < kIntervalCount; ++i) {
    const auto interval = static_cast<Interval>(i);
    Set(interval, ReadGlobalSetting(SettingOf(interval)));
  }
  press_notice_ = PressNoticeWanted();
}

bool OptionsModel::Save() const {
  bool saved = true;
  for (int i = 0; i < kIntervalCount; ++i)
    saved = WriteSettingDword(SettingOf(static_cast<Interval>(i)).global_name, values_[i]) && saved;
  return SetPressNoticeWanted(press_notice_) && saved;
}

void OptionsModel::Set(Interval interval, uint32_t ms) { values_[interval] = ClampToRange(SettingOf(interval), ms); }

std::u16string OptionsModel::Shown(uint32_t ms) { return DecimalText(ms) + u" ms"; }
