// tapdeck's pages and dialogs: each a thin binding of its model to the
// window system of platform/ui.h. A page's parameter, handed in with kInit,
// is its model; PageModel finds it again for every later event.
#pragma once

#include <cstdint>
#include <string>

#include "platform/ui.h"

// The page's model: kept from kInit's parameter, as a Win32 page keeps
// PROPSHEETPAGE.lParam in DWLP_USER.
template <typename Model>
Model* PageModel(plat::Window page, const plat::DialogMessage& message) {
  if (message.event == plat::DialogEvent::kInit) plat::SetDialogData(page, message.param);
  return reinterpret_cast<Model*>(plat::GetDialogData(page));
}

// Settings: its parameter is the run's AssignmentModel.
intptr_t AssignmentPageProc(plat::Window page, const plat::DialogMessage& message);
// Add Buttons: its parameter is the run's AddButtonsModel.
intptr_t AddButtonsPageProc(plat::Window page, const plat::DialogMessage& message);
// The "Add Button Intercept" dialog, owned by `owner`: waits for a key, then
// for its name. True after Accept, with the key and the name as typed.
class UserButtonList;
bool RunInterceptDialog(plat::Window owner, const UserButtonList& listed, uint32_t* key_code, std::u16string* name);
// The Settings page shows the button list again, after another page changed
// the user-defined buttons.
class AssignmentModel;
void ShowButtonList(plat::Window settings_page, AssignmentModel& model);
// Options: its parameter is the run's OptionsModel.
intptr_t OptionsPageProc(plat::Window page, const plat::DialogMessage& message);
// Help and About: no parameter.
intptr_t HelpPageProc(plat::Window page, const plat::DialogMessage& message);
intptr_t AboutPageProc(plat::Window page, const plat::DialogMessage& message);

// The "Tune Button Timing" dialog for the button at page position `button`,
// whose key is `key_code` and whose list line is `name`, owned by `owner`:
// records the person's presses and stores the proposed timing at Accept.
// True when it stored one.
bool RunTunerDialog(plat::Window owner, uint32_t button, uint32_t key_code, const std::u16string& name);
// The Options page, known to the tuner: it shows the global timings and
// writes what it shows at Done, so a timing the tuner stores for every
// button is shown there at once (and then written at Done, unless the
// person moves its sliders again).
intptr_t OptionsPageKeepingTunedTiming(plat::Window page, const plat::DialogMessage& message);

// Lets the person choose the orientations "<Rotate Screen>" steps through for
// one press slot, in a dialog owned by `owner`; stores the choice at Done.
void RunRotationChoice(plat::Window owner, uint32_t button, int32_t press_count, bool hold);
