/* Stands in for TapdeckX in the key route timing: the moment it starts, it
   writes the CLOCK_MONOTONIC time in nanoseconds and its argument to the FIFO
   named by QK_MARK_FIFO, and ends. */
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <time.h>
#include <unistd.h>

int main(int argc, char** argv) {
  struct timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  const char* fifo = getenv("QK_MARK_FIFO");
  if (fifo == NULL) return 1;
  char line[64];
  const int length = snprintf(line, sizeof line, "%lld %s\n", (long long)now.tv_sec * 1000000000LL + now.tv_nsec,
                              argc > 1 ? argv[1] : "");
  const int fd = open(fifo, O_WRONLY | O_NONBLOCK);
  if (fd < 0) return 1;
  const int written = (int)write(fd, line, (size_t)length);
  close(fd);
  return written == length ? 0 : 1;
}
