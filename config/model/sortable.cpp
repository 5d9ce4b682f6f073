#include "config/model/sortable.h"

#include <algorithm>

void SortItems(std::vector<SortableItem*>& items) {
  std::sort(items.begin(), items.end(), [](const SortableItem* a, const SortableItem* b) {
    return a->Compare(*b) < 0;
  });
}
