/*
 * protocol_modes_test.cpp -- display modes 0 and 1, modes that write
 * nothing, and the line's capacity, for commands and answers alike and in
 * both languages, which change none of them.
 */
#include "protocol_test_support.h"

#include <stdio.h>

using protocol_test::Answer;
using protocol_test::Command;
using protocol_test::kLanguages;
using protocol_test::LanguageName;
using protocol_test::Outcome;

namespace {

struct BytesCase {
    std::string input;
    int mode;
    std::string expected;
};

/* "0x%02X " of every byte, made the slow and obvious way. */
std::string HexOf(const std::string &text) {
    std::string out;
    char group[8];
    for (unsigned char c : text) {
        snprintf(group, sizeof group, "0x%02X ", c);
        out += group;
    }
    return out;
}

TEST(Modes, HexAndRawOfCommandsAndAnswers) {
    const std::vector<BytesCase> cases = {
        {"A0", DISPLAY_HEX, "0x41 0x30 "},
        {"AB", DISPLAY_HEX, "0x41 0x42 "},
        {"\xE4", DISPLAY_HEX, "0xE4 "},
        {"\x80\xFF\x01", DISPLAY_HEX, "0x80 0xFF 0x01 "},
        {"", DISPLAY_HEX, ""},
        {std::string("AB\0CD", 5), DISPLAY_HEX, "0x41 0x42 "},
        {"M02 001", DISPLAY_RAW, "M02 001"},
        {"g0 -80.0 190.0", DISPLAY_RAW, "g0 -80.0 190.0"},
        {"a0 030.0", DISPLAY_RAW, "a0 030.0"},
        {"\xE4\xF6\xFC", DISPLAY_RAW, "\xE4\xF6\xFC"},
        {"", DISPLAY_RAW, ""},
        {std::string("AB\0CD", 5), DISPLAY_RAW, "AB"},
    };
    for (int english : kLanguages) {
        for (const BytesCase &c : cases) {
            SCOPED_TRACE("input \"" + c.input + "\" mode " + std::to_string(c.mode) +
                         LanguageName(english));
            Outcome command = Command(c.input, c.mode, english);
            Outcome answer = Answer(c.input, c.mode, english);
            EXPECT_TRUE(command.written);
            EXPECT_TRUE(answer.written);
            EXPECT_EQ(command.line, c.expected);
            EXPECT_EQ(answer.line, c.expected);
        }
    }
}

TEST(Modes, EveryByteInHexIsUnsigned) {
    std::string all;
    for (int b = 1; b < 256; b++)
        all += static_cast<char>(b);
    for (int english : kLanguages) {
        SCOPED_TRACE(LanguageName(english));
        EXPECT_EQ(Command(all, DISPLAY_HEX, english).line, HexOf(all));
        EXPECT_EQ(Answer(all, DISPLAY_HEX, english).line, HexOf(all));
        EXPECT_EQ(Answer(all, DISPLAY_RAW, english).line, all);
    }
}

TEST(Modes, OtherModesLeaveTheLineAlone) {
    for (int english : kLanguages) {
        for (int mode : {-1, 3, 4, 100, -2147483647 - 1}) {
            for (const char *text : {"A0", "", "H01", "\xE4"}) {
                SCOPED_TRACE(std::string("input \"") + text + "\" mode " + std::to_string(mode) +
                             LanguageName(english));
                EXPECT_FALSE(Command(text, mode, english).written);
                EXPECT_FALSE(Answer(text, mode, english).written);
            }
        }
    }
}

struct LengthCase {
    size_t inputLength;
    int mode;
    size_t lineLength;
};

TEST(Capacity, LongTextsStayWithinTheLine) {
    const std::vector<LengthCase> cases = {
        {511, DISPLAY_HEX, 2555},   /* the longest command */
        {512, DISPLAY_HEX, 2555},   /* would need 2,561 bytes: 511 groups */
        {2500, DISPLAY_HEX, 2555},  /* the longest answer */
        {2500, DISPLAY_RAW, 2500},
        {2559, DISPLAY_RAW, 2559},
        {3000, DISPLAY_RAW, 2559},
    };
    for (int english : kLanguages) {
        for (const LengthCase &c : cases) {
            SCOPED_TRACE("length " + std::to_string(c.inputLength) + " mode " +
                         std::to_string(c.mode) + LanguageName(english));
            std::string text(c.inputLength, '\xE4');
            text[0] = 'H';
            std::string expected = c.mode == DISPLAY_HEX ? HexOf(text).substr(0, c.lineLength)
                                                         : text.substr(0, c.lineLength);
            EXPECT_EQ(Command(text, c.mode, english).line, expected);
            EXPECT_EQ(Answer(text, c.mode, english).line, expected);
            /* "H" is shown as it stands in mode 2 as well, cut alike. */
            if (c.mode == DISPLAY_RAW) {
                EXPECT_EQ(Command(text, DISPLAY_INTERPRETED, english).line, expected);
                EXPECT_EQ(Answer(text, DISPLAY_INTERPRETED, english).line, expected);
            }
        }
    }
}

}  // namespace
