/*
 * metrics.h -- what the monitor counts, per chamber and in all, and the
 * Prometheus text exposition of it, served over HTTP at /metrics.
 *
 * Metric names (all gauges and counters per chamber carry the label
 * chamber; units are seconds):
 *   quenta_chamber_up                      1 answered the last command, 0 not (label address too)
 *   quenta_chamber_actual_value            per channel, from the last answer that had it
 *   quenta_chamber_set_value               per channel
 *   quenta_chamber_value                   every other number decoded (labels name, channel)
 *   quenta_chamber_last_answer_age_seconds since the last answer (absent before the first)
 *   quenta_chamber_round_trip_seconds      histogram, command written to answer complete
 *   quenta_chamber_commands_total, _answers_total, _invalid_answers_total,
 *   _incomplete_answers_total, _timeouts_total, _refusals_total, _closes_total,
 *   _reconnects_total, _skipped_total, _discarded_bytes_total
 *   quenta_monitor_poll_start_delay_seconds histogram, start of a poll after its due time
 *   quenta_monitor_csv_rows_total (rows synced to the disk),
 *   quenta_monitor_csv_rows_dropped_total (rows lost), quenta_monitor_csv_rows_waiting,
 *   quenta_monitor_csv_bytes_waiting (rows in memory, not yet synced),
 *   quenta_monitor_csv_write_errors_total, quenta_monitor_csv_syncs_total,
 *   quenta_monitor_csv_sync_errors_total, quenta_monitor_csv_reopens_total
 */
#ifndef QUENTA_MONITOR_METRICS_H
#define QUENTA_MONITOR_METRICS_H

#include <stdint.h>

#include <QByteArray>
#include <string>
#include <vector>

#include "values.h"

namespace monitor {

/* Upper bounds, in seconds, of the histogram buckets (+Inf follows). */
constexpr double kBucketBounds[] = {0.0005, 0.001, 0.002, 0.005, 0.01, 0.02, 0.05,
                                    0.1,    0.2,   0.5,   1,     2,    5};
constexpr int kBucketCount = sizeof kBucketBounds / sizeof kBucketBounds[0];

struct Histogram {
  uint64_t bucket[kBucketCount + 1] = {};  /* not cumulative; the last is above every bound */
  uint64_t count = 0;
  double sum = 0;

  void add(double seconds);
};

/* Latencies to 0.1 ms up to 10 s, for the percentiles of the summary
 * printed at the end of a run. */
class Percentiles {
 public:
  Percentiles();
  void add(int64_t ns);
  /* The smallest latency, in ms, that q (0 to 1) of all lie at or below;
   * 0 when none was added. */
  double quantileMs(double q) const;
  double maxMs() const { return maxNs_ / 1e6; }
  uint64_t count() const { return count_; }

 private:
  std::vector<uint32_t> bins_;
  uint64_t count_ = 0;
  int64_t maxNs_ = 0;
};

constexpr int kKeptValuesMax = 32;   /* numbers kept per chamber for the metrics */
constexpr int kValueNameSize = 32;

struct KeptValue {
  char name[kValueNameSize];
  char channel;
  double number;
};

struct ChamberStats {
  QByteArray name;        /* label values, UTF-8 */
  QByteArray address;
  bool up = false;
  int64_t sinceMs = 0;        /* wall clock: when up last changed, else the poller's start */
  int64_t lastAnswerNs = -1;  /* monotonic; -1 before the first answer */
  uint64_t commands = 0, answers = 0, invalid = 0, timeouts = 0, refusals = 0, closes = 0,
           incomplete = 0, reconnects = 0, skipped = 0, discardedBytes = 0;
  Histogram roundTrip;
  KeptValue kept[kKeptValuesMax];
  int keptCount = 0;

  /* Keeps each number of values under its name and channel, replacing the
   * one kept before; numbers beyond kKeptValuesMax names are dropped. */
  void keep(const AnswerValues &values);
};

/* What the CSV file's writer (csv_log.h) has done since it was opened.
 * Every row handed to it is synced, waiting or lost: synced + waitingRows
 * + lost is the count of rows handed over. */
struct CsvCounts {
  uint64_t synced = 0;       /* rows written and synced to the disk */
  uint64_t lost = 0;         /* rows given up: beyond --queue-limit, or not on the disk at the end */
  uint64_t waitingRows = 0;  /* rows in memory: written and waiting for their sync, or waiting for room */
  uint64_t waitingBytes = 0; /* their bytes, bounded by --queue-limit */
  uint64_t writeErrors = 0;  /* writes the file refused (a full disk) */
  uint64_t syncs = 0, syncErrors = 0;
  uint64_t reopens = 0;      /* the file opened again: deleted, renamed, SIGHUP, a failed sync */
  bool failed = false;       /* given up for good: its syncs kept failing */
};

struct MonitorStats {
  Histogram startDelay;
  CsvCounts csv;
};

/* The content type of the exposition below. */
constexpr char kMetricsContentType[] = "text/plain; version=0.0.4; charset=utf-8";

/* Appends the exposition of everything to out (Prometheus text format
 * 0.0.4). nowNs: the monotonic time the ages are measured to. */
void RenderMetrics(const std::vector<ChamberStats> &chambers, const MonitorStats &monitor,
                   int64_t nowNs, std::string &out);

/* Appends text as a label value: backslash, double quote and line feed
 * escaped; a byte that is not part of valid UTF-8 becomes U+FFFD, so that
 * no chamber can make the page unreadable for Prometheus. */
void AppendLabelValue(const QByteArray &text, std::string &out);

/* The length of the valid UTF-8 sequence at text (n > 0 bytes left), 0
 * when there is none: a byte that starts no sequence, a sequence cut
 * short, an overlong form, a surrogate or a code point beyond U+10FFFF. */
int Utf8Length(const unsigned char *text, size_t n);

}  // namespace monitor

#endif
