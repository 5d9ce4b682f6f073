// What stops a person acting on the screen, decided once for both backends.
// Each backend answers a few questions about what it shows (PersonView);
// Judge turns the answers into the refusal a person meets, word for word the
// same on the host and on Win32. Private to platform/.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/person.h"

namespace plat::common {

// A control as a person tells it apart.
enum class ControlKind : uint8_t {
  kLabel,     // text, left or centred
  kLine,      // an etched or black frame line, no text
  kCheckBox,
  kButton,    // a push button
  kEdit,
  kListBox,
  kComboBox,  // drop-down list
  kTrackbar,
  kCustom,    // any other class ("SIPPREF")
};

// "a combo box", as refusals name the kind.
const char* KindName(ControlKind kind);

struct ControlFacts {
  ControlKind kind = ControlKind::kCustom;
  bool shown = false;
  bool enabled = false;
  int line_count = 0;  // list and combo boxes
};

enum class PathKind { kMissing, kFile, kFolder };

// A backend's answers. The control questions concern the page in front of
// the page set, or the dialog in front; they are asked only when one is.
class PersonView {
 public:
  virtual person::ScreenKind FrontKind() = 0;
  // False while the system is still making the window in front.
  virtual bool FrontOpen() = 0;
  // The front page's tab title, or the dialog's caption.
  virtual std::u16string FrontTitle() = 0;
  // The page set's tab titles, in page order.
  virtual std::vector<std::u16string> Tabs() = 0;
  // The dialog in front has a Done button that a person can press.
  virtual bool HasDoneButton() = 0;
  // With nothing in front, whether a main window is left to close.
  virtual bool HasMainWindow() = 0;
  // The message box in front has a No button (kMbYesNo).
  virtual bool MessageBoxHasNo() = 0;
  // False when the page or dialog in front has no control `id`.
  virtual bool FindControl(int id, ControlFacts* facts) = 0;
  // The first line of list or combo box `id` whose whole text is `text` in
  // any letter case; -1 when none.
  virtual int FindLine(int id, const std::u16string& text) = 0;
  // The file-open dialog in front takes only a file that exists.
  virtual bool FileMustExist() = 0;
  virtual PathKind KindOfPath(const std::u16string& device_path) = 0;

 protected:
  ~PersonView() = default;
};

struct Verdict {
  bool allowed = false;
  std::u16string refusal;  // when not allowed: the reason a person would see
  int line = -1;           // kSelect: the line to select
  int tab = -1;            // kTab: the page to bring to the front
  std::u16string path;     // kChooseFile: the path, '/' turned into '\'
};

Verdict Judge(const person::Action& action, PersonView& view);

// `text` in double quotes, with '"', '\' and control characters escaped as
// JSON escapes them: a refusal stays one line whatever it quotes.
std::u16string Quoted(const std::u16string& text);

}  // namespace plat::common
