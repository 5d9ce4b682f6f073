// Dialog templates as the emulated device's window system reads them: the
// same statements a resource script holds, turned into a table at build time
// (config/tapdeck.rc becomes the program's table). Positions are dialog
// units; styles are the Win32 numbers the script gives.
#pragma once

#include <cstdint>

#include "platform/common/person_rules.h"

namespace device {

// The kinds a person tells apart (platform/common/person_rules.h). rcgen
// classifies: "Static" text left or centred is a label, an etched or black
// frame a line; "Button" with BS_AUTOCHECKBOX / BS_CHECKBOX a check box,
// else a push button; "ComboBox" only with CBS_DROPDOWNLIST; any class it
// does not know ("SIPPREF") a custom control.
using ControlKind = plat::common::ControlKind;

struct ControlTemplate {
  int id;                      // -1 for a control without one
  ControlKind kind;
  const char16_t* class_name;  // as the script names it ("Button", "SIPPREF" ...)
  const char16_t* text;        // as shown: "&&" already one '&'
  int x, y, width, height;
  uint32_t style;              // WS_VISIBLE, WS_DISABLED, control styles
};

struct DialogTemplate {
  int id;
  const char16_t* caption;
  const char16_t* font;  // face name
  int point_size;
  int x, y, width, height;
  uint32_t style;
  const ControlTemplate* controls;
  int control_count;
};

// The program's templates, defined by the table generated from its
// resource script. Only programs with dialogs link one.
extern const DialogTemplate kDialogTemplates[];
extern const int kDialogTemplateCount;

}  // namespace device
