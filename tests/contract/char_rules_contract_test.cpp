// The character rules: the same answers on every backend.
#include <string>

#include "platform/platform.h"
#include "tests/support/test_device.h"

using namespace plat;

namespace {

TEST(CharRulesContract, LettersOfEachScriptHaveCase) {
  struct Pair {
    char16_t upper, lower;
  } pairs[] = {{u'A', u'a'},       {u'Z', u'z'},       {0xC0, 0xE0},   {0xDE, 0xFE},
               {0x100, 0x101},     {0x139, 0x13A},     {0x14A, 0x14B}, {0x17D, 0x17E},
               {0x178, 0xFF},      {0x391, 0x3B1},     {0x3A3, 0x3C3}, {0x386, 0x3AC},
               {0x38F, 0x3CE},     {0x410, 0x430},     {0x42F, 0x44F}, {0x401, 0x451},
               {0x460, 0x461},     {0x4C1, 0x4C2},     {0x4D0, 0x4D1}};
  for (const Pair& p : pairs) {
    SCOPED_TRACE(testing::Message() << std::hex << static_cast<int>(p.upper));
    EXPECT_TRUE(IsCharUpper(p.upper));
    EXPECT_FALSE(IsCharUpper(p.lower));
    EXPECT_EQ(CharToLower(p.upper), p.lower);
    EXPECT_EQ(CharToUpper(p.lower), p.upper);
    EXPECT_EQ(CharToLower(p.lower), p.lower);
    EXPECT_EQ(CharToUpper(p.upper), p.upper);
  }
}

TEST(CharRulesContract, NonLettersAndCaselessLettersStay) {
  for (char16_t c : {u'0', u'9', u' ', u'\\', u'_', char16_t(0xD7), char16_t(0xF7), char16_t(0xDF),
                     char16_t(0x138), char16_t(0x4E00), char16_t(0xFF21 + 0x100)}) {
    EXPECT_FALSE(IsCharUpper(c)) << std::hex << static_cast<int>(c);
    EXPECT_EQ(CharToUpper(c), c) << std::hex << static_cast<int>(c);
  }
}

TEST(CharRulesContract, MappingsStayInsideTheirScriptAndRoundTrip) {
  for (uint32_t i = 0; i < 0x500; ++i) {
    char16_t c = static_cast<char16_t>(i);
    if (c == 0x130) continue;  // capital I with dot lowers to plain i, as on Windows
    if (IsCharUpper(c)) {
      EXPECT_EQ(CharToUpper(CharToLower(c)), c) << std::hex << i;
    }
    char16_t up = CharToUpper(c);
    if (up != c && c != 0x131 && c != 0x17F && c != 0x3C2) {
      EXPECT_EQ(CharToLower(up), c) << std::hex << i;
    }
  }
}

TEST(CharRulesContract, CompareNoCaseOrdersWholeTexts) {
  EXPECT_EQ(CompareNoCase(u"\\Windows\\Start Menu", u"\\WINDOWS\\start menu"), 0);
  EXPECT_EQ(CompareNoCase(u"\u00c4rger \u0416\u0438\u0437\u043d\u044c \u03a3", u"\u00e4RGER \u0436\u0418\u0417\u041d\u042c \u03c3"), 0);
  EXPECT_LT(CompareNoCase(u"apple", u"Banana"), 0);
  EXPECT_GT(CompareNoCase(u"Banana", u"apple"), 0);
  EXPECT_LT(CompareNoCase(u"ab", u"ABC"), 0);
  EXPECT_GT(CompareNoCase(u"abc", u"AB"), 0);
  EXPECT_EQ(CompareNoCase(u"", u""), 0);
  EXPECT_NE(CompareNoCase(u"a1", u"a2"), 0);
}

}  // namespace
