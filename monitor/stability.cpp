/*
 * stability.cpp -- the window of samples behind StableWindow (see
 * stability.h).
 */
#include "stability.h"

#include <algorithm>
#include <cmath>

namespace monitor {

void StableWindow::add(int64_t atMs, double actual, double set) {
  samples_.push_back(Sample{atMs, actual, AtMost(std::fabs(actual - set), band_)});
  /* Keep one sample at or before the window's start, so that the samples
   * kept always span the whole window once they can. */
  while (samples_.size() > 2 && samples_[1].atMs <= atMs - windowMs_) samples_.pop_front();
}

void StableWindow::miss() { samples_.clear(); }

bool StableWindow::stable() const {
  if (samples_.empty() || samples_.back().atMs - samples_.front().atMs < windowMs_) return false;
  for (const Sample &s : samples_)
    if (!s.inBand) return false;
  return AtMost(drift(), drift_);
}

double StableWindow::drift() const {
  if (samples_.size() < 2) return 0;
  auto [low, high] = std::minmax_element(samples_.begin(), samples_.end(),
                                         [](const Sample &a, const Sample &b) { return a.actual < b.actual; });
  return high->actual - low->actual;
}

}  // namespace monitor
