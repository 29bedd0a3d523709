/*
 * run.cpp -- the runner (see run.h): checking the chambers, entering
 * steps and verifying their writes, taking the polls as samples, the hold
 * clock, the ends of steps, actions, alarms, and resuming from the
 * journal.
 */
#include "run.h"

#include <QDateTime>
#include <QFileInfo>
#include <QJsonArray>
#include <QProcess>
#include <cmath>
#include <set>

#include "clock.h"

namespace monitor {

namespace {

constexpr double kArriveBand = 0.5;     /* a ramp has arrived within this, unless it gives a band */
constexpr double kValueTolerance = 0.05;
constexpr double kRateTolerance = 0.005;
constexpr double kStepWriteMin = 0.1;   /* a stepped ramp writes when its set value moved this much */
constexpr int kNoAnswerPolls = 3;
constexpr int64_t kHoldJournalMs = 60000;  /* run time between two journal records of a hold */

const char *const kAlarmNames[kAlarmKinds] = {"out_of_band", "no_answer", "stopped", "error", "write", "set_changed"};
const char *const kStatusNames[] = {"checking", "running", "completed", "stopped", "kept", "refused"};

/* The command that reads back what write wrote (empty for none). */
QByteArray ReadBack(const QByteArray &write, bool rampByChamber) {
  QByteArray k = write.mid(1, 1);
  switch (write[0]) {
    case 'a': return (rampByChamber ? "E" : "A") + k;
    case 'u': case 'd': return "U" + k;
    case 's': case 'o': return "O";
  }
  return QByteArray();
}

/* The number named name (of channel, 0 for any) in values; NaN if none. */
double ValueOf(const AnswerValues &values, const char *name, char channel) {
  for (int i = 0; i < values.count; i++)
    if (values.value[i].kind == VALUE_NUMBER && strcmp(values.value[i].name, name) == 0 &&
        (channel == 0 || values.value[i].channel == channel))
      return values.value[i].number;
  return std::nan("");
}

/* True when the answer read back (of the command readBack) shows that
 * write took. */
bool Took(const QByteArray &write, const AskAnswer &back) {
  if (back.outcome != kAnswered) return false;
  char k = write[1];
  double wanted = write.mid(3).trimmed().toDouble();
  switch (write[0]) {
    case 'a': {
      double v = back.answer[0] == 'E' ? ValueOf(back.values, "ramp_end", k) : ValueOf(back.values, "set", k);
      return std::fabs(v - wanted) < kValueTolerance;
    }
    case 'u': return std::fabs(ValueOf(back.values, "ramp_up", k) - wanted) < kRateTolerance;
    case 'd': return std::fabs(ValueOf(back.values, "ramp_down", k) - wanted) < kRateTolerance;
    case 's': {
      int index = write[1] - '0';
      bool on = write.endsWith('1');
      bool wantDigit = index == 3 ? !on : on;  /* "s3 0" pauses: the pause digit 1 */
      return back.answer.size() > index && back.answer[index] == (wantDigit ? '1' : '0');
    }
    case 'o': {
      int index = write.mid(1, 2).toInt();
      return back.answer.size() > index && back.answer[index] == write.back();
    }
  }
  return false;
}

}  // namespace

const char *AlarmName(int kind) { return kind >= 0 && kind < kAlarmKinds ? kAlarmNames[kind] : "?"; }
const char *RunStatusName(RunStatus status) { return kStatusNames[static_cast<int>(status)]; }

struct Runner::Chamber {
  int step = -1;
  bool writing = false;                  /* a step's writes in flight */
  bool active = false;                   /* the step runs: its writes took */
  std::vector<QByteArray> pending;       /* writes to make again at the next poll */
  int retriesLeft = 0;
  std::set<QByteArray> taken;            /* writes of the step the journal has as taken */
  int64_t stepStartMs = 0, heldMs = 0, outMs = 0;
  int64_t lastSampleMs = -1, lastAnswerMs = -1, outSinceMs = -1;
  bool lastAnswered = false, lastInBand = true, haveValues = false;
  double actual[kAnalogueChannels] = {}, set[kAnalogueChannels] = {};
  double target[kAnalogueChannels] = {};
  bool known[kAnalogueChannels] = {};
  double rampFrom[kAnalogueChannels] = {}, lastWritten[kAnalogueChannels] = {};
  std::vector<StableWindow> windows;
  bool unjudged = false;                 /* the last sample is not yet in the windows */
  bool expectRunning = false;
  bool resumed = false;                  /* the step is entered again after a restart */
  int64_t resumedStartMs = 0;            /* its start, as the journal has it */
  int rampFailures = 0;                  /* stepped set values in a row that did not take */
  int64_t journaledHoldMs = INT64_MIN / 2;  /* when the hold served was last journaled */
  bool journaledInBand = false;
};

Runner::Runner(const Profile &profile, Poller &poller, Journal &journal, const RunSettings &settings)
    : profile_(profile), poller_(poller), journal_(journal), settings_(settings) {
  size_t count = poller.stats().size();
  for (size_t i = 0; i < count; i++) chambers_.push_back(std::make_unique<Chamber>());
  views_.resize(count);
}

Runner::~Runner() = default;

int64_t Runner::nowMs() const {
  return baseMs_ + static_cast<int64_t>(static_cast<double>(NowNs() - startNs_) / 1e6 * settings_.timeScale);
}

int Runner::stepNumber(int i) const { return chambers_[static_cast<size_t>(i)]->step + 1; }

/* Takes the run's identity and clock from the journal, or starts both. */
void Runner::start() {
  startNs_ = NowNs();
  int64_t lastT = 0, lastWall = 0;
  for (const QJsonObject &r : journal_.records()) {
    if (r["e"] == "run") runId_ = r["id"].toString();
    if (r.contains("t")) {
      lastT = static_cast<int64_t>(r["t"].toDouble());
      lastWall = static_cast<int64_t>(r["wall"].toDouble());
    }
  }
  if (runId_.isEmpty()) {
    runId_ = QFileInfo(profile_.path).completeBaseName() + "-" +
             QDateTime::currentDateTimeUtc().toString(QStringLiteral("yyyyMMdd'T'HHmmss'Z'"));
    journal_.append({{"e", "run"}, {"id", runId_}, {"profile", profile_.path},
                     {"sha256", QString::fromLatin1(profile_.sha256)}, {"scale", settings_.timeScale}, {"t", 0}});
  } else {
    baseMs_ = lastT + static_cast<int64_t>(static_cast<double>(std::max<int64_t>(0, WallMs() - lastWall)) *
                                            settings_.timeScale);
  }
  checking_ = static_cast<int>(chambers_.size());
  for (size_t i = 0; i < chambers_.size(); i++) check(static_cast<int>(i));
}

/* Reads the chamber's identity and the manual limits of every channel the
 * profile sets. */
void Runner::check(int i) {
  QList<QByteArray> asks{"C"};
  for (int k = 0; k < kAnalogueChannels; k++) asks.append("G" + QByteArray::number(k));
  poller_.ask(i, asks, [this, i](const std::vector<AskAnswer> &answers) { checked(i, answers); });
}

/* Refuses the run on a chamber whose limits a set value of the profile
 * leaves, that cannot be read, or that is not the simulator while the
 * time is scaled; starts every chamber once all passed. */
void Runner::checked(int i, const std::vector<AskAnswer> &answers) {
  const QString who = QString::fromUtf8(poller_.stats()[static_cast<size_t>(i)].name);
  QStringList why;
  if (answers[0].outcome != kAnswered) why << "it did not answer";
  QString plc = answers[0].outcome == kAnswered ? QString::fromLatin1(answers[0].answer).section(' ', 2) : QString();
  if (settings_.timeScale != 1 && !plc.startsWith("SIM-"))
    why << "a scaled time is for the simulator only, and this chamber is not the simulator";
  for (const Step &s : profile_.steps)
    for (const ChannelValue &t : s.targets) {
      const AskAnswer &g = answers[static_cast<size_t>(1 + t.channel)];
      double low = ValueOf(g.values, "limit_min", static_cast<char>('0' + t.channel));
      double high = ValueOf(g.values, "limit_max", static_cast<char>('0' + t.channel));
      if (g.outcome != kAnswered) why << QStringLiteral("its manual limits of %1 cannot be read").arg(ChannelName(t.channel));
      else if (!(t.value >= low && t.value <= high))
        why << QStringLiteral("%1:%2:%3: step \"%4\": %5 %6 is outside its manual limits %7 to %8")
                   .arg(profile_.path).arg(t.where.line).arg(t.where.column).arg(s.label, ChannelName(t.channel))
                   .arg(t.value).arg(low).arg(high);
    }
  why.removeDuplicates();
  for (const QString &w : why) refusal_ += who + ": " + w + "\n";
  if (--checking_ > 0) return;
  if (!refusal_.isEmpty()) {
    for (size_t k = 0; k < chambers_.size(); k++) views_[k].status = RunStatus::Refused;
    finished_ = true;
    if (onFinished) onFinished();
    return;
  }
  for (size_t k = 0; k < chambers_.size(); k++) begin(static_cast<int>(k));
}

/* Resumes chamber i from the journal, or enters the first step. */
void Runner::begin(int i) {
  Chamber &c = *chambers_[static_cast<size_t>(i)];
  const QString who = QString::fromUtf8(poller_.stats()[static_cast<size_t>(i)].name);
  int step = -1;
  int64_t lastT = -1, lastWall = -1;
  QString ended;
  for (const QJsonObject &r : journal_.records()) {
    if (r["chamber"].toString() != who) continue;
    QString e = r["e"].toString();
    lastT = r.contains("t") ? static_cast<int64_t>(r["t"].toDouble()) : lastT;
    lastWall = static_cast<int64_t>(r["wall"].toDouble());
    if (e == "step") {
      step = r["step"].toInt();
      c.resumedStartMs = lastT;
      c.taken.clear();
      c.heldMs = c.outMs = 0;
    } else if (e == "write" && r["ok"].toBool()) {
      c.taken.insert(r["command"].toString().toLatin1());
    } else if (e == "hold") {
      c.heldMs = static_cast<int64_t>(r["held"].toDouble());
      c.outMs = static_cast<int64_t>(r["out"].toDouble());
    } else if (e == "target") {
      int k = r["channel"].toInt();
      c.target[k] = r["value"].toDouble();
      c.rampFrom[k] = c.lastWritten[k] = r["from"].toDouble();
      c.known[k] = true;
    } else if (e == "end") {
      ended = r["status"].toString();
    }
  }
  views_[static_cast<size_t>(i)].status = RunStatus::Running;
  if (!ended.isEmpty()) {
    views_[static_cast<size_t>(i)].status = ended == "completed" ? RunStatus::Completed
                                            : ended == "stopped" ? RunStatus::Stopped : RunStatus::Kept;
    c.step = step;
    log(i, "its run ended before (" + ended + ")");
    checkFinished();
    return;
  }
  if (settings_.abortOnly) {
    c.step = step;
    return act(i, profile_.onAbort, "aborted by --abort");
  }
  if (step < 0) return enter(i, 0);
  int64_t now = nowMs();
  int64_t away = std::max<int64_t>(0, now - lastT);
  if (Banded(profile_.steps[static_cast<size_t>(step)])) {  /* the time away counts out of band */
    c.outMs += away;
    views_[static_cast<size_t>(i)].outOfBandMs += away;
  }
  journal_.append({{"e", "outage"}, {"chamber", who}, {"step", step}, {"from", static_cast<double>(lastT)},
                   {"from_wall", static_cast<double>(lastWall)}, {"t", static_cast<double>(now)}});
  log(i, QStringLiteral("resumed in step %1 (%2) after %3 s away, %4 s of its hold served")
             .arg(step + 1).arg(profile_.steps[static_cast<size_t>(step)].label).arg(away / 1000.0).arg(c.heldMs / 1000.0));
  c.resumed = true;
  enter(i, step);
}

/* Enters step (or ends the run after the last), and makes its writes. */
void Runner::enter(int i, int step) {
  Chamber &c = *chambers_[static_cast<size_t>(i)];
  if (step >= static_cast<int>(profile_.steps.size())) return finish(i, RunStatus::Completed, "every step done");
  const Step &s = profile_.steps[static_cast<size_t>(step)];
  const QString who = QString::fromUtf8(poller_.stats()[static_cast<size_t>(i)].name);
  int64_t now = nowMs();
  if (!c.resumed) {
    c.taken.clear();
    c.heldMs = c.outMs = 0;
    journal_.append({{"e", "step"}, {"chamber", who}, {"step", step}, {"label", s.label}, {"t", static_cast<double>(now)}});
    log(i, QStringLiteral("step %1: %2").arg(step + 1).arg(s.label));
  }
  c.step = step;
  c.stepStartMs = c.resumed ? c.resumedStartMs : now;
  c.lastSampleMs = std::max(c.lastSampleMs, now);
  c.active = false;
  c.outSinceMs = -1;
  c.retriesLeft = profile_.writeRetries;
  c.rampFailures = 0;
  c.windows.clear();
  c.journaledHoldMs = INT64_MIN / 2;
  c.unjudged = true;                     /* the last sample opens the step's windows */
  for (const ChannelValue &b : s.band) c.windows.emplace_back(b.value, s.windowMs, s.drift);
  views_[static_cast<size_t>(i)].step = step;
  for (const ChannelValue &t : s.targets) {
    if (!c.resumed) {
      c.rampFrom[t.channel] = c.haveValues ? c.set[t.channel] : c.target[t.channel];
      c.lastWritten[t.channel] = c.rampFrom[t.channel];
      journal_.append({{"e", "target"}, {"chamber", who}, {"channel", t.channel}, {"value", t.value},
                       {"from", c.rampFrom[t.channel]}});
    }
    c.target[t.channel] = t.value;
    c.known[t.channel] = true;
  }
  c.resumed = false;
  std::vector<QByteArray> writes;
  for (const QByteArray &w : StepWrites(s))
    if (!c.taken.count(w)) writes.push_back(w);
  if (writes.empty()) written(i, {}, {});
  else write(i, writes);
}

/* Writes writes and reads each back, in one ask. */
void Runner::write(int i, const std::vector<QByteArray> &writes) {
  Chamber &c = *chambers_[static_cast<size_t>(i)];
  const Step &s = profile_.steps[static_cast<size_t>(c.step)];
  QList<QByteArray> asks;
  for (const QByteArray &w : writes) asks.append(w);
  for (const QByteArray &w : writes) {
    QByteArray back = ReadBack(w, s.kind == StepKind::Ramp && s.byChamber);
    if (!asks.contains(back)) asks.append(back);
  }
  c.writing = true;
  int step = c.step;
  poller_.ask(i, asks, [this, i, writes, asks, step](const std::vector<AskAnswer> &answers) {
    Chamber &c = *chambers_[static_cast<size_t>(i)];
    c.writing = false;
    if (c.step != step || views_[static_cast<size_t>(i)].status != RunStatus::Running) return;
    std::vector<AskAnswer> backs;
    for (const QByteArray &w : writes) {
      const Step &s = profile_.steps[static_cast<size_t>(step)];
      backs.push_back(answers[static_cast<size_t>(asks.indexOf(ReadBack(w, s.kind == StepKind::Ramp && s.byChamber)))]);
    }
    written(i, writes, backs);
  });
}

/* The writes were made and read back (backs, one per write): journals
 * each; writes again those that did not take, up to the retries, then
 * takes the abort action; else the step runs (or ends, for set and
 * digital steps). A chamber that did not answer is written to again at
 * its next poll without counting a retry. */
void Runner::written(int i, const std::vector<QByteArray> &writes, const std::vector<AskAnswer> &backs) {
  Chamber &c = *chambers_[static_cast<size_t>(i)];
  const Step &s = profile_.steps[static_cast<size_t>(c.step)];
  const QString who = QString::fromUtf8(poller_.stats()[static_cast<size_t>(i)].name);
  std::vector<QByteArray> again;
  bool unanswered = false;
  for (size_t k = 0; k < writes.size(); k++) {
    bool took = Took(writes[k], backs[k]);
    journal_.append({{"e", "write"}, {"chamber", who}, {"step", c.step}, {"command", QString::fromLatin1(writes[k])},
                     {"ok", took}, {"t", static_cast<double>(nowMs())}});
    if (took) continue;
    again.push_back(writes[k]);
    unanswered = unanswered || backs[k].outcome != kAnswered;
  }
  if (!again.empty()) {
    if (unanswered) {
      c.pending = again;
    } else if (c.retriesLeft-- > 0) {
      write(i, again);
    } else {
      alarm(i, kAlarmWrite, true, "\"" + QString::fromLatin1(again.front()) + "\" did not take after " +
                                      QString::number(profile_.writeRetries + 1) + " writes");
      act(i, profile_.onAbort, "a write did not take");
    }
    return;
  }
  alarm(i, kAlarmWrite, false, QString());
  for (const DigitalWrite &d : s.digital)
    if (d.index == 1) c.expectRunning = d.on;
  if (s.kind == StepKind::Set || s.kind == StepKind::Digital) return enter(i, c.step + 1);
  c.active = true;
  judge(i, nowMs());
}

/* A result of the poller: polls of "Aa" (the analogue channels) and "S"
 * (start and error) are the run's samples. */
void Runner::take(const CommandResult &r) {
  int i = r.chamberIndex;
  if (i < 0 || views_[static_cast<size_t>(i)].status != RunStatus::Running) return;
  QByteArray command(r.command, static_cast<qsizetype>(r.commandLength));
  Chamber &c = *chambers_[static_cast<size_t>(i)];
  if (command == "S" && r.outcome == kAnswered && r.answerLength > 2) {
    bool started = r.answer[1] == '1', error = r.answer[2] == '1';
    alarm(i, kAlarmStopped, c.expectRunning && !started, "the chamber stopped");
    alarm(i, kAlarmError, error, "the chamber's error channel is set");
    if (started && c.step <= 0) c.expectRunning = true;
  }
  if (command != "Aa" || r.outcome == kSkipped) return;
  sample(i, r);
  if (!c.pending.empty() && !c.writing && r.outcome == kAnswered) {
    std::vector<QByteArray> writes;
    writes.swap(c.pending);
    write(i, writes);
  }
}

/* One poll of the analogue channels at the run's time now. */
void Runner::sample(int i, const CommandResult &r) {
  Chamber &c = *chambers_[static_cast<size_t>(i)];
  int64_t now = nowMs();
  bool answered = r.outcome == kAnswered && r.values && r.values->count == 2 * kAnalogueChannels;
  account(i, now);
  c.lastSampleMs = now;
  c.lastAnswered = answered;
  c.unjudged = true;
  if (answered) {
    for (int k = 0; k < kAnalogueChannels; k++) {
      c.actual[k] = r.values->value[2 * k].number;
      c.set[k] = r.values->value[2 * k + 1].number;
    }
    c.haveValues = true;
    c.lastAnswerMs = now;
  }
  alarm(i, kAlarmNoAnswer, c.lastAnswerMs >= 0 && now - c.lastAnswerMs > kNoAnswerPolls * profile_.pollMs * 1.0,
        QStringLiteral("no answer for %1 s").arg((now - c.lastAnswerMs) / 1000.0));
  if (c.active) judge(i, now);
}

/* Adds the time since the last sample to the step's hold time or to its
 * time out of band, as the last sample was. */
void Runner::account(int i, int64_t now) {
  Chamber &c = *chambers_[static_cast<size_t>(i)];
  if (!c.active || c.lastSampleMs < 0) return;
  const Step &s = profile_.steps[static_cast<size_t>(c.step)];
  int64_t span = now - std::max(c.lastSampleMs, c.stepStartMs);
  if (span <= 0) return;
  bool in = c.lastAnswered && c.lastInBand;
  if (s.kind == StepKind::Hold && (in || !s.guaranteed)) c.heldMs += span;
  if (Banded(s) && !in) {
    c.outMs += span;
    views_[static_cast<size_t>(i)].outOfBandMs += span;
  }
}

/* Judges the active step after a sample: in band or not, alarms, its end,
 * its limit in time. */
void Runner::judge(int i, int64_t now) {
  Chamber &c = *chambers_[static_cast<size_t>(i)];
  ChamberRunView &v = views_[static_cast<size_t>(i)];
  const Step &s = profile_.steps[static_cast<size_t>(c.step)];
  const QString who = QString::fromUtf8(poller_.stats()[static_cast<size_t>(i)].name);
  bool in = c.lastAnswered;
  for (size_t b = 0; b < s.band.size(); b++) {
    int k = s.band[b].channel;
    in = in && AtMost(std::fabs(c.actual[k] - c.set[k]), s.band[b].value);
    if (s.kind == StepKind::WaitStable) {
      if (c.lastAnswered && c.unjudged) c.windows[b].add(now, c.actual[k], c.set[k]);
      else if (!c.lastAnswered) c.windows[b].miss();
    }
  }
  c.unjudged = false;
  c.lastInBand = in;
  v.inBand = in || !Banded(s);
  if (!v.inBand && c.outSinceMs < 0) c.outSinceMs = now;
  if (v.inBand) c.outSinceMs = -1;
  alarm(i, kAlarmOutOfBand, c.outSinceMs >= 0 && s.alarmDelayMs > 0 && now - c.outSinceMs >= s.alarmDelayMs,
        QStringLiteral("out of band in step %1 (%2)").arg(c.step + 1).arg(s.label));
  bool changed = false;
  for (const ChannelValue &t : s.targets)
    changed = changed || (c.lastAnswered && s.kind != StepKind::Ramp && std::fabs(c.set[t.channel] - t.value) > kValueTolerance);
  alarm(i, kAlarmSetChanged, changed, "the chamber's set value is not the profile's");
  if (s.kind == StepKind::Hold) {
    bool done = c.heldMs >= s.holdMs;
    /* The hold served, journaled when the band is left or entered, at its
     * end, and once a minute between: a run that goes on after a crash
     * loses at most that minute of it, counted out of band. */
    if (done || in != c.journaledInBand || now - c.journaledHoldMs >= kHoldJournalMs) {
      journal_.append({{"e", "hold"}, {"chamber", who}, {"step", c.step}, {"held", static_cast<double>(c.heldMs)},
                       {"out", static_cast<double>(c.outMs)}, {"t", static_cast<double>(now)}});
      c.journaledHoldMs = now;
      c.journaledInBand = in;
    }
    v.stepLeftMs = std::max<int64_t>(0, s.holdMs - c.heldMs);
    if (done) return enter(i, c.step + 1);
  } else if (s.kind == StepKind::Ramp) {
    rampStep(i, now);
  } else if (s.kind == StepKind::WaitStable) {
    bool stable = true;
    for (const StableWindow &w : c.windows) stable = stable && w.stable();
    if (stable) return enter(i, c.step + 1);
  }
  if (c.step >= 0 && views_[static_cast<size_t>(i)].status == RunStatus::Running && s.maxMs > 0) {
    if (s.kind != StepKind::Hold) v.stepLeftMs = std::max<int64_t>(0, c.stepStartMs + s.maxMs - now);
    if (now - c.stepStartMs >= s.maxMs && &s == &profile_.steps[static_cast<size_t>(c.step)])
      act(i, s.onTimeout, QStringLiteral("step %1 (%2) took longer than %3 s").arg(c.step + 1).arg(s.label).arg(s.maxMs / 1000.0));
  }
}

/* A ramp: the monitor writes the set value the time calls for; either
 * way the step ends once every channel has arrived. */
void Runner::rampStep(int i, int64_t now) {
  Chamber &c = *chambers_[static_cast<size_t>(i)];
  const Step &s = profile_.steps[static_cast<size_t>(c.step)];
  bool arrived = c.lastAnswered, done = true;
  std::vector<QByteArray> writes;
  for (const ChannelValue &t : s.targets) {
    double band = kArriveBand;
    for (const ChannelValue &b : s.band)
      if (b.channel == t.channel) band = b.value;
    arrived = arrived && AtMost(std::fabs(c.actual[t.channel] - t.value), band);
    if (s.byChamber) continue;
    double spanMs = s.rampMs > 0 ? s.rampMs : std::fabs(t.value - c.rampFrom[t.channel]) / s.rate * 60000;
    double part = spanMs > 0 ? std::min(1.0, static_cast<double>(now - c.stepStartMs) / spanMs) : 1;
    double value = c.rampFrom[t.channel] + (t.value - c.rampFrom[t.channel]) * part;
    done = done && part >= 1;
    if (!(std::fabs(value - c.lastWritten[t.channel]) < kStepWriteMin) || (part >= 1 && c.lastWritten[t.channel] != t.value)) {
      c.lastWritten[t.channel] = part >= 1 ? t.value : value;
      writes.push_back("a" + QByteArray::number(t.channel) + " " + ValueField(c.lastWritten[t.channel]));
    }
  }
  if (!writes.empty() && !c.writing) stepWrites(i, writes);
  if (arrived && done) enter(i, c.step + 1);
}

/* Writes the set values of a ramp stepped by the monitor and reads them
 * back; one that did not take is written again at the next poll, and
 * raises the write alarm after the profile's retries. */
void Runner::stepWrites(int i, const std::vector<QByteArray> &writes) {
  QList<QByteArray> asks(writes.begin(), writes.end());
  for (const QByteArray &w : writes) asks.append("A" + w.mid(1, 1));
  int step = chambers_[static_cast<size_t>(i)]->step;
  poller_.ask(i, asks, [this, i, writes, step](const std::vector<AskAnswer> &answers) {
    Chamber &c = *chambers_[static_cast<size_t>(i)];
    if (c.step != step) return;
    bool all = true;
    for (size_t k = 0; k < writes.size(); k++) {
      if (Took(writes[k], answers[writes.size() + k])) continue;
      all = false;
      c.lastWritten[writes[k][1] - '0'] = std::nan("");
    }
    c.rampFailures = all ? 0 : c.rampFailures + 1;
    alarm(i, kAlarmWrite, c.rampFailures > profile_.writeRetries, "the stepped set value did not take");
  });
}

/* Takes action on chamber i: stops it, keeps it, or goes to a step. */
void Runner::act(int i, const StepAction &action, const QString &why) {
  if (action.kind == ActionKind::Goto) {
    log(i, why + ": going to step \"" + action.targetName + "\"");
    return enter(i, action.target);
  }
  if (action.kind == ActionKind::Keep) return finish(i, RunStatus::Kept, why + "; the chamber keeps its set values");
  views_[static_cast<size_t>(i)].status = RunStatus::Stopped;
  poller_.ask(i, {"s1 0", "O"}, [this, i, why](const std::vector<AskAnswer> &answers) {
    bool took = Took("s1 0", answers[1]);
    finish(i, RunStatus::Stopped, why + (took ? "; the chamber was stopped" : "; the chamber could not be stopped"));
  });
}

/* Ends chamber i's run with status, in the journal and the log. */
void Runner::finish(int i, RunStatus status, const QString &why) {
  Chamber &c = *chambers_[static_cast<size_t>(i)];
  c.active = false;
  c.pending.clear();
  views_[static_cast<size_t>(i)].status = status;
  views_[static_cast<size_t>(i)].stepLeftMs = -1;
  journal_.append({{"e", "end"}, {"chamber", QString::fromUtf8(poller_.stats()[static_cast<size_t>(i)].name)},
                   {"status", RunStatusName(status)}, {"why", why}, {"t", static_cast<double>(nowMs())}});
  log(i, QStringLiteral("run %1: %2").arg(RunStatusName(status), why));
  checkFinished();
}

void Runner::abort(const QString &why) {
  for (size_t i = 0; i < chambers_.size(); i++)
    if (views_[i].status == RunStatus::Running) act(static_cast<int>(i), profile_.onAbort, why);
}

void Runner::checkFinished() {
  if (finished_) return;
  for (const ChamberRunView &v : views_)
    if (v.status == RunStatus::Running || v.status == RunStatus::Checking) return;
  finished_ = true;
  if (onFinished) onFinished();
}

/* Raises or clears alarm kind of chamber i: the view, the journal, the
 * log and the user's command know. Nothing when it is as it was. */
void Runner::alarm(int i, int kind, bool raised, const QString &text) {
  ChamberRunView &v = views_[static_cast<size_t>(i)];
  if (v.alarm[kind] == raised) return;
  v.alarm[kind] = raised;
  if (raised) v.alarms[kind]++;
  const QString who = QString::fromUtf8(poller_.stats()[static_cast<size_t>(i)].name);
  const int step = chambers_[static_cast<size_t>(i)]->step;
  journal_.append({{"e", "alarm"}, {"chamber", who}, {"alarm", AlarmName(kind)}, {"raised", raised},
                   {"text", text}, {"step", step}, {"t", static_cast<double>(nowMs())}});
  log(i, QStringLiteral("alarm %1 %2%3").arg(AlarmName(kind), raised ? "raised" : "cleared",
                                               raised ? ": " + text : QString()));
  if (settings_.onAlarm.isEmpty()) return;
  QProcess p;
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert("QUENTA_ALARM", AlarmName(kind));
  env.insert("QUENTA_ALARM_STATE", raised ? "raised" : "cleared");
  env.insert("QUENTA_ALARM_TEXT", text);
  env.insert("QUENTA_CHAMBER", who);
  env.insert("QUENTA_ADDRESS", QString::fromUtf8(poller_.stats()[static_cast<size_t>(i)].address));
  env.insert("QUENTA_RUN", runId_);
  env.insert("QUENTA_STEP", QString::number(step + 1));
  env.insert("QUENTA_STEP_NAME", step >= 0 ? profile_.steps[static_cast<size_t>(step)].label : QString());
  p.setProcessEnvironment(env);
  p.setProgram("/bin/sh");
  p.setArguments({"-c", settings_.onAlarm});
  p.setStandardInputFile(QProcess::nullDevice());
  if (!p.startDetached()) log(i, "cannot run the --on-alarm command: " + p.errorString());
}

void Runner::log(int i, const QString &text) {
  if (onLog) onLog(QString::fromUtf8(poller_.stats()[static_cast<size_t>(i)].name) + ": " + text);
}

}  // namespace monitor
