/*
 * history.h -- the chambers' analogue channels in memory, for the pages'
 * trends (docs/api.md, /api/v1/series), and the trend itself: buckets of
 * one size, each with the smallest and largest actual value and the last
 * set value per channel of the answered polls in it, and the outages.
 *
 * Per chamber, History keeps every answered poll's actual and set values
 * (Aa, A0...) as such buckets in three rings: 1 s buckets for the last 10
 * minutes, 10 s buckets for the last 2 hours, 1 min buckets for the last
 * day; and the outages, the intervals from a command that failed (no
 * connection, no answer, a wrong one) to the next one answered, polls
 * skipped meanwhile within them (the last kOutagesKept). A bucket of the trend is
 * a whole number of one ring's buckets, so a trend from memory is what the
 * CSV rows of the same window give. Memory per chamber: HistoryBytes().
 *
 * Values are kept in tenths, in 16 bits: the protocol's values have one
 * decimal. A chamber that answers one that does not fit (more decimals,
 * beyond 3,276.7) is no longer kept: its trends come from the CSV file.
 *
 * Added to on the event loop, read by the HTTP workers: one mutex.
 */
#ifndef QUENTA_MONITOR_HISTORY_H
#define QUENTA_MONITOR_HISTORY_H

#include <stdint.h>

#include <mutex>
#include <utility>
#include <vector>

#include "rows.h"

namespace monitor {

constexpr int kTrendChannels = 5;
constexpr int64_t kNoTime = INT64_MAX;

struct TrendBucket {
  double min[kTrendChannels], max[kTrendChannels], set[kTrendChannels];  /* NaN: none */
  bool any = false;
};

/* The buckets of bucketMs from from to to (both multiples of bucketMs), and
 * the outages in the window, each clipped to it. */
class Trend {
 public:
  Trend(int64_t from, int64_t to, int64_t bucketMs);

  /* The actual (isSet false) or set value of channel at time t; nothing
   * outside the window. Values must come in time order within a bucket. */
  void value(int64_t t, int channel, bool isSet, double v);
  /* A result at time t, answered or failed (not skipped), read in order:
   * outages begin and end. */
  void answered(int64_t t, bool yes);
  /* Ends an outage going on at time t. */
  void endOutage(int64_t t);
  /* An outage from begin to end, clipped to the window. */
  void outage(int64_t begin, int64_t end);
  /* Sorts the outages and joins those that touch. */
  void finish();

  int64_t from, to, bucketMs;
  std::vector<TrendBucket> buckets;  /* one per bucket of the window */
  std::vector<std::pair<int64_t, int64_t>> outages;

 private:
  int64_t open_ = -1;  /* start of the outage going on while reading rows */
};

class History {
 public:
  /* For count chambers, from startMs (ms since 1970) on. */
  History(int count, int64_t startMs);
  ~History();

  /* A poller's result (on the loop): its values and whether it was answered. */
  void add(const CommandResult &r);

  /* The earliest time from which chamber's trend at bucketMs is whole in
   * memory; kNoTime when it is not (no ring's bucket divides bucketMs, or
   * the chamber is no longer kept). */
  int64_t coveredFrom(int chamber, int64_t bucketMs) const;

  /* Fills trend for chamber from memory from coveredFrom() (rounded up to
   * a bucket) to its end, outages going on ending at nowMs; returns that
   * time, trend.to when memory holds none of it. */
  int64_t fill(int chamber, Trend &trend, int64_t nowMs) const;

  struct Chamber;

 private:
  std::vector<Chamber> chambers_;
  int64_t startMs_;
  mutable std::mutex mutex_;
};

/* The bytes History keeps per chamber, outages aside (at most
 * kOutagesKept of 16 bytes each). */
size_t HistoryBytes();
constexpr int kOutagesKept = 256;

}  // namespace monitor

#endif
