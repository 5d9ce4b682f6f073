// Changes of the user-defined button list that keep each button's settings
// with it. A user-defined button's settings live under the letter of its
// page position (hardware buttons first, then the list), so removing an
// entry would put every later entry on its neighbour's assignments: here
// the settings move with their entry, and a removed entry's go with it. The
// stored list keeps its form (B0/H0, B1/H1, ...).
//
// A change is staged whole in its own key before the first value moves, and
// carried out from there; a change cut short (a kill, a power loss) is
// completed by the next FinishUserButtonChange, so no button is left with
// another's settings or half of its own.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "shared/button_model.h"
#include "shared/user_buttons.h"

extern const char16_t kUserButtonChangeKey[];  // u"Software\\Quadrakey\\HotkeysChange"

// Stores `next` in place of the stored list; every entry keeps the settings
// it had (found by its key code), a new entry starts with none. Positions
// from 32 on are never touched: their letters name lower positions' values.
// False when the change could not be staged (nothing changed then) or not
// be completed (the next FinishUserButtonChange completes it).
bool ChangeUserButtons(size_t hardware_buttons, const UserButtonList& next);

// A change is staged and waits to be completed (FinishUserButtonChange).
bool UserButtonChangePending();

// Completes a staged change; true when none is pending afterwards.
bool FinishUserButtonChange();
