#include "platform/common/shell_text.h"

#include <cstdint>
#include <string_view>

#include "platform/platform.h"

namespace plat::common {

namespace {

bool IsFile(const std::u16string& path) {
  const uint32_t attributes = GetFileAttributes(path);
  return attributes != kInvalidFileAttributes && (attributes & kFileAttributeDirectory) == 0;
}

// One encoder and one decoder for both forms; `lone_surrogates` says whether
// an unpaired surrogate keeps its own 3-byte form (generalized UTF-8) or is
// U+FFFD (UTF-8).
std::string Encode(const std::u16string& text, bool lone_surrogates) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    uint32_t c = text[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
        text[i + 1] <= 0xDFFF) {
      c = 0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00);
      ++i;
    } else if (c >= 0xD800 && c <= 0xDFFF) {
      if (!lone_surrogates) c = 0xFFFD;  // a lone surrogate has no UTF-8 form
    }
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else if (c < 0x800) {
      out += static_cast<char>(0xC0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      out += static_cast<char>(0xE0 | (c >> 12));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (c >> 18));
      out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return out;
}

std::u16string Decode(const std::string& text, bool lone_surrogates) {
  std::u16string out;
  out.reserve(text.size());
  size_t i = 0;
  while (i < text.size()) {
    unsigned char b = static_cast<unsigned char>(text[i]);
    uint32_t c = 0xFFFD;
    size_t len = 1;
    if (b < 0x80) {
      c = b;
    } else if ((b & 0xE0) == 0xC0 || (b & 0xF0) == 0xE0 || (b & 0xF8) == 0xF0) {
      size_t need = (b & 0xE0) == 0xC0 ? 2 : (b & 0xF0) == 0xE0 ? 3 : 4;
      uint32_t value = b & (need == 2 ? 0x1F : need == 3 ? 0x0F : 0x07);
      size_t k = 1;
      for (; k < need && i + k < text.size(); ++k) {
        unsigned char cb = static_cast<unsigned char>(text[i + k]);
        if ((cb & 0xC0) != 0x80) break;
        value = (value << 6) | (cb & 0x3F);
      }
      if (k == need) {
        static const uint32_t kMin[] = {0, 0, 0x80, 0x800, 0x10000};
        bool valid = value >= kMin[need] && value <= 0x10FFFF &&
                     (lone_surrogates || !(value >= 0xD800 && value <= 0xDFFF));
        if (valid) c = value;
        len = need;
      } else {
        len = k;  // resume at the byte that broke the sequence
      }
    }
    if (c >= 0x10000) {
      c -= 0x10000;
      out += static_cast<char16_t>(0xD800 + (c >> 10));
      out += static_cast<char16_t>(0xDC00 + (c & 0x3FF));
    } else {
      out += static_cast<char16_t>(c);
    }
    i += len;
  }
  return out;
}

}  // namespace

std::string Utf16ToUtf8(const std::u16string& text) { return Encode(text, false); }
std::u16string Utf8ToUtf16(const std::string& bytes) { return Decode(bytes, false); }
std::string Utf16ToWtf8(const std::u16string& text) { return Encode(text, true); }
std::u16string Wtf8ToUtf16(const std::string& bytes) { return Decode(bytes, true); }

bool ParseShortcutText(const std::string& bytes, std::u16string* command) {
  std::string line = bytes.substr(0, bytes.find_first_of("\r\n"));
  const size_t hash = line.find('#');
  if (hash == 0 || hash == std::string::npos || hash > 9) return false;
  for (size_t i = 0; i < hash; ++i)
    if (line[i] < '0' || line[i] > '9') return false;
  std::u16string target = Utf8ToUtf16(line.substr(hash + 1));
  if (target.find_first_not_of(u" \t") == std::u16string::npos) return false;
  *command = target;
  return true;
}

void SplitCommand(const std::u16string& command, std::u16string* program, std::u16string* args) {
  auto blank = [](char16_t c) { return c == u' ' || c == u'\t'; };
  size_t start = 0;
  while (start < command.size() && blank(command[start])) ++start;
  size_t end = command.size();
  while (end > start && blank(command[end - 1])) --end;
  std::u16string text = command.substr(start, end - start);
  size_t split = std::u16string::npos;  // where the arguments start
  if (!text.empty() && text[0] == u'"') {
    size_t close = text.find(u'"', 1);
    *program = text.substr(1, close == std::u16string::npos ? std::u16string::npos : close - 1);
    split = close == std::u16string::npos ? text.size() : close + 1;
  } else {
    // An unquoted path may hold blanks: the shortest prefix ending at a blank
    // that names an existing file is the program, as Windows reads it.
    for (size_t i = 0; i <= text.size(); ++i) {
      if (i < text.size() && !blank(text[i])) continue;
      if (IsFile(text.substr(0, i))) {
        split = i;
        break;
      }
    }
    if (split == std::u16string::npos) {
      split = 0;
      while (split < text.size() && !blank(text[split])) ++split;
    }
    *program = text.substr(0, split);
  }
  while (split < text.size() && blank(text[split])) ++split;
  *args = text.substr(split);
}

bool IsSignInName(const std::u16string& name) {
  if (name.empty() || name.size() > 64) return false;
  for (char16_t c : name) {
    if (c < 0x20 || c == 0x7F || std::u16string_view(u"\\/:*?\"<>|").find(c) != std::u16string_view::npos)
      return false;
  }
  return true;
}

std::u16string OneLine(const std::u16string& text, size_t limit) {
  std::u16string line;
  for (char16_t c : text) {
    if (line.size() == limit) break;
    line += (c < 0x20 || c == 0x7F) ? u' ' : c;
  }
  // A high surrogate cut from its pair would draw as a stray box.
  if (!line.empty() && line.back() >= 0xD800 && line.back() <= 0xDBFF) line.pop_back();
  return line;
}

}  // namespace plat::common
