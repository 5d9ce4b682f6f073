// A person can act only on what is in front of them: not on hidden or
// disabled controls, pages behind the one in front, lines that are not
// there, or a dialog behind a message box.
#include "platform/common/person_rules.h"

namespace plat::common {
namespace {

using person::Action;
using person::ActionKind;
using person::ScreenKind;

std::u16string Text(const char* ascii) { return std::u16string(ascii, ascii + std::char_traits<char>::length(ascii)); }

std::u16string Decimal(long long value) {
  const std::string digits = std::to_string(value);
  return std::u16string(digits.begin(), digits.end());
}

Verdict Refuse(std::u16string reason) {
  Verdict verdict;
  verdict.refusal = std::move(reason);
  return verdict;
}

Verdict Allow() {
  Verdict verdict;
  verdict.allowed = true;
  return verdict;
}

std::u16string ControlName(int id) { return u"control " + Decimal(id); }

// Where a person's controls are now: the front page or dialog, named as a
// refusal names it; false with the refusal when something else is in front.
bool ReachableDialog(PersonView& view, std::u16string* where, Verdict* refused) {
  switch (view.FrontKind()) {
    case ScreenKind::kNothing:
      *refused = Refuse(u"no page set or dialog is open");
      return false;
    case ScreenKind::kPageSet:
      if (!view.FrontOpen()) {
        *refused = Refuse(u"the page set is not open yet");
        return false;
      }
      *where = u"page " + Quoted(view.FrontTitle());
      return true;
    case ScreenKind::kDialog: {
      if (!view.FrontOpen()) {
        *refused = Refuse(u"the dialog is not open yet");
        return false;
      }
      const std::u16string title = view.FrontTitle();
      *where = u"the dialog" + (title.empty() ? std::u16string() : u" " + Quoted(title));
      return true;
    }
    case ScreenKind::kMessageBox:
      *refused = Refuse(u"a message box is in front: answer it first");
      return false;
    case ScreenKind::kFileDialog:
      *refused = Refuse(u"the file-open dialog is in front: choose a file or cancel it first");
      return false;
  }
  *refused = Refuse(u"no page set or dialog is open");
  return false;
}

bool ReachableControl(PersonView& view, int id, ControlFacts* facts, Verdict* refused) {
  std::u16string where;
  if (!ReachableDialog(view, &where, refused)) return false;
  if (!view.FindControl(id, facts)) {
    *refused = Refuse(u"no " + ControlName(id) + u" on " + where);
    return false;
  }
  if (!facts->shown) {
    *refused = Refuse(ControlName(id) + u" is hidden");
    return false;
  }
  if (!facts->enabled) {
    *refused = Refuse(ControlName(id) + u" is disabled");
    return false;
  }
  return true;
}

std::u16string IsKind(int id, const ControlFacts& facts) {
  return ControlName(id) + u" is " + Text(KindName(facts.kind));
}

Verdict Select(const Action& action, PersonView& view) {
  ControlFacts facts;
  Verdict verdict;
  if (!ReachableControl(view, action.control, &facts, &verdict)) return verdict;
  if (facts.kind != ControlKind::kListBox && facts.kind != ControlKind::kComboBox)
    return Refuse(IsKind(action.control, facts) + u", which has no lines to select");
  verdict = Allow();
  if (action.line >= 0) {
    const int count = facts.line_count;
    if (action.line >= count)
      return Refuse(ControlName(action.control) + u" has no line " + Decimal(action.line) + u" (it has " +
                    Decimal(count) + (count == 1 ? u" line)" : u" lines)"));
    verdict.line = action.line;
    return verdict;
  }
  verdict.line = view.FindLine(action.control, action.text);
  if (verdict.line < 0) return Refuse(ControlName(action.control) + u" has no line " + Quoted(action.text));
  return verdict;
}

Verdict Click(const Action& action, PersonView& view) {
  ControlFacts facts;
  Verdict verdict;
  if (!ReachableControl(view, action.control, &facts, &verdict)) return verdict;
  if (facts.kind != ControlKind::kCheckBox && facts.kind != ControlKind::kButton)
    return Refuse(IsKind(action.control, facts) + u", which cannot be clicked");
  return Allow();
}

Verdict Slide(const Action& action, PersonView& view) {
  ControlFacts facts;
  Verdict verdict;
  if (!ReachableControl(view, action.control, &facts, &verdict)) return verdict;
  if (facts.kind != ControlKind::kTrackbar) return Refuse(IsKind(action.control, facts) + u", not a trackbar");
  return Allow();
}

Verdict Type(const Action& action, PersonView& view) {
  ControlFacts facts;
  Verdict verdict;
  if (!ReachableControl(view, action.control, &facts, &verdict)) return verdict;
  if (facts.kind != ControlKind::kEdit) return Refuse(IsKind(action.control, facts) + u", not an edit field");
  return Allow();
}

Verdict Tab(const Action& action, PersonView& view) {
  std::u16string where;
  Verdict verdict;
  if (!ReachableDialog(view, &where, &verdict)) return verdict;
  if (view.FrontKind() != ScreenKind::kPageSet) return Refuse(u"the dialog in front has no tabs");
  const std::vector<std::u16string> tabs = view.Tabs();
  std::u16string titles;
  for (size_t i = 0; i < tabs.size(); ++i) {
    if (CompareNoCase(tabs[i], action.text) == 0) {
      verdict = Allow();
      verdict.tab = static_cast<int>(i);
      return verdict;
    }
    titles += (i > 0 ? u", " : u"") + tabs[i];
  }
  return Refuse(u"no tab " + Quoted(action.text) + u" (the tabs: " + titles + u")");
}

Verdict Done(PersonView& view) {
  std::u16string where;
  Verdict verdict;
  if (!ReachableDialog(view, &where, &verdict)) return verdict;
  if (view.FrontKind() == ScreenKind::kDialog && !view.HasDoneButton()) return Refuse(where + u" has no Done button");
  return Allow();
}

Verdict Cancel(PersonView& view) {
  switch (view.FrontKind()) {
    case ScreenKind::kNothing:
      // Closing the program's window is all that is left to do.
      return view.HasMainWindow() ? Allow() : Refuse(u"nothing is open on the screen");
    case ScreenKind::kMessageBox:
      // Cancelling a question is its No.
      if (view.FrontOpen() && view.MessageBoxHasNo()) return Allow();
      return Refuse(u"a message box is in front: answer it (it has only OK)");
    case ScreenKind::kPageSet:
      return view.FrontOpen() ? Allow() : Refuse(u"the page set is not open yet");
    case ScreenKind::kDialog:
    case ScreenKind::kFileDialog:
      return view.FrontOpen() ? Allow() : Refuse(u"the dialog is not open yet");
  }
  return Refuse(u"nothing is open on the screen");
}

Verdict Answer(PersonView& view) {
  if (view.FrontKind() != ScreenKind::kMessageBox || !view.FrontOpen()) return Refuse(u"no message box is open");
  return Allow();
}

bool FileDialogInFront(PersonView& view, Verdict* refused) {
  if (view.FrontKind() == ScreenKind::kFileDialog && view.FrontOpen()) return true;
  *refused = Refuse(u"no file-open dialog is open");
  return false;
}

// A device path from its root ("\My Documents\x.psw"), or one with a drive
// ("C:\x.psw") where the platform has drives.
bool IsFullPath(const std::u16string& path) {
  if (!path.empty() && path[0] == u'\\') return true;
  const bool letter = path.size() >= 3 && ((path[0] >= u'A' && path[0] <= u'Z') || (path[0] >= u'a' && path[0] <= u'z'));
  return letter && path[1] == u':' && path[2] == u'\\';
}

Verdict ChooseFile(const Action& action, PersonView& view) {
  Verdict verdict;
  if (!FileDialogInFront(view, &verdict)) return verdict;
  std::u16string path = action.text;
  for (char16_t& c : path)
    if (c == u'/') c = u'\\';
  if (!IsFullPath(path))
    return Refuse(u"give the file's full device path, starting with \\ (for example \\My Documents\\letter.psw)");
  if (view.FileMustExist()) {
    switch (view.KindOfPath(path)) {
      case PathKind::kMissing:
        return Refuse(u"no file " + path + u" on the device (this dialog takes only a file that exists)");
      case PathKind::kFolder:
        return Refuse(path + u" is a folder, not a file");
      case PathKind::kFile:
        break;
    }
  }
  verdict = Allow();
  verdict.path = std::move(path);
  return verdict;
}

Verdict CancelFile(PersonView& view) {
  Verdict verdict;
  return FileDialogInFront(view, &verdict) ? Allow() : verdict;
}

}  // namespace

const char* KindName(ControlKind kind) {
  switch (kind) {
    case ControlKind::kLabel: return "a label";
    case ControlKind::kLine: return "a line";
    case ControlKind::kCheckBox: return "a check box";
    case ControlKind::kButton: return "a button";
    case ControlKind::kEdit: return "an edit box";
    case ControlKind::kListBox: return "a list box";
    case ControlKind::kComboBox: return "a combo box";
    case ControlKind::kTrackbar: return "a trackbar";
    case ControlKind::kCustom: return "a custom control";
  }
  return "a control";
}

std::u16string Quoted(const std::u16string& text) {
  static const char16_t kHex[] = u"0123456789abcdef";
  std::u16string out = u"\"";
  for (char16_t c : text) {
    switch (c) {
      case u'"': out += u"\\\""; break;
      case u'\\': out += u"\\\\"; break;
      case u'\n': out += u"\\n"; break;
      case u'\r': out += u"\\r"; break;
      case u'\t': out += u"\\t"; break;
      default:
        if (c < 0x20) {
          out += u"\\u00";
          out += kHex[c >> 4];
          out += kHex[c & 0xF];
        } else {
          out += c;
        }
    }
  }
  return out + u"\"";
}

Verdict Judge(const Action& action, PersonView& view) {
  switch (action.kind) {
    case ActionKind::kSelect: return Select(action, view);
    case ActionKind::kClick: return Click(action, view);
    case ActionKind::kSlide: return Slide(action, view);
    case ActionKind::kType: return Type(action, view);
    case ActionKind::kTab: return Tab(action, view);
    case ActionKind::kDone: return Done(view);
    case ActionKind::kCancel: return Cancel(view);
    case ActionKind::kAnswer: return Answer(view);
    case ActionKind::kChooseFile: return ChooseFile(action, view);
    case ActionKind::kCancelFile: return CancelFile(view);
  }
  return Refuse(u"unknown action");
}

}  // namespace plat::common
