#include "devicesim/cli/report.h"

#include <cstdio>
#include <ctime>

#include <nlohmann/json.hpp>

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

using Json = nlohmann::ordered_json;

// The stored fields (object members without their braces) as one object;
// null when they are not that.
Json Fields(const std::string& members) {
  Json fields = Json::parse("{" + members + "}", nullptr, false);
  return fields.is_object() ? fields : Json(nullptr);
}

std::string Dump(const Json& value) { return value.dump(-1, ' ', false, Json::error_handler_t::replace); }

// "vk":193,"up":false -> vk=193 up=false; texts in quotes, undecorated.
bool FieldsAsText(const std::string& members, std::string* out) {
  out->clear();
  Json fields = Fields(members);
  if (fields.is_null()) return false;
  for (const auto& [name, value] : fields.items()) {
    if (!out->empty()) *out += ' ';
    *out += name + "=" + (value.is_string() ? "\"" + value.get<std::string>() + "\"" : Dump(value));
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
  Json line = {{"t", entry.t_ms - origin_ms}, {"pid", entry.pid}, {"event", entry.event}};
  Json fields = Fields(entry.fields);
  if (!fields.is_null()) {
    for (const auto& [name, value] : fields.items()) line[name] = value;
    return Dump(line);
  }
  // Fields that do not read as members are kept as they are stored.
  std::string text = Dump(line);
  if (!entry.fields.empty()) text.insert(text.size() - 1, "," + entry.fields);
  return text;
}

}  // namespace devicesim
