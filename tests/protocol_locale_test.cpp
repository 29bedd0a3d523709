/*
 * protocol_locale_test.cpp -- decimal numbers under a German locale, whose
 * decimal point is a comma, as a GUI toolkit sets it from the user's
 * environment: every decimal field of commands and answers is still read
 * with "." as its point, beyond the range of a double too, and printed
 * with a point; in both languages, and in the decoded values.
 */
#include "protocol_test_support.h"

#include <locale.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <filesystem>
#include <limits>
#include <string>
#include <vector>

using protocol_test::Answer;
using protocol_test::CheckSentences;
using protocol_test::Command;
using protocol_test::Format;
using protocol_test::kEnglish;
using protocol_test::kGerman;

namespace {

/* Switches the process to a German locale, compiling it into scratch
 * where the system has none installed. Returns false when no such locale
 * can be had. */
bool UseCommaLocale(const std::filesystem::path &scratch) {
    if (setlocale(LC_ALL, "de_DE.UTF-8") == nullptr) {
        std::string make = "localedef -i de_DE -f UTF-8 '" + (scratch / "de_DE.UTF-8").string() +
                           "' >/dev/null 2>&1";
        if (system(make.c_str()) != 0)
            return false;
        setenv("LOCPATH", scratch.c_str(), 1);
        if (setlocale(LC_ALL, "de_DE.UTF-8") == nullptr)
            return false;
    }
    return Format("%.1f", 2.5) == "2,5";
}

/* Each test runs under the comma locale, and the C locale is back after
 * it; the test is skipped where the locale cannot be made. */
class CommaLocale : public testing::Test {
protected:
    void SetUp() override {
        scratch_ = std::filesystem::temp_directory_path() /
                   ("protocol-locale-" + std::to_string(getpid()));
        std::filesystem::create_directories(scratch_);
        if (!UseCommaLocale(scratch_))
            GTEST_SKIP() << "no locale with a decimal comma can be made here";
    }
    void TearDown() override {
        setlocale(LC_ALL, "C");
        unsetenv("LOCPATH");
        std::filesystem::remove_all(scratch_);
    }
    std::filesystem::path scratch_;
};

TEST_F(CommaLocale, NumbersKeepTheirPoint) {
    CheckSentences({
        {"a0 030.5", "Adjust setvalue of channel 0 to  30.5."},
        {"d0 05.48", "Adjust ramprate for ramp down of channel 0 to    5.48."},
        {"u0 03.50", "Adjust ramprate for ramp up of channel 0 to    3.50."},
        {"g0 -80.5 190.5", "Set manual limits of channel 0: min = -80.5, max = 190.5."},
    }, Command, kEnglish);
    CheckSentences({
        {"a0 030.5", "Sollwert von Kanal 0 auf  30.5 ändern."},
        {"g0 -80.5 190.5", "Manuale Grenzwerte von Kanal 0 stellen: Min = -80.5, Max = 190.5."},
    }, Command, kGerman);
    CheckSentences({
        {"A1 023.5 025.5", "Values of channel 1: Actvalue =  23.5, Setvalue =  25.5"},
        {"A0 0.5", "Values of channel:  '0': Act =   0.5, Set =   0.0 - '1': Act =   0.0,"
                   " Set =   0.0 - '2': Act =   0.0, Set =   0.0 - '3': Act =   0.0,"
                   " Set =   0.0 - '4': Act =   0.0, Set =   0.0"},
        {"E0 045.5", "Ramp terminal value of channel 0: =  45.5"},
        {"G0 -80.5 190.5", "manual limits of channel 0: min =  -80.5, max =  190.5"},
        {"U0 003.5 005.5", "Ramprates of channel 0: ramp up =   3.5, ramp down =   5.5"},
    }, Answer, kEnglish);
    CheckSentences({
        {"A1 023.5 025.5", "Werte das Kanal 1: Istwert =  23.5, Sollwert =  25.5"},
        {"E0 045.5", "Rampenendwert das Kanal 0: =  45.5"},
    }, Answer, kGerman);
    /* The program's own locale is back after the calls. */
    EXPECT_EQ(Format("%.1f", 2.5), "2,5");
}

/* Beyond the double's range a number is infinite or zero with its sign;
 * the reading must not stop at the "." there either. */
TEST_F(CommaLocale, NumbersBeyondTheRangeKeepTheirPoint) {
    CheckSentences({
        {"a0 1.5e999", "Adjust setvalue of channel 0 to   inf."},
        {"a0 -2.5e-999", "Adjust setvalue of channel 0 to  -0.0."},
        {"d0 1.5e999", "Adjust ramprate for ramp down of channel 0 to     inf."},
        {"u0 -1.5e999", "Adjust ramprate for ramp up of channel 0 to    -inf."},
        {"g0 -80.0 7.5e999", "Set manual limits of channel 0: min = -80.0, max =   inf."},
    }, Command, kEnglish);
    CheckSentences({
        {"a0 1.5e999", "Sollwert von Kanal 0 auf   inf ändern."},
        {"a0 -2.5e-999", "Sollwert von Kanal 0 auf  -0.0 ändern."},
        {"d0 1.5e999", "Gradient für fallende Rampe des Kanal 0 auf     inf ändern."},
        {"g0 -80.0 7.5e999", "Manuale Grenzwerte von Kanal 0 stellen: Min = -80.0, Max =   inf."},
    }, Command, kGerman);
    CheckSentences({
        {"E1 7.25e400", "Ramp terminal value of channel 1: =   inf"},
        {"E1 -2.5e-999", "Ramp terminal value of channel 1: =  -0.0"},
        {"G0 -80.0 7.5e999", "manual limits of channel 0: min =  -80.0, max =    inf"},
        {"U0 003.5 -1.5e999", "Ramprates of channel 0: ramp up =   3.5, ramp down =  -inf"},
        {"A0 023.5 2.5e-999", "Values of channel:  '0': Act =  23.5, Set =   0.0 - '1': Act =   0.0,"
                              " Set =   0.0 - '2': Act =   0.0, Set =   0.0 - '3': Act =   0.0,"
                              " Set =   0.0 - '4': Act =   0.0, Set =   0.0"},
    }, Answer, kEnglish);
    CheckSentences({
        {"E1 7.25e400", "Rampenendwert das Kanal 1: =   inf"},
        {"E1 -2.5e-999", "Rampenendwert das Kanal 1: =  -0.0"},
        {"U0 003.5 -1.5e999", "Gradienten das Kanal 0: steigende Rampe =   3.5, fallende Rampe =  -inf"},
    }, Answer, kGerman);
}

TEST_F(CommaLocale, DecodedNumbersKeepTheirPoint) {
    const double inf = std::numeric_limits<double>::infinity();
    struct Row {
        const char *answer;
        std::vector<double> numbers;  /* compared bit for bit: -0.0 is not 0.0 */
    };
    const Row rows[] = {
        {"E0 045.5", {45.5}},
        {"E1 7.25e400", {inf}},
        {"E1 -2.5e-999", {-0.0}},
        {"A1 023.5 025.5", {23.5, 25.5}},
        {"G0 -80.5 7.5e999", {-80.5, inf}},
        {"U0 003.5 -1.5e999", {3.5, -inf}},
    };
    for (const Row &r : rows) {
        SCOPED_TRACE(std::string("answer \"") + r.answer + "\"");
        AnswerValues values;
        ASSERT_EQ(DecodeAnswer(r.answer, &values), static_cast<int>(r.numbers.size()));
        for (size_t i = 0; i < r.numbers.size(); i++) {
            EXPECT_EQ(values.value[i].kind, VALUE_NUMBER);
            EXPECT_EQ(memcmp(&values.value[i].number, &r.numbers[i], sizeof(double)), 0)
                << values.value[i].name << " = " << values.value[i].number << ", expected "
                << r.numbers[i];
        }
    }
}

}  // namespace
