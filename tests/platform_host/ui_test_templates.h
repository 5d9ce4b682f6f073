// A small hand-made dialog template table for the window system's tests:
// two pages, a dialog with a Done button and one without.
#pragma once

#include <cstdint>

#include "platform/host/ui/dialog_template.h"
#include "platform/ui.h"

namespace ui_test {

constexpr int kPageA = 201;       // list 101, check 102, combo 103, trackbar 104, ...
constexpr int kPageB = 202;       // buttons 111 (message box), 112 (file), trackbar 113
constexpr int kChoiceDialog = 210;  // check boxes 121, 122, 123; SIPPREF 1009
constexpr int kPlainDialog = 211;   // a label only: no Done button

// Page A's controls.
constexpr int kList = 101;
constexpr int kCheck = 102;        // automatic check box
constexpr int kCombo = 103;
constexpr int kSlider = 104;
constexpr int kHiddenNote = 105;   // hidden in the template
constexpr int kDisabledButton = 106;
constexpr int kDialogButton = 107;
constexpr int kManualCheck = 108;  // BS_CHECKBOX: a click only notifies
constexpr int kStatus = 109;       // the label the test program reports in
constexpr int kBusyButton = 110;
constexpr int kSipPref = 1009;

// The choice dialog's procedure: boxes 121-123 show bits 1, 2 and 4 of the
// parameter; Done ends with the checked bits, cancel with -1.
intptr_t ChoiceProc(plat::Window dialog, const plat::DialogMessage& message);

}  // namespace ui_test
