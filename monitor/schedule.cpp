/*
 * schedule.cpp -- the heap of wake-up times behind one timer (see
 * schedule.h).
 */
#include "schedule.h"

#include <algorithm>
#include <limits>

namespace monitor {

namespace {

constexpr int64_t kNever = std::numeric_limits<int64_t>::max();

}  // namespace

Schedule::Schedule(int ids, Handler handler)
    : handler_(std::move(handler)), pending_(static_cast<size_t>(ids), kNever), armedAt_(kNever) {
  timer_.setSingleShot(true);
  timer_.setTimerType(Qt::PreciseTimer);
  connect(&timer_, &QTimer::timeout, this, [this] { fire(); });
}

void Schedule::wake(int id, int64_t atNs) {
  int64_t &pending = pending_[static_cast<size_t>(id)];
  if (pending <= atNs) return;
  pending = atNs;
  heap_.push_back(Entry{atNs, id});
  std::push_heap(heap_.begin(), heap_.end(), std::greater<Entry>());
  if (atNs < armedAt_ && !firing_) arm();
}

/* Wakes, in time order, every id whose time has come, then sets the
 * timer for the next. */
void Schedule::fire() {
  armedAt_ = kNever;
  firing_ = true;
  int64_t now = NowNs();
  while (!heap_.empty() && heap_.front().at <= now) {
    Entry e = heap_.front();
    std::pop_heap(heap_.begin(), heap_.end(), std::greater<Entry>());
    heap_.pop_back();
    int64_t &pending = pending_[static_cast<size_t>(e.id)];
    if (pending != e.at) continue;
    pending = kNever;
    handler_(e.id, now);
  }
  firing_ = false;
  arm();
}

/* Starts the timer for the earliest entry, rounded up to whole
 * milliseconds so that it never fires before that entry is due. */
void Schedule::arm() {
  if (heap_.empty()) return;
  int64_t at = heap_.front().at;
  int64_t wait = std::max<int64_t>(0, at - NowNs());
  armedAt_ = at;
  timer_.start(static_cast<int>((wait + kNsPerMs - 1) / kNsPerMs));
}

}  // namespace monitor
