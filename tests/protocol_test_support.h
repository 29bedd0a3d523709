/*
 * protocol_test_support.h -- helpers for the interpreter tests.
 *
 * Latin1() turns a UTF-8 literal into the single-byte text the interpreters
 * write, so that expected German lines are typed with their umlauts rather
 * than with escapes. Command() and Answer() run an interpreter the way the
 * program does, in the language asked for (kEnglish or kGerman), but with
 * a line buffer full of a marker byte (to tell "nothing written" from an
 * empty line) and with digits behind the text's terminator (a reader that
 * strays past it shows them). Every answer that Answer() runs in mode 2 is
 * also decoded into its values, and the sentence printed from those values
 * must be the interpreter's.
 */
#ifndef QUENTA_PROTOCOL_TEST_SUPPORT_H
#define QUENTA_PROTOCOL_TEST_SUPPORT_H

#include "display.h"
#include "values.h"

#include <gtest/gtest.h>

#include <stdio.h>
#include <string.h>

#include <string>
#include <vector>

namespace protocol_test {

constexpr int kEnglish = 1;      /* the english argument of the interpreters */
constexpr int kGerman = 0;
constexpr int kLanguages[] = {kEnglish, kGerman};
constexpr char kMarker = '\xA5';  /* fills the line before a call */
constexpr char kTail = '7';       /* fills the text behind its terminator */
constexpr size_t kTailBytes = 64;

/* snprintf into a string of any length. */
template <typename... Args>
std::string Format(const char *format, Args... args) {
    std::vector<char> buffer(static_cast<size_t>(snprintf(nullptr, 0, format, args...)) + 1);
    snprintf(buffer.data(), buffer.size(), format, args...);
    return std::string(buffer.data());
}

/* " English" or " German", for the trace of a failed check. */
inline std::string LanguageName(int english) {
    return english ? " English" : " German";
}

/* UTF-8 text whose characters are all below U+0100 into Latin-1 bytes. */
inline std::string Latin1(const char *utf8) {
    std::string out;
    for (const unsigned char *p = reinterpret_cast<const unsigned char *>(utf8); *p; p++) {
        if (*p >= 0xC0 && p[1] != 0) {
            out += static_cast<char>(((*p & 0x1F) << 6) | (p[1] & 0x3F));
            p++;
        } else {
            out += static_cast<char>(*p);
        }
    }
    return out;
}

/* What an interpreter left: written is false when every byte of the line
 * still holds the marker; line is the text up to the terminator. */
struct Outcome {
    bool written;
    std::string line;
    std::string text;  /* the input buffer after the call, up to its old end */
};

/* Checks the line buffer after a call: untouched, or terminated within
 * DISPLAY_LINE_SIZE bytes. */
inline Outcome ReadLine(const std::vector<char> &line) {
    Outcome out{false, std::string(), std::string()};
    for (char c : line)
        out.written = out.written || c != kMarker;
    if (!out.written)
        return out;
    const void *nul = memchr(line.data(), 0, line.size());
    EXPECT_NE(nul, nullptr) << "line not terminated within its buffer";
    if (nul != nullptr)
        out.line.assign(line.data(), static_cast<const char *>(nul));
    return out;
}

/* Runs fn(text buffer, line buffer) on text followed by its terminator and
 * kTail digits, and checks that nothing behind the terminator changed. */
template <typename Fn>
Outcome Run(const std::string &text, Fn fn) {
    std::vector<char> input(text.begin(), text.end());
    input.push_back(0);
    input.insert(input.end(), kTailBytes, kTail);
    std::vector<char> line(DISPLAY_LINE_SIZE, kMarker);
    fn(input.data(), line.data());
    Outcome out = ReadLine(line);
    out.text.assign(input.data(), text.size());
    EXPECT_EQ(std::string(input.end() - kTailBytes, input.end()), std::string(kTailBytes, kTail))
        << "written behind the terminator of " << text;
    return out;
}

inline Outcome Command(const std::string &command, int mode, int english) {
    return Run(command, [mode, english](char *text, char *line) {
        DescribeCommandIn(text, line, mode, english);
    });
}

/* Checks that the sentence DescribeValues prints from the decoded values
 * of answer is the one the interpreter printed (out): the same, or where a
 * text value was cut, its start. Answers shown as they stand, and answers
 * without a sentence, have none from values. */
inline void CheckSentenceFromValues(const std::string &answer, int english, const Outcome &out) {
    AnswerValues values;
    DecodeAnswer(answer.c_str(), &values);
    std::vector<char> line(DISPLAY_LINE_SIZE, kMarker);
    int written = DescribeValues(&values, line.data(), english);
    Outcome fromValues = ReadLine(line);
    EXPECT_EQ(written != 0, fromValues.written) << "DescribeValues' result";
    bool verbatim = values.letter != 0 && strchr("HIMRim", values.letter) != nullptr;
    if (!out.written || verbatim) {
        EXPECT_FALSE(fromValues.written) << "sentence from values: " << fromValues.line;
        return;
    }
    bool cut = false;
    for (int i = 0; i < values.count; i++)
        cut = cut || values.value[i].cut;
    EXPECT_TRUE(fromValues.written);
    if (cut)
        EXPECT_EQ(out.line.substr(0, fromValues.line.size()), fromValues.line);
    else
        EXPECT_EQ(fromValues.line, out.line) << "the sentence from the values differs";
}

inline Outcome Answer(const std::string &answer, int mode, int english) {
    Outcome out = Run(answer, [mode, english](char *text, char *line) {
        DescribeAnswerIn(text, line, mode, english);
    });
    if (mode == DISPLAY_INTERPRETED)
        CheckSentenceFromValues(answer, english, out);
    return out;
}

/* One row of a sentence table: expected nullptr means "line untouched". */
struct Case {
    const char *input;
    const char *expected;
};

/* Command or Answer. */
typedef Outcome (*Describer)(const std::string &text, int mode, int english);

/* Runs describe on every row in mode 2 in the language english and
 * compares, expected lines being UTF-8 literals. */
inline void CheckSentences(const std::vector<Case> &cases, Describer describe, int english) {
    for (const Case &c : cases) {
        SCOPED_TRACE(std::string("input \"") + c.input + "\"" + LanguageName(english));
        Outcome out = describe(c.input, DISPLAY_INTERPRETED, english);
        if (c.expected == nullptr) {
            EXPECT_FALSE(out.written) << "line: " << out.line;
            continue;
        }
        EXPECT_TRUE(out.written);
        EXPECT_EQ(out.line, Latin1(c.expected));
    }
}

}  // namespace protocol_test

#endif
