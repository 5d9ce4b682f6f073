// How devicesim shows what the device did and how it stands.
#pragma once

#include <cstdint>
#include <string>

#include "platform/host/device/device.h"

namespace devicesim {

// 0, 90, 180 or 270 for a platform orientation value, else -1.
int OrientationDegrees(uint32_t orientation);

// One journal line for people: time, pid, event, then the fields as
// name=value ("16:02:11.042  pid 4711  start  program="\Windows\x.exe" args="").
// With `relative`, the time is shown as milliseconds since `origin_ms`.
std::string FormatEntryText(const device::JournalEntry& entry, bool relative, int64_t origin_ms);
// One JSON object: {"t":ms,"pid":n,"event":"...",fields}; "t" is relative to
// `origin_ms` (pass 0 for the wall clock).
std::string FormatEntryJson(const device::JournalEntry& entry, int64_t origin_ms);

}  // namespace devicesim
