/*
 * protocol_en_test.cpp -- the English sentences of both interpreters, the
 * reading of short and odd commands and answers, and numbers at the limits
 * of their types.
 */
#include "protocol_test_support.h"

#include <string>
#include <vector>

using protocol_test::Answer;
using protocol_test::Case;
using protocol_test::CheckSentences;
using protocol_test::Command;
using protocol_test::Format;
using protocol_test::kEnglish;
using protocol_test::Outcome;

namespace {

TEST(Request, EverySentence) {
    CheckSentences({
        {"Aa", "Read all actual/set values"},
        {"Aa7", "Read all actual/set values"},
        {"A0", "Read actual value of channel 0."},
        {"C", "Read Software version information"},
        {"D001", "Read information about the current test program"},
        {"E0", "Read ramps terminal value of channel 0."},
        {"F", "Read errortext of pending error"},
        {"G0", "Read manual limits (min/max) of channel 0."},
        {"H01", "H01"},
        {"H02", "H02"},
        {"I0", "I0"},
        {"L", "Read state of keyboard locking."},
        {"M02 001", "M02 001"},
        {"O", "Read all digital channels."},
        {"P", "Read Programme status"},
        {"R0", "R0"},
        {"S", "Read chamber status"},
        {"T", "Read actual time of chamber clock."},
        {"U0", "Read ramprate of channel 0."},
        {"a0 030.0", "Adjust setvalue of channel 0 to  30.0."},
        {"d0 05.48", "Adjust ramprate for ramp down of channel 0 to    5.48."},
        {"d0 999.9", "Adjust ramprate for ramp down of channel 0 to  999.90."},
        {"g0 -80.0 190.0", "Set manual limits of channel 0: min = -80.0, max = 190.0."},
        {"i0 Ready", "i0 Ready"},
        {"l0", "Enable Keyboard"},
        {"l2", "Disable Keyboard level:2"},
        {"m0 230.0", "m0 230.0"},
        {"o10 1", "Adjust digital channel 10 to 1"},
        {"p000", "Stop Programme"},
        {"p001", "Start Programme No.:1"},
        {"s1 0", "Adjust digital channel 1 to 0"},
        {"t131009123000", "Adjust clock of chamber: date:13.10.09  time:12:30:00"},
        {"u0 03.50", "Adjust ramprate for ramp up of channel 0 to    3.50."},
        {"u0 999.9", "Adjust ramprate for ramp up of channel 0 to  999.90."},
    }, Command, kEnglish);
}

TEST(Request, ShortAndOddCommands) {
    CheckSentences({
        {"A", "Read actual value of channel "},
        {"A\xE4", "Read actual value of channel \xC3\xA4."},
        {"E", "Read ramps terminal value of channel "},
        {"a0 ", "Adjust setvalue of channel 0 to   0.0."},
        {"a0 abc", "Adjust setvalue of channel 0 to   0.0."},
        {"a0", "Adjust setvalue of channel 0 to   0.0."},
        {"a", "Adjust setvalue of channel "},
        {"g0 -80.0", "Set manual limits of channel 0: min = -80.0, max =   0.0."},
        {"g0 -80.0 ", "Set manual limits of channel 0: min = -80.0, max =   0.0."},
        {"l", "Disable Keyboard level:"},
        {"o5 1", "Adjust digital channel 05 to "},
        {"o123 1", "Adjust digital channel 12 to  "},
        {"o-1 1", "Adjust digital channel -1 to 1"},
        {"o", "Adjust digital channel 00 to "},
        {"p", "Stop Programme"},
        {"p012", "Start Programme No.:12"},
        {"p99999999999", "Start Programme No.:2147483647"},
        {"s1", "Adjust digital channel 1 to "},
        {"s", "Adjust digital channel "},
        {"t1310", "Adjust clock of chamber: date:13.10."},
        {"t", "Adjust clock of chamber: date:"},
        {"u0", "Adjust ramprate for ramp up of channel 0 to    0.00."},
    }, Command, kEnglish);
}

TEST(Request, LettersWithoutSentenceWriteNothing) {
    CheckSentences({
        {"B", nullptr}, {"v", nullptr}, {"x", nullptr}, {"1", nullptr},
        {"?", nullptr}, {"", nullptr}, {"[", nullptr}, {"`", nullptr},
        {"J0", nullptr}, {"r0", nullptr}, {"@", nullptr}, {"\xE4", nullptr},
        {"\xC1", nullptr}, {" a0 030.0", nullptr},
    }, Command, kEnglish);
}

TEST(Request, DecimalValues) {
    CheckSentences({
        {"a0 .5", "Adjust setvalue of channel 0 to   0.5."},
        {"a0 +3", "Adjust setvalue of channel 0 to   3.0."},
        {"a0    7", "Adjust setvalue of channel 0 to   7.0."},
        {"a0 1e2", "Adjust setvalue of channel 0 to 100.0."},
        {"a0 1e", "Adjust setvalue of channel 0 to   1.0."},
        {"a0 -2.25e-1x", "Adjust setvalue of channel 0 to  -0.2."},
        {"a0 5,5", "Adjust setvalue of channel 0 to   5.0."},
        {"a0 0x1A", "Adjust setvalue of channel 0 to   0.0."},
        {"a0 -0x5", "Adjust setvalue of channel 0 to  -0.0."},
        {"a0 inf", "Adjust setvalue of channel 0 to   0.0."},
        {"a0 nan", "Adjust setvalue of channel 0 to   0.0."},
        {"a0 .", "Adjust setvalue of channel 0 to   0.0."},
        {"a0 -", "Adjust setvalue of channel 0 to   0.0."},
        {"a0 1e999", "Adjust setvalue of channel 0 to   inf."},
    }, Command, kEnglish);
}

TEST(Request, HugeValuesStayWithinTheLine) {
    /* The longest sentence a 511-byte command can make. */
    std::string huge = Format("%5.1f", -1e308);
    Outcome out = Command("g0 -1e308 -1e308", DISPLAY_INTERPRETED, kEnglish);
    EXPECT_EQ(out.line, "Set manual limits of channel 0: min = " + huge + ", max = " + huge + ".");
    EXPECT_LT(out.line.size(), size_t{DISPLAY_LINE_SIZE});
}

TEST(Answer, EverySentence) {
    CheckSentences({
        {"A1 023.5 025.0", "Values of channel 1: Actvalue =  23.5, Setvalue =  25.0"},
        {"A0 023.5 025.0 A1 045.0 050.0 A2 -10.0 000.5 A3 001.0 002.0 A4 003.0 004.0",
         "Values of channel:  '0': Act =  23.5, Set =  25.0 - '1': Act =  45.0, Set =  50.0"
         " - '2': Act = -10.0, Set =   0.5 - '3': Act =   1.0, Set =   2.0"
         " - '4': Act =   3.0, Set =   4.0"},
        {"C12 3.19 4711-0815", "Software version information: PLC version = 12"
                               " - Zelo version = 3.19 - PLC number = 4711-0815"},
        {"D", "The selected program is not running"},
        {"D001 002 0 1 00003725 00000061",
         "Running program 1: Line = 2; Wait = 0; ProgRun = 1; RuntimeProg = 3725 [s]"
         " (01:02:05 [hh:mm:ss]); RemainingRuntimeLine = 61 [s] (00:01:01 [hh:mm:ss])"},
        {"E0 045.0", "Ramp terminal value of channel 0: =  45.0"},
        {"FDoor open", "Pending Error: Door open"},
        {"G0 -80.0 190.0", "manual limits of channel 0: min =  -80.0, max =  190.0"},
        {"H02 2;Err1;Err2;", "H02 2;Err1;Err2;"},
        {"I0 1", "I0 1"},
        {"L0", "Keyboard enabled"},
        {"L2", "Keyboard disabled level:2"},
        {"M01 2;1;5;", "M01 2;1;5;"},
        {"O1010110", "Digital channels: Start:1 ,Error:0 ,Pause:1, Flags/Softkeys 0110"},
        {"O1000110", "Digital channels: Start:1 ,Error:0 , Flags/Softkeys 0110"},
        {"P0", "No Programme running"},
        {"P12", "Programme No.:12 is running"},
        {"R0 1 0 3.5 5.0", "R0 1 0 3.5 5.0"},
        {"S101000005", "Status: Start:1 ,Error:0 ,Temper:1, Humidity:0 ,Add.func.1-4:0000 ,ErrorNo: 5"},
        {"T131009123000", "actual clock of chamber: date:13.10.09  time:12:30:00"},
        {"U0 003.5 005.0", "Ramprates of channel 0: ramp up =   3.5, ramp down =   5.0"},
        {"a", "setvalue changed"},
        {"d", "Ramprate changed"},
        {"g", "manual limits (min/max) changed"},
        {"i0", "i0"},
        {"l", "keyboard locking changed."},
        {"m0", "m0"},
        {"o05", "Digital channel 05 adjusted"},
        {"p", "Programme started/stopped"},
        {"s1", "Digital channel 1 adjusted"},
        {"t131009123000", "clock of chamber adjusted: date:13.10.09  time:12:30:00"},
        {"u", "Ramprate changed"},
    }, Answer, kEnglish);
}

TEST(Answer, LengthChoosesTheForm) {
    const char *allZero = "Values of channel:  '0': Act =   0.0, Set =   0.0 - '1': Act =   0.0,"
                          " Set =   0.0 - '2': Act =   0.0, Set =   0.0 - '3': Act =   0.0,"
                          " Set =   0.0 - '4': Act =   0.0, Set =   0.0";
    CheckSentences({
        {"A1 023.51025.0", "Values of channel 1: Actvalue =  23.5, Setvalue =  25.0"},
        {"A1 023.5 025.0 ",
         "Values of channel:  '0': Act =  23.5, Set =  25.0 - '1': Act =   0.0, Set =   0.0"
         " - '2': Act =   0.0, Set =   0.0 - '3': Act =   0.0, Set =   0.0"
         " - '4': Act =   0.0, Set =   0.0"},
        {"A1 023.5 025.",
         "Values of channel:  '0': Act =  23.5, Set =  25.0 - '1': Act =   0.0, Set =   0.0"
         " - '2': Act =   0.0, Set =   0.0 - '3': Act =   0.0, Set =   0.0"
         " - '4': Act =   0.0, Set =   0.0"},
        {"A1 00023925.00", "Values of channel 1: Actvalue =  23.0, Setvalue =  25.0"},
        {"A1 00023925.00 ",
         "Values of channel:  '0': Act =23925.0, Set =  25.0 - '1': Act =   0.0, Set =   0.0"
         " - '2': Act =   0.0, Set =   0.0 - '3': Act =   0.0, Set =   0.0"
         " - '4': Act =   0.0, Set =   0.0"},
        {"A", allZero},
        {"Aa", allZero},
        {"D0", "Running program 0: Line = 0; Wait = 0; ProgRun = 0; RuntimeProg = 0 [s]"
               " (00:00:00 [hh:mm:ss]); RemainingRuntimeLine = 0 [s] (00:00:00 [hh:mm:ss])"},
        {"D ", "Running program 0: Line = 0; Wait = 0; ProgRun = 0; RuntimeProg = 0 [s]"
               " (00:00:00 [hh:mm:ss]); RemainingRuntimeLine = 0 [s] (00:00:00 [hh:mm:ss])"},
    }, Answer, kEnglish);
}

TEST(Answer, ShortAndOddAnswers) {
    CheckSentences({
        {"C12x3.19y4711", "Software version information: PLC version = 12"
                          " - Zelo version = 3.19 - PLC number = 4711"},
        {"C1", "Software version information: PLC version = 1 - Zelo version = "
               " - PLC number = "},
        {"C12 3.", "Software version information: PLC version = 12 - Zelo version = 3."
                   " - PLC number = "},
        {"E", "Ramp terminal value of channel "},
        {"E0", "Ramp terminal value of channel 0: =   0.0"},
        {"F", "Pending Error: "},
        {"F\xE4rger", "Pending Error: \xC3\xA4rger"},
        {"G0 -80.0", "manual limits of channel 0: min =  -80.0, max =    0.0"},
        {"L", "Keyboard disabled level:"},
        {"O10", "Digital channels: Start:1 ,Error:0 , Flags/Softkeys "},
        {"O101", "Digital channels: Start:1 ,Error:0 ,Pause:1, Flags/Softkeys "},
        {"O1", "Digital channels: Start:1 ,Error:"},
        {"O", "Digital channels: Start:"},
        {"P", "No Programme running"},
        {"Pxy", "No Programme running"},
        {"P-3", "Programme No.:-3 is running"},
        {"S1", "Status: Start:1 ,Error:"},
        {"S10100000", "Status: Start:1 ,Error:0 ,Temper:1, Humidity:0 ,Add.func.1-4:0000 ,ErrorNo: "},
        {"T13100912", "actual clock of chamber: date:13.10.09  time:12:"},
        {"U0 003.51005.0", "Ramprates of channel 0: ramp up =   3.5, ramp down =   5.0"},
        {"U0 1234567890", "Ramprates of channel 0: ramp up =12345.0, ramp down =7890.0"},
        {"U0 003.5", "Ramprates of channel 0: ramp up =   3.5, ramp down =   0.0"},
        {"U0 0035", "Ramprates of channel 0: ramp up =  35.0, ramp down =   0.0"},
        {"U", "Ramprates of channel "},
        {"o5", "Digital channel 05 adjusted"},
        {"o123", "Digital channel 12 adjusted"},
        {"o", "Digital channel 00 adjusted"},
        {"o-", "Digital channel 00 adjusted"},
        {"s", "Digital channel "},
        {"t", "clock of chamber adjusted: date:"},
    }, Answer, kEnglish);
}

TEST(Answer, RunningProgramTimes) {
    CheckSentences({
        {"D001 002 0 1 00360000 00000000",
         "Running program 1: Line = 2; Wait = 0; ProgRun = 1; RuntimeProg = 360000 [s]"
         " (100:00:00 [hh:mm:ss]); RemainingRuntimeLine = 0 [s] (00:00:00 [hh:mm:ss])"},
        /* A field directly followed by digits takes them in. */
        {"D0012003", "Running program 12003: Line = 3; Wait = 0; ProgRun = 0; RuntimeProg = 0 [s]"
                     " (00:00:00 [hh:mm:ss]); RemainingRuntimeLine = 0 [s] (00:00:00 [hh:mm:ss])"},
        {"D001 002 0 1 -0003725 00000061",
         "Running program 1: Line = 2; Wait = 0; ProgRun = 1; RuntimeProg = -3725 [s]"
         " (-1:-2:-5 [hh:mm:ss]); RemainingRuntimeLine = 61 [s] (00:01:01 [hh:mm:ss])"},
        /* Beyond 32 bits the count is clamped; the line field then starts
         * inside the same digits. */
        {"D001 002 0 1 999999999999999",
         "Running program 1: Line = 2; Wait = 0; ProgRun = 1; RuntimeProg = 2147483647 [s]"
         " (596523:14:07 [hh:mm:ss]); RemainingRuntimeLine = 999999 [s] (277:46:39 [hh:mm:ss])"},
        {"D001 002 0 1 -99999999999999",
         "Running program 1: Line = 2; Wait = 0; ProgRun = 1; RuntimeProg = -2147483648 [s]"
         " (-596523:-14:-8 [hh:mm:ss]); RemainingRuntimeLine = 999999 [s] (277:46:39 [hh:mm:ss])"},
        {"P99999999999", "Programme No.:2147483647 is running"},
        {"P-99999999999", "Programme No.:-2147483648 is running"},
    }, Answer, kEnglish);
}

TEST(Answer, LettersWithoutSentenceWriteNothing) {
    CheckSentences({
        {"B", nullptr}, {"z", nullptr}, {"1", nullptr}, {" ", nullptr},
        {"", nullptr}, {"\xE4", nullptr}, {"[", nullptr}, {"`", nullptr},
        {"v", nullptr}, {"x", nullptr}, {"N0", nullptr}, {"@", nullptr},
        {"f", nullptr}, {"r", nullptr},
    }, Answer, kEnglish);
}

struct CutCase {
    const char *answer;
    std::string after;  /* the answer buffer after the call */
};

TEST(Answer, CutsFieldsInsideTheAnswerOnly) {
    const std::vector<CutCase> cases = {
        {"A1 023.5 025.0", std::string("A1 023.5\0" "025.0", 14)},
        {"U0 003.5 005.0", std::string("U0 003.5\0" "005.0", 14)},
        {"U0 003.5", "U0 003.5"},
        {"U0", "U0"},
        {"o123", std::string("o12\0", 4)},
        {"o12", "o12"},
        {"A1 023.5 025.0 ", "A1 023.5 025.0 "},
        /* Texts of a fixed width are copied, never cut. */
        {"C12 3.19 4711", "C12 3.19 4711"},
        {"T131009123000999", "T131009123000999"},
    };
    for (const CutCase &c : cases) {
        SCOPED_TRACE(std::string("answer \"") + c.answer + "\"");
        EXPECT_EQ(Answer(c.answer, DISPLAY_INTERPRETED, kEnglish).text, c.after);
        EXPECT_EQ(Answer(c.answer, DISPLAY_RAW, kEnglish).text, c.answer);
    }
}

TEST(Answer, LongResultsAreCutAtTheLineEnd) {
    std::string number(2491, '9');
    Outcome versions = Answer("C12x3.19y" + number, DISPLAY_INTERPRETED, kEnglish);
    std::string full = "Software version information: PLC version = 12 - Zelo version = 3.19"
                       " - PLC number = " + number;
    EXPECT_EQ(versions.line, full.substr(0, DISPLAY_LINE_SIZE - 1));

    std::string group = "A0 1e308 1e308 ";
    std::string all;
    for (int k = 0; k < 5; k++)
        all += group;
    std::string big = Format("%6.1f", 1e308);
    std::string expected = "Values of channel:  '0': Act =" + big + ", Set =" + big;
    for (int k = 1; k < 5; k++)
        expected += " - '" + std::to_string(k) + "': Act =" + big + ", Set =" + big;
    ASSERT_GT(expected.size(), size_t{DISPLAY_LINE_SIZE});
    EXPECT_EQ(Answer(all, DISPLAY_INTERPRETED, kEnglish).line, expected.substr(0, DISPLAY_LINE_SIZE - 1));
}

}  // namespace
