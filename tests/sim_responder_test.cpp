/*
 * sim_responder_test.cpp -- the chamber's answers: fixed-width numbers,
 * every answer's layout at the positions the program reads, the effect of
 * each setting command, and commands refused without any effect.
 */
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "responder.h"

namespace {

constexpr int64_t kWallStart = 1255437000;  /* 13.10.2009 12:30:00 */

struct FakeChamber {
  FakeChamber() : chamber([this] { return now; }, 1.0, kWallStart) {}
  QByteArray ask(const QByteArray &command) { return sim::Respond(chamber, command).answer; }
  int64_t now = 0;
  sim::Chamber chamber;
};

/* The number at pos, read as the program reads it; cut before end when
 * end > 0. */
double DecimalAt(const QByteArray &answer, int pos, int end = 0) {
  std::string text = answer.toStdString().substr(pos);
  if (end > 0) text.resize(end - pos);
  return std::strtod(text.c_str(), nullptr);
}

long IntegerAt(const QByteArray &answer, int pos) {
  return std::strtol(answer.constData() + pos, nullptr, 10);
}

TEST(SimResponder, ValuesAndRatesKeepFiveCharacters) {
  struct Case {
    double value;
    const char *asValue, *asRate;
  } cases[] = {
      {23.5, "023.5", "23.50"},  {-80.0, "-80.0", "00.00"}, {999.9, "999.9", "999.9"},
      {1500, "999.9", "999.9"},  {-150, "-99.9", "00.00"},  {-0.04, "000.0", "00.00"},
      {-5.0, "-05.0", "00.00"},  {3.5, "003.5", "03.50"},   {5.48, "005.5", "05.48"},
      {99.996, "100.0", "100.0"}, {0.01, "000.0", "00.01"}, {150, "150.0", "150.0"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.value);
    EXPECT_EQ(sim::FormatValue(c.value), QByteArray(c.asValue));
    EXPECT_EQ(sim::FormatRate(c.value), QByteArray(c.asRate));
  }
}

TEST(SimResponder, ReadingAnswersOfAFreshChamber) {
  struct Case {
    const char *command, *answer;
  } cases[] = {
      {"A0", "A0 022.0 025.0"},
      {"A1", "A1 045.0 050.0"},
      {"Aa", "A0 022.0 025.0 A1 045.0 050.0 A2 000.0 000.0 A3 000.0 000.0 A4 000.0 000.0"},
      {"C", "C05 3.23 SIM-0001"},
      {"D", "D"},
      {"D001", "D"},
      {"E0", "E0 025.0"},
      {"F", "F"},
      {"G0", "G0 -70.0 180.0"},
      {"G2", "G2 000.0 100.0"},
      {"H01", "H01;0;"},
      {"H02", "H02;0;"},
      {"I0", "I0 1"},
      {"L", "L0"},
      {"M01", "M01;3;1;2;5;"},
      {"M02 001", "M02;1;Climate cycle;4;70;"},
      {"M02 5", "M02;5;Heat soak;2;270;"},
      {"M02 009", "M02;9;;0;0;"},
      {"O", "O1000000000000"},
      {"P", "P000"},
      {"R0", "R0 1 0 01.00 01.00"},
      {"R2", "R2 0 0 999.9 999.9"},
      {"S", "S101100000"},
      {"T", "T131009123000"},
      {"U0", "U0 01.00 01.00"},
      {"U3", "U3 999.9 999.9"},
  };
  for (const Case &c : cases) {
    FakeChamber f;
    if (QByteArray(c.command).startsWith('R')) f.chamber.setSetValue(0, 22.0);  /* no ramp runs */
    EXPECT_EQ(f.ask(c.command), QByteArray(c.answer)) << c.command;
  }
}

TEST(SimResponder, SingleChannelAnswerCarriesValuesAtPositions3And9) {
  const double values[] = {-99.9, -5.0, 0.0, 23.5, 99.9, 100.0, 999.9, 1500.0};
  for (double v : values) {
    SCOPED_TRACE(v);
    FakeChamber f;
    ASSERT_TRUE(f.chamber.setLimits(0, sim::kValueMin, sim::kValueMax));
    ASSERT_TRUE(f.chamber.setRate(0, true, 999.9));
    ASSERT_TRUE(f.chamber.setRate(0, false, 999.9));
    f.chamber.setSetValue(0, v);
    QByteArray a = f.ask("A0");
    ASSERT_EQ(a.size(), 14) << a.constData();
    double shown = std::clamp(v, sim::kValueMin, sim::kValueMax);
    EXPECT_DOUBLE_EQ(DecimalAt(a, 3, 8), shown) << a.constData();
    EXPECT_DOUBLE_EQ(DecimalAt(a, 9), shown) << a.constData();
  }
}

TEST(SimResponder, AllChannelsAnswerHasGroupsOfFifteen) {
  FakeChamber f;
  const double sets[sim::kAnalogChannels] = {-45.5, 97.0, 12.5, 0.0, 100.0};
  for (int k = 0; k < sim::kAnalogChannels; k++) f.chamber.setSetValue(k, sets[k]);
  f.now = 7200 * 1000;  /* every ramp arrived */
  QByteArray a = f.ask("Aa");
  EXPECT_NE(a.size(), 14);
  for (int k = 0; k < sim::kAnalogChannels; k++) {
    SCOPED_TRACE(k);
    EXPECT_DOUBLE_EQ(DecimalAt(a, 3 + 15 * k), sets[k]) << a.constData();
    EXPECT_DOUBLE_EQ(DecimalAt(a, 9 + 15 * k), sets[k]) << a.constData();
  }
}

TEST(SimResponder, ProgramAnswerFieldsAtTheirPositions) {
  FakeChamber f;
  ASSERT_TRUE(f.chamber.startProgram(2));
  f.now = 3725 * 1000;  /* line 2 since 2490 s: 1 K/min from 22 to -19.5 */
  QByteArray a = f.ask("D002");
  sim::ProgramStatus p = f.chamber.program();
  ASSERT_EQ(p.number, 2) << a.constData();
  const struct {
    int pos;
    long value;
  } fields[] = {{1, 2}, {5, 2}, {9, 0}, {11, 1}, {13, 3725}, {22, 3600 - (3725 - 2490)}};
  for (const auto &field : fields)
    EXPECT_EQ(IntegerAt(a, field.pos), field.value) << "position " << field.pos << " of " << a.constData();
  EXPECT_EQ(f.ask("D001"), QByteArray("D"));
  EXPECT_EQ(f.ask("D"), a);
}

TEST(SimResponder, SettingCommandsActAndAcknowledge) {
  struct Case {
    const char *command, *ack, *read, *answer;
  } cases[] = {
      {"a0 030.0", "a0", "E0", "E0 030.0"},
      {"a0 5000", "a0", "E0", "E0 180.0"},  /* clamped by the manual limits */
      {"a1 -3", "a1", "E1", "E1 010.0"},
      {"u0 03.50", "u0", "U0", "U0 03.50 01.00"},
      {"d0 05.48", "d0", "U0", "U0 01.00 05.48"},
      {"u0 999.9", "u0", "R0", "R0 1 0 999.9 01.00"},
      {"g0 -80.0 190.0", "g0", "G0", "G0 -80.0 190.0"},
      {"g0 0 10", "g0", "E0", "E0 010.0"},
      {"g0   -5    7", "g0", "G0", "G0 -05.0 007.0"},
      {"l2", "l2", "L", "L2"},
      {"o10 1", "o10", "O", "O1000000001000"},
      {"o04 1", "o04", "S", "S101110000"},
      {"o01 0", "o01", "S", "S000000000"},
      {"p001", "p001", "P", "P001"},
      {"p5", "p005", "D", "D005 001 0 1 00000000 00001800"},
      {"p000", "p000", "P", "P000"},
      {"s1 0", "s1", "O", "O0000000000000"},
      {"s2 1", "s2", "F", "FError raised by remote command"},
      {"s3 0", "s3", "O", "O1010000000000"},
      {"t311299235959", "t311299235959", "T", "T311299235959"},
      {"t290200000000", "t290200000000", "T", "T290200000000"},
      {"m2 12.5", "m2", "", ""},
      {"i1 Type A", "i1", "", ""},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.command);
    FakeChamber f;
    f.chamber.setSetValue(0, 22.0);
    EXPECT_EQ(f.ask(c.command), QByteArray(c.ack));
    if (*c.read) {
      EXPECT_EQ(f.ask(c.read), QByteArray(c.answer));
    }
  }
  FakeChamber f;
  f.ask("m2 12.5");
  f.ask("i1 Type A");
  EXPECT_DOUBLE_EQ(f.chamber.externalValue(2), 12.5);
  EXPECT_EQ(f.chamber.infoText(1), "Type A");
}

/* Everything a command can change, as the chamber reports it. */
QByteArray Snapshot(FakeChamber &f) {
  QByteArray all;
  for (const char *read : {"Aa", "G0", "G1", "U0", "U1", "L", "O", "P", "T", "H02"})
    all += f.ask(read) + '|';
  return all;
}

TEST(SimResponder, MalformedCommandsAreRefusedAndChangeNothing) {
  const char *refused[] = {
      "A", "A5", "Ab", "A00", "A0 ", "C1", "D1234", "Dx", "E", "E9", "F1", "G", "G01",
      "H03", "H1", "I1", "L0", "M03", "M02", "M02 abc", "M02 1234", "O1", "P1", "R5", "S1",
      "T1", "U", "a0", "a0 ", "a0 abc", "a0 1e3", "a0 inf", "a0 nan", "a0 1.2.3", "a5 10",
      "a0x10", "a0 - 1", "d0 0", "d0 -1", "u0 abc", "u9 1", "g0 10", "g0 50 10",
      "g0 -100 10", "g0 1 2 3", "g010 20", "l3", "l", "lx", "l00", "o14 1", "o00 1", "o5 1",
      "o10 2", "o10x1", "o1a 1", "p9", "p1234", "p", "p1x", "s4 1", "s0 1", "s1 2", "s1",
      "s1 11", "t320109123000", "t13100912300", "t1310091230000", "t131309123000",
      "t131009250000", "t13100912300x", "m3 1", "m0 x", "m0", "i2 x", "i0", "ix x",
  };
  for (const char *command : refused) {
    SCOPED_TRACE(command);
    FakeChamber f;
    QByteArray before = Snapshot(f);
    sim::Reply reply = sim::Respond(f.chamber, command);
    EXPECT_EQ(reply.kind, sim::Reply::Refused);
    EXPECT_TRUE(reply.answer.isEmpty());
    EXPECT_FALSE(reply.reason.isEmpty());
    EXPECT_EQ(Snapshot(f), before);
  }
}

TEST(SimResponder, UnknownLettersAndOverlongCommands) {
  struct Case {
    QByteArray command;
    sim::Reply::Kind kind;
  } cases[] = {
      {"B", sim::Reply::Unknown},    {"X1", sim::Reply::Unknown},  {"z", sim::Reply::Unknown},
      {"1", sim::Reply::Unknown},    {" A0", sim::Reply::Unknown}, {"\xe4", sim::Reply::Unknown},
      {"v0 1", sim::Reply::Unknown}, {"", sim::Reply::Unknown},
      {"a0 " + QByteArray(508, '1'), sim::Reply::Refused},        /* 511 characters: too large */
      {"a0 " + QByteArray(509, '1'), sim::Reply::Refused},        /* 512: too long */
      {"i0 " + QByteArray(508, 'x'), sim::Reply::Answered},
      {"i0 " + QByteArray(509, 'x'), sim::Reply::Refused},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.command.left(20).constData());
    FakeChamber f;
    sim::Reply reply = sim::Respond(f.chamber, c.command);
    EXPECT_EQ(reply.kind, c.kind);
    EXPECT_EQ(reply.answer.isEmpty(), c.kind != sim::Reply::Answered);
  }
}

}  // namespace
