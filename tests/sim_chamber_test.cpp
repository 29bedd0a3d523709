/*
 * sim_chamber_test.cpp -- the simulated chamber on a fake clock: ramps,
 * the plant's limits, an open door, sensor noise, manual limits, the
 * clock, test programs, errors, lock levels, digital channels.
 */
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <numeric>
#include <vector>

#include "chamber.h"

namespace {

constexpr int64_t kWallStart = 1255437000;  /* 13.10.2009 12:30:00 */

/* A chamber whose clock moves only when the test says so. */
struct FakeChamber {
  explicit FakeChamber(double speed = 1.0, const sim::Physics &physics = sim::Physics())
      : chamber([this] { return now; }, speed, kWallStart, 0, physics) {}
  void passSeconds(double seconds) { now += static_cast<int64_t>(seconds * 1000); }
  int64_t now = 0;
  sim::Chamber chamber;
};

TEST(SimChamber, RampsMoveActualTowardSetAtTheRate) {
  struct Case {
    double up, down, set, speed, seconds, actual;
    double heat = sim::kUnlimited, cool = sim::kUnlimited;  /* the plant's limits */
  } cases[] = {
      {1.0, 1.0, 30.0, 1, 180, 25.0},       /* 22 + 3 min at 1/min */
      {1.0, 1.0, 30.0, 1, 600, 30.0},       /* arrives, no overshoot */
      {1.0, 2.0, 10.0, 1, 180, 16.0},       /* falling uses the down rate */
      {1.0, 0.5, 20.0, 1, 120, 21.0},
      {3.5, 1.0, 30.0, 1, 60, 25.5},
      {999.9, 1.0, 30.0, 1, 0, 30.0},       /* no ramp: jump, even at once */
      {1.0, 999.9, -40.0, 1, 0, -40.0},
      {1.0, 1.0, 30.0, 10, 18, 25.0},       /* ten times faster */
      {1.0, 1.0, 30.0, 1, 180, 23.5, 0.5},  /* heating slower than the ramp */
      {999.9, 1.0, 30.0, 10, 12, 24.0, 1.0}, /* no ramp, yet no jump */
      {1.0, 2.0, 10.0, 1, 180, 19.0, 0.5, 1.0},
      {1.0, 1.0, 30.0, 1, 180, 25.0, 5.0},  /* the ramp below the limit rules */
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(testing::Message() << "up " << c.up << " down " << c.down << " set " << c.set
                                    << " speed " << c.speed << " after " << c.seconds << " s"
                                    << " heat " << c.heat << " cool " << c.cool);
    sim::Physics physics;
    physics.rise[0] = c.heat;
    physics.fall[0] = c.cool;
    FakeChamber f(c.speed, physics);
    ASSERT_TRUE(f.chamber.setRate(0, true, c.up));
    ASSERT_TRUE(f.chamber.setRate(0, false, c.down));
    f.chamber.setSetValue(0, c.set);
    f.passSeconds(c.seconds);
    EXPECT_NEAR(f.chamber.channel(0).actual, c.actual, 1e-6);
  }
}

TEST(SimChamber, StoppedDriftsToAmbientAndPausedHolds) {
  struct Case {
    bool started, paused;
    double actual;
    bool door = false;  /* open for the 180 s, then closed for 60 */
  } cases[] = {{true, false, 30.0}, {true, true, 27.0}, {false, false, 24.0},
               {true, false, 22.0 + 5.0 * std::exp(-180.0 / sim::kDoorSeconds), true}};
  for (const Case &c : cases) {
    SCOPED_TRACE(testing::Message() << "started " << c.started << " paused " << c.paused
                                    << " door " << c.door);
    FakeChamber f;
    f.chamber.setSetValue(0, 30.0);
    f.passSeconds(300);  /* 22 -> 27 */
    f.chamber.setStarted(c.started);
    f.chamber.setPaused(c.paused);
    f.chamber.setDoorOpen(c.door);
    f.passSeconds(180);
    EXPECT_NEAR(f.chamber.channel(0).actual, c.actual, 1e-6);
    if (!c.door) continue;
    f.chamber.setDoorOpen(false);
    f.passSeconds(60);  /* the control takes over again: one more K toward 30 */
    EXPECT_NEAR(f.chamber.channel(0).actual, c.actual + 1.0, 1e-6);
  }
}

/* While the model ramps, each value answered is off it by at most the
 * amplitude, all over that range, its mean close to the model; the same
 * seed draws the same noise. */
TEST(SimChamber, NoiseStaysWithinItsAmplitudeAroundTheModel) {
  for (double amplitude : {0.0, 0.3, 2.0}) {
    SCOPED_TRACE(amplitude);
    sim::Physics physics;
    physics.noise = amplitude;
    FakeChamber f(1.0, physics);
    f.chamber.setSetValue(0, 80.0);
    std::vector<double> offs;
    for (int i = 0; i < 1000; i++, f.passSeconds(1))
      offs.push_back(f.chamber.measured(0) - f.chamber.channel(0).actual);
    auto [low, high] = std::minmax_element(offs.begin(), offs.end());
    EXPECT_GE(*low, -amplitude);
    EXPECT_LE(*high, amplitude);
    EXPECT_GE(*high - *low, amplitude * 1.9);
    EXPECT_NEAR(std::accumulate(offs.begin(), offs.end(), 0.0) / 1000, 0.0, amplitude / 10);
    EXPECT_EQ(FakeChamber(1.0, physics).chamber.measured(1),
              FakeChamber(1.0, physics).chamber.measured(1));
  }
}

TEST(SimChamber, RatesBelowOrAtZeroAreRefusedAndLargeOnesMeanNoRamp) {
  struct Case {
    double rate;
    bool accepted;
    double stored;
  } cases[] = {{0.01, true, 0.01}, {5.48, true, 5.48}, {999.9, true, sim::kNoRamp},
               {5000.0, true, sim::kNoRamp}, {0.0, false, 1.0}, {-3.0, false, 1.0}};
  for (const Case &c : cases) {
    SCOPED_TRACE(c.rate);
    FakeChamber f;
    EXPECT_EQ(f.chamber.setRate(0, true, c.rate), c.accepted);
    EXPECT_DOUBLE_EQ(f.chamber.channel(0).rateUp, c.stored);
  }
}

TEST(SimChamber, ManualLimitsClampSetValues) {
  struct Case {
    double min, max, before, asked, set;
    bool accepted;
  } cases[] = {
      {-70, 180, 25, 200, 180, true},   {-70, 180, 25, -100, -70, true},
      {0, 50, 25, 30, 30, true},        {0, 10, 25, 5, 5, true},
      {30, 40, 25, 35, 35, true},       /* narrowing first lifts 25 to 30 */
      {50, 10, 25, 60, 60, false},      /* min above max: old limits stay */
      {-100, 10, 25, 60, 60, false},    /* beyond what an answer can carry */
      {0, 1000, 25, 60, 60, false},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(testing::Message() << "limits " << c.min << ".." << c.max << " asked " << c.asked);
    FakeChamber f;
    EXPECT_EQ(f.chamber.setLimits(0, c.min, c.max), c.accepted);
    if (c.accepted) {
      EXPECT_DOUBLE_EQ(f.chamber.channel(0).set, std::clamp(c.before, c.min, c.max));
    }
    f.chamber.setSetValue(0, c.asked);
    EXPECT_DOUBLE_EQ(f.chamber.channel(0).set, c.set);
  }
}

TEST(SimChamber, ClockRunsAtTheSpeedAndCanBeSet) {
  struct Case {
    double speed, seconds;
    int64_t setTo;  /* 0: not set */
    double after;
    int64_t clock;
  } cases[] = {
      {1, 90, 0, 0, kWallStart + 90},
      {2, 90, 0, 0, kWallStart + 180},
      {1, 90, 946684800, 5, 946684805},  /* set to 01.01.2000 00:00:00 */
      {60, 0.5, 0, 0, kWallStart + 30},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(testing::Message() << "speed " << c.speed << " set to " << c.setTo);
    FakeChamber f(c.speed);
    f.passSeconds(c.seconds);
    if (c.setTo) f.chamber.setClock(c.setTo);
    f.passSeconds(c.after);
    EXPECT_EQ(f.chamber.clockSeconds(), c.clock);
  }
}

TEST(SimChamber, ClockGoingBackMovesNothing) {
  FakeChamber f;
  f.passSeconds(60);
  EXPECT_EQ(f.chamber.clockSeconds(), kWallStart + 60);
  f.now -= 30000;
  EXPECT_EQ(f.chamber.clockSeconds(), kWallStart + 60);
  f.passSeconds(40);  /* 10 s past the latest time seen */
  EXPECT_EQ(f.chamber.clockSeconds(), kWallStart + 70);
}

/* Program 1 on channel 0 at 1 K/min from 22: line 1 (600 s to 40, wait)
 * waits until 39.5 at 1050 s; line 2 runs 1800 s; line 3 (600 s to 23,
 * wait) waits until 23.5 at 3840 s; line 4 runs 1200 s, to 5040 s. */
TEST(SimChamber, ProgramRuntimeCountsThroughLinesAndWaits) {
  struct Step {
    double at;
    int number, line;
    bool waiting;
    int64_t runtime, remaining;
  } steps[] = {
      {0, 1, 1, false, 0, 600},        {300, 1, 1, false, 300, 300},
      {700, 1, 1, true, 700, 0},       {1100, 1, 2, false, 1100, 1750},
      {3500, 1, 3, true, 3500, 0},     {3900, 1, 4, false, 3900, 1140},
      {5039, 1, 4, false, 5039, 1},    {5041, 0, 0, false, 0, 0},
  };
  FakeChamber stepped, jumped;
  ASSERT_TRUE(stepped.chamber.startProgram(1));
  ASSERT_TRUE(jumped.chamber.startProgram(1));
  for (const Step &s : steps) {
    SCOPED_TRACE(testing::Message() << "at " << s.at << " s");
    while (stepped.now < s.at * 1000) {
      stepped.passSeconds(1);
      stepped.chamber.program();
    }
    jumped.now = static_cast<int64_t>(s.at * 1000);
    for (sim::Chamber *c : {&stepped.chamber, &jumped.chamber}) {
      sim::ProgramStatus p = c->program();
      EXPECT_EQ(p.number, s.number);
      EXPECT_EQ(p.line, s.line);
      EXPECT_EQ(p.waiting, s.waiting);
      EXPECT_EQ(p.runtime, s.runtime);
      EXPECT_EQ(p.lineRemaining, s.remaining);
    }
    EXPECT_NEAR(stepped.chamber.channel(0).actual, jumped.chamber.channel(0).actual, 1e-6);
  }
}

TEST(SimChamber, ProgramHoldsWhilePausedAndEndsWhenStopped) {
  FakeChamber f;
  EXPECT_FALSE(f.chamber.startProgram(7));
  EXPECT_EQ(f.chamber.program().number, 0);
  f.chamber.setStarted(false);
  ASSERT_TRUE(f.chamber.startProgram(5));  /* starting switches the chamber on */
  EXPECT_TRUE(f.chamber.started());
  EXPECT_DOUBLE_EQ(f.chamber.channel(0).set, 85.0);
  f.passSeconds(100);
  f.chamber.setPaused(true);
  f.passSeconds(1000);
  EXPECT_EQ(f.chamber.program().runtime, 100);
  EXPECT_FALSE(f.chamber.program().running);
  f.chamber.setPaused(false);
  f.passSeconds(20);
  EXPECT_EQ(f.chamber.program().runtime, 120);
  f.chamber.setDigital(sim::kDigitalStart, false);
  EXPECT_EQ(f.chamber.program().number, 0);
}

TEST(SimChamber, PendingErrorsAreNumberedAndConfirmed) {
  FakeChamber f;
  f.chamber.raiseError("Door open");
  f.chamber.raiseError("Water supply low");
  std::vector<sim::PendingError> errors = f.chamber.errors();
  ASSERT_EQ(errors.size(), 2u);
  EXPECT_EQ(errors[0].number, 1);
  EXPECT_EQ(errors[1].text, "Water supply low");
  EXPECT_TRUE(f.chamber.digital(sim::kDigitalError));
  EXPECT_TRUE(f.chamber.setDigital(sim::kDigitalError, false));
  EXPECT_TRUE(f.chamber.errors().empty());
  EXPECT_FALSE(f.chamber.digital(sim::kDigitalError));
  EXPECT_TRUE(f.chamber.setDigital(sim::kDigitalError, true));
  EXPECT_EQ(f.chamber.errors().size(), 1u);
  EXPECT_EQ(f.chamber.errors()[0].number, 3);
}

TEST(SimChamber, LockLevelsZeroToTwo) {
  struct Case {
    int level;
    bool accepted;
    int after;
  } cases[] = {{2, true, 2}, {1, true, 1}, {0, true, 0}, {3, false, 0}, {-1, false, 0}};
  FakeChamber f;
  for (const Case &c : cases) {
    SCOPED_TRACE(c.level);
    EXPECT_EQ(f.chamber.setLockLevel(c.level), c.accepted);
    EXPECT_EQ(f.chamber.lockLevel(), c.after);
  }
}

TEST(SimChamber, DigitalChannelsByIndex) {
  struct Case {
    int index;
    bool accepted;
  } cases[] = {{0, false}, {3, true}, {4, true}, {8, true}, {9, true}, {13, true}, {14, false}};
  for (const Case &c : cases) {
    SCOPED_TRACE(c.index);
    FakeChamber f;
    EXPECT_EQ(f.chamber.setDigital(c.index, true), c.accepted);
    for (int i = sim::kFirstFlag; i <= sim::kLastDigital; i++)
      EXPECT_EQ(f.chamber.digital(i), i == c.index && c.index >= sim::kFirstFlag) << "index " << i;
    EXPECT_FALSE(f.chamber.paused());  /* the channel not in use keeps nothing */
  }
}

}  // namespace
