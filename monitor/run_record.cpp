/*
 * run_record.cpp -- a run's figures from its CSV rows, its profile and its
 * journal (see run_record.h), in one pass over the file after the
 * journal: the outages must be known as the polls are folded.
 */
#include "run_record.h"

#include <string.h>

#include <QDateTime>
#include <QJsonArray>
#include <QTimeZone>
#include <algorithm>
#include <charconv>
#include <cmath>
#include <memory>

#include "csv_scan.h"
#include "rows.h"
#include "stability.h"

namespace monitor {

namespace {

enum Column { kTime, kChamber, kAddress, kCommand, kOutcome, kRoundTrip, kAnswer, kName, kChannel, kNumber, kText, kRun, kStep, kColumns };

constexpr int64_t kMinPollMs = 50;  /* a run's shortest poll interval (run_main.cpp) */
constexpr int64_t kGapPolls = 3;    /* so many polls' time without one breaks a trend's line */

/* One poll of "Aa" of one chamber. */
struct Sample {
  int64_t wallMs = 0;
  int step = 0;
  bool answered = false;
  double actual[kAnalogueChannels] = {}, set[kAnalogueChannels] = {};
};

/* The wall-clock interval a chamber's run was away. */
struct Outage {
  int64_t fromMs, toMs;
  int step;
};

/* What the journal says of one chamber. */
struct Told {
  std::vector<Outage> outages;
  std::vector<std::pair<int64_t, std::pair<int, QString>>> alarms;  /* wall, step index, alarm */
  QString status = QStringLiteral("running");
};

using ToldMap = std::map<std::string, Told, std::less<>>;

/* What every chamber's figures are measured by. */
struct Rules {
  const Profile &profile;
  double scale;
  int64_t gapMs;
  size_t trendPoints;
};

/* One chamber while the file is read: its figures so far and its last
 * poll, whose interval counts once the next poll says where it ends. */
struct ChamberState {
  std::string name;
  const Told *told = nullptr;
  uint64_t rows = 0;
  std::unique_ptr<Sha256> hash;  /* made once a second chamber shows up */
  ChamberFigures figures;
  Sample prev;
  bool hasPrev = false, lastAnswered = true;
};

/* In band as the runner judges it: answered, every banded channel of the
 * step within its band of the set value reported. */
bool InBand(const Sample &s, const Step &step) {
  if (!s.answered) return false;
  for (const ChannelValue &b : step.band)
    if (!AtMost(std::fabs(s.actual[b.channel] - s.set[b.channel]), b.value)) return false;
  return true;
}

/* The milliseconds of [from, to) that fall into an outage. */
int64_t AwayWithin(int64_t from, int64_t to, const std::vector<Outage> &outages) {
  int64_t away = 0;
  for (const Outage &o : outages) away += std::max<int64_t>(0, std::min(to, o.toMs) - std::max(from, o.fromMs));
  return away;
}

StepTrendBucket EmptyBucket() {
  StepTrendBucket b;
  std::fill(std::begin(b.min), std::end(b.min), std::nan(""));
  std::fill(std::begin(b.max), std::end(b.max), std::nan(""));
  std::fill(std::begin(b.set), std::end(b.set), std::nan(""));
  return b;
}

/* Two neighbouring buckets as one (fmin and fmax pass over NaN). */
StepTrendBucket Merged(const StepTrendBucket &a, const StepTrendBucket &b) {
  StepTrendBucket m = a;
  m.polls += b.polls;
  m.answered += b.answered;
  if (!a.polls) m.gapBefore = b.gapBefore;
  for (int k = 0; k < kAnalogueChannels; k++) {
    m.min[k] = std::fmin(a.min[k], b.min[k]);
    m.max[k] = std::fmax(a.max[k], b.max[k]);
    if (b.answered) m.set[k] = b.set[k];
  }
  return m;
}

/* Doubles the trend's bucket, merging its buckets in pairs. */
void Coarsen(StepTrend &t) {
  t.bucketMs *= 2;
  for (size_t k = 0; k < t.buckets.size(); k += 2)
    t.buckets[k / 2] = k + 1 < t.buckets.size() ? Merged(t.buckets[k], t.buckets[k + 1]) : t.buckets[k];
  t.buckets.resize((t.buckets.size() + 1) / 2);
}

void AddToTrend(StepTrend &t, const Sample &s, bool gap) {
  if (t.limit == 0) return;
  if (t.originMs < 0) t.originMs = s.wallMs;
  const int64_t at = std::max<int64_t>(0, s.wallMs - t.originMs);
  while (static_cast<uint64_t>(at / t.bucketMs) >= t.limit) Coarsen(t);
  const size_t k = static_cast<size_t>(at / t.bucketMs);
  if (t.buckets.size() <= k) t.buckets.resize(k + 1, EmptyBucket());
  StepTrendBucket &b = t.buckets[k];
  if (b.polls++ == 0) b.gapBefore = gap;
  if (!s.answered) return;
  b.answered++;
  for (int c = 0; c < kAnalogueChannels; c++) {
    b.min[c] = std::fmin(b.min[c], s.actual[c]);
    b.max[c] = std::fmax(b.max[c], s.actual[c]);
    b.set[c] = s.set[c];
  }
}

void AddToStats(StepFigures &f, const Sample &s) {
  for (int ch = 0; s.answered && ch < kAnalogueChannels; ch++) {
    ChannelFigures &cf = f.channel[ch];
    cf.min = cf.count ? std::min(cf.min, s.actual[ch]) : s.actual[ch];
    cf.max = cf.count ? std::max(cf.max, s.actual[ch]) : s.actual[ch];
    cf.sum += s.actual[ch];
    cf.count++;
  }
}

/* The interval from the chamber's last poll to the next one, at toMs, in
 * the same step: out of band as that poll was. */
void AccountInterval(ChamberState &c, int64_t toMs, const Rules &r) {
  const Sample &s = c.prev;
  if (s.step < 1 || s.step > static_cast<int>(r.profile.steps.size())) return;
  const Step &step = r.profile.steps[static_cast<size_t>(s.step - 1)];
  if (!Banded(step) || InBand(s, step)) return;
  const int64_t away = AwayWithin(s.wallMs, toMs, c.told->outages);
  c.figures.steps.back().outOfBandSeconds += static_cast<double>(toMs - s.wallMs - away) * r.scale / 1000;
}

/* One poll of the chamber into its figures. */
void Fold(ChamberState &c, const Sample &s, const Rules &r) {
  if (c.hasPrev && c.prev.step == s.step) AccountInterval(c, s.wallMs, r);
  c.prev = s;
  c.hasPrev = true;
  if (s.step < 1 || s.step > static_cast<int>(r.profile.steps.size())) return;
  std::vector<StepFigures> &steps = c.figures.steps;
  if (steps.empty() || steps.back().step != s.step) {
    steps.emplace_back();
    steps.back().step = s.step;
    steps.back().label = r.profile.steps[static_cast<size_t>(s.step - 1)].label;
    steps.back().startMs = s.wallMs;
    steps.back().trend.limit = r.trendPoints;
    c.lastAnswered = true;
  }
  StepFigures &f = steps.back();
  const bool gap = f.samples > 0 && s.wallMs - f.endMs > r.gapMs;  /* from the step's own last poll */
  f.endMs = s.wallMs;
  f.samples++;
  if (!s.answered && c.lastAnswered) f.interruptions++;
  c.lastAnswered = s.answered;
  AddToStats(f, s);
  AddToTrend(f.trend, s, gap);
}

/* The journal's outages and alarms into the steps they happened in. */
void Attach(ChamberFigures &c, const Told &told, const Rules &r) {
  for (const Outage &o : told.outages)
    for (StepFigures &f : c.steps)
      if (f.step == o.step + 1 && o.toMs >= f.startMs && (o.fromMs <= f.endMs || &f == &c.steps.back())) {
        if (Banded(r.profile.steps[static_cast<size_t>(f.step - 1)]))
          f.outOfBandSeconds += static_cast<double>(o.toMs - o.fromMs) * r.scale / 1000;
        f.interruptions++;
        break;
      }
  for (const auto &[wall, alarm] : told.alarms) {
    StepFigures *into = nullptr;
    for (StepFigures &f : c.steps)
      if (f.step == alarm.first + 1 && (!into || f.startMs <= wall)) into = &f;
    if (into) into->alarms.push_back(alarm.second);
  }
}

/* The journal's records per chamber; the run's time scale into *out. */
ToldMap ReadJournal(const std::vector<QJsonObject> &journal, RunFigures *out) {
  ToldMap told;
  for (const QJsonObject &r : journal) {
    const QString e = r["e"].toString();
    const int64_t wall = static_cast<int64_t>(r["wall"].toDouble());
    if (e == "run") out->timeScale = r["scale"].toDouble(1);
    if (e != "step" && e != "outage" && e != "alarm" && e != "end") continue;
    Told &t = told[r["chamber"].toString().toStdString()];
    if (e == "outage") t.outages.push_back(Outage{static_cast<int64_t>(r["from_wall"].toDouble()), wall, r["step"].toInt()});
    if (e == "alarm" && r["raised"].toBool()) t.alarms.push_back({wall, {r["step"].toInt(), r["alarm"].toString()}});
    if (e == "end") t.status = r["status"].toString();
  }
  return told;
}

/* The one pass over the CSV file: the run's rows counted and hashed, and
 * each result of "Aa" folded into its chamber's figures as a sample. */
class Pass {
 public:
  Pass(const QString &runId, const Rules &rules, ToldMap &told) : id_(runId.toStdString()), rules_(rules), told_(told) {}

  /* Whole lines of the file; false once its header is not a run's. */
  bool block(const char *from, const char *to);
  bool headerOk() const { return headerOk_; }
  void finish(RunFigures *out);

 private:
  void take(const char *line, const char *next);
  size_t chamber(std::string_view name);
  void hash(ChamberState &c, const char *line, const char *next);
  void flushSpan();
  void begin(size_t chamber);
  void flush();
  int64_t timeMs(std::string_view text);

  const std::string id_;
  const Rules &rules_;
  ToldMap &told_;
  bool header_ = false, headerOk_ = false;
  std::vector<ChamberState> chambers_;
  std::map<std::string, size_t, std::less<>> index_;
  Sha256 all_;
  const char *spanFrom_ = nullptr, *spanTo_ = nullptr;  /* rows not yet fed to all_ */
  uint64_t rows_ = 0;
  std::string scratch_, time_, command_, timeText_;
  std::string_view f_[kColumns];
  size_t result_ = SIZE_MAX;                            /* the chamber of the result being read */
  bool isPoll_ = false;
  int values_ = 0;
  Sample sample_;
  int64_t timeTextMs_ = 0, lastRowMs_ = -1;
};

bool Pass::block(const char *from, const char *to) {
  for (const char *line = from; line < to;) {
    const char *next = static_cast<const char *>(memchr(line, '\n', static_cast<size_t>(to - line))) + 1;
    if (header_) {
      take(line, next);
    } else {
      header_ = true;
      headerOk_ = std::string_view(line, static_cast<size_t>(next - line)) == kRunCsvHeader;
      if (!headerOk_) return false;
    }
    line = next;
  }
  flushSpan();  /* the block's bytes are gone after this */
  return true;
}

void Pass::take(const char *line, const char *next) {
  if (SplitRow(std::string_view(line, static_cast<size_t>(next - 1 - line)), f_, kColumns, scratch_) != kColumns ||
      f_[kRun] != id_)
    return;
  const size_t k = chamber(f_[kChamber]);
  hash(chambers_[k], line, next);
  if (f_[kOutcome] == "skipped") return;  /* not polled: no sample */
  if (k != result_ || f_[kTime] != time_ || f_[kCommand] != command_) begin(k);
  if (!isPoll_ || f_[kChannel].size() != 1 || f_[kNumber].empty()) return;
  const int channel = f_[kChannel][0] - '0';
  if (channel < 0 || channel >= kAnalogueChannels) return;
  double v = 0;
  std::from_chars(f_[kNumber].data(), f_[kNumber].data() + f_[kNumber].size(), v);
  if (f_[kName] == "actual") sample_.actual[channel] = v, values_++;
  if (f_[kName] == "set") sample_.set[channel] = v, values_++;
}

/* The chamber's index, made when new. A second chamber takes over the
 * first one's hash so far: until then, one hash served both. */
size_t Pass::chamber(std::string_view name) {
  if (result_ < chambers_.size() && chambers_[result_].name == name) return result_;
  auto found = index_.find(name);
  if (found != index_.end()) return found->second;
  if (chambers_.size() == 1) {
    flushSpan();
    chambers_[0].hash = std::make_unique<Sha256>(all_);
  }
  chambers_.emplace_back();
  ChamberState &c = chambers_.back();
  c.name = std::string(name);
  c.told = &told_[c.name];
  c.figures.chamber = QString::fromStdString(c.name);
  if (chambers_.size() > 1) c.hash = std::make_unique<Sha256>();
  index_.emplace(c.name, chambers_.size() - 1);
  return chambers_.size() - 1;
}

/* Rows that follow each other in the file are fed to the run's hash at
 * once. */
void Pass::hash(ChamberState &c, const char *line, const char *next) {
  c.rows++;
  rows_++;
  if (c.hash) c.hash->add(line, static_cast<size_t>(next - line));
  if (spanTo_ != line) {
    flushSpan();
    spanFrom_ = line;
  }
  spanTo_ = next;
}

void Pass::flushSpan() {
  if (spanFrom_ != spanTo_) all_.add(spanFrom_, static_cast<size_t>(spanTo_ - spanFrom_));
  spanFrom_ = spanTo_ = nullptr;
}

/* A new result (one command at one time) starts with this row. */
void Pass::begin(size_t chamber) {
  flush();
  result_ = chamber;
  time_.assign(f_[kTime]);
  command_.assign(f_[kCommand]);
  isPoll_ = f_[kCommand] == "Aa";
  values_ = 0;
  sample_ = Sample{};
  sample_.wallMs = timeMs(f_[kTime]);
  std::from_chars(f_[kStep].data(), f_[kStep].data() + f_[kStep].size(), sample_.step);
  sample_.answered = f_[kOutcome] == "answered";
  lastRowMs_ = std::max(lastRowMs_, sample_.wallMs);
}

/* The result read so far, when a poll, as a sample of its chamber. */
void Pass::flush() {
  if (result_ < chambers_.size() && isPoll_) {
    sample_.answered = sample_.answered && values_ == 2 * kAnalogueChannels;
    Fold(chambers_[result_], sample_, rules_);
  }
  isPoll_ = false;
}

/* The rows of one poll share their time: it is parsed once. */
int64_t Pass::timeMs(std::string_view text) {
  if (text == timeText_) return timeTextMs_;
  timeText_.assign(text);
  if (!ParseUtcMs(text, &timeTextMs_))
    timeTextMs_ = QDateTime::fromString(QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())),
                                        Qt::ISODateWithMs).toMSecsSinceEpoch();
  return timeTextMs_;
}

void Pass::finish(RunFigures *out) {
  flush();
  for (const auto &[name, told] : told_)
    if (!index_.count(name)) chamber(name);
  const bool alone = chambers_.size() == 1;
  for (ChamberState &c : chambers_) {
    Attach(c.figures, *c.told, rules_);
    c.figures.rows = c.rows;
    c.figures.sha256 = alone ? all_.hex() : c.hash->hex();
    c.figures.status = c.told->status;
    out->chambers.push_back(std::move(c.figures));
  }
  std::sort(out->chambers.begin(), out->chambers.end(),
            [](const ChamberFigures &a, const ChamberFigures &b) { return a.chamber < b.chamber; });
  out->rows = rows_;
  out->sha256 = all_.hex();
  out->lastRowMs = lastRowMs_;
}

}  // namespace

bool ComputeRunFigures(const QString &csvPath, const QString &runId, const Profile &profile,
                       const std::vector<QJsonObject> &journal, RunFigures *out, QString *error, size_t trendPoints) {
  out->runId = runId;
  ToldMap told = ReadJournal(journal, out);
  const int64_t pollMs = std::max<int64_t>(kMinPollMs, static_cast<int64_t>(profile.pollMs / out->timeScale));
  const Rules rules{profile, out->timeScale, kGapPolls * pollMs, trendPoints};
  Pass pass(runId, rules, told);
  QString why;
  if (!ReadWholeLines(csvPath, [&](const char *from, const char *to) { return pass.block(from, to); }, &why)) {
    *error = csvPath + ": cannot read the run's CSV file: " + why;
    return false;
  }
  if (!pass.headerOk()) {
    *error = csvPath + ": not the CSV file of a run (its first line is not the run header)";
    return false;
  }
  pass.finish(out);
  return true;
}

QJsonObject ChamberFiguresJson(const ChamberFigures &c) {
  QJsonArray steps;
  for (const StepFigures &s : c.steps) {
    QJsonObject channels;
    for (int k = 0; k < kAnalogueChannels; k++) {
      if (s.channel[k].count == 0) continue;
      channels[QString::number(k)] = QJsonObject{{"min", s.channel[k].min}, {"max", s.channel[k].max},
                                                 {"mean", s.channel[k].mean()}, {"samples", static_cast<double>(s.channel[k].count)}};
    }
    QJsonArray alarms;
    for (const QString &a : s.alarms) alarms.append(a);
    steps.append(QJsonObject{
        {"step", s.step}, {"name", s.label},
        {"start", QDateTime::fromMSecsSinceEpoch(s.startMs, QTimeZone::utc()).toString(Qt::ISODateWithMs)},
        {"end", QDateTime::fromMSecsSinceEpoch(s.endMs, QTimeZone::utc()).toString(Qt::ISODateWithMs)},
        {"channels", channels}, {"seconds_out_of_band", std::round(s.outOfBandSeconds * 1000) / 1000},
        {"interruptions", s.interruptions}, {"alarms", alarms}});
  }
  return QJsonObject{{"chamber", c.chamber}, {"status", c.status}, {"steps", steps},
                     {"rows", static_cast<double>(c.rows)}, {"rows_sha256", QString::fromLatin1(c.sha256)}};
}

QJsonObject RunFiguresJson(const RunFigures &figures, const Profile &profile, bool withChambers) {
  QJsonObject run{{"run", figures.runId}, {"profile", profile.path}, {"profile_name", profile.name},
                  {"profile_sha256", QString::fromLatin1(profile.sha256)}, {"rows", static_cast<double>(figures.rows)},
                  {"rows_sha256", QString::fromLatin1(figures.sha256)}};
  if (!withChambers) return run;
  QJsonArray chambers;
  for (const ChamberFigures &c : figures.chambers) chambers.append(ChamberFiguresJson(c));
  run["chambers"] = chambers;
  return run;
}

}  // namespace monitor
