// Items that sort themselves through one three-way comparison.
#pragma once

#include <cstddef>
#include <utility>
#include <vector>

class SortableItem {
 public:
  virtual ~SortableItem() = default;
  // Negative when this item goes before `other`, zero when either order will
  // do, positive when it goes after. Both items are of the same kind.
  virtual int Compare(const SortableItem& other) const = 0;

 protected:
  SortableItem() = default;
  SortableItem(const SortableItem&) = default;
  SortableItem& operator=(const SortableItem&) = default;
};

// Ascending by Compare. Not stable: items that compare equal may come in
// any order.
void SortItems(std::vector<SortableItem*>& items);

// Sorts a sequence of one kind of item in place, through SortItems.
template <typename Item>
void SortByCompare(std::vector<Item>& items) {
  std::vector<SortableItem*> order;
  order.reserve(items.size());
  for (Item& item : items) order.push_back(&item);
  SortItems(order);
  std::vector<Item> sorted;
  sorted.reserve(items.size());
  for (SortableItem* item : order) sorted.push_back(std::move(*static_cast<Item*>(item)));
  items = std::move(sorted);
}
