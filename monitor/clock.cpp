/*
 * clock.cpp -- the monotonic and the wall clock (see clock.h).
 */
#include "clock.h"

#include <time.h>

namespace monitor {

int64_t NowNs() {
  struct timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return static_cast<int64_t>(t.tv_sec) * 1000000000 + t.tv_nsec;
}

int64_t WallMs() {
  struct timespec t;
  clock_gettime(CLOCK_REALTIME, &t);
  return static_cast<int64_t>(t.tv_sec) * 1000 + t.tv_nsec / kNsPerMs;
}

}  // namespace monitor
