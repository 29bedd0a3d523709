/*
 * run.h -- a test run: one profile (profile.h) driven on many chambers at
 * once, each chamber on its own, through the poller's connections.
 *
 * Each chamber walks the profile's steps. Entering a step writes what the
 * step sets (set values, ramp rates, digital channels), each write read
 * back and written again a bounded number of times when it did not take.
 * Then every poll (the analogue channels with "Aa", start and error with
 * "S", both of fixed length) is a sample, and the step ends by its rule:
 *   set, digital   once its writes took;
 *   ramp           when every ramped channel has arrived within its band
 *                  (0.5 by default); a ramp stepped by the monitor writes
 *                  the set value the time calls for at every poll;
 *   hold           when the hold time is served: with guaranteed soak the
 *                  clock runs only while every banded channel is in band;
 *   wait_stable    when every channel given is stable (stability.h).
 * A step with a limit in time (max, timeout) that runs out takes its
 * action: stop the chamber, keep it as it is, or go to a named step.
 *
 * In band means |actual - set| <= band, the set value being the one the
 * chamber reports in the same answer; the interval from one sample to the
 * next counts as the first sample was (in band, out of band, or out of
 * band when the chamber did not answer). So the figures can be computed
 * again from the CSV file.
 *
 * Every step entered, every write and the hold time served go to the
 * journal (journal.h) as they happen, so that a run that was killed goes
 * on where it was: the same step, the hold time served kept, the time the
 * run was away counted out of band, the writes that took not made again.
 */
#ifndef QUENTA_MONITOR_RUN_H
#define QUENTA_MONITOR_RUN_H

#include <stdint.h>

#include <QObject>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "journal.h"
#include "poller.h"
#include "profile.h"
#include "stability.h"

namespace monitor {

/* What can go wrong during a run, each an alarm of its own per chamber. */
enum AlarmKind {
  kAlarmOutOfBand,   /* out of band longer than the step's alarm delay */
  kAlarmNoAnswer,    /* no answer for three polls */
  kAlarmStopped,     /* the chamber stopped while the run wants it running */
  kAlarmError,       /* the chamber's error channel is set */
  kAlarmWrite,       /* a write did not take */
  kAlarmSetChanged,  /* the chamber's set value is not the one the run wrote */
  kAlarmKinds
};

/* "out_of_band", "no_answer", "stopped", "error", "write", "set_changed". */
const char *AlarmName(int kind);

enum class RunStatus { Checking, Running, Completed, Stopped, Kept, Refused };

/* "checking", "running", "completed", "stopped", "kept", "refused". */
const char *RunStatusName(RunStatus status);

/* One chamber's state, for the metrics and the status line. */
struct ChamberRunView {
  RunStatus status = RunStatus::Checking;
  int step = -1;              /* index into the profile's steps */
  int64_t stepLeftMs = -1;    /* hold time left, or time left before the step's limit; -1 none */
  bool inBand = true;
  int64_t outOfBandMs = 0;    /* over the whole run */
  bool alarm[kAlarmKinds] = {};
  uint64_t alarms[kAlarmKinds] = {};  /* raised so far */
};

struct RunSettings {
  double timeScale = 1;       /* run time per real time; > 1 only against the simulator */
  QString onAlarm;            /* command run for each alarm raised or cleared; empty: none */
  bool abortOnly = false;     /* end the run at once with the profile's abort action */
};

class Runner : public QObject {
 public:
  /* Drives profile on the chambers of poller, recording in journal. The
   * poller must poll "Aa" and "S". */
  Runner(const Profile &profile, Poller &poller, Journal &journal, const RunSettings &settings);
  ~Runner() override;

  /* Called with each log line (a step entered, an alarm, the end). */
  std::function<void(const QString &)> onLog;
  /* Called once every chamber has ended its run (completed, stopped or
   * kept), or the run was refused before any write. */
  std::function<void()> onFinished;

  /* Checks every chamber (manual limits; the simulator where the time is
   * scaled), then resumes each from the journal or starts it. */
  void start();
  /* Ends the run on every chamber with the profile's abort action. */
  void abort(const QString &why);

  /* The poller's result r (a poll's or an ask's) as a sample. */
  void take(const CommandResult &r);

  const std::vector<ChamberRunView> &views() const { return views_; }
  /* Why the run was refused, one line per chamber; empty when it was not. */
  QString refusal() const { return refusal_; }
  /* The run's time now, in ms since it started (across restarts). */
  int64_t nowMs() const;
  const QString &runId() const { return runId_; }
  /* 1-based number of the step chamber i is in, 0 before the first. */
  int stepNumber(int i) const;

  struct Chamber;

 private:
  void check(int i);
  void checked(int i, const std::vector<AskAnswer> &answers);
  void begin(int i);
  void enter(int i, int step);
  void write(int i, const std::vector<QByteArray> &writes);
  void written(int i, const std::vector<QByteArray> &writes, const std::vector<AskAnswer> &answers);
  void sample(int i, const CommandResult &r);
  void account(int i, int64_t now);
  void judge(int i, int64_t now);
  void rampStep(int i, int64_t now);
  void stepWrites(int i, const std::vector<QByteArray> &writes);
  void act(int i, const StepAction &action, const QString &why);
  void finish(int i, RunStatus status, const QString &why);
  void alarm(int i, int kind, bool raised, const QString &text);
  void log(int i, const QString &text);
  void checkFinished();

  Profile profile_;
  Poller &poller_;
  Journal &journal_;
  RunSettings settings_;
  QString runId_;
  int64_t startNs_ = 0;       /* monotonic, at this process's start of the run */
  int64_t baseMs_ = 0;        /* run time at startNs_ */
  std::vector<std::unique_ptr<Chamber>> chambers_;
  std::vector<ChamberRunView> views_;
  QString refusal_;
  int checking_ = 0;
  bool finished_ = false;
};

}  // namespace monitor

#endif
