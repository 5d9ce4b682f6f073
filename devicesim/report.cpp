#include "devicesim/report.h"

#include <cstdio>
#include <ctime>

namespace devicesim {

int OrientationDegrees(uint32_t orientation) {
  switch (orientation) {
    case plat::kDmdo0: return 0;
    case plat::kDmdo90: return 90;
    case plat::kDmdo180: return 180;
    case plat::kDmdo270: return 270;
    default: return -1;
  }
}

namespace {

void SkipBlanks(const std::string& text, size_t* at) {
  while (*at < text.size() && (text[*at] == ' ' || text[*at] == '\t' || text[*at] == '\n')) ++*at;
}

void AppendUtf8(uint32_t code, std::string* out) {
  if (code < 0x80) {
    *out += static_cast<char>(code);
  } else if (code < 0x800) {
    *out += static_cast<char>(0xC0 | (code >> 6));
    *out += static_cast<char>(0x80 | (code & 0x3F));
  } else if (code < 0x10000) {
    *out += static_cast<char>(0xE0 | (code >> 12));
    *out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    *out += static_cast<char>(0x80 | (code & 0x3F));
  } else {
    *out += static_cast<char>(0xF0 | (code >> 18));
    *out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
    *out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    *out += static_cast<char>(0x80 | (code & 0x3F));
  }
}

bool ReadHex4(const std::string& text, size_t at, uint32_t* value) {
  if (at + 4 > text.size()) return false;
  *value = 0;
  for (size_t k = at; k < at + 4; ++k) {
    char c = text[k];
    int digit = c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10
              : c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1;
    if (digit < 0) return false;
    *value = *value * 16 + static_cast<uint32_t>(digit);
  }
  return true;
}

// A JSON string at text[*at] == '"', decoded.
bool ReadString(const std::string& text, size_t* at, std::string* out) {
  out->clear();
  size_t i = *at + 1;
  while (i < text.size() && text[i] != '"') {
    if (text[i] != '\\') {
      *out += text[i++];
      continue;
    }
    if (++i >= text.size()) return false;
    char c = text[i++];
    switch (c) {
      case 'n': *out += '\n'; break;
      case 't': *out += '\t'; break;
      case 'r': *out += '\r'; break;
      case 'b': *out += '\b'; break;
      case 'f': *out += '\f'; break;
      case 'u': {
        uint32_t code = 0;
        if (!ReadHex4(text, i, &code)) return false;
        i += 4;
        uint32_t low = 0;
        if (code >= 0xD800 && code <= 0xDBFF && i + 6 <= text.size() && text[i] == '\\' &&
            text[i + 1] == 'u' && ReadHex4(text, i + 2, &low) && low >= 0xDC00 && low <= 0xDFFF) {
          code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
          i += 6;
        }
        AppendUtf8(code, out);
        break;
      }
      default: *out += c;
    }
  }
  if (i >= text.size()) return false;
  *at = i + 1;
  return true;
}

// A value that is not a string: up to the next comma outside brackets.
bool ReadOther(const std::string& text, size_t* at, std::string* out) {
  int depth = 0;
  size_t start = *at;
  size_t i = *at;
  for (; i < text.size(); ++i) {
    char c = text[i];
    if (c == '"') {
      std::string ignored;
      if (!ReadString(text, &i, &ignored)) return false;
      --i;
      continue;
    }
    if (c == '{' || c == '[') ++depth;
    if (c == '}' || c == ']') --depth;
    if (c == ',' && depth == 0) break;
  }
  *out = text.substr(start, i - start);
  while (!out->empty() && out->back() == ' ') out->pop_back();
  *at = i;
  return !out->empty();
}

// "vk":193,"up":false -> vk=193 up=false; texts in quotes, undecorated.
bool FieldsAsText(const std::string& fields, std::string* out) {
  out->clear();
  size_t at = 0;
  SkipBlanks(fields, &at);
  while (at < fields.size()) {
    std::string name, value;
    if (fields[at] != '"' || !ReadString(fields, &at, &name)) return false;
    SkipBlanks(fields, &at);
    if (at >= fields.size() || fields[at] != ':') return false;
    ++at;
    SkipBlanks(fields, &at);
    if (at < fields.size() && fields[at] == '"') {
      if (!ReadString(fields, &at, &value)) return false;
      value = "\"" + value + "\"";
    } else if (!ReadOther(fields, &at, &value)) {
      return false;
    }
    if (!out->empty()) *out += ' ';
    *out += name + "=" + value;
    SkipBlanks(fields, &at);
    if (at < fields.size()) {
      if (fields[at] != ',') return false;
      ++at;
      SkipBlanks(fields, &at);
    }
  }
  return true;
}

}  // namespace

std::string FormatEntryText(const device::JournalEntry& entry, bool relative, int64_t origin_ms) {
  char when[64];
  if (relative) {
    std::snprintf(when, sizeof when, "+%6lld ms", static_cast<long long>(entry.t_ms - origin_ms));
  } else {
    time_t seconds = static_cast<time_t>(entry.t_ms / 1000);
    struct tm local {};
    localtime_r(&seconds, &local);
    char clock[32];
    std::strftime(clock, sizeof clock, "%Y-%m-%d %H:%M:%S", &local);
    std::snprintf(when, sizeof when, "%s.%03lld", clock, static_cast<long long>(entry.t_ms % 1000));
  }
  std::string fields;
  // Fields that are not the simple object members we expect are shown raw
  // rather than dropped.
  if (!FieldsAsText(entry.fields, &fields)) fields = entry.fields;
  char head[160];
  std::snprintf(head, sizeof head, "%s  pid %-7lld %-10s ", when, static_cast<long long>(entry.pid),
                entry.event.c_str());
  std::string line = head + fields;
  while (!line.empty() && line.back() == ' ') line.pop_back();
  return line;
}

std::string FormatEntryJson(const device::JournalEntry& entry, int64_t origin_ms) {
  std::string line = "{\"t\":" + std::to_string(entry.t_ms - origin_ms) +
                     ",\"pid\":" + std::to_string(entry.pid) +
                     ",\"event\":" + device::JsonString(device::FromUtf8(entry.event));
  if (!entry.fields.empty()) line += "," + entry.fields;
  return line + "}";
}

}  // namespace devicesim
