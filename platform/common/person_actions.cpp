// Lookups in the table of a person's actions (platform/person.h).
#include "platform/person.h"

namespace plat::person {

static_assert(sizeof kActionSpecs / sizeof kActionSpecs[0] > 0, "at least one action");

const ActionSpec& SpecOf(ActionKind kind) {
  for (const ActionSpec& spec : kActionSpecs)
    if (spec.kind == kind) return spec;
  return kActionSpecs[0];  // every kind has its row: the table makes both
}

const ActionSpec* FindAction(const std::string& verb) {
  for (const ActionSpec& spec : kActionSpecs)
    if (verb == spec.verb) return &spec;
  return nullptr;
}

const char* ArgWord(ActionArg arg) {
  switch (arg) {
    case ActionArg::kNone: return "";
    case ActionArg::kControl: return "ID";
    case ActionArg::kLine: return "LINE";
    case ActionArg::kPosition: return "POSITION";
    case ActionArg::kTitle: return "TITLE";
    case ActionArg::kPath: return "PATH";
    case ActionArg::kText: return "TEXT";
  }
  return "";
}

const char* ArgField(ActionArg arg) {
  switch (arg) {
    case ActionArg::kNone: return "";
    case ActionArg::kControl: return "id";
    case ActionArg::kLine: return "line";
    case ActionArg::kPosition: return "pos";
    case ActionArg::kTitle: return "title";
    case ActionArg::kPath: return "path";
    case ActionArg::kText: return "text";
  }
  return "";
}

std::string AllVerbs() {
  std::string verbs;
  for (const ActionSpec& spec : kActionSpecs) verbs += (verbs.empty() ? "" : ", ") + std::string(spec.verb);
  return verbs;
}

}  // namespace plat::person
