/*
 * chamber.cpp -- the simulated climate test chamber (see chamber.h).
 *
 * Time advances in steps that end exactly where the running test program
 * changes line or ends a wait, so that a large jump of the clock gives the
 * same state as many small ones.
 */
#include "chamber.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>

namespace sim {

namespace {

constexpr double kForever = std::numeric_limits<double>::infinity();
/* Bounds the steps of one advance; a test program has few events. */
constexpr int kMaxStepsPerAdvance = 100000;
constexpr double kEpsilon = 1e-9;
/* "SIM-" and up to ten digits, with the NUL. */
constexpr int kPlcNumberSize = 16;

std::vector<TestProgram> storedPrograms() {
  return {
      {1, "Climate cycle",
       {{600, 40.0, 80.0, true}, {1800, 40.0, 80.0, false},
        {600, 23.0, 50.0, true}, {1200, 23.0, 50.0, false}}},
      {2, "Cold start",
       {{900, -20.0, 10.0, true}, {3600, -20.0, 10.0, false},
        {900, 23.0, 50.0, true}}},
      {5, "Heat soak", {{1800, 85.0, 10.0, true}, {14400, 85.0, 10.0, false}}},
  };
}

bool validChannel(int k) { return k >= 0 && k < kAnalogChannels; }

/* Moves value toward goal by at most step (>= 0) without passing it. */
double approach(double value, double goal, double step) {
  if (value < goal) return std::min(goal, value + step);
  return std::max(goal, value - step);
}

/* "SIM-" and the chamber's number (index + 1), at least four digits. */
std::string PlcNumber(int index) {
  char text[kPlcNumberSize];
  snprintf(text, sizeof text, "SIM-%04d", index + 1);
  return text;
}

}  // namespace

AnalogChannel StartChannel(int k, int index) {
  if (k == 0) {
    double offset = (index % 100) / 10.0;
    return {22.0 + offset, 25.0, 1.0, 1.0, -70.0, 180.0, 22.0 + offset};
  }
  if (k == 1) {
    double offset = (index % 50) / 10.0;
    return {45.0 + offset, 50.0, 2.0, 2.0, 10.0, 98.0, 45.0 + offset};
  }
  return {0.0, 0.0, kNoRamp, kNoRamp, 0.0, 100.0, 0.0};
}

Chamber::Chamber(MillisecondClock clock, double speed, int64_t wallSeconds, int index,
                 const Physics &physics)
    : clock_(std::move(clock)),
      speed_(speed > 0 ? speed : 1.0),
      lastMs_(clock_()),
      wallSeconds_(static_cast<double>(wallSeconds)),
      programs_(storedPrograms()),
      plcNumber_(PlcNumber(std::max(0, index))),
      physics_(physics),
      noise_(physics.seed + static_cast<uint32_t>(std::max(0, index))) {
  for (int k = 0; k < kAnalogChannels; k++) channels_[k] = StartChannel(k, std::max(0, index));
}

/* Brings the chamber up to the clock's present. A clock that goes back
 * moves nothing until it passes the latest time seen. Runs even when no
 * time has passed, so that a value without ramp jumps at once. */
void Chamber::sync() {
  int64_t now = clock_();
  double seconds = now > lastMs_ ? static_cast<double>(now - lastMs_) / 1000.0 * speed_ : 0.0;
  lastMs_ = std::max(lastMs_, now);
  advance(seconds);
}

/* Advances simulated time by seconds (>= 0), stepping from one program
 * event to the next; at least one step, which may be of zero length. */
void Chamber::advance(double seconds) {
  int steps = 0;
  do {
    double step = std::min(seconds, untilProgramEvent());
    moveActuals(step);
    runProgram(step);
    wallSeconds_ += step;
    seconds -= step;
  } while (seconds > 0 && ++steps < kMaxStepsPerAdvance);
  if (seconds > 0) {  /* only reached by a program that never settles */
    moveActuals(seconds);
    wallSeconds_ += seconds;
  }
}

/* Where channel k's actual value is heading: the set value while the
 * chamber runs, the ambient value while it is off, nowhere while paused. */
double Chamber::target(int k) const {
  const AnalogChannel &c = channels_[k];
  if (!started_) return c.ambient;
  return paused_ ? c.actual : c.set;
}

/* Channel k's rate per minute upward (up) or downward: the ramp's, and
 * under control of channels 0 and 1 no more than the plant can. */
double Chamber::rate(int k, bool up) const {
  const AnalogChannel &c = channels_[k];
  double ramp = up ? c.rateUp : c.rateDown;
  if (k >= 2 || !started_) return ramp;
  return std::min(ramp, up ? physics_.rise[k] : physics_.fall[k]);
}

/* Moves every actual value on by seconds: through an open door channels 0
 * and 1 drift toward ambient (exponentially, time constant kDoorSeconds),
 * exact for any step; otherwise each moves toward its target at its rate. */
void Chamber::moveActuals(double seconds) {
  for (int k = 0; k < kAnalogChannels; k++) {
    AnalogChannel &c = channels_[k];
    if (doorOpen_ && k < 2) {
      c.actual = c.ambient + (c.actual - c.ambient) * std::exp(-seconds / kDoorSeconds);
      continue;
    }
    double goal = target(k);
    double perMinute = rate(k, goal > c.actual);
    c.actual = perMinute >= kNoRamp ? goal : approach(c.actual, goal, perMinute / 60.0 * seconds);
  }
}

bool Chamber::inTolerance() const {
  const AnalogChannel &c = channels_[0];
  return std::fabs(c.set - c.actual) <= kWaitTolerance + kEpsilon;
}

/* Seconds until the temperature comes within the wait tolerance; forever
 * while the door is open (then only the end of each step tells). */
double Chamber::untilTolerance() const {
  const AnalogChannel &c = channels_[0];
  double gap = std::fabs(c.set - c.actual) - kWaitTolerance;
  if (gap <= 0) return 0;
  if (doorOpen_) return kForever;
  double perMinute = rate(0, c.set > c.actual);
  if (perMinute >= kNoRamp) return 0;
  return perMinute > 0 ? gap / (perMinute / 60.0) : kForever;
}

/* Seconds until the running program next changes line or ends its wait;
 * forever when no program runs or the chamber holds it. */
double Chamber::untilProgramEvent() const {
  if (!run_.program || !started_ || paused_) return kForever;
  if (run_.waiting) return untilTolerance();
  double left = run_.program->lines[run_.line].seconds - run_.lineElapsed;
  return std::max(0.0, left);
}

void Chamber::runProgram(double seconds) {
  if (!run_.program || !started_ || paused_) return;
  run_.runtime += seconds;
  if (!run_.waiting) run_.lineElapsed += seconds;
  settleLine();
}

/* Moves past every line whose time is up and whose wait, if any, is over;
 * ends the program after its last line. */
void Chamber::settleLine() {
  while (run_.program) {
    const ProgramLine &line = run_.program->lines[run_.line];
    if (run_.lineElapsed + kEpsilon < line.seconds) return;
    run_.waiting = line.wait && !inTolerance();
    if (run_.waiting) return;
    run_.line++;
    run_.lineElapsed = 0;
    if (run_.line >= run_.program->lines.size()) {
      run_ = Run();
      return;
    }
    applyLine();
  }
}

/* Gives channels 0 and 1 the set values of the current line. */
void Chamber::applyLine() {
  const ProgramLine &line = run_.program->lines[run_.line];
  double values[2] = {line.temperature, line.humidity};
  for (int k = 0; k < 2; k++) {
    AnalogChannel &c = channels_[k];
    c.set = std::clamp(values[k], c.limitMin, c.limitMax);
  }
}

AnalogChannel Chamber::channel(int k) {
  sync();
  return channels_[validChannel(k) ? k : 0];
}

/* Uniform noise of up to the amplitude either way, from the chamber's own
 * generator, so that a run with the same seed repeats. */
double Chamber::measured(int k) {
  double actual = channel(k).actual;
  if (!(physics_.noise > 0)) return actual;
  double unit = static_cast<double>(noise_()) / 4294967296.0;  /* [0, 1) */
  return actual + physics_.noise * (2.0 * unit - 1.0);
}

int64_t Chamber::clockSeconds() {
  sync();
  return static_cast<int64_t>(std::floor(wallSeconds_));
}

bool Chamber::started() {
  sync();
  return started_;
}

bool Chamber::paused() {
  sync();
  return paused_;
}

int Chamber::lockLevel() {
  sync();
  return lockLevel_;
}

/* index: 1 start, 2 error, 3 pause (the channel not in use for setting),
 * 4.. flags, then softkeys. Any other index reads false. */
bool Chamber::digital(int index) {
  sync();
  if (index == kDigitalStart) return started_;
  if (index == kDigitalError) return !errors_.empty();
  if (index == kDigitalUnused) return paused_;
  if (index >= kFirstFlag && index < kFirstSoftkey) return flags_[index - kFirstFlag];
  if (index >= kFirstSoftkey && index <= kLastDigital) return softkeys_[index - kFirstSoftkey];
  return false;
}

ProgramStatus Chamber::program() {
  sync();
  if (!run_.program) return ProgramStatus{0, 0, false, false, 0, 0};
  double left = run_.program->lines[run_.line].seconds - run_.lineElapsed;
  int64_t remaining = run_.waiting ? 0 : static_cast<int64_t>(std::ceil(left - kEpsilon));
  return ProgramStatus{run_.program->number, static_cast<int>(run_.line) + 1, run_.waiting,
                       started_ && !paused_,
                       static_cast<int64_t>(std::floor(run_.runtime + kEpsilon)),
                       std::max<int64_t>(0, remaining)};
}

std::vector<PendingError> Chamber::errors() {
  sync();
  return errors_;
}

const TestProgram *Chamber::findProgram(int number) const {
  for (const TestProgram &p : programs_)
    if (p.number == number) return &p;
  return nullptr;
}

/* True while channel k's actual value is still on its way at a finite
 * rate. */
bool Chamber::rampRunning(int k) {
  sync();
  if (!validChannel(k)) return false;
  const AnalogChannel &c = channels_[k];
  double goal = target(k);
  if (std::fabs(goal - c.actual) < kEpsilon) return false;
  return rate(k, goal > c.actual) < kNoRamp;
}

/* Clamps value into channel k's manual limits. */
void Chamber::setSetValue(int k, double value) {
  sync();
  if (!validChannel(k)) return;
  AnalogChannel &c = channels_[k];
  c.set = std::clamp(value, c.limitMin, c.limitMax);
}

/* rate > 0; rate >= kNoRamp is stored as kNoRamp. Returns false, changing
 * nothing, for a channel out of range or a rate <= 0. */
bool Chamber::setRate(int k, bool up, double rate) {
  sync();
  if (!validChannel(k) || !(rate > 0)) return false;
  double &field = up ? channels_[k].rateUp : channels_[k].rateDown;
  field = std::min(rate, kNoRamp);
  return true;
}

/* kValueMin <= min <= max <= kValueMax; the set value is clamped into the
 * new limits. Returns false, changing nothing, otherwise. */
bool Chamber::setLimits(int k, double min, double max) {
  sync();
  if (!validChannel(k) || !(min >= kValueMin && min <= max && max <= kValueMax)) return false;
  AnalogChannel &c = channels_[k];
  c.limitMin = min;
  c.limitMax = max;
  c.set = std::clamp(c.set, min, max);
  return true;
}

void Chamber::setClock(int64_t wallSeconds) {
  sync();
  wallSeconds_ = static_cast<double>(wallSeconds);
}

/* level 0 unlocks, 1 to kMaxLockLevel lock; false for any other. */
bool Chamber::setLockLevel(int level) {
  sync();
  if (level < 0 || level > kMaxLockLevel) return false;
  lockLevel_ = level;
  return true;
}

/* Switching off also ends the running program. */
void Chamber::setStarted(bool on) {
  sync();
  started_ = on;
  if (!on) run_ = Run();
}

void Chamber::setPaused(bool on) {
  sync();
  paused_ = on;
}

/* Sets further digital channel index (1 to kLastDigital). Start switches
 * the chamber; error 0 confirms the pending errors and 1 raises one; the
 * channel not in use accepts any state and keeps none. False for an index
 * out of range. */
bool Chamber::setDigital(int index, bool on) {
  if (index < kDigitalStart || index > kLastDigital) return false;
  if (index == kDigitalStart) {
    setStarted(on);
  } else if (index == kDigitalError) {
    if (on) raiseError("Error raised by remote command");
    else confirmErrors();
  } else if (index >= kFirstSoftkey) {
    sync();
    softkeys_[index - kFirstSoftkey] = on;
  } else if (index >= kFirstFlag) {
    sync();
    flags_[index - kFirstFlag] = on;
  }
  return true;
}

/* Numbers errors 1 to 9 and round again. */
void Chamber::raiseError(const std::string &text) {
  sync();
  errors_.push_back(PendingError{nextErrorNumber_, text});
  nextErrorNumber_ = nextErrorNumber_ % 9 + 1;
}

void Chamber::confirmErrors() {
  sync();
  errors_.clear();
}

/* Starts stored program number from its first line, switching the chamber
 * on and ending a pause; false, changing nothing, for an unknown number. */
bool Chamber::startProgram(int number) {
  sync();
  const TestProgram *p = findProgram(number);
  if (!p || p->lines.empty()) return false;
  run_ = Run();
  run_.program = p;
  started_ = true;
  paused_ = false;
  applyLine();
  settleLine();
  return true;
}

void Chamber::stopProgram() {
  sync();
  run_ = Run();
}

bool Chamber::setExternalValue(int index, double value) {
  sync();
  if (index < 0 || index >= kExternalValues) return false;
  external_[index] = value;
  return true;
}

void Chamber::setDoorOpen(bool open) {
  sync();
  doorOpen_ = open;
}

bool Chamber::setInfoText(int index, const std::string &text) {
  sync();
  if (index < 0 || index >= kInfoTexts) return false;
  info_[index] = text;
  return true;
}

}  // namespace sim
