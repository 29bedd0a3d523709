/*
 * stability.h -- when a channel is stable: its actual value within a band
 * of its set value, and its drift (largest minus smallest actual value)
 * over a window of time no more than a limit, judged on the samples of a
 * whole window. Used by the runs' wait_stable steps and by
 * "quenta-monitor wait-stable".
 *
 * A sample that is missing (the chamber did not answer) breaks the
 * window: stability is judged only on an unbroken run of answers that
 * spans the whole window, so that an outage never passes for stability.
 */
#ifndef QUENTA_MONITOR_STABILITY_H
#define QUENTA_MONITOR_STABILITY_H

#include <stdint.h>

#include <deque>

namespace monitor {

/* True when difference, of values as a chamber answers them (in tenths),
 * is no more than limit as it is in decimal: in binary 40.2 - 39.9 is
 * 0.30000000000000426, which a plain <= 0.3 would call more. */
inline bool AtMost(double difference, double limit) { return difference <= limit + 1e-9; }

class StableWindow {
 public:
  /* band: |actual - set| allowed; windowMs: the span judged; drift: the
   * largest max - min of the actual value over it. */
  StableWindow(double band, int64_t windowMs, double drift)
      : band_(band), windowMs_(windowMs), drift_(drift) {}

  /* A sample at atMs (any monotonic milliseconds, rising). */
  void add(int64_t atMs, double actual, double set);
  /* The chamber did not answer at atMs: the window starts again. */
  void miss();

  /* True when the samples span at least the window, every one of them in
   * the band, and their drift is within the limit. */
  bool stable() const;

  /* The drift over the samples kept (0 with fewer than two). */
  double drift() const;

 private:
  struct Sample {
    int64_t atMs;
    double actual;
    bool inBand;
  };
  double band_;
  int64_t windowMs_;
  double drift_;
  std::deque<Sample> samples_;  /* those within windowMs_ of the newest, and the one before */
};

}  // namespace monitor

#endif
