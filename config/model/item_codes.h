// Item codes of the press combo boxes' lines: what each line stands for.
//
//   catalogue index k        k, or k + 2000 from 30000 on
//   special action i (0-13)  30000 + i
//   the "Open: " line        31000
//
// Codes 30000 to 31999 are reserved, so a Start Menu of 30,000 shortcuts or
// more never makes a catalogue line act as a special action.
#pragma once

#include <cstddef>
#include <cstdint>

#include "shared/special_actions.h"

constexpr intptr_t kSpecialActionCodeBase = 30000;
constexpr intptr_t kRotateScreenCode =
    kSpecialActionCodeBase + static_cast<int>(SpecialAction::kRotateScreen);
constexpr intptr_t kOpenFileCode = kSpecialActionCodeBase + static_cast<int>(SpecialAction::kOpenFile);
constexpr intptr_t kOpenEntryCode = 31000;

enum class ItemKind { kCatalogue, kSpecialAction, kOpenEntry, kUnknown };

struct DecodedItem {
  ItemKind kind;
  size_t index;  // the catalogue index or the special action; 0 otherwise
};

intptr_t CatalogueItemCode(size_t catalogue_index);
intptr_t SpecialActionItemCode(int action);
// kUnknown for negative codes and for reserved codes that stand for nothing.
DecodedItem DecodeItemCode(intptr_t code);
