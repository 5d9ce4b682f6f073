#include "tools/rcgen/rc_script.h"

#include <cctype>
#include <cstdio>
#include <fstream>
#include <map>
#include <set>
#include <sstream>

namespace rcgen {
namespace {

// ---- Win32 names the script may use without their headers -------------------
struct Name {
  const char* name;
  uint32_t value;
};

constexpr Name kWin32Names[] = {
    // Window styles.
    {"WS_OVERLAPPED", 0x00000000}, {"WS_POPUP", 0x80000000}, {"WS_CHILD", 0x40000000},
    {"WS_MINIMIZE", 0x20000000}, {"WS_VISIBLE", 0x10000000}, {"WS_DISABLED", 0x08000000},
    {"WS_CLIPSIBLINGS", 0x04000000}, {"WS_CLIPCHILDREN", 0x02000000},
    {"WS_MAXIMIZE", 0x01000000}, {"WS_CAPTION", 0x00C00000}, {"WS_BORDER", 0x00800000},
    {"WS_DLGFRAME", 0x00400000}, {"WS_VSCROLL", 0x00200000}, {"WS_HSCROLL", 0x00100000},
    {"WS_SYSMENU", 0x00080000}, {"WS_THICKFRAME", 0x00040000}, {"WS_GROUP", 0x00020000},
    {"WS_TABSTOP", 0x00010000}, {"WS_MINIMIZEBOX", 0x00020000}, {"WS_MAXIMIZEBOX", 0x00010000},
    {"WS_EX_TOPMOST", 0x00000008}, {"WS_EX_TRANSPARENT", 0x00000020},
    {"WS_EX_CLIENTEDGE", 0x00000200}, {"WS_EX_STATICEDGE", 0x00020000},
    // Dialog styles.
    {"DS_ABSALIGN", 0x01}, {"DS_SYSMODAL", 0x02}, {"DS_LOCALEDIT", 0x20}, {"DS_SETFONT", 0x40},
    {"DS_MODALFRAME", 0x80}, {"DS_NOIDLEMSG", 0x100}, {"DS_SETFOREGROUND", 0x200},
    {"DS_3DLOOK", 0x04}, {"DS_FIXEDSYS", 0x08}, {"DS_NOFAILCREATE", 0x10}, {"DS_CONTROL", 0x400},
    {"DS_CENTER", 0x800}, {"DS_CENTERMOUSE", 0x1000}, {"DS_CONTEXTHELP", 0x2000},
    {"DS_SHELLFONT", 0x48},
    // Static styles.
    {"SS_LEFT", 0x00}, {"SS_CENTER", 0x01}, {"SS_RIGHT", 0x02}, {"SS_ICON", 0x03},
    {"SS_BLACKRECT", 0x04}, {"SS_GRAYRECT", 0x05}, {"SS_WHITERECT", 0x06},
    {"SS_BLACKFRAME", 0x07}, {"SS_GRAYFRAME", 0x08}, {"SS_WHITEFRAME", 0x09},
    {"SS_SIMPLE", 0x0B}, {"SS_LEFTNOWORDWRAP", 0x0C}, {"SS_BITMAP", 0x0E},
    {"SS_ETCHEDHORZ", 0x10}, {"SS_ETCHEDVERT", 0x11}, {"SS_ETCHEDFRAME", 0x12},
    {"SS_NOPREFIX", 0x80}, {"SS_NOTIFY", 0x100}, {"SS_CENTERIMAGE", 0x200},
    {"SS_SUNKEN", 0x1000},
    // Button styles.
    {"BS_PUSHBUTTON", 0x00}, {"BS_DEFPUSHBUTTON", 0x01}, {"BS_CHECKBOX", 0x02},
    {"BS_AUTOCHECKBOX", 0x03}, {"BS_RADIOBUTTON", 0x04}, {"BS_3STATE", 0x05},
    {"BS_AUTO3STATE", 0x06}, {"BS_GROUPBOX", 0x07}, {"BS_AUTORADIOBUTTON", 0x09},
    {"BS_LEFTTEXT", 0x20}, {"BS_LEFT", 0x100}, {"BS_RIGHT", 0x200}, {"BS_CENTER", 0x300},
    {"BS_TOP", 0x400}, {"BS_BOTTOM", 0x800}, {"BS_VCENTER", 0xC00}, {"BS_MULTILINE", 0x2000},
    {"BS_NOTIFY", 0x4000}, {"BS_FLAT", 0x8000},
    // Edit styles.
    {"ES_LEFT", 0x00}, {"ES_CENTER", 0x01}, {"ES_RIGHT", 0x02}, {"ES_MULTILINE", 0x04},
    {"ES_UPPERCASE", 0x08}, {"ES_LOWERCASE", 0x10}, {"ES_PASSWORD", 0x20},
    {"ES_AUTOVSCROLL", 0x40}, {"ES_AUTOHSCROLL", 0x80}, {"ES_NOHIDESEL", 0x100},
    {"ES_READONLY", 0x800}, {"ES_WANTRETURN", 0x1000}, {"ES_NUMBER", 0x2000},
    // List box styles.
    {"LBS_NOTIFY", 0x01}, {"LBS_SORT", 0x02}, {"LBS_NOREDRAW", 0x04}, {"LBS_MULTIPLESEL", 0x08},
    {"LBS_OWNERDRAWFIXED", 0x10}, {"LBS_HASSTRINGS", 0x40}, {"LBS_USETABSTOPS", 0x80},
    {"LBS_NOINTEGRALHEIGHT", 0x100}, {"LBS_WANTKEYBOARDINPUT", 0x400},
    {"LBS_EXTENDEDSEL", 0x800}, {"LBS_DISABLENOSCROLL", 0x1000}, {"LBS_NOSEL", 0x4000},
    {"LBS_STANDARD", 0xA00003},
    // Combo box styles.
    {"CBS_SIMPLE", 0x01}, {"CBS_DROPDOWN", 0x02}, {"CBS_DROPDOWNLIST", 0x03},
    {"CBS_AUTOHSCROLL", 0x40}, {"CBS_OEMCONVERT", 0x80}, {"CBS_SORT", 0x100},
    {"CBS_HASSTRINGS", 0x200}, {"CBS_NOINTEGRALHEIGHT", 0x400}, {"CBS_DISABLENOSCROLL", 0x800},
    {"CBS_UPPERCASE", 0x2000}, {"CBS_LOWERCASE", 0x4000},
    // Trackbar styles.
    {"TBS_AUTOTICKS", 0x01}, {"TBS_VERT", 0x02}, {"TBS_HORZ", 0x00}, {"TBS_TOP", 0x04},
    {"TBS_BOTTOM", 0x00}, {"TBS_LEFT", 0x04}, {"TBS_RIGHT", 0x00}, {"TBS_BOTH", 0x08},
    {"TBS_NOTICKS", 0x10}, {"TBS_ENABLESELRANGE", 0x20}, {"TBS_FIXEDLENGTH", 0x40},
    {"TBS_NOTHUMB", 0x80}, {"TBS_TOOLTIPS", 0x100},
    // Dialog command ids.
    {"IDOK", 1}, {"IDCANCEL", 2}, {"IDABORT", 3}, {"IDRETRY", 4}, {"IDIGNORE", 5},
    {"IDYES", 6}, {"IDNO", 7},
};

constexpr uint32_t kWsChild = 0x40000000;
constexpr uint32_t kWsVisible = 0x10000000;
constexpr uint32_t kWsCaption = 0x00C00000;
constexpr uint32_t kWsTabStop = 0x00010000;
constexpr uint32_t kWsGroup = 0x00020000;
constexpr uint32_t kWsBorder = 0x00800000;
constexpr uint32_t kDsSetFont = 0x40;
constexpr uint32_t kDefaultDialogStyle = 0x80880000;  // WS_POPUP | WS_BORDER | WS_SYSMENU
constexpr uint32_t kSsNoPrefix = 0x80;

// windres's control statements: the class they make, the style they always
// add and the style they add only when the script gives none.
struct Statement {
  const char* keyword;
  const char16_t* class_name;
  bool has_text;
  uint32_t base_style;
  uint32_t default_style;
};

constexpr Statement kStatements[] = {
    {"LTEXT", u"Static", true, 0x0, kWsGroup},
    {"CTEXT", u"Static", true, 0x1, kWsGroup},
    {"RTEXT", u"Static", true, 0x2, kWsGroup},
    {"PUSHBUTTON", u"Button", true, 0x0 | kWsTabStop, 0},
    {"DEFPUSHBUTTON", u"Button", true, 0x1 | kWsTabStop, 0},
    {"CHECKBOX", u"Button", true, 0x2 | kWsTabStop, 0},
    {"AUTOCHECKBOX", u"Button", true, 0x3 | kWsTabStop, 0},
    {"EDITTEXT", u"Edit", false, kWsBorder | kWsTabStop, 0},
    {"LISTBOX", u"ListBox", false, 0x1 | kWsBorder, 0},
    {"COMBOBOX", u"ComboBox", false, 0x0, 0x1 | kWsTabStop},
};

constexpr const char* kMemoryFlags[] = {"DISCARDABLE", "MOVEABLE", "FIXED",     "PURE",
                                        "IMPURE",      "PRELOAD",  "LOADONCALL"};

bool IsOneOf(const std::string& word, std::initializer_list<const char*> words) {
  for (const char* w : words)
    if (word == w) return true;
  return false;
}

bool EqualNoCase(const std::u16string& a, const char16_t* b) {
  std::u16string other(b);
  if (a.size() != other.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    char16_t x = a[i], y = other[i];
    if (x >= u'A' && x <= u'Z') x = static_cast<char16_t>(x - u'A' + u'a');
    if (y >= u'A' && y <= u'Z') y = static_cast<char16_t>(y - u'A' + u'a');
    if (x != y) return false;
  }
  return true;
}

// ---- Text ----------------------------------------------------------------------
// Strict UTF-8; false on anything malformed.
bool DecodeUtf8(const std::string& bytes, std::u16string* out) {
  out->clear();
  for (size_t i = 0; i < bytes.size();) {
    const unsigned char lead = static_cast<unsigned char>(bytes[i]);
    uint32_t code;
    size_t length;
    if (lead < 0x80) {
      code = lead;
      length = 1;
    } else if ((lead & 0xE0) == 0xC0) {
      code = lead & 0x1F;
      length = 2;
    } else if ((lead & 0xF0) == 0xE0) {
      code = lead & 0x0F;
      length = 3;
    } else if ((lead & 0xF8) == 0xF0) {
      code = lead & 0x07;
      length = 4;
    } else {
      return false;
    }
    if (i + length > bytes.size()) return false;
    for (size_t k = 1; k < length; ++k) {
      const unsigned char next = static_cast<unsigned char>(bytes[i + k]);
      if ((next & 0xC0) != 0x80) return false;
      code = (code << 6) | (next & 0x3F);
    }
    static constexpr uint32_t kMinimum[] = {0, 0, 0x80, 0x800, 0x10000};
    if (code < kMinimum[length] || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF))
      return false;
    if (code >= 0x10000) {
      code -= 0x10000;
      out->push_back(static_cast<char16_t>(0xD800 + (code >> 10)));
      out->push_back(static_cast<char16_t>(0xDC00 + (code & 0x3FF)));
    } else {
      out->push_back(static_cast<char16_t>(code));
    }
    i += length;
  }
  return true;
}

// What a static or button shows: "&&" is one '&', a single '&' marks the
// next character as the mnemonic and is not shown.
std::u16string ShownText(const std::u16string& text) {
  std::u16string shown;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == u'&') {
      if (i + 1 < text.size() && text[i + 1] == u'&') {
        shown.push_back(u'&');
        ++i;
      }
      continue;
    }
    shown.push_back(text[i]);
  }
  return shown;
}

// ---- Tokens ----------------------------------------------------------------------
enum class TokenType { kEnd, kName, kNumber, kString, kPunct };

struct Token {
  TokenType type = TokenType::kEnd;
  int line = 0;
  std::string text;       // name, or the punctuation character
  uint32_t number = 0;
  std::u16string string;  // decoded
};

struct Macro {
  std::string file;
  int line = 0;
  std::vector<Token> body;
};

class Reader {
 public:
  explicit Reader(std::vector<std::string> include_dirs) : include_dirs_(std::move(include_dirs)) {}

  bool ReadMain(const std::string& text, const std::string& name, Script* script) {
    file_ = name;
    if (!Lex(text, name, /*header=*/false, 0, &tokens_)) return false;
    return ParseScript(script);
  }

  const std::string& error() const { return error_; }

 private:
  // ---- Errors ----
  bool Fail(const std::string& file, int line, const std::string& message) {
    if (error_.empty()) error_ = file + ":" + std::to_string(line) + ": error: " + message;
    return false;
  }
  bool Fail(int line, const std::string& message) { return Fail(file_, line, message); }
  bool Fail(const Token& at, const std::string& message) { return Fail(at.line, message); }

  // ---- Lexing ----
  static std::string Directory(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? std::string(".") : path.substr(0, slash);
  }

  static bool ReadFile(const std::string& path, std::string* text) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    std::ostringstream content;
    content << in.rdbuf();
    *text = content.str();
    return true;
  }

  // Tokenises one file. A header (an included file) may hold only
  // preprocessor lines and comments.
  bool Lex(const std::string& text, const std::string& file, bool header, int depth,
           std::vector<Token>* out) {
    size_t i = 0;
    int line = 1;
    bool line_start = true;
    while (i < text.size()) {
      const char c = text[i];
      if (c == '\n') {
        ++line;
        line_start = true;
        ++i;
        continue;
      }
      if (c == ' ' || c == '\t' || c == '\r' || c == '\f' || c == '\v') {
        ++i;
        continue;
      }
      if (c == '/' && i + 1 < text.size() && text[i + 1] == '/') {
        while (i < text.size() && text[i] != '\n') ++i;
        continue;
      }
      if (c == '/' && i + 1 < text.size() && text[i + 1] == '*') {
        const size_t end = text.find("*/", i + 2);
        if (end == std::string::npos) return Fail(file, line, "comment is not closed");
        for (size_t k = i; k < end; ++k)
          if (text[k] == '\n') ++line;
        i = end + 2;
        continue;
      }
      if (c == '#' && line_start) {
        size_t end = text.find('\n', i);
        if (end == std::string::npos) end = text.size();
        if (!Directive(text.substr(i + 1, end - i - 1), file, line, depth)) return false;
        i = end;
        continue;
      }
      line_start = false;
      if (header) {
        return Fail(file, line,
                    "only #define lines and comments are read from an included header");
      }
      Token token;
      if (!LexToken(text, &i, &line, file, &token)) return false;
      out->push_back(std::move(token));
    }
    return true;
  }

  bool LexToken(const std::string& text, size_t* at, int* line, const std::string& file,
                Token* token) {
    size_t i = *at;
    token->line = *line;
    const unsigned char c = static_cast<unsigned char>(text[i]);
    if (c == 'L' && i + 1 < text.size() && text[i + 1] == '"') {  // a wide string: the same text
      ++*at;
      return LexString(text, at, line, file, token);
    }
    if (std::isalpha(c) || c == '_') {
      size_t end = i;
      while (end < text.size() &&
             (std::isalnum(static_cast<unsigned char>(text[end])) || text[end] == '_'))
        ++end;
      token->type = TokenType::kName;
      token->text = text.substr(i, end - i);
      *at = end;
      return true;
    }
    if (std::isdigit(c)) {
      size_t end = i;
      while (end < text.size() && std::isalnum(static_cast<unsigned char>(text[end]))) ++end;
      std::string literal = text.substr(i, end - i);
      while (!literal.empty() && (literal.back() == 'L' || literal.back() == 'l' ||
                                  literal.back() == 'U' || literal.back() == 'u'))
        literal.pop_back();
      const bool hex = literal.size() > 2 && literal[0] == '0' && (literal[1] == 'x' || literal[1] == 'X');
      uint64_t value = 0;
      const size_t digits_from = hex ? 2 : 0;
      if (literal.size() <= digits_from) return Fail(file, *line, "malformed number '" + text.substr(i, end - i) + "'");
      for (size_t k = digits_from; k < literal.size(); ++k) {
        const char d = literal[k];
        int digit;
        if (d >= '0' && d <= '9') digit = d - '0';
        else if (hex && d >= 'a' && d <= 'f') digit = d - 'a' + 10;
        else if (hex && d >= 'A' && d <= 'F') digit = d - 'A' + 10;
        else return Fail(file, *line, "malformed number '" + text.substr(i, end - i) + "'");
        value = value * (hex ? 16 : 10) + static_cast<uint64_t>(digit);
        if (value > 0xFFFFFFFFull) return Fail(file, *line, "number '" + text.substr(i, end - i) + "' does not fit in 32 bits");
      }
      token->type = TokenType::kNumber;
      token->number = static_cast<uint32_t>(value);
      token->text = text.substr(i, end - i);
      *at = end;
      return true;
    }
    if (c == '"') return LexString(text, at, line, file, token);
    if (std::string(",|+-(){}").find(static_cast<char>(c)) != std::string::npos) {
      token->type = TokenType::kPunct;
      token->text = std::string(1, static_cast<char>(c));
      *at = i + 1;
      return true;
    }
    if (c >= 0x80) return Fail(file, *line, "non-ASCII character outside a string");
    return Fail(file, *line, std::string("unexpected character '") + static_cast<char>(c) + "'");
  }

  bool LexString(const std::string& text, size_t* at, int* line, const std::string& file,
                 Token* token) {
    size_t i = *at + 1;  // past the opening quote
    std::string bytes;
    while (true) {
      if (i >= text.size() || text[i] == '\n') return Fail(file, *line, "string is not closed on its line");
      const char c = text[i];
      if (c == '"') {
        if (i + 1 < text.size() && text[i + 1] == '"') {
          bytes.push_back('"');
          i += 2;
          continue;
        }
        ++i;
        break;
      }
      if (c == '\\') {
        if (i + 1 >= text.size()) return Fail(file, *line, "string is not closed on its line");
        const char e = text[i + 1];
        i += 2;
        switch (e) {
          case 'n': bytes.push_back('\n'); continue;
          case 'r': bytes.push_back('\r'); continue;
          case 't': bytes.push_back('\t'); continue;
          case 'a': bytes.push_back('\a'); continue;
          case '\\': bytes.push_back('\\'); continue;
          default: break;
        }
        unsigned value = 0;
        int digits = 0;
        if (e == 'x' || e == 'X') {
          while (digits < 2 && i < text.size() && std::isxdigit(static_cast<unsigned char>(text[i]))) {
            const char d = text[i++];
            value = value * 16 + static_cast<unsigned>(std::isdigit(static_cast<unsigned char>(d)) ? d - '0' : (std::tolower(d) - 'a' + 10));
            ++digits;
          }
        } else if (e >= '0' && e <= '7') {
          value = static_cast<unsigned>(e - '0');
          digits = 1;
          while (digits < 3 && i < text.size() && text[i] >= '0' && text[i] <= '7') {
            value = value * 8 + static_cast<unsigned>(text[i++] - '0');
            ++digits;
          }
        } else {
          return Fail(file, *line, std::string("unknown escape sequence '\\") + e + "' in a string");
        }
        if (digits == 0) return Fail(file, *line, "escape sequence '\\x' without digits");
        if (value == 0 || value >= 0x80) {
          return Fail(file, *line,
                      "escape sequences may give ASCII characters only; write other characters as "
                      "they are (the script is UTF-8)");
        }
        bytes.push_back(static_cast<char>(value));
        continue;
      }
      if (static_cast<unsigned char>(c) >= 0x80 && code_page_ != 65001) {
        return Fail(file, *line, "non-ASCII text needs '#pragma code_page(65001)' before it");
      }
      bytes.push_back(c);
      ++i;
    }
    *at = i;
    std::u16string decoded;
    if (!DecodeUtf8(bytes, &decoded)) return Fail(file, *line, "string is not valid UTF-8");
    token->type = TokenType::kString;
    token->string = std::move(decoded);
    return true;
  }

  bool Directive(std::string body, const std::string& file, int line, int depth) {
    // A trailing comment ends the directive.
    const size_t comment = body.find("//");
    if (comment != std::string::npos) body.resize(comment);
    size_t i = 0;
    while (i < body.size() && (body[i] == ' ' || body[i] == '\t')) ++i;
    size_t end = i;
    while (end < body.size() && std::isalpha(static_cast<unsigned char>(body[end]))) ++end;
    const std::string word = body.substr(i, end - i);
    std::string rest = body.substr(end);
    while (!rest.empty() && std::isspace(static_cast<unsigned char>(rest.back()))) rest.pop_back();
    size_t first = 0;
    while (first < rest.size() && std::isspace(static_cast<unsigned char>(rest[first]))) ++first;
    rest = rest.substr(first);

    if (word == "include") return Include(rest, file, line, depth);
    if (word == "define") return Define(rest, file, line);
    if (word == "pragma") {
      std::string compact;
      for (char c : rest)
        if (!std::isspace(static_cast<unsigned char>(c))) compact.push_back(c);
      if (compact.rfind("code_page(", 0) == 0 && compact.back() == ')') {
        const std::string page = compact.substr(10, compact.size() - 11);
        if (page != "65001") return Fail(file, line, "only '#pragma code_page(65001)' (UTF-8) is supported");
        code_page_ = 65001;
        return true;
      }
      return Fail(file, line, "unknown #pragma '" + rest + "'");
    }
    return Fail(file, line, "preprocessor directive '#" + word + "' is not supported");
  }

  bool Include(const std::string& rest, const std::string& file, int line, int depth) {
    if (rest.size() >= 2 && rest.front() == '<' && rest.back() == '>') return true;  // Win32 headers
    if (rest.size() < 3 || rest.front() != '"' || rest.back() != '"')
      return Fail(file, line, "#include needs \"file\" or <file>");
    if (depth >= 8) return Fail(file, line, "#include nests too deeply");
    const std::string name = rest.substr(1, rest.size() - 2);
    std::vector<std::string> candidates;
    if (!name.empty() && name[0] == '/') {
      candidates.push_back(name);
    } else {
      candidates.push_back(Directory(file) + "/" + name);
      for (const std::string& dir : include_dirs_) candidates.push_back(dir + "/" + name);
    }
    for (const std::string& path : candidates) {
      std::string text;
      if (!ReadFile(path, &text)) continue;
      std::vector<Token> none;
      return Lex(text, path, /*header=*/true, depth + 1, &none);
    }
    return Fail(file, line, "cannot open the included file '" + name + "'");
  }

  bool Define(const std::string& rest, const std::string& file, int line) {
    size_t end = 0;
    while (end < rest.size() && (std::isalnum(static_cast<unsigned char>(rest[end])) || rest[end] == '_')) ++end;
    if (end == 0 || std::isdigit(static_cast<unsigned char>(rest[0])))
      return Fail(file, line, "#define needs a name");
    const std::string name = rest.substr(0, end);
    if (end < rest.size() && rest[end] == '(')
      return Fail(file, line, "function-like macro '" + name + "' is not supported");
    Macro macro;
    macro.file = file;
    macro.line = line;
    const std::string value = rest.substr(end);
    size_t i = 0;
    int value_line = line;
    while (i < value.size()) {
      if (std::isspace(static_cast<unsigned char>(value[i]))) {
        ++i;
        continue;
      }
      if (value.compare(i, 2, "/*") == 0) {
        const size_t close = value.find("*/", i + 2);
        if (close == std::string::npos) return Fail(file, line, "comment in #define is not closed on its line");
        i = close + 2;
        continue;
      }
      Token token;
      if (!LexToken(value, &i, &value_line, file, &token)) return false;
      macro.body.push_back(std::move(token));
    }
    auto known = macros_.find(name);
    if (known != macros_.end()) {
      return Fail(file, line, "'" + name + "' is defined twice (first at " + known->second.file + ":" +
                                  std::to_string(known->second.line) + ")");
    }
    macros_[name] = std::move(macro);
    return true;
  }

  // ---- Expressions ----
  // Parses from `tokens` at `*pos`. Errors name `line_of_use`'s line.
  struct Cursor {
    const std::vector<Token>* tokens;
    size_t pos;
    const Token& Peek() const {
      static const Token kEnd;
      return pos < tokens->size() ? (*tokens)[pos] : kEnd;
    }
    const Token& Next() {
      const Token& token = Peek();
      if (pos < tokens->size()) ++pos;
      return token;
    }
    bool IsPunct(char c) const { return Peek().type == TokenType::kPunct && Peek().text[0] == c; }
    bool IsName(const char* name) const { return Peek().type == TokenType::kName && Peek().text == name; }
  };

  bool Primary(Cursor& in, int line, uint32_t* value, int depth) {
    const Token& token = in.Next();
    if (token.type == TokenType::kNumber) {
      *value = token.number;
      return true;
    }
    if (token.type == TokenType::kPunct && token.text == "(") {
      if (!Expression(in, line, value, depth)) return false;
      if (!in.IsPunct(')')) return Fail(line, "expected ')'");
      in.Next();
      return true;
    }
    if (token.type == TokenType::kPunct && token.text == "-") {
      if (!Primary(in, line, value, depth)) return false;
      *value = 0u - *value;
      return true;
    }
    if (token.type == TokenType::kName) return NameValue(token.text, line, value, depth);
    if (token.type == TokenType::kEnd) return Fail(line, "expected a number");
    return Fail(line, "expected a number, not '" + (token.type == TokenType::kString ? std::string("\"...\"") : token.text) + "'");
  }

  bool Expression(Cursor& in, int line, uint32_t* value, int depth) {
    if (!Primary(in, line, value, depth)) return false;
    while (in.IsPunct('|') || in.IsPunct('+') || in.IsPunct('-')) {
      const char op = in.Next().text[0];
      uint32_t right = 0;
      if (!Primary(in, line, &right, depth)) return false;
      *value = op == '|' ? (*value | right) : op == '+' ? *value + right : *value - right;
    }
    return true;
  }

  bool NameValue(const std::string& name, int line, uint32_t* value, int depth) {
    if (name == "NOT") return Fail(line, "NOT may only stand in a style");
    auto macro = macros_.find(name);
    if (macro != macros_.end()) {
      if (depth > 16) return Fail(line, "'" + name + "' is defined in terms of itself");
      if (macro->second.body.empty()) return Fail(line, "'" + name + "' is defined without a value");
      Cursor inner{&macro->second.body, 0};
      if (!Expression(inner, line, value, depth + 1)) return false;
      if (inner.pos != macro->second.body.size())
        return Fail(line, "the value of '" + name + "' is not a number expression");
      return true;
    }
    for (const Name& known : kWin32Names) {
      if (name == known.name) {
        *value = known.value;
        return true;
      }
    }
    return Fail(line, "unknown name '" + name + "' (neither defined in an included header nor a Win32 name rcgen knows)");
  }

  // A style: terms joined by '|', each optionally preceded by NOT, which
  // clears its bits from what the terms before it (and the base) set.
  bool Style(Cursor& in, int line, uint32_t* style) {
    while (true) {
      const bool clear = in.IsName("NOT");
      if (clear) in.Next();
      uint32_t term = 0;
      if (!Primary(in, line, &term, 0)) return false;
      *style = clear ? (*style & ~term) : (*style | term);
      if (!in.IsPunct('|')) return true;
      in.Next();
    }
  }

  bool Number(Cursor& in, int line, uint32_t* value) { return Expression(in, line, value, 0); }

  bool Coordinate(Cursor& in, int line, int* value) {
    uint32_t raw = 0;
    if (!Number(in, line, &raw)) return false;
    const int32_t signed_value = static_cast<int32_t>(raw);
    if (signed_value < -32768 || signed_value > 32767) return Fail(line, "position or size out of range");
    *value = signed_value;
    return true;
  }

  bool Id(Cursor& in, int line, int* id) {
    uint32_t raw = 0;
    if (!Number(in, line, &raw)) return false;
    const int32_t signed_value = static_cast<int32_t>(raw);
    if (signed_value < -1 || signed_value > 0xFFFF) return Fail(line, "control id does not fit in 16 bits");
    *id = signed_value == 0xFFFF ? -1 : signed_value;
    return true;
  }

  bool String(Cursor& in, int line, std::u16string* text) {
    if (in.Peek().type != TokenType::kString) return Fail(line, "expected a string in double quotes");
    text->clear();
    while (in.Peek().type == TokenType::kString) *text += in.Next().string;  // adjacent strings join
    return true;
  }

  bool Comma(Cursor& in, int line, const char* what) {
    if (!in.IsPunct(',')) return Fail(line, std::string("expected ',' before ") + what);
    in.Next();
    return true;
  }

  bool Coordinates(Cursor& in, int line, int* x, int* y, int* width, int* height) {
    return Coordinate(in, line, x) && Comma(in, line, "y") && Coordinate(in, line, y) &&
           Comma(in, line, "width") && Coordinate(in, line, width) && Comma(in, line, "height") &&
           Coordinate(in, line, height);
  }

  // ---- Statements ----
  bool ParseScript(Script* script) {
    Cursor in{&tokens_, 0};
    std::set<int> ids;
    while (in.Peek().type != TokenType::kEnd) {
      Dialog dialog;
      if (!ParseDialog(in, &dialog)) return false;
      if (!ids.insert(dialog.id).second) return Fail(dialog.line, "dialog " + std::to_string(dialog.id) + " is defined twice");
      script->dialogs.push_back(std::move(dialog));
    }
    return true;
  }

  bool ParseDialog(Cursor& in, Dialog* dialog) {
    const Token name = in.Next();
    dialog->line = name.line;
    const int line = name.line;
    if (name.type == TokenType::kName &&
        IsOneOf(name.text, {"STRINGTABLE", "LANGUAGE", "ACCELERATORS", "MENU", "MENUEX", "VERSIONINFO",
                            "ICON", "BITMAP", "CURSOR", "RCDATA", "DESIGNINFO", "TEXTINCLUDE"})) {
      return Fail(line, "'" + name.text + "' is not supported: rcgen reads DIALOG and DIALOGEX resources only");
    }
    uint32_t id = 0;
    if (name.type == TokenType::kNumber) {
      id = name.number;
    } else if (name.type == TokenType::kName && macros_.count(name.text) != 0) {
      if (!NameValue(name.text, line, &id, 0)) return false;
    } else if (name.type == TokenType::kName) {
      return Fail(line, "resource name '" + name.text + "' is not a number or a #define (named resources are not supported)");
    } else {
      return Fail(line, "expected a resource id, not '" + (name.type == TokenType::kString ? std::string("\"...\"") : name.text) + "'");
    }
    if (id == 0 || id > 0xFFFF) return Fail(line, "dialog id must be 1 to 65535");
    dialog->id = static_cast<int>(id);

    const Token type = in.Next();
    if (type.type != TokenType::kName || (type.text != "DIALOG" && type.text != "DIALOGEX")) {
      return Fail(line, "resource type '" + type.text + "' is not supported: rcgen reads DIALOG and DIALOGEX only");
    }
    const bool extended = type.text == "DIALOGEX";
    while (in.Peek().type == TokenType::kName) {
      bool flag = false;
      for (const char* memory_flag : kMemoryFlags) flag = flag || in.Peek().text == memory_flag;
      if (!flag) break;
      in.Next();
    }
    if (!Coordinates(in, line, &dialog->x, &dialog->y, &dialog->width, &dialog->height)) return false;
    if (extended && in.IsPunct(',')) {
      in.Next();
      uint32_t help_id = 0;
      if (!Number(in, line, &help_id)) return false;
    }

    bool have_style = false, have_caption = false, have_font = false;
    uint32_t style = 0;
    while (!in.IsName("BEGIN") && !in.IsPunct('{')) {
      const Token option = in.Next();
      if (option.type == TokenType::kEnd) return Fail(line, "dialog has no BEGIN");
      if (option.type != TokenType::kName) return Fail(option, "expected a dialog option or BEGIN");
      if (option.text == "STYLE") {
        style = 0;
        if (!Style(in, option.line, &style)) return false;
        have_style = true;
      } else if (option.text == "EXSTYLE") {
        uint32_t ignored = 0;
        if (!Style(in, option.line, &ignored)) return false;
      } else if (option.text == "CAPTION") {
        if (!String(in, option.line, &dialog->caption)) return false;
        have_caption = true;
      } else if (option.text == "FONT") {
        uint32_t size = 0;
        if (!Number(in, option.line, &size) || !Comma(in, option.line, "the font name") ||
            !String(in, option.line, &dialog->font))
          return false;
        dialog->point_size = static_cast<int>(size);
        if (extended) {
          // Weight, italic and character set: not part of the host table.
          for (int k = 0; k < 3 && in.IsPunct(','); ++k) {
            in.Next();
            uint32_t ignored = 0;
            if (!Number(in, option.line, &ignored)) return false;
          }
        }
        have_font = true;
      } else {
        return Fail(option, "dialog option '" + option.text + "' is not supported (STYLE, EXSTYLE, CAPTION, FONT)");
      }
    }
    dialog->style = (have_style ? style : kDefaultDialogStyle) | (have_caption ? kWsCaption : 0) |
                    (have_font ? kDsSetFont : 0);
    in.Next();  // BEGIN

    std::set<int> control_ids;
    while (!in.IsName("END") && !in.IsPunct('}')) {
      if (in.Peek().type == TokenType::kEnd) return Fail(line, "dialog has no END");
      Control control;
      if (!ParseControl(in, extended, &control)) return false;
      if (control.id != -1 && !control_ids.insert(control.id).second) {
        return Fail(control.line, "control id " + std::to_string(control.id) + " is used twice in dialog " +
                                      std::to_string(dialog->id));
      }
      dialog->controls.push_back(std::move(control));
    }
    in.Next();  // END
    return true;
  }

  bool ParseControl(Cursor& in, bool extended, Control* control) {
    const Token keyword = in.Next();
    control->line = keyword.line;
    const int line = keyword.line;
    if (keyword.type != TokenType::kName) return Fail(keyword, "expected a control statement");

    uint32_t style = kWsChild | kWsVisible;
    if (keyword.text == "CONTROL") {
      if (!String(in, line, &control->text) || !Comma(in, line, "the id") || !Id(in, line, &control->id) ||
          !Comma(in, line, "the class") || !String(in, line, &control->class_name) ||
          !Comma(in, line, "the style") || !Style(in, line, &style) || !Comma(in, line, "x") ||
          !Coordinates(in, line, &control->x, &control->y, &control->width, &control->height))
        return false;
    } else {
      const Statement* statement = nullptr;
      for (const Statement& known : kStatements)
        if (keyword.text == known.keyword) statement = &known;
      if (statement == nullptr) {
        return Fail(keyword, "control statement '" + keyword.text +
                                 "' is not supported (LTEXT, CTEXT, RTEXT, PUSHBUTTON, DEFPUSHBUTTON, "
                                 "CHECKBOX, AUTOCHECKBOX, EDITTEXT, LISTBOX, COMBOBOX, CONTROL)");
      }
      control->class_name = statement->class_name;
      if (statement->has_text && (!String(in, line, &control->text) || !Comma(in, line, "the id")))
        return false;
      if (!Id(in, line, &control->id) || !Comma(in, line, "x") ||
          !Coordinates(in, line, &control->x, &control->y, &control->width, &control->height))
        return false;
      style |= statement->base_style;
      if (in.IsPunct(',')) {
        in.Next();
        if (!Style(in, line, &style)) return false;
      } else {
        style |= statement->default_style;
      }
    }
    // Extended style, and a DIALOGEX control's help id: not part of the host table.
    for (int k = 0; k < (extended ? 2 : 1) && in.IsPunct(','); ++k) {
      in.Next();
      uint32_t ignored = 0;
      if (!Style(in, line, &ignored)) return false;
    }
    if (in.IsPunct(',')) return Fail(line, "too many arguments");
    control->style = style;
    return Classify(control);
  }

  bool Classify(Control* control) {
    const std::u16string& cls = control->class_name;
    const uint32_t style = control->style;
    const int line = control->line;
    bool has_prefix = true;
    if (EqualNoCase(cls, u"Static")) {
      const uint32_t type = style & 0x1F;
      if (type == 0x0 || type == 0x1 || type == 0x2 || type == 0xB || type == 0xC) {
        control->kind = Kind::kLabel;
        has_prefix = (style & kSsNoPrefix) == 0;
      } else if ((type >= 0x4 && type <= 0x9) || (type >= 0x10 && type <= 0x12)) {
        control->kind = Kind::kLine;
      } else {
        return Fail(line, "static control type " + std::to_string(type) + " (icon, bitmap ...) is not supported by the host window system");
      }
    } else if (EqualNoCase(cls, u"Button")) {
      const uint32_t type = style & 0xF;
      if (type == 0x0 || type == 0x1) {
        control->kind = Kind::kButton;
      } else if (type == 0x2 || type == 0x3) {
        control->kind = Kind::kCheckBox;
      } else {
        return Fail(line, "button type " + std::to_string(type) + " (radio button, group box, three-state box) is not supported by the host window system");
      }
    } else if (EqualNoCase(cls, u"Edit")) {
      control->kind = Kind::kEdit;
    } else if (EqualNoCase(cls, u"ListBox")) {
      control->kind = Kind::kListBox;
    } else if (EqualNoCase(cls, u"ComboBox")) {
      if ((style & 0x3) != 0x3) return Fail(line, "only drop-down list combo boxes (CBS_DROPDOWNLIST) are supported by the host window system");
      control->kind = Kind::kComboBox;
    } else if (EqualNoCase(cls, u"msctls_trackbar32")) {
      control->kind = Kind::kTrackbar;
    } else {
      control->kind = Kind::kCustom;
    }
    const bool shows_text = control->kind == Kind::kLabel || control->kind == Kind::kButton ||
                            control->kind == Kind::kCheckBox;
    control->shown_text = shows_text && has_prefix ? ShownText(control->text) : control->text;
    return true;
  }

  std::vector<std::string> include_dirs_;
  std::string file_;
  std::string error_;
  int code_page_ = 0;
  std::map<std::string, Macro> macros_;
  std::vector<Token> tokens_;
};

// ---- Output ----------------------------------------------------------------------
std::string CxxText(const std::u16string& text) {
  std::string out = "u\"";
  for (size_t i = 0; i < text.size(); ++i) {
    uint32_t c = text[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size()) {
      c = 0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00);
      ++i;
    }
    char buffer[16];
    if (c == '\\') out += "\\\\";
    else if (c == '"') out += "\\\"";
    else if (c == '\n') out += "\\n";
    else if (c == '\r') out += "\\r";
    else if (c == '\t') out += "\\t";
    else if (c >= 0x20 && c < 0x7F) out.push_back(static_cast<char>(c));
    else if (c < 0xA0) {
      std::snprintf(buffer, sizeof buffer, "\\x%02X\" u\"", static_cast<unsigned>(c));
      out += buffer;
    } else if (c <= 0xFFFF) {
      std::snprintf(buffer, sizeof buffer, "\\u%04X", static_cast<unsigned>(c));
      out += buffer;
    } else {
      std::snprintf(buffer, sizeof buffer, "\\U%08X", static_cast<unsigned>(c));
      out += buffer;
    }
  }
  return out + "\"";
}

std::string Hex(uint32_t value) {
  char buffer[16];
  std::snprintf(buffer, sizeof buffer, "0x%08Xu", static_cast<unsigned>(value));
  return buffer;
}

}  // namespace

const char* KindName(Kind kind) {
  switch (kind) {
    case Kind::kLabel: return "kLabel";
    case Kind::kLine: return "kLine";
    case Kind::kCheckBox: return "kCheckBox";
    case Kind::kButton: return "kButton";
    case Kind::kEdit: return "kEdit";
    case Kind::kListBox: return "kListBox";
    case Kind::kComboBox: return "kComboBox";
    case Kind::kTrackbar: return "kTrackbar";
    case Kind::kCustom: return "kCustom";
  }
  return "kCustom";
}

bool ReadScriptText(const std::string& text, const std::string& name,
                    const std::vector<std::string>& include_dirs, Script* script,
                    std::string* error) {
  Reader reader(include_dirs);
  Script read;
  if (!reader.ReadMain(text, name, &read)) {
    *error = reader.error();
    return false;
  }
  *script = std::move(read);
  return true;
}

bool ReadScriptFile(const std::string& path, const std::vector<std::string>& include_dirs,
                    Script* script, std::string* error) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    *error = path + ": error: cannot open the script";
    return false;
  }
  std::ostringstream content;
  content << in.rdbuf();
  return ReadScriptText(content.str(), path, include_dirs, script, error);
}

std::string WriteTemplateTable(const Script& script, const std::string& source_name) {
  std::ostringstream out;
  out << "// Generated by rcgen from " << source_name << ". Edit the script, not this file.\n"
      << "#include \"platform/host/ui/dialog_template.h\"\n\n"
      << "namespace device {\n"
      << "namespace {\n\n";
  for (const Dialog& dialog : script.dialogs) {
    if (dialog.controls.empty()) continue;
    out << "const ControlTemplate kControls" << dialog.id << "[] = {\n";
    for (const Control& control : dialog.controls) {
      out << "    {" << control.id << ", ControlKind::" << KindName(control.kind) << ", "
          << CxxText(control.class_name) << ", " << CxxText(control.shown_text) << ", " << control.x
          << ", " << control.y << ", " << control.width << ", " << control.height << ", "
          << Hex(control.style) << "},\n";
    }
    out << "};\n\n";
  }
  out << "}  // namespace\n\n"
      << "const DialogTemplate kDialogTemplates[] = {\n";
  for (const Dialog& dialog : script.dialogs) {
    out << "    {" << dialog.id << ", " << CxxText(dialog.caption) << ", " << CxxText(dialog.font) << ", "
        << dialog.point_size << ", " << dialog.x << ", " << dialog.y << ", " << dialog.width << ", "
        << dialog.height << ", " << Hex(dialog.style) << ", ";
    if (dialog.controls.empty()) {
      out << "nullptr, 0},\n";
    } else {
      out << "kControls" << dialog.id << ", " << dialog.controls.size() << "},\n";
    }
  }
  if (script.dialogs.empty()) out << "    {0, u\"\", u\"\", 0, 0, 0, 0, 0, 0u, nullptr, 0},\n";
  out << "};\n\n"
      << "const int kDialogTemplateCount = " << script.dialogs.size() << ";\n\n"
      << "}  // namespace device\n";
  return out.str();
}

}  // namespace rcgen
