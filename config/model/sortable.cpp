#include "config/model/sortable.h"

#include <algorithm>

// Stable all the same: the listener orders the hardware buttons by the same
// comparison (ButtonTable::Buttons), and both must give equal names one order.
void SortItems(std::vector<SortableItem*>& items) {
  std::stable_sort(items.begin(), items.end(), [](const SortableItem* a, const SortableItem* b) {
    return a->Compare(*b) < 0;
  });
}
