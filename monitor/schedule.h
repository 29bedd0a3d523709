/*
 * schedule.h -- one timer for every chamber: each chamber asks to be woken
 * at a time, the times wait in a heap, and one precise single-shot QTimer
 * fires for the earliest. A thousand chambers polled every second cost a
 * thousand heap operations a second, not a thousand timers.
 *
 * Each id has at most one wake-up that counts: the earliest asked for.
 * Asking for a later one while an earlier waits changes nothing, since the
 * woken handler asks again for whatever it needs next.
 */
#ifndef QUENTA_MONITOR_SCHEDULE_H
#define QUENTA_MONITOR_SCHEDULE_H

#include <stdint.h>

#include <QObject>
#include <QTimer>
#include <functional>
#include <vector>

#include "clock.h"

namespace monitor {

class Schedule : public QObject {
 public:
  /* handler(id, nowNs) runs on the event loop for each id whose time came. */
  using Handler = std::function<void(int id, int64_t nowNs)>;

  Schedule(int ids, Handler handler);

  /* Wakes id at atNs (monotonic) or as soon after as the loop allows,
   * unless it is to be woken earlier already. ids count from 0. */
  void wake(int id, int64_t atNs);

 private:
  struct Entry {
    int64_t at;
    int id;
    bool operator>(const Entry &o) const { return at > o.at; }
  };

  void fire();
  void arm();

  Handler handler_;
  std::vector<Entry> heap_;      /* min-heap by time; stale entries are skipped */
  std::vector<int64_t> pending_; /* per id: the time of its wake-up that counts */
  QTimer timer_;
  int64_t armedAt_;
  bool firing_ = false;          /* fire() sets the timer once at its end */
};

}  // namespace monitor

#endif
