// Registry behaviour every backend must share.
#include <cstring>
#include <set>
#include <string>

#include "platform/platform.h"
#include "tests/support/test_device.h"

using namespace plat;

namespace {

const std::u16string kBase = u"Software\\QuadrakeyContract";

class RegistryContract : public DeviceTest {
 protected:
  void TearDown() override {
    RegDeleteKey(RegRoot::LocalMachine, kBase);
    DeviceTest::TearDown();
  }

  RegKey Create(const std::u16string& path) {
    RegKey key = RegCreateKey(RegRoot::LocalMachine, kBase + u"\\" + path, kKeyRead | kKeySetValue);
    EXPECT_NE(key, nullptr) << "last error " << GetLastError();
    return key;
  }

  static std::u16string EnumName(RegKey key, uint32_t index, uint32_t capacity = 300) {
    std::u16string name(capacity, u'\0');
    if (!RegEnumKey(key, index, name.data(), capacity)) return u"<error>";
    return name.substr(0, name.find(u'\0'));
  }
};

TEST_F(RegistryContract, CreateMakesParentsAndPathsIgnoreCase) {
  RegKey leaf = Create(u"Alpha\\Beta\\Gamma");
  RegCloseKey(leaf);
  RegKey reopened = RegOpenKey(RegRoot::LocalMachine, u"SOFTWARE\\quadrakeycontract\\ALPHA\\beta\\gAmMa",
                               kKeyQueryValue);
  ASSERT_NE(reopened, nullptr);
  RegCloseKey(reopened);

  // The written case is what enumeration shows, whatever case opened it.
  RegKey parent = RegOpenKey(RegRoot::LocalMachine, kBase + u"\\alpha", kKeyRead);
  ASSERT_NE(parent, nullptr);
  EXPECT_EQ(EnumName(parent, 0), u"Beta");
  RegCloseKey(parent);

  // Creating an existing key in another case opens it, it does not add one.
  RegKey again = Create(u"ALPHA\\BETA");
  EXPECT_EQ(EnumName(again, 0), u"Gamma");
  EXPECT_EQ(EnumName(again, 1), u"<error>");
  EXPECT_EQ(GetLastError(), kErrorNoMoreItems);
  RegCloseKey(again);
}

TEST_F(RegistryContract, NonAsciiNamesIgnoreCase) {
  RegKey key = Create(u"\u041a\u043b\u044e\u0447");  // Cyrillic, mixed case
  uint32_t one = 1;
  ASSERT_TRUE(RegSetValue(key, u"Gr\u00f6\u00dfe", kRegDword, &one, 4));
  RegCloseKey(key);
  RegKey upper = RegOpenKey(RegRoot::LocalMachine, kBase + u"\\\u041a\u041b\u042e\u0427", kKeyQueryValue);
  ASSERT_NE(upper, nullptr);
  uint32_t got = 0, size = 4;
  EXPECT_TRUE(RegQueryValue(upper, u"GR\u00d6\u00dfE", nullptr, &got, &size));
  EXPECT_EQ(got, 1u);
  RegCloseKey(upper);
}

TEST_F(RegistryContract, NamesDifferingInALoneSurrogateStayApart) {
  // Any UTF-16 text is a name: a lone half of a pair is kept exactly, never
  // replaced, so these are two values and two keys.
  const std::u16string high = u"Name\xD800", other_high = u"Name\xD801", low = u"Name\xDC00";
  RegKey key = Create(u"Lone");
  const uint32_t numbers[] = {1, 2, 3};
  ASSERT_TRUE(RegSetValue(key, high, kRegDword, &numbers[0], 4));
  ASSERT_TRUE(RegSetValue(key, other_high, kRegDword, &numbers[1], 4));
  ASSERT_TRUE(RegSetValue(key, low, kRegDword, &numbers[2], 4));
  const std::u16string names[] = {high, other_high, low};
  for (int i = 0; i < 3; ++i) {
    uint32_t got = 0, size = 4;
    EXPECT_TRUE(RegQueryValue(key, names[i], nullptr, &got, &size)) << i;
    EXPECT_EQ(got, numbers[i]) << i;
  }
  EXPECT_FALSE(RegQueryValue(key, u"Name\xFFFD", nullptr, nullptr, nullptr));
  RegCloseKey(key);

  RegCloseKey(Create(u"Lone\\" + high));
  RegCloseKey(Create(u"Lone\\" + other_high));
  RegKey parent = RegOpenKey(RegRoot::LocalMachine, kBase + u"\\Lone", kKeyRead);
  ASSERT_NE(parent, nullptr);
  EXPECT_EQ(EnumName(parent, 0), high);
  EXPECT_EQ(EnumName(parent, 1), other_high);
  EXPECT_EQ(EnumName(parent, 2), u"<error>");
  RegCloseKey(parent);
}

TEST_F(RegistryContract, ValuesKeepTypeAndBytes) {
  RegKey key = Create(u"Values");
  const std::u16string text = u"\\Windows\\notes.exe";
  uint32_t text_size = static_cast<uint32_t>((text.size() + 1) * 2);
  const uint32_t number = 0xC1;
  const unsigned char blob[] = {0, 1, 2, 0xFF, 0x80};
  ASSERT_TRUE(RegSetValue(key, u"Text", kRegSz, text.c_str(), text_size));
  ASSERT_TRUE(RegSetValue(key, u"Number", kRegDword, &number, 4));
  ASSERT_TRUE(RegSetValue(key, u"Blob", kRegBinary, blob, sizeof blob));
  ASSERT_TRUE(RegSetValue(key, u"", kRegSz, u"default", 16));

  uint32_t type = 0, size = 0;
  ASSERT_TRUE(RegQueryValue(key, u"TEXT", &type, nullptr, &size));
  EXPECT_EQ(type, kRegSz);
  EXPECT_EQ(size, text_size);
  std::u16string back(size / 2, u'x');
  ASSERT_TRUE(RegQueryValue(key, u"text", &type, back.data(), &size));
  EXPECT_EQ(back, text + u'\0');

  uint32_t read_number = 0;
  size = 4;
  ASSERT_TRUE(RegQueryValue(key, u"number", &type, &read_number, &size));
  EXPECT_EQ(type, kRegDword);
  EXPECT_EQ(read_number, number);

  unsigned char read_blob[16] = {};
  size = sizeof read_blob;
  ASSERT_TRUE(RegQueryValue(key, u"Blob", &type, read_blob, &size));
  EXPECT_EQ(type, kRegBinary);
  ASSERT_EQ(size, sizeof blob);
  EXPECT_EQ(std::memcmp(read_blob, blob, sizeof blob), 0);

  char16_t def[16] = {};
  size = sizeof def;
  ASSERT_TRUE(RegQueryValue(key, u"", nullptr, def, &size));
  EXPECT_EQ(std::u16string(def), u"default");

  // Writing again under another case replaces the value and its type.
  ASSERT_TRUE(RegSetValue(key, u"NUMBER", kRegSz, u"x", 4));
  ASSERT_TRUE(RegQueryValue(key, u"Number", &type, nullptr, &size));
  EXPECT_EQ(type, kRegSz);
  EXPECT_EQ(size, 4u);
  RegCloseKey(key);
}

TEST_F(RegistryContract, SmallBufferReportsNeededSize) {
  RegKey key = Create(u"Sizes");
  const char16_t text[] = u"0123456789";
  ASSERT_TRUE(RegSetValue(key, u"Ten", kRegSz, text, sizeof text));
  // Only the first four characters are offered; the rest must stay as it was.
  char16_t small[8] = {u'a', u'b', u'c', u'd', u'e', u'f', u'g', u'h'};
  uint32_t size = 4 * sizeof(char16_t);
  EXPECT_FALSE(RegQueryValue(key, u"Ten", nullptr, small, &size));
  EXPECT_EQ(GetLastError(), kErrorMoreData);
  EXPECT_EQ(size, sizeof text);
  EXPECT_EQ(std::u16string(small + 4, 4), u"efgh") << "written past the size given";

  // A zero-length value reads as success with size 0.
  ASSERT_TRUE(RegSetValue(key, u"Empty", kRegBinary, nullptr, 0));
  size = 99;
  EXPECT_TRUE(RegQueryValue(key, u"Empty", nullptr, nullptr, &size));
  EXPECT_EQ(size, 0u);
  RegCloseKey(key);
}

TEST_F(RegistryContract, MissingKeysAndValuesFailWithNotFound) {
  SetLastError(0);
  EXPECT_EQ(RegOpenKey(RegRoot::LocalMachine, kBase + u"\\Nowhere\\Deeper", kKeyRead), nullptr);
  EXPECT_EQ(GetLastError(), kErrorFileNotFound);

  RegKey key = Create(u"Present");
  uint32_t size = 4, value = 7;
  EXPECT_FALSE(RegQueryValue(key, u"Absent", nullptr, &value, &size));
  EXPECT_EQ(GetLastError(), kErrorFileNotFound);
  EXPECT_EQ(value, 7u);
  EXPECT_FALSE(RegDeleteValue(key, u"Absent"));
  EXPECT_EQ(GetLastError(), kErrorFileNotFound);
  RegCloseKey(key);

  EXPECT_FALSE(RegDeleteKey(RegRoot::LocalMachine, kBase + u"\\Nowhere"));
  EXPECT_EQ(GetLastError(), kErrorFileNotFound);
}

TEST_F(RegistryContract, EnumerationListsEachSubkeyOnceThenEnds) {
  RegKey parent = Create(u"List");
  for (const char16_t* name : {u"Apple", u"Banana", u"Cherry", u"Date"}) RegCloseKey(Create(std::u16string(u"List\\") + name));
  std::set<std::u16string> seen;
  uint32_t index = 0;
  for (; index < 10; ++index) {
    std::u16string name = EnumName(parent, index);
    if (name == u"<error>") break;
    EXPECT_TRUE(seen.insert(name).second) << "repeated subkey";
  }
  EXPECT_EQ(index, 4u);
  EXPECT_EQ(GetLastError(), kErrorNoMoreItems);
  EXPECT_EQ(seen, (std::set<std::u16string>{u"Apple", u"Banana", u"Cherry", u"Date"}));
  // Keys made in name order enumerate in that order on every backend.
  EXPECT_EQ(EnumName(parent, 0), u"Apple");
  EXPECT_EQ(EnumName(parent, 3), u"Date");

  // The capacity counts the terminating zero, and nothing lands past it.
  std::u16string name(8, u'#');
  EXPECT_FALSE(RegEnumKey(parent, 1, name.data(), 6));  // "Banana" needs 7
  EXPECT_EQ(GetLastError(), kErrorMoreData);
  EXPECT_EQ(name.substr(6), u"##");
  EXPECT_TRUE(RegEnumKey(parent, 0, name.data(), 6));  // "Apple" fits exactly
  EXPECT_EQ(name, std::u16string(u"Apple\0##", 8));
  // No room at all is too little room, not a bad argument; past the end
  // is still the end.
  EXPECT_FALSE(RegEnumKey(parent, 0, name.data(), 0));
  EXPECT_EQ(GetLastError(), kErrorMoreData);
  EXPECT_EQ(name, std::u16string(u"Apple\0##", 8));
  EXPECT_FALSE(RegEnumKey(parent, 4, name.data(), 0));
  EXPECT_EQ(GetLastError(), kErrorNoMoreItems);
  RegCloseKey(parent);
}

TEST_F(RegistryContract, DeleteKeyTakesValuesAndSubkeys) {
  RegKey top = Create(u"Doomed");
  uint32_t n = 5;
  ASSERT_TRUE(RegSetValue(top, u"Value", kRegDword, &n, 4));
  RegCloseKey(top);
  RegKey child = Create(u"Doomed\\Child\\Grandchild");
  ASSERT_TRUE(RegSetValue(child, u"Deep", kRegDword, &n, 4));
  RegCloseKey(child);
  RegCloseKey(Create(u"Survivor"));

  ASSERT_TRUE(RegDeleteKey(RegRoot::LocalMachine, kBase + u"\\DOOMED"));
  EXPECT_EQ(RegOpenKey(RegRoot::LocalMachine, kBase + u"\\Doomed", kKeyRead), nullptr);
  EXPECT_EQ(RegOpenKey(RegRoot::LocalMachine, kBase + u"\\Doomed\\Child\\Grandchild", kKeyRead), nullptr);
  RegKey survivor = RegOpenKey(RegRoot::LocalMachine, kBase + u"\\Survivor", kKeyRead);
  EXPECT_NE(survivor, nullptr);
  RegCloseKey(survivor);

  // A key made again after deletion starts empty.
  RegKey fresh = Create(u"Doomed");
  uint32_t size = 4;
  EXPECT_FALSE(RegQueryValue(fresh, u"Value", nullptr, &n, &size));
  EXPECT_EQ(GetLastError(), kErrorFileNotFound);
  RegCloseKey(fresh);
}

TEST_F(RegistryContract, ClassesRootIsSeparateFromLocalMachine) {
  RegKey cls = RegCreateKey(RegRoot::ClassesRoot, u".qkcontract", kKeySetValue);
  ASSERT_NE(cls, nullptr);
  ASSERT_TRUE(RegSetValue(cls, u"", kRegSz, u"qkfile", 14));
  RegCloseKey(cls);
  EXPECT_EQ(RegOpenKey(RegRoot::LocalMachine, u".qkcontract", kKeyRead), nullptr);
  EXPECT_TRUE(RegDeleteKey(RegRoot::ClassesRoot, u".qkcontract"));
}

}  // namespace
