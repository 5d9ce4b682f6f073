// What the emulated device journalled, decoded, and checked against an
// expected sequence of events: each expected entry names its event and the
// fields that matter (the others are not looked at); an optional entry may
// be missing; anything else out of place is a failure that prints the whole
// journal. Reads the journal in-process (unit tests) or from devicesim's
// --json output (end-to-end tests). Host build only.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <initializer_list>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "platform/host/device/device.h"

namespace journal {

using Json = nlohmann::ordered_json;  // members print in journal order

struct Entry {
  int64_t t_ms = 0;  // wall clock, or relative to a series' first key down
  int64_t pid = 0;
  std::string event;
  Json fields = Json::object();  // null when the entry was not valid JSON
  std::string raw;               // the fields as stored, for the printout

  bool Has(const std::string& name) const;
  // The field's value; 0, "" or false when it is missing or of another kind.
  int64_t Int(const std::string& name) const;
  std::string Text(const std::string& name) const;
  bool Flag(const std::string& name) const;
};

std::vector<Entry> Decode(const std::vector<device::JournalEntry>& entries);
// The entries this process can read in the current device after `after_id`.
inline std::vector<Entry> Read(int64_t after_id = 0) { return Decode(device::ReadJournal(after_id)); }
// devicesim's "journal --json" or "series --json" output; lines that are not
// JSON objects are skipped.
std::vector<Entry> FromJsonLines(const std::string& text);

// The entries whose event is one of `events`, in journal order.
std::vector<Entry> OfKind(const std::vector<Entry>& entries, std::initializer_list<const char*> events);
inline std::vector<Entry> OfKind(const std::vector<Entry>& entries, const char* event) {
  return OfKind(entries, {event});
}

struct Expected {
  std::string event;
  // Members that the entry must have with exactly these values; null or an
  // empty object checks none.
  Json fields = Json::object();
  bool optional = false;
};
// The same expectation, allowed to be missing.
Expected Optional(Expected expected);

// One line per entry: index, time, pid, event and its fields decoded.
std::string Describe(const std::vector<Entry>& entries);

// Success when `entries` are the expected ones in order, every required
// entry present and nothing left over. On failure, the first difference,
// the expected sequence and the whole journal.
::testing::AssertionResult Matches(const std::vector<Entry>& entries,
                                   const std::vector<Expected>& expected);

}  // namespace journal
