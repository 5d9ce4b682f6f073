#include "shared/text.h"

#include <cstdint>
#include <cstdlib>
#include <new>

#include "platform/platform.h"
#include "shared/settings.h"

namespace {

std::u16string& PathResult() {
  static std::u16string result;
  return result;
}

}  // namespace

// ---- Paths in the application folder ------------------------------------

namespace {

// Where the platform has no folder of its own (kErrorNotSupported), the
// product's "AppFolder" value names it.
bool ReadFolder(plat::ProductFolder which, std::u16string& folder) {
  folder.clear();
  if (plat::GetProductFolder(which, &folder)) return true;
  if (plat::GetLastError() != plat::kErrorNotSupported) return false;
  return ReadRegString(plat::RegRoot::Product, kSettingsKey, u"AppFolder", folder);
}

const std::u16string& PathIn(plat::ProductFolder which, const std::u16string& file_name) {
  // The caller may pass the previous result itself, which the read empties.
  const std::u16string name = file_name;
  std::u16string& result = PathResult();
  if (!ReadFolder(which, result)) result.clear();
  if (!result.empty() && result.back() != u'\\' && result.back() != u'/') result += u'\\';
  result += name;
  return result;
}

}  // namespace

bool ReadAppFolder(std::u16string& folder) { return ReadFolder(plat::ProductFolder::Programs, folder); }

const std::u16string& GetAppFolderPath(const std::u16string& file_name) {
  return PathIn(plat::ProductFolder::Programs, file_name);
}

const std::u16string& GetLogFilePath(const std::u16string& file_name) {
  return PathIn(plat::ProductFolder::Logs, file_name);
}

const std::u16string& GetTakeoverShortcutPath(uint32_t button) {
  GetAppFolderPath(u"TapdeckA.lnk");
  std::u16string& result = PathResult();
  char16_t& letter = result[result.size() - 5];
  letter = static_cast<char16_t>(letter + button);
  return result;
}

// ---- Text utilities -------------------------------------------------------

namespace {

bool IsFolderSeparator(char16_t c) { return c == u'/' || c == u':' || c == u'\\'; }

}  // namespace

void SplitPath(const std::u16string& path, std::u16string& name, std::u16string& extension) {
  const std::u16string source = path;  // the outputs may be the path itself
  name.clear();
  extension.clear();
  if (source.empty()) return;

  size_t name_end = source.size();
  for (size_t i = source.size(); i-- > 0;) {
    const char16_t c = source[i];
    if (c == u'.') {
      extension = source.substr(i + 1);
      name_end = i;
      break;
    }
    if (IsFolderSeparator(c)) break;
  }
  size_t name_start = 0;
  for (size_t i = name_end; i-- > 0;) {
    if (IsFolderSeparator(source[i])) {
      name_start = i + 1;
      break;
    }
  }
  name = source.substr(name_start, name_end - name_start);
}

void MakeLower(std::u16string& text) {
  for (char16_t& c : text) {
    if (plat::IsCharUpper(c)) c = plat::CharToLower(c);
  }
}

void WidenText(std::u16string& out, const char* narrow) {
  out.clear();
  if (narrow == nullptr) return;
  for (const char* p = narrow; *p != 0; ++p) {
    const auto byte = static_cast<signed char>(*p);
    out += static_cast<char16_t>(static_cast<int16_t>(byte));
  }
}

bool FileExists(const std::u16string& path) {
  return plat::GetFileAttributes(path) != plat::kInvalidFileAttributes;
}

std::u16string DecimalText(int64_t value) {
  const uint64_t magnitude = value < 0 ? 0 - static_cast<uint64_t>(value) : static_cast<uint64_t>(value);
  std::u16string digits;
  uint64_t rest = magnitude;
  do {
    digits.insert(digits.begin(), static_cast<char16_t>(u'0' + rest % 10));
    rest /= 10;
  } while (rest != 0);
  return value < 0 ? u"-" + digits : digits;
}

std::u16string OneLineText(const std::u16string& text, size_t limit) {
  std::u16string line;
  for (char16_t c : text) line += (c < 0x20 || c == 0x7F || c == 0x2028 || c == 0x2029) ? u' ' : c;
  const size_t first = line.find_first_not_of(u' ');
  if (first == std::u16string::npos || limit == 0) return {};
  line = line.substr(first, line.find_last_not_of(u' ') - first + 1);
  if (line.size() <= limit) return line;
  line.resize(limit - 1);
  if (!line.empty() && line.back() >= 0xD800 && line.back() <= 0xDBFF) line.pop_back();
  return line + u'\u2026';
}

int32_t TextToLong(const std::u16string& text) {
  size_t i = 0;
  while (i < text.size() && (text[i] == u' ' || (text[i] >= u'\t' && text[i] <= u'\r'))) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == u'+' || text[i] == u'-')) {
    negative = text[i] == u'-';
    ++i;
  }
  // Accumulate past the limit only as far as needed to know it was passed.
  const int64_t limit = negative ? -static_cast<int64_t>(INT32_MIN) : INT32_MAX;
  int64_t value = 0;
  bool any_digit = false;
  for (; i < text.size() && text[i] >= u'0' && text[i] <= u'9'; ++i) {
    any_digit = true;
    if (value <= limit) value = value * 10 + (text[i] - u'0');
  }
  if (!any_digit) return 0;
  if (value > limit) value = limit;
  return static_cast<int32_t>(negative ? -value : value);
}

// ---- Running out of memory --------------------------------------------------

namespace {

// Kept from start-up so that the message can still be shown once the heap
// is exhausted: the text is ready and the reserve is given back first.
struct OutOfMemoryPreparation {
  std::u16string message = u"out of memory";
  void* reserve = std::malloc(64 * 1024);
};

OutOfMemoryPreparation& Preparation() {
  static OutOfMemoryPreparation preparation;
  return preparation;
}

void OnAllocationFailure() { OutOfMemory(); }

}  // namespace

void InstallOutOfMemoryHandler() {
  Preparation();
  std::set_new_handler(OnAllocationFailure);
}

void OutOfMemory() {
  static bool reporting = false;
  if (reporting) std::_Exit(1);  // showing the message itself ran out
  reporting = true;
  OutOfMemoryPreparation& preparation = Preparation();
  std::free(preparation.reserve);
  preparation.reserve = nullptr;
  plat::MessageBox(preparation.message, nullptr, plat::kMbOk);
  plat::ExitProcess(1);
}
