#include "devicesim/cli/regfile.h"

#include <algorithm>
#include <cctype>
#include <cstdio>

namespace devicesim {

const char kRegFileHeader[] = "Windows Registry Editor Version 5.00";

namespace {

// Where the registry editor breaks long hex data, so that its files and ours match.
constexpr size_t kHexLineLimit = 77;

bool EqualNoCase(const std::string& a, const char* b) {
  size_t i = 0;
  for (; i < a.size() && b[i] != '\0'; ++i) {
    if (std::tolower(static_cast<unsigned char>(a[i])) !=
        std::tolower(static_cast<unsigned char>(b[i])))
      return false;
  }
  return i == a.size() && b[i] == '\0';
}

bool StartsWithNoCase(const std::string& text, size_t at, const char* prefix) {
  for (size_t i = 0; prefix[i] != '\0'; ++i) {
    if (at + i >= text.size()) return false;
    if (std::tolower(static_cast<unsigned char>(text[at + i])) != prefix[i]) return false;
  }
  return true;
}

std::string TrimRight(const std::string& text) {
  size_t end = text.size();
  while (end > 0 && (text[end - 1] == ' ' || text[end - 1] == '\t' || text[end - 1] == '\r')) --end;
  return text.substr(0, end);
}

std::string TrimLeft(const std::string& text) {
  size_t start = 0;
  while (start < text.size() && (text[start] == ' ' || text[start] == '\t')) ++start;
  return text.substr(start);
}

bool IsValidUtf8(const std::string& bytes) {
  size_t i = 0;
  while (i < bytes.size()) {
    unsigned char c = static_cast<unsigned char>(bytes[i]);
    int extra = c < 0x80 ? 0 : (c & 0xE0) == 0xC0 ? 1 : (c & 0xF0) == 0xE0 ? 2 : (c & 0xF8) == 0xF0 ? 3 : -1;
    if (extra < 0) return false;
    for (int k = 1; k <= extra; ++k) {
      if (i + k >= bytes.size()) return false;
      if ((static_cast<unsigned char>(bytes[i + k]) & 0xC0) != 0x80) return false;
    }
    i += static_cast<size_t>(extra) + 1;
  }
  return true;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// An old 8-bit file: its bytes taken as Latin-1.
std::string Latin1ToUtf8(const std::string& bytes) {
  std::string out;
  for (unsigned char c : bytes) {
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else {
      out += static_cast<char>(0xC0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return out;
}

// 8-bit text with its control characters written as escapes.
std::string ShownText(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    const unsigned char byte = static_cast<unsigned char>(c);
    switch (c) {
      case '\0': out += "\\0"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default:
        if (byte < 0x20 || byte == 0x7F) {
          char escape[8];
          std::snprintf(escape, sizeof escape, "\\x%02x", byte);
          out += escape;
        } else {
          out += c;
        }
    }
  }
  return out;
}

std::string EscapeText(const std::u16string& text) {
  std::string out;
  for (char c : device::ToUtf8(text)) {
    switch (c) {
      case '\\': out += "\\\\"; break;
      case '"': out += "\\\""; break;
      // A raw line break would split the value and corrupt the file.
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      default: out += c;
    }
  }
  return out;
}

// True when "text" (its units plus one zero) gives back exactly these bytes.
bool IsPlainText(const std::string& data, std::u16string* text) {
  std::u16string units = device::RegTextOf(data);
  if (device::RegTextData(units) != data) return false;
  for (size_t i = 0; i < units.size(); ++i) {
    char16_t c = units[i];
    if (c >= 0xD800 && c <= 0xDBFF) {
      if (i + 1 >= units.size() || units[i + 1] < 0xDC00 || units[i + 1] > 0xDFFF) return false;
      ++i;
    } else if (c >= 0xDC00 && c <= 0xDFFF) {
      return false;
    }
  }
  *text = units;
  return true;
}

const char* TypeName(uint32_t type) {
  switch (type) {
    case 0: return "REG_NONE";
    case 2: return "REG_EXPAND_SZ";
    case 5: return "REG_DWORD_BIG_ENDIAN";
    case 6: return "REG_LINK";
    case 7: return "REG_MULTI_SZ";
    case 8: return "REG_RESOURCE_LIST";
    case 11: return "REG_QWORD";
    default: return "an unknown type";
  }
}

class Parser {
 public:
  explicit Parser(std::vector<RegOperation>* operations) : operations_(operations) {}

  bool Run(const std::string& text, std::string* error) {
    std::vector<std::string> lines;
    size_t start = 0;
    while (start <= text.size()) {
      size_t end = text.find('\n', start);
      if (end == std::string::npos) end = text.size();
      std::string line = text.substr(start, end - start);
      if (!line.empty() && line.back() == '\r') line.pop_back();
      lines.push_back(line);
      start = end + 1;
    }
    // The break after the last line starts no line of its own, so a value
    // continued there is cut off, not finished.
    if (lines.size() > 1 && lines.back().empty()) lines.pop_back();
    std::string header = TrimRight(lines[0]);
    if (header != kRegFileHeader && header != "REGEDIT4") {
      *error = std::string("not a registry file: the first line must be \"") + kRegFileHeader + "\"";
      return false;
    }
    for (size_t i = 1; i < lines.size(); ++i) {
      line_number_ = i + 1;
      std::string line = TrimLeft(lines[i]);
      if (line.empty() || line[0] == ';' || line[0] == '#') continue;
      if (line[0] == '[') {
        if (!KeyLine(TrimRight(line), error)) return false;
        continue;
      }
      if (line[0] != '"' && line[0] != '@') return Fail("not a key, a value or a comment", error);
      // Long hex data goes on over lines that end in a backslash. Each piece
      // is appended in place, so a value of many lines costs its length once.
      size_t first_line = line_number_;
      if (IsHexValue(line)) {
        for (;;) {
          while (!line.empty() && (line.back() == ' ' || line.back() == '\t' || line.back() == '\r'))
            line.pop_back();
          if (line.empty() || line.back() != '\\') break;
          line.pop_back();
          if (i + 1 >= lines.size()) return Fail("the value goes on past the end of the file", error);
          const std::string& next = lines[++i];
          const size_t start = next.find_first_not_of(" \t");
          if (start != std::string::npos) line.append(next, start, std::string::npos);
        }
      }
      line_number_ = first_line;
      if (!ValueLine(line, error)) return false;
    }
    return true;
  }

 private:
  bool Fail(const std::string& message, std::string* error) {
    *error = "line " + std::to_string(line_number_) + ": " + message;
    return false;
  }

  static bool IsHexValue(const std::string& line) {
    size_t equals = EndOfName(line);
    if (equals == std::string::npos) return false;
    std::string data = TrimLeft(line.substr(equals));
    return StartsWithNoCase(data, 0, "hex");
  }

  // Index just past the '=' that follows the value name, or npos.
  static size_t EndOfName(const std::string& line) {
    size_t i = 0;
    if (line[0] == '@') {
      i = 1;
    } else {
      for (i = 1; i < line.size() && line[i] != '"'; ++i) {
        if (line[i] == '\\') ++i;
      }
      if (i >= line.size()) return std::string::npos;
      ++i;
    }
    while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i;
    if (i >= line.size() || line[i] != '=') return std::string::npos;
    return i + 1;
  }

  bool KeyLine(const std::string& written, std::string* error) {
    // Editors accept a comment after the closing bracket.
    size_t close = written.rfind(']');
    if (close == std::string::npos || !OnlyBlanksFrom(written, close + 1))
      return Fail("a key line must end with ']'", error);
    std::string line = written.substr(0, close + 1);
    std::string name = line.substr(1, line.size() - 2);
    bool remove = !name.empty() && name[0] == '-';
    if (remove) name.erase(0, 1);
    plat::RegRoot root;
    std::u16string path;
    std::string message;
    if (!ParseKeyName(name, &root, &path, &message)) return Fail(message, error);
    if (path.empty() && remove) return Fail("a whole root cannot be deleted", error);
    have_key_ = true;
    key_deleted_ = remove;
    root_ = root;
    path_ = path;
    RegOperation operation{remove ? RegOperation::kDeleteKey : RegOperation::kCreateKey, root,
                           path, {}, 0, {}};
    if (!path.empty()) operations_->push_back(operation);
    return true;
  }

  // Reads a quoted text starting at line[*at] == '"'; leaves *at past the
  // closing quote.
  bool QuotedText(const std::string& line, size_t* at, std::string* text, std::string* error) {
    text->clear();
    size_t i = *at + 1;
    for (; i < line.size() && line[i] != '"'; ++i) {
      if (line[i] != '\\' || i + 1 >= line.size()) {
        *text += line[i];
        continue;
      }
      char next = line[++i];
      switch (next) {
        case '\\': *text += '\\'; break;
        case '"': *text += '"'; break;
        case 'n': *text += '\n'; break;
        case 'r': *text += '\r'; break;
        case '0': *text += '\0'; break;
        default: *text += '\\'; *text += next;  // as the editor does: kept as written
      }
    }
    if (i >= line.size()) return Fail("a quoted text has no closing '\"'", error);
    *at = i + 1;
    return true;
  }

  // Blanks, then nothing or a ';' comment, as the registry editors allow
  // after a key or a value's data.
  static bool OnlyBlanksFrom(const std::string& line, size_t at) {
    std::string rest = TrimLeft(line.substr(std::min(at, line.size())));
    return rest.empty() || rest[0] == ';';
  }

  static std::string WithoutComment(const std::string& data) {
    return TrimRight(data.substr(0, data.find(';')));
  }

  bool ValueLine(const std::string& line, std::string* error) {
    std::string name;
    size_t at = 0;
    if (line[0] == '@') {
      at = 1;
    } else if (!QuotedText(line, &at, &name, error)) {
      return false;
    }
    while (at < line.size() && (line[at] == ' ' || line[at] == '\t')) ++at;
    if (at >= line.size() || line[at] != '=') return Fail("a value name must be followed by '='", error);
    ++at;
    while (at < line.size() && (line[at] == ' ' || line[at] == '\t')) ++at;
    if (!have_key_) return Fail("a value before the first key", error);
    if (key_deleted_) return Fail("a value under a key that is being deleted", error);
    if (path_.empty()) return Fail("values cannot be set on a root key", error);

    RegOperation operation{RegOperation::kSetValue, root_, path_, device::FromUtf8(name), 0, {}};
    if (at < line.size() && line[at] == '-') {
      if (!OnlyBlanksFrom(line, at + 1)) return Fail("unexpected text after '-'", error);
      operation.kind = RegOperation::kDeleteValue;
    } else if (at < line.size() && line[at] == '"') {
      std::string text;
      if (!QuotedText(line, &at, &text, error)) return false;
      if (!OnlyBlanksFrom(line, at)) return Fail("unexpected text after the closing '\"'", error);
      operation.type = plat::kRegSz;
      operation.data = device::RegTextData(device::FromUtf8(text));
    } else if (StartsWithNoCase(line, at, "dword:")) {
      std::string digits = WithoutComment(line.substr(at + 6));
      if (digits.empty() || digits.size() > 8) return Fail("a dword needs 1 to 8 hex digits", error);
      uint32_t number = 0;
      for (char c : digits) {
        if (!std::isxdigit(static_cast<unsigned char>(c))) return Fail("a dword needs hex digits", error);
        number = number * 16 + static_cast<uint32_t>(HexDigit(c));
      }
      operation.type = plat::kRegDword;
      for (int k = 0; k < 4; ++k) operation.data += static_cast<char>((number >> (8 * k)) & 0xFF);
    } else if (StartsWithNoCase(line, at, "hex")) {
      if (!HexData(line, at + 3, &operation, error)) return false;
    } else {
      return Fail("unknown kind of value data", error);
    }
    operations_->push_back(operation);
    return true;
  }

  bool HexData(const std::string& line, size_t at, RegOperation* operation, std::string* error) {
    uint32_t type = plat::kRegBinary;
    if (at < line.size() && line[at] == '(') {
      size_t close = line.find(')', at);
      if (close == std::string::npos || close == at + 1 || close - at - 1 > 8)
        return Fail("malformed hex(type)", error);
      type = 0;
      for (size_t k = at + 1; k < close; ++k) {
        char c = line[k];
        if (!std::isxdigit(static_cast<unsigned char>(c))) return Fail("malformed hex(type)", error);
        type = type * 16 + static_cast<uint32_t>(HexDigit(c));
      }
      at = close + 1;
    }
    if (at >= line.size() || line[at] != ':') return Fail("hex data must start with ':'", error);
    if (type != plat::kRegSz && type != plat::kRegBinary && type != plat::kRegDword) {
      char number[16];
      std::snprintf(number, sizeof number, "%x", type);
      return Fail(std::string("hex(") + number + ") values (" + TypeName(type) +
                      ") cannot be stored: the device's registry holds REG_SZ, REG_DWORD and "
                      "REG_BINARY only",
                  error);
    }
    std::string list = WithoutComment(line.substr(at + 1));
    std::string data;
    size_t start = 0;
    while (start < list.size()) {
      size_t comma = list.find(',', start);
      bool last = comma == std::string::npos;
      std::string token = TrimRight(TrimLeft(list.substr(start, last ? std::string::npos : comma - start)));
      // One trailing comma is what a continued line leaves behind.
      if (token.empty() && last) break;
      if (token.empty() || token.size() > 2 || !std::isxdigit(static_cast<unsigned char>(token[0])) ||
          (token.size() == 2 && !std::isxdigit(static_cast<unsigned char>(token[1]))))
        return Fail("hex data must be bytes such as 0a,ff separated by commas", error);
      int value = 0;
      for (char c : token) value = value * 16 + HexDigit(c);
      data += static_cast<char>(value);
      if (last) break;
      start = comma + 1;
    }
    operation->type = type;
    operation->data = data;
    return true;
  }

  std::vector<RegOperation>* operations_;
  size_t line_number_ = 1;
  bool have_key_ = false;
  bool key_deleted_ = false;
  plat::RegRoot root_ = plat::RegRoot::LocalMachine;
  std::u16string path_;
};

}  // namespace

bool ParseKeyName(const std::string& text, plat::RegRoot* root, std::u16string* path,
                  std::string* error) {
  size_t slash = text.find('\\');
  std::string root_name = text.substr(0, slash);
  std::string rest = slash == std::string::npos ? std::string() : text.substr(slash + 1);
  if (EqualNoCase(root_name, "HKLM") || EqualNoCase(root_name, "HKEY_LOCAL_MACHINE")) {
    *root = plat::RegRoot::LocalMachine;
  } else if (EqualNoCase(root_name, "HKCR") || EqualNoCase(root_name, "HKEY_CLASSES_ROOT")) {
    *root = plat::RegRoot::ClassesRoot;
  } else {
    *error = "unknown key root '" + ShownText(root_name) +
             "': the device has HKEY_LOCAL_MACHINE (HKLM) and HKEY_CLASSES_ROOT (HKCR)";
    return false;
  }
  while (!rest.empty() && rest.back() == '\\') rest.pop_back();
  if (rest.find("\\\\") != std::string::npos || (!rest.empty() && rest[0] == '\\')) {
    *error = "key '" + ShownText(text) + "' has an empty name between backslashes";
    return false;
  }
  // A registry file has no way to write a line break in a key name.
  if (rest.find_first_of("\r\n") != std::string::npos) {
    *error = "a key name may not hold a line break";
    return false;
  }
  *path = device::FromUtf8(rest);
  return true;
}

std::string FullKeyName(plat::RegRoot root, const std::u16string& path) {
  std::string name =
      root == plat::RegRoot::ClassesRoot ? "HKEY_CLASSES_ROOT" : "HKEY_LOCAL_MACHINE";
  if (!path.empty()) name += "\\" + device::ToUtf8(path);
  return name;
}

std::string ShownName(const std::u16string& name) { return ShownText(device::ToUtf8(name)); }

std::string ShownKeyName(plat::RegRoot root, const std::u16string& path) {
  return ShownText(FullKeyName(root, path));
}

std::string FormatKeyLine(plat::RegRoot root, const std::u16string& path) {
  return "[" + FullKeyName(root, path) + "]";
}

std::string FormatValue(const device::RegValue& value) {
  std::string line = value.name.empty() ? "@=" : "\"" + EscapeText(value.name) + "\"=";
  std::u16string text;
  if (value.type == plat::kRegSz && IsPlainText(value.data, &text)) {
    return line + "\"" + EscapeText(text) + "\"";
  }
  if (value.type == plat::kRegDword && value.data.size() == 4) {
    uint32_t number = 0;
    for (int k = 3; k >= 0; --k) number = (number << 8) | static_cast<unsigned char>(value.data[k]);
    char digits[16];
    std::snprintf(digits, sizeof digits, "dword:%08x", number);
    return line + digits;
  }
  char prefix[24];
  if (value.type == plat::kRegBinary) {
    std::snprintf(prefix, sizeof prefix, "hex:");
  } else {
    std::snprintf(prefix, sizeof prefix, "hex(%x):", value.type);
  }
  size_t line_length = line.size() + std::string(prefix).size();
  line += prefix;
  for (size_t i = 0; i < value.data.size(); ++i) {
    char byte[4];
    std::snprintf(byte, sizeof byte, "%02x", static_cast<unsigned char>(value.data[i]));
    line += byte;
    if (i + 1 == value.data.size()) break;
    line += ',';
    line_length += 3;
    if (line_length >= kHexLineLimit) {
      line += "\\\n  ";
      line_length = 2;
    }
  }
  return line;
}

bool ParseRegFile(const std::string& bytes, std::vector<RegOperation>* operations,
                  std::string* error) {
  operations->clear();
  std::string text;
  if (bytes.size() >= 2 && static_cast<unsigned char>(bytes[0]) == 0xFF &&
      static_cast<unsigned char>(bytes[1]) == 0xFE) {
    if (bytes.size() % 2 != 0) {
      *error = "the UTF-16 file has an odd number of bytes";
      return false;
    }
    text = device::ToUtf8(device::FromUtf16Le(bytes.substr(2)));
  } else if (bytes.size() >= 3 && bytes.compare(0, 3, "\xEF\xBB\xBF") == 0) {
    text = bytes.substr(3);
  } else {
    text = bytes;
  }
  if (!IsValidUtf8(text)) text = Latin1ToUtf8(text);
  Parser parser(operations);
  return parser.Run(text, error);
}

}  // namespace devicesim
