/*
 * clock.h -- the monitor's two clocks: the monotonic one, in nanoseconds,
 * for round trips, timeouts and the schedule; the wall clock, in
 * milliseconds since 1970 (UTC), for the time of each row and log line.
 */
#ifndef QUENTA_MONITOR_CLOCK_H
#define QUENTA_MONITOR_CLOCK_H

#include <stdint.h>

namespace monitor {

constexpr int64_t kNsPerMs = 1000000;

/* Nanoseconds of the monotonic clock. */
int64_t NowNs();

/* Milliseconds of the wall clock since 1970-01-01 UTC. */
int64_t WallMs();

}  // namespace monitor

#endif
