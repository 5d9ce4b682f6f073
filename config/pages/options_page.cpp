// The "Options" page: the hold and double-press timings and the notice of
// each press, written at Done.
#include <cstdint>

#include "config/model/options_model.h"
#include "config/pages/pages.h"
#include "config/resource.h"
#include "platform/ui.h"

namespace {

struct Row {
  OptionsModel::Interval interval;
  int slider;
  int shown;  // the milliseconds beside it
};

constexpr Row kRows[] = {
    {OptionsModel::kHold, IDC_HOLD_SLIDER, IDC_HOLD_MS},
    {OptionsModel::kDoublePress, IDC_DBLCLICK_SLIDER, IDC_DBLCLICK_MS},
};

void Show(plat::Window page, const OptionsModel& options, const Row& row) {
  plat::SetSliderPosition(page, row.slider, static_cast<int>(options.Value(row.interval)));
  plat::SetControlText(page, row.shown, OptionsModel::Shown(options.Value(row.interval)));
}

}  // namespace

intptr_t OptionsPageProc(plat::Window page, const plat::DialogMessage& message) {
  OptionsModel* model = PageModel<OptionsModel>(page, message);
  if (model == nullptr) return 0;
  OptionsModel& options = *model;
  switch (message.event) {
    case plat::DialogEvent::kInit:
      options.Load();
      for (const Row& row : kRows) {
        const ButtonSetting& setting = OptionsModel::SettingOf(row.interval);
        plat::SetSliderRange(page, row.slider, static_cast<int>(setting.minimum), static_cast<int>(setting.maximum));
        Show(page, options, row);
      }
      plat::SetChecked(page, IDC_PRESS_NOTICE, options.PressNotice());
      return 1;
    case plat::DialogEvent::kCommand:
      if (message.control == IDC_PRESS_NOTICE && message.code == plat::kNotifyClicked) {
        options.SetPressNotice(plat::IsChecked(page, IDC_PRESS_NOTICE));
        return 0;
      }
      if (message.code != plat::kNotifySliderMoved) return 0;
      for (const Row& row : kRows) {
        if (row.slider != message.control) continue;
        options.Set(row.interval, static_cast<uint32_t>(plat::GetSliderPosition(page, row.slider)));
        Show(page, options, row);
      }
      return 0;
    case plat::DialogEvent::kApply:
      // What the sliders show is what is stored: a value out of range is
      // written back at the end it showed at.
      for (const Row& row : kRows)
        options.Set(row.interval, static_cast<uint32_t>(plat::GetSliderPosition(page, row.slider)));
      options.SetPressNotice(plat::IsChecked(page, IDC_PRESS_NOTICE));
      options.Save();
      return 0;
    case plat::DialogEvent::kKeyDown:
      return 0;
  }
  return 0;
}
