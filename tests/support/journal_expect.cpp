#include "tests/support/journal_expect.h"

#include <cstdio>
#include <sstream>

namespace journal {

namespace {

Entry DecodeOne(int64_t t_ms, int64_t pid, std::string event, const std::string& fields) {
  Entry entry;
  entry.t_ms = t_ms;
  entry.pid = pid;
  entry.event = std::move(event);
  entry.raw = fields;
  entry.fields = Json::parse("{" + fields + "}", nullptr, false);
  if (entry.fields.is_discarded()) entry.fields = nullptr;
  return entry;
}

bool FieldsMatch(const Expected& expected, const Entry& entry) {
  if (expected.event != entry.event) return false;
  if (expected.fields.is_null()) return true;
  if (!entry.fields.is_object()) return false;
  for (const auto& [name, value] : expected.fields.items()) {
    const auto found = entry.fields.find(name);
    if (found == entry.fields.end() || *found != value) return false;
  }
  return true;
}

std::string ShowExpected(const Expected& expected) {
  std::string text = expected.event;
  if (!expected.fields.is_null() && !expected.fields.empty()) text += " " + expected.fields.dump();
  return text;
}

std::string ShowEntry(const Entry& entry) {
  return entry.event + " " + (entry.fields.is_null() ? "(not JSON) {" + entry.raw + "}" : entry.fields.dump());
}

std::string DescribeExpected(const std::vector<Expected>& expected) {
  std::string text;
  for (size_t i = 0; i < expected.size(); ++i) {
    char index[32];
    std::snprintf(index, sizeof index, "%4zu%c ", i, expected[i].optional ? '?' : ' ');
    text += index + ShowExpected(expected[i]) + "\n";
  }
  return text;
}

}  // namespace

bool Entry::Has(const std::string& name) const { return fields.is_object() && fields.contains(name); }

int64_t Entry::Int(const std::string& name) const {
  if (!Has(name) || !fields[name].is_number_integer()) return 0;
  return fields[name].get<int64_t>();
}

std::string Entry::Text(const std::string& name) const {
  if (!Has(name) || !fields[name].is_string()) return "";
  return fields[name].get<std::string>();
}

bool Entry::Flag(const std::string& name) const {
  return Has(name) && fields[name].is_boolean() && fields[name].get<bool>();
}

std::vector<Entry> Decode(const std::vector<device::JournalEntry>& entries) {
  std::vector<Entry> decoded;
  decoded.reserve(entries.size());
  for (const device::JournalEntry& entry : entries)
    decoded.push_back(DecodeOne(entry.t_ms, entry.pid, entry.event, entry.fields));
  return decoded;
}

std::vector<Entry> FromJsonLines(const std::string& text) {
  std::vector<Entry> entries;
  std::istringstream lines(text);
  for (std::string line; std::getline(lines, line);) {
    if (line.empty() || line[0] != '{') continue;
    Json object = Json::parse(line, nullptr, false);
    Entry entry;
    entry.raw = line;
    if (object.is_discarded() || !object.is_object()) {
      entry.fields = nullptr;
      entries.push_back(entry);
      continue;
    }
    if (object.contains("t") && object["t"].is_number_integer()) entry.t_ms = object["t"].get<int64_t>();
    if (object.contains("pid") && object["pid"].is_number_integer()) entry.pid = object["pid"].get<int64_t>();
    if (object.contains("event") && object["event"].is_string()) entry.event = object["event"].get<std::string>();
    object.erase("t");
    object.erase("pid");
    object.erase("event");
    entry.fields = object;
    entries.push_back(entry);
  }
  return entries;
}

std::vector<Entry> OfKind(const std::vector<Entry>& entries, std::initializer_list<const char*> events) {
  std::vector<Entry> found;
  for (const Entry& entry : entries) {
    for (const char* event : events) {
      if (entry.event == event) {
        found.push_back(entry);
        break;
      }
    }
  }
  return found;
}

Expected Optional(Expected expected) {
  expected.optional = true;
  return expected;
}

std::string Describe(const std::vector<Entry>& entries) {
  std::string text;
  for (size_t i = 0; i < entries.size(); ++i) {
    char head[96];
    std::snprintf(head, sizeof head, "%4zu  t=%lld  pid %lld  ", i, static_cast<long long>(entries[i].t_ms),
                  static_cast<long long>(entries[i].pid));
    text += head + ShowEntry(entries[i]) + "\n";
  }
  return text.empty() ? "  (empty)\n" : text;
}

::testing::AssertionResult Matches(const std::vector<Entry>& entries,
                                   const std::vector<Expected>& expected) {
  size_t a = 0, e = 0;
  std::string problem;
  while (a < entries.size() && e < expected.size()) {
    if (FieldsMatch(expected[e], entries[a])) {
      ++a;
      ++e;
    } else if (expected[e].optional) {
      ++e;
    } else {
      problem = "entry " + std::to_string(a) + " is " + ShowEntry(entries[a]) + ", expected " +
                std::to_string(e) + " is " + ShowExpected(expected[e]);
      break;
    }
  }
  if (problem.empty()) {
    while (e < expected.size() && expected[e].optional) ++e;
    if (e < expected.size()) {
      problem = "the journal ends before expected " + std::to_string(e) + ", " + ShowExpected(expected[e]);
    } else if (a < entries.size()) {
      problem = "entry " + std::to_string(a) + ", " + ShowEntry(entries[a]) + ", was not expected";
    }
  }
  if (problem.empty()) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << "the journal does not match: " << problem
                                       << "\nexpected (? may be missing):\n"
                                       << DescribeExpected(expected) << "journal ("
                                       << entries.size() << " entries):\n"
                                       << Describe(entries);
}

}  // namespace journal
