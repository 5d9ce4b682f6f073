// rcgen: the resource script as both builds see it. Malformed scripts fail
// with file and line; the generated table holds the layouts of the pages; and
// where windres is installed, the table equals what windres compiles for the
// win32 build, control for control and bit for bit.
#include "tools/rcgen/rc_script.h"

#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "config/resource.h"
#include "platform/host/ui/dialog_template.h"

extern char** environ;

namespace {

using rcgen::Kind;

std::string ReadError(const std::string& text) {
  rcgen::Script script;
  std::string error;
  if (rcgen::ReadScriptText(text, "t.rc", {}, &script, &error)) return "<no error>";
  return error;
}

rcgen::Script Read(const std::string& text) {
  rcgen::Script script;
  std::string error;
  EXPECT_TRUE(rcgen::ReadScriptText(text, "t.rc", {}, &script, &error)) << error;
  return script;
}

std::string Dialog(const std::string& body) {
  return "1 DIALOG 0, 0, 100, 100\nBEGIN\n" + body + "END\n";
}

TEST(RcgenErrors, EveryUnreadStatementFailsWithFileAndLine) {
  struct Case {
    std::string script;
    std::string expected_start;  // "t.rc:LINE: error: ..."
  };
  const Case cases[] = {
      {Dialog("  LTEXT \"a\", 1, 0, 0, 1, 1\n  GROUPBOX \"g\", 2, 0, 0, 1, 1\n"),
       "t.rc:4: error: control statement 'GROUPBOX' is not supported"},
      {"// top\n\nSTRINGTABLE\nBEGIN\nEND\n",
       "t.rc:3: error: 'STRINGTABLE' is not supported"},
      {"1 MENU\nBEGIN\nEND\n", "t.rc:1: error: resource type 'MENU' is not supported"},
      {"LANGUAGE 9, 1\n", "t.rc:1: error: 'LANGUAGE' is not supported"},
      {"IDD_MISSING DIALOG 0, 0, 1, 1\nBEGIN\nEND\n",
       "t.rc:1: error: resource name 'IDD_MISSING' is not a number or a #define"},
      {Dialog("  LTEXT \"a\", IDC_NOWHERE, 0, 0, 1, 1\n"), "t.rc:3: error: unknown name 'IDC_NOWHERE'"},
      {Dialog("  LTEXT \"a\" 1, 0, 0, 1, 1\n"), "t.rc:3: error: expected ',' before the id"},
      {Dialog("  LTEXT \"a, 1, 0, 0, 1, 1\n"), "t.rc:3: error: string is not closed on its line"},
      {Dialog("  LTEXT \"a\\q\", 1, 0, 0, 1, 1\n"), "t.rc:3: error: unknown escape sequence '\\q'"},
      {Dialog("  LTEXT \"90\xC2\xB0\", 1, 0, 0, 1, 1\n"),
       "t.rc:3: error: non-ASCII text needs '#pragma code_page(65001)'"},
      {"#pragma code_page(1252)\n", "t.rc:1: error: only '#pragma code_page(65001)'"},
      {"#pragma code_page(65001)\n" + Dialog("  LTEXT \"\xC2\", 1, 0, 0, 1, 1\n"),
       "t.rc:4: error: string is not valid UTF-8"},
      {Dialog("  LTEXT \"a\", 1, 0, 0, 1, 1\n  LTEXT \"b\", 1, 0, 0, 1, 1\n"),
       "t.rc:4: error: control id 1 is used twice in dialog 1"},
      {Dialog("  CONTROL \"r\", 1, \"Button\", BS_AUTORADIOBUTTON, 0, 0, 1, 1\n"),
       "t.rc:3: error: button type 9"},
      {Dialog("  COMBOBOX 1, 0, 0, 1, 1, CBS_DROPDOWN\n"),
       "t.rc:3: error: only drop-down list combo boxes"},
      {Dialog("  LTEXT \"a\", 1, 0, 0, 1, 1, 0, 0, 7\n"), "t.rc:3: error: too many arguments"},
      {"#ifdef X\n#endif\n", "t.rc:1: error: preprocessor directive '#ifdef' is not supported"},
      {"#include \"nowhere.h\"\n", "t.rc:1: error: cannot open the included file 'nowhere.h'"},
      {"#define A 1\n#define A 2\n", "t.rc:2: error: 'A' is defined twice"},
      {"1 DIALOG 0, 0, 1, 1\nMENU 5\nBEGIN\nEND\n", "t.rc:2: error: dialog option 'MENU' is not supported"},
      {"1 DIALOG 0, 0, 1, 1\nBEGIN\n  LTEXT \"a\", 1, 0, 0, 1, 1\n", "t.rc:1: error: dialog has no END"},
      {Dialog("") + Dialog(""), "t.rc:4: error: dialog 1 is defined twice"},
      {Dialog("  LTEXT \"a\", 70000, 0, 0, 1, 1\n"), "t.rc:3: error: control id does not fit in 16 bits"},
      {Dialog("  LTEXT \"a\", 1, 0, 0, 1, 1 ; \n"), "t.rc:3: error: unexpected character ';'"},
  };
  for (const Case& c : cases) {
    const std::string error = ReadError(c.script);
    EXPECT_EQ(error.rfind(c.expected_start, 0), 0u) << "got: " << error << "\nscript:\n" << c.script;
  }
}

TEST(RcgenErrors, HeadersAreReadForDefinesOnly) {
  const std::filesystem::path dir = std::filesystem::temp_directory_path() / ("rcgen." + std::to_string(getpid()));
  std::filesystem::create_directories(dir);
  std::ofstream(dir / "ids.h") << "// ids\n#define IDC_A 7 /* seven */\n#define IDC_B (IDC_A + 1)\n";
  std::ofstream(dir / "bad.h") << "#define IDC_C 3\nint not_a_define;\n";

  rcgen::Script script;
  std::string error;
  ASSERT_TRUE(rcgen::ReadScriptText("#include \"ids.h\"\n" + Dialog("  LTEXT \"a\", IDC_B, 0, 0, 1, 1\n"),
                                    "t.rc", {dir.string()}, &script, &error))
      << error;
  EXPECT_EQ(script.dialogs[0].controls[0].id, 8);

  EXPECT_FALSE(rcgen::ReadScriptText("#include \"bad.h\"\n", "t.rc", {dir.string()}, &script, &error));
  EXPECT_EQ(error, (dir / "bad.h").string() +
                       ":2: error: only #define lines and comments are read from an included header");
  std::filesystem::remove_all(dir);
}

TEST(RcgenStyles, FollowWindres) {
  const rcgen::Script script = Read(
      "#define IDC_STATIC (-1)\n"
      "5 DIALOG DISCARDABLE 0, 0, 20, 30\n"
      "CAPTION \"c\"\n"
      "STYLE WS_CHILD\n"
      "FONT 10, \"Arial\"\n"
      "{\n"
      "  LTEXT \"plain\", IDC_STATIC, 1, 2, 3, 4\n"                                // 0
      "  LTEXT \"disabled\", 2, 1, 2, 3, 4, WS_DISABLED\n"                          // 1: no WS_GROUP
      "  EDITTEXT 3, 1, 2, 3, 4, NOT WS_BORDER\n"                                  // 2
      "  COMBOBOX 4, 1, 2, 3, 4, CBS_DROPDOWNLIST\n"                               // 3: no WS_TABSTOP
      "  CONTROL \"\", 5, \"SIPPREF\", NOT WS_VISIBLE, 1, 2, 3, 4\n"               // 4
      "  CONTROL \"\", 6, \"Static\", WS_TABSTOP | NOT WS_VISIBLE | WS_VISIBLE, 1, 2, 3, 4\n"  // 5
      "  CONTROL \"\", 7, \"Static\", SS_ETCHEDHORZ, 1, 2, 3, 1\n"                 // 6
      "  AUTOCHECKBOX \"Save && &quit\", 8, 1, 2, 3, 4\n"                          // 7
      "  CTEXT \"Say \"\"hi\"\"\" L\" twice\\n\", 9, 1, 2, 3, 4\n"                 // 8
      "  LTEXT \"A&&B\", 10, 1, 2, 3, 4, SS_NOPREFIX\n"                            // 9
      "  CONTROL \"\", 11, \"msctls_trackbar32\", TBS_BOTH | TBS_NOTICKS, 0x10, 2, 3L, 4\n"  // 10
      "}\n");
  ASSERT_EQ(script.dialogs.size(), 1u);
  const rcgen::Dialog& d = script.dialogs[0];
  EXPECT_EQ(d.id, 5);
  EXPECT_EQ(d.style, 0x40C00040u) << "WS_CHILD, then WS_CAPTION for the caption and DS_SETFONT for the font";
  EXPECT_EQ(d.font, u"Arial");
  EXPECT_EQ(d.point_size, 10);
  ASSERT_EQ(d.controls.size(), 11u);
  const auto& c = d.controls;
  EXPECT_EQ(c[0].id, -1);
  EXPECT_EQ(c[0].style, 0x50020000u);
  EXPECT_EQ(c[0].kind, Kind::kLabel);
  EXPECT_EQ(c[0].line, 7);
  EXPECT_EQ(c[1].style, 0x58000000u);
  EXPECT_EQ(c[2].style, 0x50010000u);
  EXPECT_EQ(c[2].kind, Kind::kEdit);
  EXPECT_EQ(c[3].style, 0x50000003u);
  EXPECT_EQ(c[3].kind, Kind::kComboBox);
  EXPECT_EQ(c[4].style, 0x40000000u);
  EXPECT_EQ(c[4].kind, Kind::kCustom);
  EXPECT_EQ(c[4].class_name, u"SIPPREF");
  EXPECT_EQ(c[5].style, 0x50010000u);
  EXPECT_EQ(c[6].kind, Kind::kLine);
  EXPECT_EQ(c[7].kind, Kind::kCheckBox);
  EXPECT_EQ(c[7].style, 0x50010003u);
  EXPECT_EQ(c[7].text, u"Save && &quit");
  EXPECT_EQ(c[7].shown_text, u"Save & quit");
  EXPECT_EQ(c[8].shown_text, u"Say \"hi\" twice\n");
  EXPECT_EQ(c[8].style, 0x50020001u);
  EXPECT_EQ(c[9].shown_text, u"A&&B") << "SS_NOPREFIX shows ampersands as they are";
  EXPECT_EQ(c[10].kind, Kind::kTrackbar);
  EXPECT_EQ(c[10].style, 0x50000018u);
  EXPECT_EQ(c[10].x, 16);
  EXPECT_EQ(c[10].width, 3);

  const std::string table = rcgen::WriteTemplateTable(script, "t.rc");
  EXPECT_NE(table.find("{8, ControlKind::kCheckBox, u\"Button\", u\"Save & quit\", 1, 2, 3, 4, 0x50010003u}"),
            std::string::npos)
      << table;
  EXPECT_NE(table.find("u\"Say \\\"hi\\\" twice\\n\""), std::string::npos) << table;
  EXPECT_NE(table.find("const int kDialogTemplateCount = 1;"), std::string::npos);
}

// ---- The table the host build links ---------------------------------------------

const device::DialogTemplate* Template(int id) {
  for (int i = 0; i < device::kDialogTemplateCount; ++i)
    if (device::kDialogTemplates[i].id == id) return &device::kDialogTemplates[i];
  return nullptr;
}

constexpr uint32_t kVisible = 0x10000000;

TEST(TapdeckTemplates, SettingsPageHasEveryControlInPlace) {
  const device::DialogTemplate* page = Template(IDD_SETTINGS);
  ASSERT_NE(page, nullptr);
  EXPECT_EQ(std::u16string(page->font), u"Arial");
  EXPECT_EQ(page->point_size, 10);
  EXPECT_EQ(page->width, 138);
  EXPECT_EQ(page->height, 155);

  using device::ControlKind;
  struct Expected {
    int id;
    ControlKind kind;
    const char16_t* text;
    int x, y, width, height;
    bool visible;
  };
  const Expected expected[] = {
      {1012, ControlKind::kListBox, u"", 4, 4, 129, 58, true},
      {1020, ControlKind::kCheckBox, u"Do override original button setting", 4, 64, 130, 8, true},
      {1032, ControlKind::kLabel, u"(User defined button via Add Buttons)", 4, 64, 130, 8, true},
      {1018, ControlKind::kLabel, u"Single Press", 4, 75, 58, 8, true},
      {1013, ControlKind::kComboBox, u"", 67, 74, 66, 83, true},
      {1017, ControlKind::kLabel, u"Press and Hold", 4, 86, 58, 8, true},
      {1014, ControlKind::kComboBox, u"", 67, 85, 66, 72, true},
      {1016, ControlKind::kLabel, u"Double Press", 4, 97, 58, 8, true},
      {1015, ControlKind::kComboBox, u"", 67, 96, 66, 61, true},
      {1022, ControlKind::kLabel, u"Dbl Press & Hold or Triple Press", 4, 108, 59, 15, true},
      {1021, ControlKind::kComboBox, u"", 67, 107, 66, 50, true},
      {1019, ControlKind::kLabel,
       u"You may not assign a double press or press and hold function to buttons set to <Record>", 4, 90,
       130, 25, true},
      {1041, ControlKind::kLabel, u"", 4, 75, 130, 33, true},
      {1100, ControlKind::kButton, u"Tune Timing...", 67, 126, 66, 14, true},
      {1009, ControlKind::kCustom, u"", 75, 135, 59, 16, false},
  };
  ASSERT_EQ(page->control_count, static_cast<int>(std::size(expected)));
  for (int i = 0; i < page->control_count; ++i) {
    const device::ControlTemplate& c = page->controls[i];
    const Expected& e = expected[i];
    SCOPED_TRACE(e.id);
    EXPECT_EQ(c.id, e.id);
    EXPECT_EQ(c.kind, e.kind);
    EXPECT_EQ(std::u16string(c.text), e.text);
    EXPECT_EQ((std::vector<int>{c.x, c.y, c.width, c.height}),
              (std::vector<int>{e.x, e.y, e.width, e.height}));
    EXPECT_EQ((c.style & kVisible) != 0, e.visible);
  }
  EXPECT_EQ(std::u16string(page->controls[14].class_name), u"SIPPREF");
  EXPECT_EQ(page->controls[0].style & 0x3, 0x1u) << "notifies, not sorted";
  for (int combo : {4, 6, 8, 10}) {
    EXPECT_EQ(page->controls[combo].style & 0x103, 0x3u) << "drop-down list, not sorted";
    EXPECT_NE(page->controls[combo].style & 0x00200000, 0u) << "vertical scroll bar";
  }
}

TEST(TapdeckTemplates, OtherDialogsAsTheirPagesUseThem) {
  for (int id :
       {IDD_OPTIONS, IDD_HELP, IDD_ABOUT, IDD_SETTINGS, IDD_ADD_BUTTONS, IDD_ADD_INTERCEPT, IDD_ROTATE, IDD_TUNER})
    EXPECT_NE(Template(id), nullptr) << id;
  EXPECT_EQ(device::kDialogTemplateCount, 8);

  const device::DialogTemplate* rotate = Template(IDD_ROTATE);
  ASSERT_NE(rotate, nullptr);
  EXPECT_EQ(std::u16string(rotate->caption), u"Rotate Screen");
  ASSERT_EQ(rotate->control_count, 6);
  EXPECT_EQ(std::u16string(rotate->controls[1].text), u"0\u00B0 (normal orientation)");
  EXPECT_EQ(std::u16string(rotate->controls[2].text), u"90\u00B0  (top of display to the right)");
  EXPECT_EQ(std::u16string(rotate->controls[3].text), u"180\u00B0 (upside down)");
  EXPECT_EQ(std::u16string(rotate->controls[4].text), u"270\u00B0 (top of display to the left)");
  EXPECT_EQ(rotate->controls[4].id, IDC_ROTATE_270);
  EXPECT_EQ(rotate->controls[4].kind, device::ControlKind::kCheckBox);

  const device::DialogTemplate* options = Template(IDD_OPTIONS);
  ASSERT_NE(options, nullptr);
  EXPECT_EQ(options->controls[1].id, IDC_HOLD_SLIDER);
  EXPECT_EQ(options->controls[1].kind, device::ControlKind::kTrackbar);
  EXPECT_EQ(options->controls[1].style & 0xFF, 0x18u);
  EXPECT_EQ(options->controls[2].id, IDC_HOLD_MS);
  EXPECT_EQ(options->controls[5].id, IDC_DBLCLICK_SLIDER);
  EXPECT_EQ(options->controls[6].id, IDC_DBLCLICK_MS);

  const device::DialogTemplate* about = Template(IDD_ABOUT);
  ASSERT_NE(about, nullptr);
  EXPECT_EQ(std::u16string(about->controls[0].text).rfind(u"Quadrakey 3.0 Beta 0", 0), 0u);
  EXPECT_EQ(about->controls[0].style & 0x3, 0x1u) << "centred";

  const device::DialogTemplate* help = Template(IDD_HELP);
  ASSERT_NE(help, nullptr);
  EXPECT_EQ(help->point_size, 8);
  EXPECT_NE(std::u16string(help->controls[1].text).find(u"\"Do Override Original Button Setting\""),
            std::u16string::npos);

  const device::DialogTemplate* intercept = Template(IDD_ADD_INTERCEPT);
  ASSERT_NE(intercept, nullptr);
  for (int i = 0; i < intercept->control_count; ++i) {
    const device::ControlTemplate& c = intercept->controls[i];
    const bool disabled = (c.style & 0x08000000) != 0;
    EXPECT_EQ(disabled, c.id == IDC_INTERCEPT_NAME_LABEL || c.id == IDC_INTERCEPT_NAME || c.id == 1) << c.id;
  }

  // The tuner: Accept waits for a proposal; every row's three texts are
  // the dialog's to fill.
  const device::DialogTemplate* tuner = Template(IDD_TUNER);
  ASSERT_NE(tuner, nullptr);
  EXPECT_EQ(std::u16string(tuner->caption), u"Tune Button Timing");
  int filled = 0;
  for (int i = 0; i < tuner->control_count; ++i) {
    const device::ControlTemplate& c = tuner->controls[i];
    EXPECT_EQ((c.style & 0x08000000) != 0, c.id == 1) << c.id;
    if (c.id >= IDC_TUNER_LABEL0 && c.id <= IDC_TUNER_NEXT6 && std::u16string(c.text).empty()) ++filled;
  }
  EXPECT_EQ(filled, 21);
}

// ---- The same script through windres ----------------------------------------------

struct ResControl {
  uint32_t style;
  int x, y, width, height;
  int id;
  std::u16string class_name;
  std::u16string text;
};
struct ResDialog {
  int id;
  uint32_t style;
  int x, y, width, height;
  std::u16string caption, font;
  int point_size = 0;
  std::vector<ResControl> controls;
};

class ResReader {
 public:
  explicit ResReader(const std::string& bytes) : bytes_(bytes) {}
  bool Done() const { return at_ >= bytes_.size(); }
  uint16_t Word() {
    uint16_t v = static_cast<uint8_t>(bytes_[at_]) | static_cast<uint16_t>(static_cast<uint8_t>(bytes_[at_ + 1]) << 8);
    at_ += 2;
    return v;
  }
  uint32_t Dword() {
    uint32_t low = Word();
    return low | (static_cast<uint32_t>(Word()) << 16);
  }
  std::u16string Text() {
    std::u16string text;
    for (char16_t c = Word(); c != 0; c = Word()) text.push_back(c);
    return text;
  }
  // A name or an ordinal (0xFFFF, number); ordinals come back as "#n".
  std::u16string NameOrOrdinal() {
    if (Peek() == 0xFFFF) {
      Word();
      const uint16_t ordinal = Word();
      std::u16string text = u"#";
      for (char c : std::to_string(ordinal)) text.push_back(static_cast<char16_t>(c));
      return text;
    }
    return Text();
  }
  uint16_t Peek() const {
    return static_cast<uint8_t>(bytes_[at_]) | static_cast<uint16_t>(static_cast<uint8_t>(bytes_[at_ + 1]) << 8);
  }
  void AlignTo4() { at_ = (at_ + 3) & ~size_t{3}; }
  size_t at() const { return at_; }
  void Seek(size_t at) { at_ = at; }

 private:
  const std::string& bytes_;
  size_t at_ = 0;
};

std::vector<ResDialog> ReadRes(const std::string& bytes) {
  std::vector<ResDialog> dialogs;
  ResReader in(bytes);
  while (!in.Done()) {
    const size_t start = in.at();
    const uint32_t data_size = in.Dword();
    const uint32_t header_size = in.Dword();
    const std::u16string type = in.NameOrOrdinal();
    const std::u16string name = in.NameOrOrdinal();
    in.Seek(start + header_size);
    const size_t data_end = in.at() + data_size;
    if (type == u"#5") {
      ResDialog dialog;
      dialog.id = std::stoi(std::string(name.begin() + 1, name.end()));
      dialog.style = in.Dword();
      in.Dword();  // extended style
      const uint16_t count = in.Word();
      dialog.x = static_cast<int16_t>(in.Word());
      dialog.y = static_cast<int16_t>(in.Word());
      dialog.width = static_cast<int16_t>(in.Word());
      dialog.height = static_cast<int16_t>(in.Word());
      in.NameOrOrdinal();  // menu
      in.NameOrOrdinal();  // class
      dialog.caption = in.Text();
      if (dialog.style & 0x40) {
        dialog.point_size = in.Word();
        dialog.font = in.Text();
      }
      for (int i = 0; i < count; ++i) {
        in.AlignTo4();
        ResControl control;
        control.style = in.Dword();
        in.Dword();
        control.x = static_cast<int16_t>(in.Word());
        control.y = static_cast<int16_t>(in.Word());
        control.width = static_cast<int16_t>(in.Word());
        control.height = static_cast<int16_t>(in.Word());
        control.id = static_cast<int16_t>(in.Word());
        control.class_name = in.NameOrOrdinal();
        control.text = in.NameOrOrdinal();
        const uint16_t extra = in.Word();
        in.Seek(in.at() + extra);
        dialog.controls.push_back(control);
      }
      dialogs.push_back(std::move(dialog));
    }
    in.Seek(data_end);
    in.AlignTo4();
  }
  return dialogs;
}

std::u16string ClassOf(const std::u16string& name) {
  static const std::pair<const char16_t*, const char16_t*> kAtoms[] = {
      {u"#128", u"button"}, {u"#129", u"edit"}, {u"#130", u"static"}, {u"#131", u"listbox"}, {u"#133", u"combobox"}};
  for (const auto& atom : kAtoms)
    if (name == atom.first) return atom.second;
  std::u16string lower = name;
  for (char16_t& c : lower)
    if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c - u'A' + u'a');
  return lower;
}

// The script as windres compiles it, in its binary form; empty when windres
// is not installed.
std::string CompileWithWindres(const std::string& script, const std::string& out) {
  const char* windres = "x86_64-w64-mingw32-windres";
  std::vector<std::string> args = {windres, script, "-O", "res", "-o", out};
  std::vector<char*> argv;
  for (std::string& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);
  pid_t pid = 0;
  if (posix_spawnp(&pid, windres, nullptr, nullptr, argv.data(), environ) != 0) return {};
  int status = 0;
  if (waitpid(pid, &status, 0) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0) return {};
  std::ifstream in(out, std::ios::binary);
  std::ostringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

TEST(TapdeckTemplates, EqualWhatWindresCompilesForWin32) {
  const std::string script = std::string(QK_SOURCE_DIR) + "/config/tapdeck.rc";
  const std::string out = (std::filesystem::temp_directory_path() / ("tapdeck." + std::to_string(getpid()) + ".res")).string();
  const std::string bytes = CompileWithWindres(script, out);
  std::filesystem::remove(out);
  if (bytes.empty()) GTEST_SKIP() << "x86_64-w64-mingw32-windres is not installed or failed";

  const std::vector<ResDialog> compiled = ReadRes(bytes);
  ASSERT_EQ(static_cast<int>(compiled.size()), device::kDialogTemplateCount);
  for (const ResDialog& res : compiled) {
    SCOPED_TRACE("dialog " + std::to_string(res.id));
    const device::DialogTemplate* table = Template(res.id);
    ASSERT_NE(table, nullptr);
    EXPECT_EQ(table->style, res.style);
    EXPECT_EQ((std::vector<int>{table->x, table->y, table->width, table->height, table->point_size}),
              (std::vector<int>{res.x, res.y, res.width, res.height, res.point_size}));
    EXPECT_EQ(std::u16string(table->caption), res.caption);
    EXPECT_EQ(std::u16string(table->font), res.font);
    ASSERT_EQ(table->control_count, static_cast<int>(res.controls.size()));
    for (int i = 0; i < table->control_count; ++i) {
      const device::ControlTemplate& mine = table->controls[i];
      const ResControl& theirs = res.controls[i];
      SCOPED_TRACE("control " + std::to_string(theirs.id));
      EXPECT_EQ(mine.id, theirs.id);
      EXPECT_EQ(mine.style, theirs.style);
      EXPECT_EQ((std::vector<int>{mine.x, mine.y, mine.width, mine.height}),
                (std::vector<int>{theirs.x, theirs.y, theirs.width, theirs.height}));
      EXPECT_EQ(ClassOf(mine.class_name), ClassOf(theirs.class_name));
      // The win32 control shows its text with the platform's prefix rule;
      // the table holds it as shown.
      std::u16string shown;
      for (size_t k = 0; k < theirs.text.size(); ++k) {
        if (theirs.text[k] == u'&') {
          if (k + 1 < theirs.text.size() && theirs.text[k + 1] == u'&') shown.push_back(u'&'), ++k;
          continue;
        }
        shown.push_back(theirs.text[k]);
      }
      EXPECT_EQ(std::u16string(mine.text), shown);
    }
  }
}

}  // namespace
