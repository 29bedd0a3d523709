/*
 * profile.h -- a test profile: the steps a run drives a chamber through
 * (set values, ramps, holds with guaranteed soak, waits for stability,
 * digital channels, repeated blocks), read from a TOML file that an
 * engineer writes and reviews by hand. The format is in docs/runs.md.
 *
 * Loading checks everything that can be checked without a chamber; each
 * message names the file, line and column ("cold.toml:12:9: ..."). A
 * repeated block is unrolled: the program is the flat list of the steps
 * as they will run, each with its cycle in its label.
 */
#ifndef QUENTA_MONITOR_PROFILE_H
#define QUENTA_MONITOR_PROFILE_H

#include <stdint.h>

#include <QByteArray>
#include <QString>
#include <vector>

namespace monitor {

constexpr int kAnalogueChannels = 5;  /* 0 temperature, 1 humidity, 2 to 4 further */

/* Where a value stands in the profile file, for messages. */
struct Where {
  int line = 0, column = 0;
};

enum class StepKind { Set, Ramp, Hold, WaitStable, Digital };

/* What happens when a step's time runs out, or a run is aborted. */
enum class ActionKind { Stop, Keep, Goto };
struct StepAction {
  ActionKind kind = ActionKind::Stop;
  int target = -1;       /* Goto: index of the step gone to */
  QString targetName;
  Where where;
};

struct ChannelValue {
  int channel = 0;
  double value = 0;
  Where where;
};

/* A digital channel as the chamber numbers its further digital channels:
 * 1 start, 3 pause (written as "continue" when off), 4 to 8 flags 1 to 5,
 * 9 to 13 softkeys 1 to 5. */
struct DigitalWrite {
  int index = 0;
  bool on = false;
};

struct Step {
  QString name;                       /* as written, may be empty */
  QString label;                      /* name, or "step N", with "(cycle i/n)" in a repeat */
  StepKind kind = StepKind::Set;
  Where where;
  std::vector<ChannelValue> targets;  /* Set, Ramp: the set values written */
  double rate = 0;                    /* Ramp: units per minute, 0 when by duration */
  int64_t rampMs = 0;                 /* Ramp: over this long, 0 when by rate */
  bool byChamber = true;              /* Ramp: the chamber's own ramp rates, else set values stepped by the monitor */
  int64_t holdMs = 0;                 /* Hold: the time to serve */
  std::vector<ChannelValue> band;     /* Hold, Ramp (arrival), WaitStable: |actual - set| allowed */
  bool guaranteed = true;             /* Hold: the clock runs only inside every band */
  int64_t maxMs = 0;                  /* the longest the whole step may take; 0: no limit */
  StepAction onTimeout;                   /* when maxMs runs out */
  int64_t windowMs = 0;               /* WaitStable: the window the drift is measured over */
  double drift = 0;                   /* WaitStable: largest max - min of the actual value in the window */
  std::vector<DigitalWrite> digital;  /* Digital */
  int64_t alarmDelayMs = 0;           /* out of band this long raises an alarm; 0: never */
};

struct Profile {
  QString path;
  QString name;
  QByteArray sha256;                  /* of the file's bytes, hexadecimal */
  int pollMs = 10000;
  int writeRetries = 3;
  StepAction onAbort;
  std::vector<Step> steps;            /* unrolled */
};

/* True when the step keeps its channels in a band (a hold or a wait for
 * stability with one): only then is a chamber ever out of band. A ramp's
 * band says only when it has arrived. */
inline bool Banded(const Step &s) {
  return !s.band.empty() && (s.kind == StepKind::Hold || s.kind == StepKind::WaitStable);
}

/* Reads the profile file at path into *out. Returns true, or false with
 * *error: one line per problem, each "PATH:LINE:COLUMN: what is wrong". */
bool LoadProfile(const QString &path, Profile *out, QString *error);

/* The same, from text (fileName only labels messages). */
bool ParseProfile(const QByteArray &text, const QString &fileName, Profile *out, QString *error);

/* "temperature", "humidity" or "channel N". */
QString ChannelName(int channel);

/* The commands that write step's set values, ramp rates or digital
 * channels, in the order they are written (docs/protocol.md): "a0 -25.0",
 * "u0 01.00", "s1 1", ... For a ramp stepped by the monitor, only the
 * commands that turn the chamber's own ramps off: the set values follow
 * at each poll. */
std::vector<QByteArray> StepWrites(const Step &step);

/* The protocol's value field of v ("-25.0", "023.5"), clamped to what five
 * characters carry; and its rate field ("01.00", "100.0"). */
QByteArray ValueField(double v);
QByteArray RateField(double perMinute);

}  // namespace monitor

#endif
