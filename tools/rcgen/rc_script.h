// Reads the dialog statements of a resource script, as windres does, for the
// host build's template table (platform/host/ui/dialog_template.h).
//
// Understood: comments; #include "header" (its #define lines), #include <...>
// (skipped: the Win32 names below are built in), #define NAME expression,
// #pragma code_page(65001); DIALOG and DIALOGEX with STYLE, EXSTYLE, CAPTION
// and FONT; the controls LTEXT, CTEXT, RTEXT, PUSHBUTTON, DEFPUSHBUTTON,
// CHECKBOX, AUTOCHECKBOX, EDITTEXT, LISTBOX, COMBOBOX and CONTROL. Numbers are
// decimal or hexadecimal (L or U suffix allowed) or names, joined with |, +
// and -, in parentheses where needed; NOT clears bits of a style. Strings
// take "" for a quote, \n \r \t \\ \xHH and octal escapes, and adjacent
// strings join. Styles follow windres: every control has WS_CHILD |
// WS_VISIBLE and its statement's base style, and the statement's default
// style when the script gives none.
//
// Anything else fails with "file:line: error: ..." rather than being guessed.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace rcgen {

// The host window system's control kinds (device::ControlKind), by name.
enum class Kind { kLabel, kLine, kCheckBox, kButton, kEdit, kListBox, kComboBox, kTrackbar, kCustom };
const char* KindName(Kind kind);

struct Control {
  int line = 0;               // where the statement starts
  int id = -1;
  Kind kind = Kind::kCustom;
  std::u16string class_name;  // "Static", "Button" ... or CONTROL's class
  std::u16string text;        // as the script holds it ("&&" still doubled)
  std::u16string shown_text;  // as the control shows it ("&&" one '&', mnemonics gone)
  int x = 0, y = 0, width = 0, height = 0;
  uint32_t style = 0;
};

struct Dialog {
  int line = 0;
  int id = 0;
  std::u16string caption;
  std::u16string font;
  int point_size = 0;
  int x = 0, y = 0, width = 0, height = 0;
  uint32_t style = 0;
  std::vector<Control> controls;
};

struct Script {
  std::vector<Dialog> dialogs;
};

// Reads a script from a file; quoted includes are found beside the including
// file, then in `include_dirs`. False with "path:line: error: ..." in *error.
bool ReadScriptFile(const std::string& path, const std::vector<std::string>& include_dirs,
                    Script* script, std::string* error);
// The same for text in memory; `name` is the file name errors give.
bool ReadScriptText(const std::string& text, const std::string& name,
                    const std::vector<std::string>& include_dirs, Script* script,
                    std::string* error);

// The C++ source of the template table (device::kDialogTemplates and
// device::kDialogTemplateCount) for the script, dialogs in script order.
std::string WriteTemplateTable(const Script& script, const std::string& source_name);

}  // namespace rcgen
