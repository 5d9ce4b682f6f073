// The journal expectations themselves: a check that passes a wrong journal
// would hide every fault the tests built on it look for.
#include "tests/support/journal_expect.h"

#include <gtest/gtest.h>

namespace {

using journal::Expected;

std::vector<journal::Entry> Sample() {
  return journal::Decode({
      {1, 1000, 42, "key", "\"vk\":33,\"up\":false,\"flags\":4"},
      {2, 1001, 42, "sip", "\"request\":0,\"shown\":true"},
      {3, 1002, 42, "key", "\"vk\":33,\"up\":true,\"flags\":6"},
      {4, 1003, 43, "message", "\"text\":\"a \\\"quoted\\\" \\\\ path\",\"caption\":\"Quadrakey\""},
  });
}

TEST(JournalExpect, DecodesStoredEntriesAndJsonLines) {
  const std::vector<journal::Entry> entries = Sample();
  ASSERT_EQ(entries.size(), 4u);
  EXPECT_EQ(entries[0].Int("vk"), 33);
  EXPECT_FALSE(entries[0].Flag("up"));
  EXPECT_TRUE(entries[2].Flag("up"));
  EXPECT_EQ(entries[3].Text("text"), "a \"quoted\" \\ path");
  EXPECT_EQ(entries[3].pid, 43);
  EXPECT_EQ(entries[0].Text("vk"), "") << "a number is no text";
  EXPECT_FALSE(entries[0].Has("text"));

  const std::vector<journal::Entry> lines = journal::FromJsonLines(
      "devicesim: a note\n{\"t\":12,\"pid\":7,\"event\":\"open\",\"file\":\"\\\\x.txt\",\"ok\":true}\n\n");
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0].t_ms, 12);
  EXPECT_EQ(lines[0].pid, 7);
  EXPECT_EQ(lines[0].event, "open");
  EXPECT_EQ(lines[0].Text("file"), "\\x.txt");
  EXPECT_FALSE(lines[0].Has("event")) << "the entry's own members are not fields";
}

TEST(JournalExpect, MatchesInOrderWithOptionalEntries) {
  const std::vector<journal::Entry> entries = Sample();
  EXPECT_TRUE(journal::Matches(entries, {{"key", {{"vk", 33}, {"up", false}}},
                                         {"sip"},
                                         {"key", {{"up", true}}},
                                         {"message", {{"text", "a \"quoted\" \\ path"}}}}));
  // Optional entries may be there or not, anywhere.
  EXPECT_TRUE(journal::Matches(entries, {journal::Optional({"beep"}), {"key"}, journal::Optional({"sip"}),
                                         {"key"}, {"message"}, journal::Optional({"beep"})}));
  EXPECT_TRUE(journal::Matches(journal::OfKind(entries, "key"), {{"key"}, {"key"}}));
  EXPECT_TRUE(journal::Matches({}, {journal::Optional({"key"})}));
}

TEST(JournalExpect, EveryDifferenceFailsAndShowsTheWholeJournal) {
  const std::vector<journal::Entry> entries = Sample();
  const ::testing::AssertionResult wrong_field =
      journal::Matches(entries, {{"key"}, {"sip", {{"shown", false}}}, {"key"}, {"message"}});
  EXPECT_FALSE(wrong_field);
  const std::string message = wrong_field.message();
  EXPECT_NE(message.find("entry 1 is sip {\"request\":0,\"shown\":true}"), std::string::npos) << message;
  EXPECT_NE(message.find("pid 43  message"), std::string::npos) << message;

  EXPECT_FALSE(journal::Matches(entries, {{"key"}, {"sip"}, {"key"}}));  // one left over
  EXPECT_FALSE(journal::Matches(entries, {{"key"}, {"sip"}, {"key"}, {"message"}, {"beep"}}));
  EXPECT_FALSE(journal::Matches(entries, {{"sip"}, {"key"}, {"key"}, {"message"}}));  // order
  EXPECT_FALSE(journal::Matches(entries, {{"key", {{"missing", 1}}}, {"sip"}, {"key"}, {"message"}}));
  EXPECT_FALSE(journal::Matches(entries, {{"key", {{"vk", "33"}}}, {"sip"}, {"key"}, {"message"}}))
      << "a number is not its text";

  // An entry whose fields are not JSON matches nothing and is shown raw.
  const std::vector<journal::Entry> broken = journal::Decode({{1, 0, 1, "key", "\"vk\":"}});
  const ::testing::AssertionResult result = journal::Matches(broken, {{"key", {{"vk", 1}}}});
  EXPECT_FALSE(result);
  EXPECT_NE(std::string(result.message()).find("(not JSON) {\"vk\":}"), std::string::npos) << result.message();
}

}  // namespace
