// Letter case for Latin-1, Latin Extended-A, Greek and Cyrillic, the same on
// every backend so that registry names, file names and catalogue sorting agree.
#include "platform/platform.h"

namespace plat {
namespace {

// Upper-case partner of a lower-case letter, or 0 when `c` is not one.
char16_t UpperOf(char16_t c) {
  if (c >= u'a' && c <= u'z') return c - 0x20;
  if (c >= 0xE0 && c <= 0xFE && c != 0xF7) return c - 0x20;
  if (c == 0xFF) return 0x178;
  if (c >= 0x100 && c <= 0x17F) {
    if (c == 0x131) return u'I';  // dotless i
    if (c == 0x17F) return u'S';  // long s
    if (c == 0x138 || c == 0x149) return 0;
    bool odd_lower = (c <= 0x137) || (c >= 0x14A && c <= 0x177);
    bool even_lower = (c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E);
    if (odd_lower && (c & 1)) return c - 1;
    if (even_lower && !(c & 1)) return c - 1;
    return 0;
  }
  if (c >= 0x3B1 && c <= 0x3CB) {
    if (c == 0x3C2) return 0x3A3;  // final sigma
    return c - 0x20;
  }
  if (c == 0x3AC) return 0x386;
  if (c >= 0x3AD && c <= 0x3AF) return c - 0x25;
  if (c == 0x3CC) return 0x38C;
  if (c == 0x3CD || c == 0x3CE) return c - 0x3F;
  if (c >= 0x430 && c <= 0x44F) return c - 0x20;
  if (c >= 0x450 && c <= 0x45F) return c - 0x50;
  if ((c >= 0x460 && c <= 0x481) || (c >= 0x48A && c <= 0x4BF) || (c >= 0x4D0 && c <= 0x4FF))
    return (c & 1) ? c - 1 : 0;
  if (c == 0x4CF) return 0x4C0;
  if (c >= 0x4C1 && c <= 0x4CE) return (c & 1) ? 0 : c - 1;
  return 0;
}

// Lower-case partner of an upper-case letter, or 0 when `c` is not one.
char16_t LowerOf(char16_t c) {
  if (c >= u'A' && c <= u'Z') return c + 0x20;
  if (c >= 0xC0 && c <= 0xDE && c != 0xD7) return c + 0x20;
  if (c == 0x178) return 0xFF;
  if (c >= 0x100 && c <= 0x17F) {
    if (c == 0x130) return u'i';  // capital I with dot
    if (c == 0x138 || c == 0x149 || c == 0x17F) return 0;
    bool even_upper = (c <= 0x137) || (c >= 0x14A && c <= 0x177);
    bool odd_upper = (c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E);
    if (even_upper && !(c & 1)) return c + 1;
    if (odd_upper && (c & 1)) return c + 1;
    return 0;
  }
  if (c >= 0x391 && c <= 0x3AB && c != 0x3A2) return c + 0x20;
  if (c == 0x386) return 0x3AC;
  if (c >= 0x388 && c <= 0x38A) return c + 0x25;
  if (c == 0x38C) return 0x3CC;
  if (c == 0x38E || c == 0x38F) return c + 0x3F;
  if (c >= 0x410 && c <= 0x42F) return c + 0x20;
  if (c >= 0x400 && c <= 0x40F) return c + 0x50;
  if ((c >= 0x460 && c <= 0x481) || (c >= 0x48A && c <= 0x4BF) || (c >= 0x4D0 && c <= 0x4FF))
    return (c & 1) ? 0 : c + 1;
  if (c == 0x4C0) return 0x4CF;
  if (c >= 0x4C1 && c <= 0x4CE) return (c & 1) ? c + 1 : 0;
  return 0;
}

// One representative per case class, so that dotless i, long s and final
// sigma compare equal to their plain partners.
char16_t Fold(char16_t c) { return CharToLower(CharToUpper(c)); }

}  // namespace

bool IsCharUpper(char16_t c) { return LowerOf(c) != 0; }

char16_t CharToLower(char16_t c) {
  char16_t lower = LowerOf(c);
  return lower != 0 ? lower : c;
}

char16_t CharToUpper(char16_t c) {
  char16_t upper = UpperOf(c);
  return upper != 0 ? upper : c;
}

int CompareNoCase(const std::u16string& a, const std::u16string& b) {
  size_t n = a.size() < b.size() ? a.size() : b.size();
  for (size_t i = 0; i < n; ++i) {
    char16_t x = Fold(a[i]);
    char16_t y = Fold(b[i]);
    if (x != y) return x < y ? -1 : 1;
  }
  if (a.size() == b.size()) return 0;
  return a.size() < b.size() ? -1 : 1;
}

}  // namespace plat
