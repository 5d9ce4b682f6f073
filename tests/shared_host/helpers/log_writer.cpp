// Logs many long lines, so that two copies running at once would tear each
// other's lines apart without the log mutex. Command line: "<tag> <count>".
#include <string>

#include "platform/platform.h"
#include "shared/debuglog.h"
#include "shared/text.h"

int DeviceMain(const std::u16string& command_line) {
  if (command_line.size() < 3) return 2;
  const std::u16string tag = command_line.substr(0, 1);
  const int32_t count = TextToLong(command_line.substr(2));
  // Longer than a stream buffer: a line is then more than one write.
  const std::u16string filler(10000, tag[0]);
  SetLogFile(u"\\shared.log");
  SetLogFlush(true);
  EnableLog(true);
  for (int32_t i = 0; i < count; ++i) LogFormat(u"%s %ld %s\n", false, tag, i, filler);
  return 0;
}
