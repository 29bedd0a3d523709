/*
 * chamber.h -- the simulated climate test chamber, without sockets.
 *
 * Exports class Chamber: five analogue channels (0 temperature, 1 humidity,
 * 2 to 4 further) whose actual values move toward their set values at the
 * ramp rates per minute, manual limits that clamp the set values, the
 * digital channels (start, error, pause, flags, softkeys), a chamber clock,
 * the keyboard lock level, stored test programs, pending errors and the
 * external values of special chambers.
 *
 * Time comes from a millisecond clock that the owner passes in (the server a
 * monotonic timer, the tests a fake one). Every public call first brings the
 * chamber up to the present; simulated time runs `speed` times faster than
 * the clock.
 *
 * A chamber can be asked too much, as a real one: its Physics limit how
 * fast the control moves temperature and humidity, its sensors add noise
 * to the values it answers, and an open door lets both drift toward the
 * room's against the control.
 */
#ifndef QUENTA_SIM_CHAMBER_H
#define QUENTA_SIM_CHAMBER_H

#include <cstdint>
#include <functional>
#include <limits>
#include <random>
#include <string>
#include <vector>

namespace sim {

constexpr int kAnalogChannels = 5;
constexpr int kFlags = 5;
constexpr int kSoftkeys = 5;
/* Further digital channels, numbered from 1: start, error, one not in use,
 * the flags, then the softkeys. */
constexpr int kDigitalStart = 1;
constexpr int kDigitalError = 2;
constexpr int kDigitalUnused = 3;
constexpr int kFirstFlag = 4;
constexpr int kFirstSoftkey = kFirstFlag + kFlags;
constexpr int kLastDigital = kFirstSoftkey + kSoftkeys - 1;
/* A ramp rate of this value or more means "no ramp": the value jumps. */
constexpr double kNoRamp = 999.9;
/* The range that an answer field of five characters can carry. */
constexpr double kValueMin = -99.9;
constexpr double kValueMax = 999.9;
constexpr int kMaxLockLevel = 2;
constexpr int kExternalValues = 3;
constexpr int kInfoTexts = 2;
/* How close the temperature must come to its set value to end a wait. */
constexpr double kWaitTolerance = 0.5;
/* Software versions: PLC (two characters), controller (four). The PLC
 * number is the chamber's own: SIM- and its number in the fleet. */
constexpr const char *kPlcVersion = "05";
constexpr const char *kControllerVersion = "3.23";

/* A heating, cooling, humidifying or drying capacity without limit. */
constexpr double kUnlimited = std::numeric_limits<double>::infinity();
/* Time constant, in simulated seconds, of the drift through an open door. */
constexpr double kDoorSeconds = 120.0;
constexpr uint32_t kDefaultSeed = 1;

/* What the chamber's plant can do. Under control, the actual values of
 * channels 0 (temperature, K/min) and 1 (humidity, %/min) rise at most at
 * rise[k] and fall at most at fall[k], whatever the ramp rates say; each
 * actual value answered is off the model's by at most noise (uniform, in
 * the channel's unit), drawn from a generator seeded with seed and the
 * chamber's index. */
struct Physics {
  double rise[2] = {kUnlimited, kUnlimited};
  double fall[2] = {kUnlimited, kUnlimited};
  double noise = 0.0;
  uint32_t seed = kDefaultSeed;
};

struct AnalogChannel {
  double actual;
  double set;
  double rateUp;     /* per minute; kNoRamp: jump */
  double rateDown;
  double limitMin;   /* manual limits; set values stay inside */
  double limitMax;
  double ambient;    /* where the actual value drifts while stopped */
};

struct ProgramLine {
  int seconds;         /* how long the line runs */
  double temperature;  /* set values that the line gives channels 0 and 1 */
  double humidity;
  bool wait;           /* at its end, wait until the temperature is reached */
};

struct TestProgram {
  int number;
  std::string name;
  std::vector<ProgramLine> lines;
};

struct PendingError {
  int number;  /* 1 to 9 */
  std::string text;
};

/* The running test program as the chamber reports it; number 0: none. */
struct ProgramStatus {
  int number;
  int line;              /* from 1 */
  bool waiting;
  bool running;          /* false while the chamber is paused */
  int64_t runtime;       /* whole seconds the program has run */
  int64_t lineRemaining; /* whole seconds left in the line, 0 while waiting */
};

using MillisecondClock = std::function<int64_t()>;

/* Channel k (0 to kAnalogChannels - 1) as chamber index (>= 0) of a fleet
 * starts: temperature and humidity a tenth of a degree and of a percent
 * apart from one chamber to the next (repeating after 100 and 50), so that
 * chambers tell apart; chamber 0 has the values of a lone chamber. */
AnalogChannel StartChannel(int k, int index);

class Chamber {
 public:
  /* clock: milliseconds of any monotonic origin; speed > 0; wallSeconds:
   * the chamber clock at the start, seconds since 1970-01-01 00:00:00 read
   * as the chamber's local time; index: the chamber's place in a fleet,
   * from 0. Chamber 0 starts as a lone chamber does; each further one from
   * actual and ambient values of its own (see StartChannel()); physics:
   * what its plant can do. The chamber starts switched on, its door
   * closed. */
  Chamber(MillisecondClock clock, double speed, int64_t wallSeconds, int index = 0,
          const Physics &physics = Physics());

  AnalogChannel channel(int k);
  /* Channel k's actual value as its sensor reads it: the model's and the
   * noise, a new draw each call. */
  double measured(int k);
  bool doorOpen() const { return doorOpen_; }
  int64_t clockSeconds();
  bool started();
  bool paused();
  int lockLevel();
  bool digital(int index);
  ProgramStatus program();
  std::vector<PendingError> errors();
  const std::string &plcNumber() const { return plcNumber_; }
  const std::vector<TestProgram> &programs() const { return programs_; }
  const TestProgram *findProgram(int number) const;
  double externalValue(int index) const { return external_[index]; }
  std::string infoText(int index) const { return info_[index]; }
  bool rampRunning(int k);

  void setSetValue(int k, double value);
  bool setRate(int k, bool up, double rate);
  bool setLimits(int k, double min, double max);
  void setClock(int64_t wallSeconds);
  bool setLockLevel(int level);
  void setStarted(bool on);
  void setPaused(bool on);
  bool setDigital(int index, bool on);
  void raiseError(const std::string &text);
  void confirmErrors();
  bool startProgram(int number);
  void stopProgram();
  bool setExternalValue(int index, double value);
  bool setInfoText(int index, const std::string &text);
  void setDoorOpen(bool open);

 private:
  struct Run {
    const TestProgram *program = nullptr;
    size_t line = 0;
    double lineElapsed = 0;
    double runtime = 0;
    bool waiting = false;
  };

  void sync();
  void advance(double seconds);
  double untilProgramEvent() const;
  double untilTolerance() const;
  void moveActuals(double seconds);
  void runProgram(double seconds);
  void settleLine();
  void applyLine();
  bool inTolerance() const;
  double target(int k) const;
  double rate(int k, bool up) const;

  MillisecondClock clock_;
  double speed_;
  int64_t lastMs_;
  double wallSeconds_;
  AnalogChannel channels_[kAnalogChannels];
  bool started_ = true;
  bool paused_ = false;
  bool flags_[kFlags] = {};
  bool softkeys_[kSoftkeys] = {};
  int lockLevel_ = 0;
  std::vector<PendingError> errors_;
  int nextErrorNumber_ = 1;
  std::vector<TestProgram> programs_;
  std::string plcNumber_;
  Run run_;
  double external_[kExternalValues] = {};
  std::string info_[kInfoTexts];
  Physics physics_;
  std::mt19937 noise_;
  bool doorOpen_ = false;
};

}  // namespace sim

#endif
