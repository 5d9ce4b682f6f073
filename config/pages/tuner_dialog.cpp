// The "Tune Button Timing" dialog: its controls bound to the TunerModel,
// which decides everything. The dialog takes the button's key for itself
// while it is open, so that the person's presses are recorded and do not
// act.
#include "config/model/tuner_model.h"
#include "config/pages/pages.h"
#include "config/resource.h"
#include "platform/ui.h"
#include "shared/debuglog.h"
#include "shared/text.h"

namespace {

constexpr int kLabels[TunerModel::kRowCount] = {IDC_TUNER_LABEL0, IDC_TUNER_LABEL1, IDC_TUNER_LABEL2, IDC_TUNER_LABEL3,
                                                IDC_TUNER_LABEL4, IDC_TUNER_LABEL5, IDC_TUNER_LABEL6};
constexpr int kNow[TunerModel::kRowCount] = {IDC_TUNER_NOW0, IDC_TUNER_NOW1, IDC_TUNER_NOW2, IDC_TUNER_NOW3,
                                             IDC_TUNER_NOW4, IDC_TUNER_NOW5, IDC_TUNER_NOW6};
constexpr int kNext[TunerModel::kRowCount] = {IDC_TUNER_NEXT0, IDC_TUNER_NEXT1, IDC_TUNER_NEXT2, IDC_TUNER_NEXT3,
                                              IDC_TUNER_NEXT4, IDC_TUNER_NEXT5, IDC_TUNER_NEXT6};
constexpr char16_t kCaption[] = u"Quadrakey";

struct Tuner {
  TunerModel model;
  uint32_t capture_error = 0;  // the key could not be taken: nothing records
};

// The Options page of the page set open now: it shows the global timings,
// and writes what it shows at Done.
plat::Window options_page = 0;

void Show(plat::Window dialog, const Tuner& tuner) {
  const TunerModel& model = tuner.model;
  plat::SetControlText(dialog, IDC_TUNER_PROMPT, tuner.capture_error == 0 ? model.Prompt() : u"");
  plat::SetControlText(dialog, IDC_TUNER_NOTICE,
                       tuner.capture_error == 0
                           ? model.Notice()
                           : u"The button's key cannot be taken now (error " + DecimalText(tuner.capture_error) +
                                 u"), so its presses cannot be recorded.");
  const std::vector<TunerModel::Row> rows = model.Table();
  for (size_t i = 0; i < rows.size() && i < static_cast<size_t>(TunerModel::kRowCount); ++i) {
    plat::SetControlText(dialog, kLabels[i], rows[i].label);
    plat::SetControlText(dialog, kNow[i], rows[i].now);
    plat::SetControlText(dialog, kNext[i], rows[i].proposed);
  }
  plat::EnableControl(dialog, plat::kIdDone, model.CanAccept());
}

void OnKeyMove(plat::Window dialog, const plat::KeyMove& move, void* context) {
  auto* tuner = static_cast<Tuner*>(context);
  tuner->model.OnKey(move.up, move.at);
  Show(dialog, *tuner);
}

void OnAccept(plat::Window dialog, Tuner& tuner) {
  if (!tuner.model.CanAccept()) return;
  const bool every = plat::IsChecked(dialog, IDC_TUNER_ALL);
  if (tuner.model.Accept(every)) {
    if (every && options_page != 0) {
      // Shown there now, as if the person had moved its sliders there, and
      // so written again at Done unless moved since.
      const press_rule::Timing timing = tuner.model.Proposal().timing;
      const int moved[][2] = {{IDC_HOLD_SLIDER, static_cast<int>(timing.hold_ms)},
                              {IDC_DBLCLICK_SLIDER, static_cast<int>(timing.double_ms)}};
      for (const auto& [slider, position] : moved) {
        plat::SetSliderPosition(options_page, slider, position);
        OptionsPageProc(options_page, {plat::DialogEvent::kCommand, slider, plat::kNotifySliderMoved, 0});
      }
    }
    plat::EndDialog(dialog, 1);
    return;
  }
  const std::u16string caption = kCaption;
  plat::MessageBoxOwned(dialog,
                        u"The timing could not be stored (error " + DecimalText(plat::GetLastError()) +
                            u"). Nothing was changed.",
                        &caption, plat::kMbOk | plat::kMbIconExclamation);
}

intptr_t TunerDialogProc(plat::Window dialog, const plat::DialogMessage& message) {
  Tuner* tuner = PageModel<Tuner>(dialog, message);
  if (tuner == nullptr) return 0;
  switch (message.event) {
    case plat::DialogEvent::kInit:
      plat::InitShellDialog(dialog, plat::kShidiFullScreen);
      plat::SetControlText(dialog, IDC_TUNER_BUTTON, tuner->model.Name());
      if (!plat::CaptureKey(dialog, tuner->model.KeyCode(), OnKeyMove, tuner)) {
        tuner->capture_error = plat::GetLastError();
        LogFormat(u"Tuning button %ld: its key %ld cannot be taken (error %ld)\n", false, tuner->model.Button(),
                  tuner->model.KeyCode(), tuner->capture_error);
      }
      Show(dialog, *tuner);
      return 1;
    case plat::DialogEvent::kCommand:
      if (message.control == IDC_TUNER_RESTART && message.code == plat::kNotifyClicked) {
        tuner->model.StartOver();
        Show(dialog, *tuner);
      } else if (message.control == plat::kIdDone) {
        OnAccept(dialog, *tuner);
      } else if (message.control == plat::kIdCancel) {
        plat::EndDialog(dialog, 0);
      }
      return 0;
    case plat::DialogEvent::kApply:
    case plat::DialogEvent::kKeyDown:
      return 0;
  }
  return 0;
}

}  // namespace

intptr_t OptionsPageKeepingTunedTiming(plat::Window page, const plat::DialogMessage& message) {
  if (message.event == plat::DialogEvent::kInit) options_page = page;
  return OptionsPageProc(page, message);
}

bool RunTunerDialog(plat::Window owner, uint32_t button, uint32_t key_code, const std::u16string& name) {
  Tuner tuner{TunerModel(button, key_code, name), 0};
  const intptr_t result = plat::RunDialog(owner, IDD_TUNER, TunerDialogProc, reinterpret_cast<intptr_t>(&tuner));
  if (result < 0)
    LogFormat(u"Tuning button %ld: the dialog cannot be shown (error %ld)\n", false, button, plat::GetLastError());
  return result == 1;
}
