/*
 * protocol_locale_test.cpp -- decimal numbers under a German locale, whose
 * decimal point is a comma, as a GUI toolkit sets it from the user's
 * environment: every decimal field of commands and answers is still read
 * with "." as its point, beyond the range of a double too, and printed
 * with a point. Each sentence prints its number in one call for both
 * languages, and the answers' sentences are printed from their decoded
 * values, so the English sentences stand for all of them.
 */
#include "protocol_test_support.h"

#include <locale.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <string>

using protocol_test::Answer;
using protocol_test::CheckSentences;
using protocol_test::Command;
using protocol_test::Format;
using protocol_test::kEnglish;

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

/* The test runs under the comma locale, and the C locale is back after
 * it; it is skipped where the locale cannot be made. */
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

/* Beyond the double's range a number is infinite or zero with its sign;
 * the reading must not stop at the "." there either. */
TEST_F(CommaLocale, NumbersKeepTheirPoint) {
    CheckSentences({
        {"a0 030.5", "Adjust setvalue of channel 0 to  30.5."},
        {"d0 05.48", "Adjust ramprate for ramp down of channel 0 to    5.48."},
        {"u0 03.50", "Adjust ramprate for ramp up of channel 0 to    3.50."},
        {"g0 -80.5 190.5", "Set manual limits of channel 0: min = -80.5, max = 190.5."},
        {"a0 1.5e999", "Adjust setvalue of channel 0 to   inf."},
        {"a0 -2.5e-999", "Adjust setvalue of channel 0 to  -0.0."},
    }, Command, kEnglish);
    CheckSentences({
        {"A1 023.5 025.5", "Values of channel 1: Actvalue =  23.5, Setvalue =  25.5"},
        {"A0 0.5", "Values of channel:  '0': Act =   0.5, Set =   0.0 - '1': Act =   0.0,"
                   " Set =   0.0 - '2': Act =   0.0, Set =   0.0 - '3': Act =   0.0,"
                   " Set =   0.0 - '4': Act =   0.0, Set =   0.0"},
        {"E0 045.5", "Ramp terminal value of channel 0: =  45.5"},
        {"G0 -80.5 190.5", "manual limits of channel 0: min =  -80.5, max =  190.5"},
        {"U0 003.5 005.5", "Ramprates of channel 0: ramp up =   3.5, ramp down =   5.5"},
        {"E1 7.25e400", "Ramp terminal value of channel 1: =   inf"},
        {"E1 -2.5e-999", "Ramp terminal value of channel 1: =  -0.0"},
        {"U0 003.5 -1.5e999", "Ramprates of channel 0: ramp up =   3.5, ramp down =  -inf"},
    }, Answer, kEnglish);
    /* The program's own locale is back after the calls. */
    EXPECT_EQ(Format("%.1f", 2.5), "2,5");
}

}  // namespace
