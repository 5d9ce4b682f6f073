// The key-name table: one answer on every build for the keys a keyboard,
// a macro pad or a device's side buttons send.
#include "platform/common/key_names.h"

#include "platform/platform.h"

namespace plat::common {
namespace {

struct Named {
  uint8_t code;
  const char16_t* name;
};

// Letters and digits are their own names; the rest by Win32's code.
constexpr Named kNames[] = {
    {0x08, u"Backspace"},       {0x09, u"Tab"},           {0x0C, u"Clear"},
    {0x0D, u"Enter"},           {0x10, u"Shift"},         {0x11, u"Ctrl"},
    {0x12, u"Alt"},             {0x13, u"Pause"},         {0x14, u"Caps Lock"},
    {0x1B, u"Esc"},             {0x20, u"Space"},         {0x21, u"Page Up"},
    {0x22, u"Page Down"},       {0x23, u"End"},           {0x24, u"Home"},
    {0x25, u"Left"},            {0x26, u"Up"},            {0x27, u"Right"},
    {0x28, u"Down"},            {0x29, u"Select"},        {0x2A, u"Print"},
    {0x2B, u"Execute"},         {0x2C, u"Print Screen"},  {0x2D, u"Insert"},
    {0x2E, u"Delete"},          {0x2F, u"Help"},          {0x5B, u"Left Windows"},
    {0x5C, u"Right Windows"},   {0x5D, u"Applications"},  {0x5F, u"Sleep"},
    {0x6A, u"Num *"},           {0x6B, u"Num +"},         {0x6C, u"Separator"},
    {0x6D, u"Num -"},           {0x6E, u"Num ."},         {0x6F, u"Num /"},
    {0x90, u"Num Lock"},        {0x91, u"Scroll Lock"},   {0xA0, u"Left Shift"},
    {0xA1, u"Right Shift"},     {0xA2, u"Left Ctrl"},     {0xA3, u"Right Ctrl"},
    {0xA4, u"Left Alt"},        {0xA5, u"Right Alt"},     {0xA6, u"Browser Back"},
    {0xA7, u"Browser Forward"}, {0xA8, u"Browser Refresh"}, {0xA9, u"Browser Stop"},
    {0xAA, u"Browser Search"},  {0xAB, u"Browser Favorites"}, {0xAC, u"Browser Home"},
    {0xAD, u"Volume Mute"},     {0xAE, u"Volume Down"},   {0xAF, u"Volume Up"},
    {0xB0, u"Next Track"},      {0xB1, u"Previous Track"}, {0xB2, u"Stop"},
    {0xB3, u"Play/Pause"},      {0xB4, u"Mail"},          {0xB5, u"Media"},
    {0xB6, u"App 1"},           {0xB7, u"App 2"},         {0xFA, u"Play"},
    {0xFB, u"Zoom"},
};

std::u16string Hex(uint32_t code) {
  static const char16_t kDigits[] = u"0123456789ABCDEF";
  std::u16string digits;
  do {
    digits.insert(digits.begin(), kDigits[code & 0xF]);
    code >>= 4;
  } while (code != 0);
  if (digits.size() < 2) digits.insert(digits.begin(), u'0');
  return u"Key 0x" + digits;
}

std::u16string Folded(const std::u16string& name) {
  std::u16string folded;
  for (char16_t c : name)
    if (c != u' ' && c != u'-' && c != u'_') folded += plat::CharToLower(c);
  return folded;
}

}  // namespace

std::u16string StandardKeyName(uint32_t virtual_key) {
  if ((virtual_key >= u'0' && virtual_key <= u'9') || (virtual_key >= u'A' && virtual_key <= u'Z'))
    return std::u16string(1, static_cast<char16_t>(virtual_key));
  if (virtual_key >= 0x60 && virtual_key <= 0x69)
    return u"Num " + std::u16string(1, static_cast<char16_t>(u'0' + virtual_key - 0x60));
  if (virtual_key >= 0x70 && virtual_key <= 0x87) {
    const uint32_t number = virtual_key - 0x70 + 1;  // F1 .. F24
    std::u16string name = u"F";
    if (number >= 10) name += static_cast<char16_t>(u'0' + number / 10);
    return name + static_cast<char16_t>(u'0' + number % 10);
  }
  for (const Named& named : kNames)
    if (named.code == virtual_key) return named.name;
  return Hex(virtual_key);
}

bool SameKeyName(const std::u16string& a, const std::u16string& b) {
  const std::u16string folded = Folded(a);
  return !folded.empty() && folded == Folded(b);
}

bool KeyCodeOfName(const std::u16string& name, uint32_t* virtual_key) {
  for (uint32_t code = 1; code <= 0xFF; ++code) {
    if (SameKeyName(name, StandardKeyName(code))) {
      *virtual_key = code;
      return true;
    }
  }
  return false;
}

}  // namespace plat::common
