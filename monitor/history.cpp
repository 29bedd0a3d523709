/*
 * history.cpp -- the trend's buckets and outages, and the rings of buckets
 * per chamber that keep them in memory (see history.h).
 */
#include "history.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace monitor {

namespace {

struct RingSize {
  int64_t bucketMs;
  int slots;
};
/* 1 s for 10 minutes, 10 s for 2 hours, 1 min for a day. */
constexpr RingSize kRings[] = {{1000, 600}, {10000, 720}, {60000, 1440}};
constexpr int kRingCount = sizeof kRings / sizeof kRings[0];
constexpr int64_t kEmpty = INT64_MIN;

/* One bucket of a ring, values in tenths. */
struct Slot {
  int16_t min[kTrendChannels] = {}, max[kTrendChannels] = {}, set[kTrendChannels] = {};
  uint8_t actual = 0, setMask = 0;  /* channels with a value (bit k: channel k) */
};

/* One poll's values in tenths. */
struct Sample {
  int16_t actual[kTrendChannels] = {}, set[kTrendChannels] = {};
  uint8_t actualMask = 0, setMask = 0;
};

int64_t FloorDiv(int64_t a, int64_t b) { return a / b - ((a % b != 0) && (a < 0)); }

/* v in tenths when exactly so and within 16 bits. */
bool Tenths(double v, int16_t *out) {
  double q = std::nearbyint(v * 10);
  if (!(std::fabs(q) <= 32767) || q / 10 != v) return false;
  *out = static_cast<int16_t>(q);
  return true;
}

/* The actual and set values of r's channels 0 to 4 into *s; false when
 * one does not fit in tenths. */
bool ReadSample(const AnswerValues &values, Sample *s) {
  for (int n = 0; n < values.count && n < ANSWER_VALUES_MAX; n++) {
    const AnswerValue &v = values.value[n];
    int channel = v.channel - '0';
    bool isActual = v.name && strcmp(v.name, "actual") == 0, isSet = v.name && strcmp(v.name, "set") == 0;
    if (v.kind != VALUE_NUMBER || channel < 0 || channel >= kTrendChannels || !(isActual || isSet)) continue;
    if (!Tenths(v.number, isActual ? &s->actual[channel] : &s->set[channel])) return false;
    (isActual ? s->actualMask : s->setMask) |= static_cast<uint8_t>(1u << channel);
  }
  return true;
}

}  // namespace

/* One ring: the buckets numbered head - slots + 1 to head (number n holds
 * the time from n * bucketMs), slot n mod slots each. */
struct Ring {
  int64_t bucketMs = 0;
  std::vector<Slot> slots;
  int64_t head = kEmpty;

  int64_t size() const { return static_cast<int64_t>(slots.size()); }
  Slot &at(int64_t n) { return slots[static_cast<size_t>(((n % size()) + size()) % size())]; }
  const Slot *held(int64_t n) const {
    if (head == kEmpty || n > head || n <= head - size()) return nullptr;
    const Slot &s = slots[static_cast<size_t>(((n % size()) + size()) % size())];
    return s.actual || s.setMask ? &s : nullptr;
  }
  /* The earliest time held whole; kEmpty before the first value. */
  int64_t from() const { return head == kEmpty ? kEmpty : (head - size() + 1) * bucketMs; }
  void add(int64_t t, const Sample &s);
  void fill(int64_t first, int64_t last, Trend &trend) const;
};

/* Adds the values of the buckets numbered first to last that the ring
 * holds to trend, in time order. */
void Ring::fill(int64_t first, int64_t last, Trend &trend) const {
  for (int64_t n = std::max(first, head - size() + 1); n <= std::min(last, head); n++) {
    const Slot *s = held(n);
    for (int k = 0; s && k < kTrendChannels; k++) {
      const int64_t t = n * bucketMs;
      if (s->actual & (1u << k)) {
        trend.value(t, k, false, s->min[k] / 10.0);
        trend.value(t, k, false, s->max[k] / 10.0);
      }
      if (s->setMask & (1u << k)) trend.value(t, k, true, s->set[k] / 10.0);
    }
  }
}

/* Adds s at time t: to its bucket, after emptying the buckets it moves the
 * ring on by; nothing when t is older than the ring. */
void Ring::add(int64_t t, const Sample &s) {
  int64_t n = FloorDiv(t, bucketMs);
  if (head != kEmpty && n <= head - size()) return;
  if (head == kEmpty || n - head >= size()) {
    for (Slot &slot : slots) slot.actual = slot.setMask = 0;
  } else {
    for (int64_t k = head + 1; k <= n; k++) at(k).actual = at(k).setMask = 0;
  }
  head = std::max(head, n);
  Slot &slot = at(n);
  for (int c = 0; c < kTrendChannels; c++) {
    const uint8_t bit = static_cast<uint8_t>(1u << c);
    if (s.actualMask & bit) {
      bool first = !(slot.actual & bit);
      slot.min[c] = first ? s.actual[c] : std::min(slot.min[c], s.actual[c]);
      slot.max[c] = first ? s.actual[c] : std::max(slot.max[c], s.actual[c]);
    }
    if (s.setMask & bit) slot.set[c] = s.set[c];
  }
  slot.actual |= s.actualMask;
  slot.setMask |= s.setMask;
}

struct History::Chamber {
  Ring rings[kRingCount];
  std::vector<std::pair<int64_t, int64_t>> outages;
  int64_t open = -1;             /* start of the outage going on, -1 none */
  int64_t outagesFrom = kEmpty;  /* outages ended before this were dropped */
  bool kept = true;              /* every value fitted in tenths */

  void track(const CommandResult &r);
  const Ring *ring(int64_t bucketMs, int64_t *from) const;
};

/* Begins an outage with a result that failed, ends it with one answered;
 * a skipped one does neither. */
void History::Chamber::track(const CommandResult &r) {
  if (r.outcome == kSkipped) return;
  if (r.outcome != kAnswered) {
    if (open < 0) open = r.wallMs;
    return;
  }
  if (open < 0) return;
  if (outages.size() >= kOutagesKept) {
    outagesFrom = outages.front().second;
    outages.erase(outages.begin());
  }
  outages.emplace_back(open, r.wallMs);
  open = -1;
}

/* The ring that holds bucketMs's trend from the earliest time (*from);
 * null when none does. */
const Ring *History::Chamber::ring(int64_t bucketMs, int64_t *from) const {
  const Ring *best = nullptr;
  for (const Ring &r : rings)
    if (bucketMs % r.bucketMs == 0 && (!best || r.from() < best->from())) best = &r;
  if (best) *from = std::max(best->from(), outagesFrom);
  return kept ? best : nullptr;
}

History::History(int count, int64_t startMs) : chambers_(static_cast<size_t>(count)), startMs_(startMs) {
  for (Chamber &c : chambers_)
    for (int k = 0; k < kRingCount; k++) {
      c.rings[k].bucketMs = kRings[k].bucketMs;
      c.rings[k].slots.assign(static_cast<size_t>(kRings[k].slots), Slot());
    }
}

History::~History() = default;

void History::add(const CommandResult &r) {
  if (r.chamberIndex < 0 || r.chamberIndex >= static_cast<int>(chambers_.size())) return;
  std::lock_guard<std::mutex> lock(mutex_);
  Chamber &c = chambers_[static_cast<size_t>(r.chamberIndex)];
  c.track(r);
  Sample s;
  if (!c.kept || r.outcome != kAnswered || !r.values) return;
  if (!ReadSample(*r.values, &s)) {
    c.kept = false;
    for (Ring &ring : c.rings) std::vector<Slot>().swap(ring.slots);
    return;
  }
  if (s.actualMask || s.setMask)
    for (Ring &ring : c.rings) ring.add(r.wallMs, s);
}

int64_t History::coveredFrom(int chamber, int64_t bucketMs) const {
  std::lock_guard<std::mutex> lock(mutex_);
  int64_t from = kNoTime;
  if (!chambers_[static_cast<size_t>(chamber)].ring(bucketMs, &from)) return kNoTime;
  return std::max(from, startMs_);
}

int64_t History::fill(int chamber, Trend &trend, int64_t nowMs) const {
  std::lock_guard<std::mutex> lock(mutex_);
  const Chamber &c = chambers_[static_cast<size_t>(chamber)];
  int64_t covered = kNoTime;
  const Ring *ring = c.ring(trend.bucketMs, &covered);
  if (!ring) return trend.to;
  covered = std::max({covered, startMs_, trend.from});
  const int64_t split = FloorDiv(covered + trend.bucketMs - 1, trend.bucketMs) * trend.bucketMs;
  if (split >= trend.to) return trend.to;
  if (ring->head != kEmpty) ring->fill(FloorDiv(split, ring->bucketMs), FloorDiv(trend.to - 1, ring->bucketMs), trend);
  for (const auto &o : c.outages)
    if (o.second > split) trend.outage(std::max(o.first, split), o.second);
  if (c.open >= 0) trend.outage(std::max(c.open, split), nowMs);
  return split;
}

size_t HistoryBytes() {
  size_t bytes = sizeof(History::Chamber);
  for (const RingSize &r : kRings) bytes += sizeof(Slot) * static_cast<size_t>(r.slots);
  return bytes;
}

Trend::Trend(int64_t from, int64_t to, int64_t bucketMs)
    : from(from), to(to), bucketMs(bucketMs), buckets(static_cast<size_t>((to - from) / bucketMs)) {
  for (TrendBucket &b : buckets) {
    std::fill(std::begin(b.min), std::end(b.min), std::nan(""));
    std::fill(std::begin(b.max), std::end(b.max), std::nan(""));
    std::fill(std::begin(b.set), std::end(b.set), std::nan(""));
  }
}

void Trend::value(int64_t t, int channel, bool isSet, double v) {
  if (t < from || t >= to || channel < 0 || channel >= kTrendChannels) return;
  TrendBucket &b = buckets[static_cast<size_t>((t - from) / bucketMs)];
  b.any = true;
  if (isSet) {
    b.set[channel] = v;
    return;
  }
  if (std::isnan(b.min[channel]) || v < b.min[channel]) b.min[channel] = v;
  if (std::isnan(b.max[channel]) || v > b.max[channel]) b.max[channel] = v;
}

void Trend::answered(int64_t t, bool yes) {
  if (!yes && open_ < 0) open_ = t;
  if (yes && open_ >= 0) endOutage(t);
}

void Trend::endOutage(int64_t t) {
  if (open_ < 0) return;
  outage(open_, t);
  open_ = -1;
}

void Trend::outage(int64_t begin, int64_t end) {
  begin = std::max(begin, from);
  end = std::min(end, to);
  if (begin <= end) outages.emplace_back(begin, end);
}

void Trend::finish() {
  std::sort(outages.begin(), outages.end());
  std::vector<std::pair<int64_t, int64_t>> joined;
  for (const auto &o : outages) {
    if (!joined.empty() && o.first <= joined.back().second) joined.back().second = std::max(joined.back().second, o.second);
    else joined.push_back(o);
  }
  outages.swap(joined);
}

}  // namespace monitor
