// The registry-file text format on its own: data that only a raw form keeps,
// and files that only some editors write.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>

#include "devicesim/cli/regfile.h"

namespace {

using devicesim::FormatValue;
using devicesim::ParseRegFile;
using devicesim::RegOperation;

const std::string kHeader = "Windows Registry Editor Version 5.00\n\n[HKEY_LOCAL_MACHINE\\K]\n";

std::vector<RegOperation> Parse(const std::string& text) {
  std::vector<RegOperation> operations;
  std::string error;
  EXPECT_TRUE(ParseRegFile(text, &operations, &error)) << error;
  return operations;
}

TEST(RegFile, DataThatPlainFormsWouldChangeRoundTripsThroughHex) {
  const std::vector<device::RegValue> values = {
      {u"NoZero", plat::kRegSz, std::string("A\0B\0", 4)},
      {u"Inner", plat::kRegSz, std::string("A\0\0\0B\0\0\0", 8)},
      {u"Odd", plat::kRegSz, std::string("A\0\0", 3)},
      {u"Lone", plat::kRegSz, std::string("\x00\xD8\0\0", 4)},
      {u"Short", plat::kRegDword, std::string("\x01\x02\x03", 3)},
      {u"Empty", plat::kRegSz, std::string()},
      {u"", plat::kRegSz, std::string("x\0\0\0", 4)},
      {u"Word", plat::kRegDword, std::string("\x2c\x01\0\0", 4)},
  };
  std::string file = kHeader;
  for (const auto& value : values) file += FormatValue(value) + "\n";
  EXPECT_NE(file.find("\"NoZero\"=hex(1):41,00,42,00\n"), std::string::npos) << file;
  EXPECT_NE(file.find("\"Short\"=hex(4):01,02,03\n"), std::string::npos) << file;
  EXPECT_NE(file.find("@=\"x\"\n"), std::string::npos) << file;
  EXPECT_NE(file.find("\"Word\"=dword:0000012c\n"), std::string::npos) << file;

  std::vector<RegOperation> operations = Parse(file);
  ASSERT_EQ(operations.size(), values.size() + 1);
  for (size_t i = 0; i < values.size(); ++i) {
    const RegOperation& op = operations[i + 1];
    EXPECT_EQ(op.kind, RegOperation::kSetValue);
    EXPECT_EQ(op.name, values[i].name);
    EXPECT_EQ(op.type, values[i].type) << i;
    EXPECT_EQ(op.data, values[i].data) << i;
  }
}

TEST(RegFile, LongValueOverManyContinuedLinesComesBackWhole) {
  // 1.5 MB, as an export writes it: some 60,000 lines ending in '\'.
  device::RegValue value{u"Blob", plat::kRegBinary, std::string()};
  for (size_t i = 0; i < 1536 * 1024; ++i) value.data += static_cast<char>(i % 251);
  const std::string file = kHeader + FormatValue(value) + "\r\n";
  ASSERT_GT(std::count(file.begin(), file.end(), '\n'), 50000);

  const auto start = std::chrono::steady_clock::now();
  std::vector<RegOperation> operations = Parse(file);
  const auto seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  ASSERT_EQ(operations.size(), 2u);
  EXPECT_EQ(operations[1].data, value.data);
  // Not a timing: joining the lines anew for each one took minutes here, a
  // single pass takes a fraction of a second.
  EXPECT_LT(seconds, 20.0);
}

TEST(RegFile, AcceptsWhatOtherEditorsWrite) {
  // An old 8-bit file: Latin-1 text, blanks around '=', upper-case hex words,
  // a comma before the end and '#' comments.
  std::vector<RegOperation> operations = Parse(
      "REGEDIT4\n\n# old style\n[HKEY_CLASSES_ROOT\\.txt]  \n"
      "\"Caf\xE9\" = \"na\xEFve\"\n\"N\"=DWORD:ff\n\"B\"=HEX:0A, 0b ,\n");
  ASSERT_EQ(operations.size(), 4u);
  EXPECT_EQ(operations[0].root, plat::RegRoot::ClassesRoot);
  EXPECT_EQ(operations[0].path, u".txt");
  EXPECT_EQ(operations[1].name, u"Caf\u00E9");
  EXPECT_EQ(operations[1].data, std::string("n\0a\0\xEF\0v\0e\0\0\0", 12));
  EXPECT_EQ(operations[2].data, std::string("\xFF\0\0\0", 4));
  EXPECT_EQ(operations[3].data, "\x0A\x0B");
}

TEST(RegFile, CommentsMayFollowKeysAndData) {
  std::vector<RegOperation> operations = Parse(
      "Windows Registry Editor Version 5.00\n\n[HKEY_LOCAL_MACHINE\\K] ; the key\n"
      "\"s\"=\"a;b\" ; not part of the text\n\"n\"=dword:0000000a ;ten\n"
      "\"h\"=hex:01,\\\n  02 ; two bytes\n\"gone\"=- ; deleted\n");
  ASSERT_EQ(operations.size(), 5u);
  EXPECT_EQ(operations[0].path, u"K");
  EXPECT_EQ(operations[1].data, std::string("a\0;\0b\0\0\0", 8));
  EXPECT_EQ(operations[2].data, std::string("\x0a\0\0\0", 4));
  EXPECT_EQ(operations[3].data, "\x01\x02");
  EXPECT_EQ(operations[4].kind, RegOperation::kDeleteValue);
}

TEST(RegFile, RefusesWhatCannotBeAppliedExactly) {
  const std::vector<std::string> bad = {
      "",
      "\xFF\xFE\x57",  // UTF-16 with an odd byte count
      kHeader + "\"a\"=dword:123456789\n",
      kHeader + "\"a\"=hex(0):\n",
      kHeader + "\"a\"=hex(b):00,00,00,00,00,00,00,00\n",
      kHeader + "\"a\"=hex:100\n",
      kHeader + "\"a\"=hex:01,,02\n",
      kHeader + "\"a\"=\"b\" trailing\n",
      kHeader + "\"a\"=dword:12 34\n",
      kHeader + "[HKEY_LOCAL_MACHINE\\L] trailing\n",
      kHeader + "[-HKEY_LOCAL_MACHINE]\n",
      kHeader + "[-HKEY_LOCAL_MACHINE\\K]\n\"a\"=\"b\"\n",
  };
  for (const std::string& text : bad) {
    std::vector<RegOperation> operations;
    std::string error;
    EXPECT_FALSE(ParseRegFile(text, &operations, &error)) << text;
    EXPECT_FALSE(error.empty());
  }
}

}  // namespace
