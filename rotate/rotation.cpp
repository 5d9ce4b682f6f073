#include "rotate/rotation.h"

#include "platform/platform.h"

namespace {

struct Step {
  uint32_t value;  // platform orientation value
  uint32_t bit;    // bit in the mask
};

constexpr Step kCycle[] = {
    {plat::kDmdo0, kMask0},
    {plat::kDmdo90, kMask90},
    {plat::kDmdo180, kMask180},
    {plat::kDmdo270, kMask270},
};
constexpr int kCycleLength = 4;

int PositionInCycle(uint32_t value) {
  for (int i = 0; i < kCycleLength; ++i) {
    if (kCycle[i].value == value) return i;
  }
  return 0;
}

bool IsSpace(char16_t c) { return c == u' ' || (c >= u'\t' && c <= u'\r'); }

}  // namespace

int32_t ParseCommandNumber(const std::u16string& command_line) {
  size_t i = 0;
  while (i < command_line.size() && IsSpace(command_line[i])) ++i;
  bool negative = false;
  if (i < command_line.size() && (command_line[i] == u'+' || command_line[i] == u'-')) {
    negative = command_line[i] == u'-';
    ++i;
  }
  const int64_t limit = negative ? 2147483648LL : 2147483647LL;
  int64_t value = 0;
  for (; i < command_line.size() && command_line[i] >= u'0' && command_line[i] <= u'9'; ++i) {
    if (value <= limit) value = value * 10 + (command_line[i] - u'0');
  }
  if (value > limit) value = limit;
  return static_cast<int32_t>(negative ? -value : value);
}

uint32_t MaskFromCommandLine(const std::u16string& command_line) {
  const uint32_t mask = static_cast<uint32_t>(ParseCommandNumber(command_line)) & 0xF;
  return mask == 0 ? kDefaultMask : mask;
}

uint32_t NextOrientation(uint32_t current, uint32_t mask) {
  if ((mask & 0xF) == 0) mask = kDefaultMask;
  const int start = PositionInCycle(current);
  for (int step = 1; step <= kCycleLength; ++step) {
    const Step& candidate = kCycle[(start + step) % kCycleLength];
    if ((mask & candidate.bit) != 0) return candidate.value;
  }
  return kCycle[start].value;  // unreachable: the mask has a bit set
}

void RotateDisplay(const std::u16string& command_line) {
  const uint32_t mask = MaskFromCommandLine(command_line);
  // A failed query leaves 0 degrees.
  uint32_t current = plat::kDmdo0;
  plat::QueryDisplayOrientation(&current);
  if (plat::SetDisplayOrientation(NextOrientation(current, mask)) != plat::kDispChangeSuccessful) {
    const std::u16string caption = u"Quadrakey";
    plat::MessageBox(u"Display rotation does not seem to be supported on this device", &caption,
                     plat::kMbOk | plat::kMbIconStop | plat::kMbTopmost);
  }
}
