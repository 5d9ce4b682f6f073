#include "config/model/item_codes.h"


namespace {
constexpr intptr_t kReservedFirst = 30000;
constexpr intptr_t kReservedCount = 2000;
}  // namespace

intptr_t CatalogueItemCode(size_t catalogue_index) {
  const auto code = static_cast<intptr_t>(catalogue_index);
  return code < kReservedFirst ? code : code + kReservedCount;
}

intptr_t SpecialActionItemCode(int action) { return kSpecialActionCodeBase + action; }

DecodedItem DecodeItemCode(intptr_t code) {
  if (code < 0) return {ItemKind::kUnknown, 0};
  if (code < kReservedFirst) return {ItemKind::kCatalogue, static_cast<size_t>(code)};
  if (code >= kReservedFirst + kReservedCount) {
    return {ItemKind::kCatalogue, static_cast<size_t>(code - kReservedCount)};
  }
  if (code == kOpenEntryCode) return {ItemKind::kOpenEntry, 0};
  const intptr_t action = code - kSpecialActionCodeBase;
  if (action < kSpecialActionCount) return {ItemKind::kSpecialAction, static_cast<size_t>(action)};
  return {ItemKind::kUnknown, 0};
}
