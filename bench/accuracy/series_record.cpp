#include "bench/accuracy/series_record.h"

#include <charconv>
#include <sstream>

namespace accuracy {
namespace {

std::vector<std::string> Split(const std::string& text, char separator) {
  std::vector<std::string> parts;
  std::string part;
  std::istringstream stream(text);
  while (std::getline(stream, part, separator)) parts.push_back(part);
  return parts;
}

template <typename Number>
bool ParseNumber(const std::string& text, Number* value) {
  const char* end = text.data() + text.size();
  const auto [stop, error] = std::from_chars(text.data(), end, *value);
  return error == std::errc() && stop == end && !text.empty();
}

std::string FormatPresses(const std::vector<press_rule::PlayedPress>& presses) {
  std::string text;
  for (const press_rule::PlayedPress& press : presses)
    text += (text.empty() ? "" : ",") + std::to_string(press.down) + "-" + std::to_string(press.up);
  return text;
}

bool ParsePresses(const std::string& text, std::vector<press_rule::PlayedPress>* presses) {
  presses->clear();
  if (text.empty()) return true;
  for (const std::string& item : Split(text, ',')) {
    const size_t dash = item.find('-');
    press_rule::PlayedPress press{};
    if (dash == std::string::npos || !ParseNumber(item.substr(0, dash), &press.down) ||
        !ParseNumber(item.substr(dash + 1), &press.up) || press.up < press.down)
      return false;
    if (!presses->empty() && press.down < presses->back().up) return false;
    presses->push_back(press);
  }
  return true;
}

std::string FormatDispatches(const std::vector<Dispatch>& dispatches) {
  std::string text;
  for (const Dispatch& dispatch : dispatches)
    text += (text.empty() ? "" : ",") + std::string(SlotName(dispatch.slot)) + "@" + std::to_string(dispatch.at);
  return text;
}

bool ParseDispatches(const std::string& text, std::vector<Dispatch>* dispatches) {
  dispatches->clear();
  if (text.empty()) return true;
  for (const std::string& item : Split(text, ',')) {
    const size_t at = item.find('@');
    Dispatch dispatch;
    if (at == std::string::npos || !SlotFromName(item.substr(0, at), &dispatch.slot) ||
        !ParseNumber(item.substr(at + 1), &dispatch.at))
      return false;
    dispatches->push_back(dispatch);
  }
  return true;
}

// "name=value" with the name expected; the value in *value.
bool Field(const std::string& text, const char* name, std::string* value) {
  const std::string prefix = std::string(name) + "=";
  if (text.compare(0, prefix.size(), prefix) != 0) return false;
  *value = text.substr(prefix.size());
  return true;
}

bool Word(const std::string& text) {
  return !text.empty() && text.find_first_of("\t\n\r =") == std::string::npos;
}

}  // namespace

std::string FormatSeries(const SeriesRecord& record) {
  std::ostringstream line;
  line << "series\t" << record.path << '\t' << record.condition << '\t'
       << kPopulations[record.planned.population].name << '\t' << GestureName(record.planned.gesture) << '\t'
       << record.planned.index << "\tplanned=" << FormatPresses(record.planned.presses)
       << "\tplayed=" << FormatPresses(record.observed.presses)
       << "\tdispatched=" << FormatDispatches(record.observed.dispatches)
       << "\tcomplete=" << (record.observed.complete ? 1 : 0);
  return line.str();
}

std::string FormatRun(const RunRecord& record) {
  std::string line = "run\t" + record.path + "\t" + record.condition;
  for (const auto& [name, value] : record.values) line += "\t" + name + "=" + value;
  return line;
}

LineKind ParseLine(const std::string& line, SeriesRecord* series, RunRecord* run, std::string* error) {
  if (line.empty() || line[0] == '#') return LineKind::kNone;
  const std::vector<std::string> fields = Split(line, '\t');
  const auto bad = [&](const std::string& why) {
    *error = why;
    return LineKind::kBad;
  };
  if (fields[0] == "run") {
    if (fields.size() < 3 || !Word(fields[1]) || !Word(fields[2])) return bad("a run line names its path and condition");
    *run = RunRecord{fields[1], fields[2], {}};
    for (size_t i = 3; i < fields.size(); ++i) {
      const size_t equals = fields[i].find('=');
      if (equals == std::string::npos || equals == 0) return bad("'" + fields[i] + "' is not name=value");
      run->values.emplace_back(fields[i].substr(0, equals), fields[i].substr(equals + 1));
    }
    return LineKind::kRun;
  }
  if (fields[0] != "series") return bad("a line starts with 'series' or 'run'");
  if (fields.size() != 10) return bad("a series line has 10 fields, this one " + std::to_string(fields.size()));
  SeriesRecord record;
  record.path = fields[1];
  record.condition = fields[2];
  if (!Word(record.path) || !Word(record.condition)) return bad("a series line names its path and condition");
  record.planned.population = PopulationFromName(fields[3]);
  if (record.planned.population < 0) return bad("no population '" + fields[3] + "'");
  if (!GestureFromName(fields[4], &record.planned.gesture)) return bad("no gesture '" + fields[4] + "'");
  if (!ParseNumber(fields[5], &record.planned.index) || record.planned.index < 0)
    return bad("'" + fields[5] + "' is no series number");
  std::string value;
  if (!Field(fields[6], "planned", &value) || !ParsePresses(value, &record.planned.presses))
    return bad("'" + fields[6] + "' is not planned=DOWN-UP,...");
  if (!Field(fields[7], "played", &value) || !ParsePresses(value, &record.observed.presses))
    return bad("'" + fields[7] + "' is not played=DOWN-UP,...");
  if (!Field(fields[8], "dispatched", &value) || !ParseDispatches(value, &record.observed.dispatches))
    return bad("'" + fields[8] + "' is not dispatched=SLOT@MS,...");
  if (!Field(fields[9], "complete", &value) || (value != "0" && value != "1"))
    return bad("'" + fields[9] + "' is not complete=0 or 1");
  record.observed.complete = value == "1";
  *series = std::move(record);
  return LineKind::kSeries;
}

}  // namespace accuracy
