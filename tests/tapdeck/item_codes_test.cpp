// Item codes of the press combo boxes, at the edges of the reserved range.
#include "config/model/item_codes.h"

#include <gtest/gtest.h>

namespace {

TEST(ItemCodes, CatalogueIndexesStepOverTheReservedRange) {
  EXPECT_EQ(CatalogueItemCode(0), 0);
  EXPECT_EQ(CatalogueItemCode(29999), 29999);
  EXPECT_EQ(CatalogueItemCode(30000), 32000);
  EXPECT_EQ(CatalogueItemCode(30004), 32004);
  EXPECT_EQ(CatalogueItemCode(31000), 33000);
  for (size_t index : {size_t{0}, size_t{1}, size_t{29999}, size_t{30000}, size_t{30011}, size_t{31000},
                       size_t{31999}, size_t{32000}, size_t{100000}}) {
    const DecodedItem item = DecodeItemCode(CatalogueItemCode(index));
    EXPECT_EQ(item.kind, ItemKind::kCatalogue) << index;
    EXPECT_EQ(item.index, index);
  }
}

TEST(ItemCodes, ReservedCodesKeepTheirMeaning) {
  for (int action = 0; action < 14; ++action) {
    EXPECT_EQ(SpecialActionItemCode(action), 30000 + action);
    const DecodedItem item = DecodeItemCode(30000 + action);
    EXPECT_EQ(item.kind, ItemKind::kSpecialAction);
    EXPECT_EQ(item.index, static_cast<size_t>(action));
  }
  EXPECT_EQ(kRotateScreenCode, SpecialActionItemCode(4));
  EXPECT_EQ(kOpenFileCode, SpecialActionItemCode(11));
  EXPECT_EQ(DecodeItemCode(31000).kind, ItemKind::kOpenEntry);

  // Reserved codes that name nothing, and codes no line carries.
  for (intptr_t code : {intptr_t{30014}, intptr_t{30999}, intptr_t{31001}, intptr_t{31999}, intptr_t{-1}})
    EXPECT_EQ(DecodeItemCode(code).kind, ItemKind::kUnknown) << code;
  EXPECT_EQ(DecodeItemCode(29999).kind, ItemKind::kCatalogue);
  EXPECT_EQ(DecodeItemCode(32000).kind, ItemKind::kCatalogue);
  EXPECT_EQ(DecodeItemCode(32000).index, 30000u);
}

}  // namespace
