// The assignment dump at the end of a run.
#pragma once

#include <cstddef>

// Writes the four assignments of every hardware button to the debug log.
void DumpAssignments(size_t button_count);
