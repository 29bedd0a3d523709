/*
 * sim_catalogue_test.cpp -- every command of both catalogues, in catalogue
 * order, through the built quenta-sim (127.0.0.70 and .71, port 1080): the
 * interpreter in mode 2 makes a line of every answer, and the values in the
 * line are the chamber's, as the commands before left it.
 */
#include <gtest/gtest.h>

#include <cstring>

#include "display.h"
#include "sim_process.h"

namespace {

/* Answer buffer of the program's receive path: 2,500 bytes and the NUL. */
constexpr int kAnswerSize = 2501;
constexpr char kMarker[] = "\x01untouched";

struct Step {
  const char *command;
  const char *expected;  /* part of the line; the whole line when exact */
  bool exact;
};

/* The chamber starts switched on with the pending error "Door open",
 * channel 0 at 22.0 toward 25.0 at 1 K/min up and down. */
const Step kEnglish[] = {
    {"t131009123000", "clock of chamber adjusted: date:13.10.09  time:12:30:00", true},
    {"T", "actual clock of chamber: date:13.10.09  time:12:30:0", false},
    {"a0 030.0", "setvalue changed", true},
    {"A0", "Values of channel 0: Actvalue =  22.", false},
    {"Aa", ", Set =  30.0 - '1': Act =  45.", false},
    {"u0 03.50", "Ramprate changed", true},
    {"u0 999.9", "Ramprate changed", true},
    {"d0 05.48", "Ramprate changed", true},
    {"d0 999.9", "Ramprate changed", true},
    {"U0", "Ramprates of channel 0: ramp up = 999.9, ramp down = 999.9", true},
    {"E0", "Ramp terminal value of channel 0: =  30.0", true},
    {"S", "Status: Start:1 ,Error:1 ,Temper:1, Humidity:1 ,Add.func.1-4:0000 ,ErrorNo: 1", true},
    {"s1 1", "Digital channel 1 adjusted", true},
    {"s1 0", "Digital channel 1 adjusted", true},
    {"s2 0", "Digital channel 2 adjusted", true},
    {"s3 0", "Digital channel 3 adjusted", true},
    {"s3 1", "Digital channel 3 adjusted", true},
    {"P", "No Programme running", true},
    {"p001", "Programme started/stopped", true},
    {"p000", "Programme started/stopped", true},
    {"D001", "The selected program is not running", true},
    {"F", "Pending Error: ", true},
    {"O", "Digital channels: Start:1 ,Error:0 , Flags/Softkeys 0000000000", true},
    {"o10 1", "Digital channel 10 adjusted", true},
    {"L", "Keyboard enabled", true},
    {"l2", "keyboard locking changed.", true},
    {"l0", "keyboard locking changed.", true},
    {"R0", "R0 0 0 999.9 999.9", true},
    {"H01", "H01;0;", true},
    {"H02", "H02;0;", true},
    {"M01", "M01;3;1;2;5;", true},
    {"M02 001", "M02;1;Climate cycle;4;70;", true},
    {"Aa", "Values of channel:  '0': Act =  40.0, Set =  40.0 - '1'", false},
    {"D001", "The selected program is not running", true},
    {"C", "Software version information: PLC version = 05 - Zelo version = 3.23 - PLC number = SIM-0001", true},
    {"G0", "manual limits of channel 0: min =  -70.0, max =  180.0", true},
    {"g0 -80.0 190.0", "manual limits (min/max) changed", true},
};

const Step kGerman[] = {
    {"t131009123000", "clock of chamber adjusted: date:13.10.09  time:12:30:00", true},
    {"T", "actual clock of chamber: date:13.10.09  time:12:30:0", false},
    {"a0 030.0", "setvalue changed", true},
    {"A0", "Setvalue =  30.0", false},
    {"u0 03.50", "Ramprate changed", true},
    {"u0 999.9", "Ramprate changed", true},
    {"d0 05.48", "Ramprate changed", true},
    {"d0 999.9", "Ramprate changed", true},
    {"U0", "Ramprates of channel 0: ramp up = 999.9, ramp down = 999.9", true},
    {"E0", "Ramp terminal value of channel 0: =  30.0", true},
    {"S", "Status: Start:1 ,Error:1 ,Temper:1, Humidity:1 ,Add.func.1-4:0000 ,ErrorNo: 1", true},
    {"s1 1", "Digital channel 1 adjusted", true},
    {"s1 0", "Digital channel 1 adjusted", true},
    {"s2 0", "Digital channel 2 adjusted", true},
    {"s3 0", "Digital channel 3 adjusted", true},
    {"s3 1", "Digital channel 3 adjusted", true},
    {"P", "No Programme running", true},
    {"p001", "Programme started/stopped", true},
    {"p000", "Programme started/stopped", true},
    {"F", "Pending Error: ", true},
    {"O", "Digital channels: Start:1 ,Error:0 , Flags/Softkeys 0000000000", true},
    {"o10 1", "Digital channel 10 adjusted", true},
    {"L", "Keyboard enabled", true},
    {"l2", "keyboard locking changed.", true},
    {"l0", "keyboard locking changed.", true},
    {"R0", "R0 0 0 999.9 999.9", true},
    {"H01", "H01;0;", true},
    {"H02", "H02;0;", true},
    {"M01", "M01;3;1;2;5;", true},
    {"M02 001", "M02;1;Climate cycle;4;70;", true},
    {"m0 230.0", "m0", true},
    {"i0 Ready", "i0", true},
    {"I0", "I0 1", true},
    {"Aa", "Values of channel:  '0': Act =  40.0, Set =  40.0 - '1'", false},
    {"D001", "The selected program is not running", true},
    {"C", "Software version information: PLC version = 05 - Zelo version = 3.23 - PLC number = SIM-0001", true},
    {"G0", "manual limits of channel 0: min =  -70.0, max =  180.0", true},
    {"g0 -80.0 190.0", "manual limits (min/max) changed", true},
};

/* Read back after the catalogue: what its later setting commands left. */
const Step kAfterwards[] = {
    {"G0", "manual limits of channel 0: min =  -80.0, max =  190.0", true},
    {"O", "Digital channels: Start:1 ,Error:0 , Flags/Softkeys 0000001000", true},
    {"p002", "Programme started/stopped", true},
    {"D", "Running program 2: Line = 1; Wait = 0; ProgRun = 1; RuntimeProg = ", false},
    {"D002", "Running program 2: Line = 1;", false},
    {"D001", "The selected program is not running", true},
    {"E0", "Ramp terminal value of channel 0: = -20.0", true},
    {"s3 0", "Digital channel 3 adjusted", true},
    {"O", "Digital channels: Start:1 ,Error:0 ,Pause:1, Flags/Softkeys 0000001000", true},
    {"s2 1", "Digital channel 2 adjusted", true},
    {"F", "Pending Error: Error raised by remote command", true},
    {"l2", "keyboard locking changed.", true},
    {"L", "Keyboard disabled level:2", true},
};

static_assert(std::size(kEnglish) == 37, "the English catalogue has 37 commands");
static_assert(std::size(kGerman) == 38, "the German catalogue has 38 commands");

/* Sends each step's command on client and checks the mode-2 line of its
 * answer: written over the marker, and holding the expected values. */
void RunSteps(sim::SimClient &client, const Step *steps, size_t count) {
  for (size_t i = 0; i < count; i++) {
    const Step &s = steps[i];
    SCOPED_TRACE(testing::Message() << "step " << i << ": " << s.command);
    QByteArray answer = client.ask(s.command);
    ASSERT_FALSE(answer.isEmpty());
    char text[kAnswerSize];
    char line[DISPLAY_LINE_SIZE];
    qstrncpy(text, answer.constData(), sizeof text);
    snprintf(line, sizeof line, "%s", kMarker);
    DescribeAnswerIn(text, line, DISPLAY_INTERPRETED, 1);  /* English sentences */
    EXPECT_STRNE(line, kMarker) << "answer " << answer.constData();
    if (s.exact) EXPECT_STREQ(line, s.expected) << "answer " << answer.constData();
    else EXPECT_NE(strstr(line, s.expected), nullptr) << "answer " << answer.constData() << "\nline " << line;
  }
}

void RunCatalogue(const char *address, const Step *steps, size_t count) {
  sim::SimProcess sim;
  ASSERT_TRUE(sim.start(address, {"--error", "Door open"}));
  sim::SimClient client;
  ASSERT_TRUE(client.connect(address));
  RunSteps(client, steps, count);
  RunSteps(client, kAfterwards, std::size(kAfterwards));
  EXPECT_EQ(sim.standardError(), QByteArray());  /* nothing refused */
}

TEST(SimCatalogue, EnglishCommandsAnsweredAndInterpreted) {
  RunCatalogue("127.0.0.70", kEnglish, std::size(kEnglish));
}

TEST(SimCatalogue, GermanCommandsAnsweredAndInterpreted) {
  RunCatalogue("127.0.0.71", kGerman, std::size(kGerman));
}

}  // namespace
