/*
 * protocol_values_test.cpp -- the values decoded from answers: names,
 * channels, numbers and texts of well-formed, short, over-long and odd
 * answers, and that the sentence printed from them is the interpreter's
 * (Answer() checks that for every answer it runs).
 */
#include "protocol_test_support.h"

#include <charconv>
#include <string>
#include <vector>

using protocol_test::Answer;
using protocol_test::kLanguages;
using protocol_test::LanguageName;

namespace {

/* The values as one line: name[@channel]=number, or name='text' with
 * bytes outside printable ASCII as \xHH and "+cut" after a cut text.
 * Numbers in their shortest exact form, whatever the locale. */
std::string Render(const AnswerValues &v) {
    std::string out;
    for (int i = 0; i < v.count; i++) {
        const AnswerValue &a = v.value[i];
        out += (i ? " " : "") + std::string(a.name ? a.name : "(null)");
        if (a.channel != 0)
            out += std::string("@") + a.channel;
        out += "=";
        if (a.kind == VALUE_NUMBER) {
            char number[64];
            std::to_chars_result r = std::to_chars(number, number + sizeof number, a.number);
            out.append(number, r.ptr);
            continue;
        }
        out += "'";
        for (const char *p = a.text; *p; p++) {
            unsigned char c = static_cast<unsigned char>(*p);
            char hex[8];
            snprintf(hex, sizeof hex, "\\x%02X", c);
            out += c >= 0x20 && c < 0x7F ? std::string(1, *p) : std::string(hex);
        }
        out += a.cut ? "'+cut" : "'";
    }
    return out;
}

/* Decodes text with digits behind its terminator (Run checks those), and
 * checks that the text is unchanged and the letter is its first byte. */
AnswerValues Decode(const std::string &text) {
    AnswerValues values;
    protocol_test::Outcome out = protocol_test::Run(text, [&values](char *input, char *) {
        EXPECT_EQ(DecodeAnswer(input, &values), values.count);
    });
    EXPECT_EQ(out.text, text) << "the answer changed";
    EXPECT_EQ(values.letter, text.c_str()[0]);
    return values;
}

/* Every name is lower-case snake_case; every text is terminated within
 * its buffer. */
void CheckShape(const AnswerValues &v) {
    EXPECT_GE(v.count, 0);
    EXPECT_LE(v.count, ANSWER_VALUES_MAX);
    for (int i = 0; i < v.count && i < ANSWER_VALUES_MAX; i++) {
        const AnswerValue &a = v.value[i];
        ASSERT_NE(a.name, nullptr);
        EXPECT_TRUE(a.name[0] >= 'a' && a.name[0] <= 'z') << a.name;
        for (const char *p = a.name; *p; p++)
            EXPECT_TRUE((*p >= 'a' && *p <= 'z') || (*p >= '0' && *p <= '9') || *p == '_') << a.name;
        EXPECT_TRUE(a.kind == VALUE_NUMBER || a.kind == VALUE_TEXT) << a.name;
        EXPECT_NE(memchr(a.text, 0, sizeof a.text), nullptr) << a.name;
    }
}

struct ValuesCase {
    std::string answer;
    std::string expected;  /* Render() of the values; "" for none */
};

const std::string kLongText(40, 'x');
const std::string kCutText = "'" + std::string(VALUE_TEXT_SIZE - 1, 'x') + "'+cut";

const std::vector<ValuesCase> kCases = {
    /* A, one channel: 14 characters; position 8 belongs to neither. */
    {"A1 023.5 025.0", "actual@1=23.5 set@1=25"},
    {"A1 023.51025.0", "actual@1=23.5 set@1=25"},
    {"A1 00023925.00", "actual@1=23 set@1=25"},
    {"A1 1e999 2e999", "actual@1=inf set@1=inf"},
    {"A1 -2e99 -.5e9", "actual@1=-2e+99 set@1=-5e+08"},
    /* A, all channels: any other length, shorter ones too. */
    {"A0 023.5 025.0 A1 045.0 050.0 A2 -10.0 000.5 A3 001.0 002.0 A4 003.0 004.0",
     "actual@0=23.5 set@0=25 actual@1=45 set@1=50 actual@2=-10 set@2=0.5"
     " actual@3=1 set@3=2 actual@4=3 set@4=4"},
    {"A1 023.5 025.0 ", "actual@0=23.5 set@0=25 actual@1=0 set@1=0 actual@2=0 set@2=0"
                        " actual@3=0 set@3=0 actual@4=0 set@4=0"},
    {"A1 00023925.00 ", "actual@0=23925 set@0=25 actual@1=0 set@1=0 actual@2=0 set@2=0"
                        " actual@3=0 set@3=0 actual@4=0 set@4=0"},
    /* A byte that is no blank before every field: each is read from its
     * own position. */
    {"A0x023.5x025.0 A1x045.0x050.0 A2x-10.0x000.5 A3x001.0x002.0 A4x003.0x004.0",
     "actual@0=23.5 set@0=25 actual@1=45 set@1=50 actual@2=-10 set@2=0.5"
     " actual@3=1 set@3=2 actual@4=3 set@4=4"},
    {"A", "actual@0=0 set@0=0 actual@1=0 set@1=0 actual@2=0 set@2=0"
          " actual@3=0 set@3=0 actual@4=0 set@4=0"},
    /* C: the versions are cut to their width; the number runs to the end. */
    {"C12 3.19 4711-0815", "plc_version='12' controller_version='3.19' plc_number='4711-0815'"},
    {"C12x3.19y4711", "plc_version='12' controller_version='3.19' plc_number='4711'"},
    {"C1", "plc_version='1' controller_version='' plc_number=''"},
    {"C12 3.19 " + kLongText, "plc_version='12' controller_version='3.19' plc_number=" + kCutText},
    /* D: alone no values; every count of seconds as it stands. */
    {"D", ""},
    {"D001 002 0 1 00003725 00000061",
     "program=1 line=2 wait=0 program_running=1 runtime_s=3725 line_remaining_s=61"},
    {"D0", "program=0 line=0 wait=0 program_running=0 runtime_s=0 line_remaining_s=0"},
    {"D0012003", "program=12003 line=3 wait=0 program_running=0 runtime_s=0 line_remaining_s=0"},
    {"D001 002 0 1 999999999999999",
     "program=1 line=2 wait=0 program_running=1 runtime_s=2147483647 line_remaining_s=999999"},
    {"D001 002 0 1 -0003725 00000061",
     "program=1 line=2 wait=0 program_running=1 runtime_s=-3725 line_remaining_s=61"},
    /* E, G, U: the channel at 1 goes with every value. */
    {"E0 045.0", "ramp_end@0=45"},
    {"E0 045.0xyz 7", "ramp_end@0=45"},
    {"E0", "ramp_end@0=0"},
    {"E", "ramp_end=0"},
    {"E1 7.25e400", "ramp_end@1=inf"},
    {"E1 -2.5e-999", "ramp_end@1=-0"},
    {"E1 0x1A", "ramp_end@1=0"},
    {"E1 inf", "ramp_end@1=0"},
    {"E\xE4 1", "ramp_end@\xE4=1"},
    {std::string("E0 04\0" "5.0", 9), "ramp_end@0=4"},
    {"G0 -80.0 190.0", "limit_min@0=-80 limit_max@0=190"},
    {"G0 -80.0", "limit_min@0=-80 limit_max@0=0"},
    {"G0 -1e999 1e-999", "limit_min@0=-inf limit_max@0=0"},
    {"U0 003.5 005.0", "ramp_up@0=3.5 ramp_down@0=5"},
    {"U0 003.51005.0", "ramp_up@0=3.5 ramp_down@0=5"},
    {"U0 1234567890", "ramp_up@0=12345 ramp_down@0=7890"},
    {"U0 003.5", "ramp_up@0=3.5 ramp_down@0=0"},
    {"U", "ramp_up=0 ramp_down=0"},
    /* F: the text, Latin-1 bytes kept, cut at the value's size. */
    {"FDoor open", "error_text='Door open'"},
    {"F", "error_text=''"},
    {"F\xE4rger\xFF", "error_text='\\xE4rger\\xFF'"},
    {"F" + kLongText, "error_text=" + kCutText},
    {"F" + std::string(VALUE_TEXT_SIZE - 1, 'x'), "error_text=" + kCutText.substr(0, kCutText.size() - 4)},
    {"F" + std::string(VALUE_TEXT_SIZE, 'x'), "error_text=" + kCutText},
    /* Characters: a digit is a number, any other byte a text of one. */
    {"L0", "keyboard_lock_level=0"},
    {"L2", "keyboard_lock_level=2"},
    {"L", "keyboard_lock_level=''"},
    {"Lx9", "keyboard_lock_level='x'"},
    {"O1010110", "start=1 error=0 pause=1 flags_softkeys='0110'"},
    {"O1000110", "start=1 error=0 pause=0 flags_softkeys='0110'"},
    {"O1", "start=1 error='' pause='' flags_softkeys=''"},
    {"O1 \x80", "start=1 error=' ' pause='\\x80' flags_softkeys=''"},
    {"S101000005", "start=1 error=0 temperature_control=1 humidity_control=0 add_function_1=0"
                   " add_function_2=0 add_function_3=0 add_function_4=0 error_number=5"},
    {"S1", "start=1 error='' temperature_control='' humidity_control='' add_function_1=''"
           " add_function_2='' add_function_3='' add_function_4='' error_number=''"},
    {"S1\xE4" "01000059", "start=1 error='\\xE4' temperature_control=0 humidity_control=1"
                          " add_function_1=0 add_function_2=0 add_function_3=0 add_function_4=0"
                          " error_number=5"},
    {"s1", "digital_channel=1"},
    {"s", "digital_channel=''"},
    /* Whole numbers, clamped to 32 bits. */
    {"P12", "program=12"},
    {"P0", "program=0"},
    {"Pxy", "program=0"},
    {"P-99999999999", "program=-2147483648"},
    {"o05", "digital_channel=5"},
    {"o123", "digital_channel=12"},
    {"o", "digital_channel=0"},
    /* The clock as the twelve characters it was sent as. */
    {"T131009123000", "clock='131009123000'"},
    {"T131009123000999", "clock='131009123000'"},
    {"T1310", "clock='1310'"},
    {"t131009123000", "clock='131009123000'"},
    /* No values: acknowledgements, answers shown as they stand, letters
     * without a form, the empty answer. */
    {"a", ""}, {"d0", ""}, {"g", ""}, {"l2", ""}, {"p001", ""}, {"u", ""},
    {"H02 2;Err1;Err2;", ""}, {"I0 1", ""}, {"M01 2;1;5;", ""}, {"R0 1 0 3.5 5.0", ""},
    {"i0", ""}, {"m0", ""},
    {"B", ""}, {"z", ""}, {"1", ""}, {"", ""}, {"\xE4", ""}, {"\xC1" "1 023.5 025.0", ""},
};

TEST(Values, DecodedFromEveryForm) {
    for (const ValuesCase &c : kCases) {
        SCOPED_TRACE("answer \"" + c.answer + "\"");
        AnswerValues values = Decode(c.answer);
        CheckShape(values);
        EXPECT_EQ(Render(values), c.expected);
    }
}

TEST(Values, SentenceFromValuesIsTheInterpreters) {
    /* Answer() prints each sentence both ways and compares them. */
    for (int english : kLanguages)
        for (const ValuesCase &c : kCases) {
            SCOPED_TRACE("answer \"" + c.answer + "\"" + LanguageName(english));
            Answer(c.answer, DISPLAY_INTERPRETED, english);
        }
}

/* Values made by hand: what DescribeValues does with a count that fits
 * none of the letter's forms, and with letters that have no sentence. */
TEST(Values, SentenceNeedsAFormThatFits) {
    struct Row {
        char letter;
        int count;
        const char *expected;  /* nullptr: no sentence, line untouched */
    };
    const Row rows[] = {
        {'A', 3, nullptr},  {'A', 0, nullptr}, {'E', 2, nullptr},
        {'H', 0, nullptr},  {'B', 0, nullptr}, {0, 0, nullptr},
        {'D', 0, "The selected program is not running"},
        {'a', 0, "setvalue changed"},
        {'A', 2, "Values of channel 7: Actvalue =   0.0, Setvalue =   0.0"},
    };
    for (const Row &r : rows) {
        SCOPED_TRACE(std::string("letter ") + r.letter + " count " + std::to_string(r.count));
        AnswerValues values;
        DecodeAnswer("A7 0 0 0", &values);  /* zeroed slots with their names */
        values.letter = r.letter;
        values.count = r.count;
        values.value[0].channel = '7';
        values.value[1].channel = '7';
        char line[DISPLAY_LINE_SIZE];
        memset(line, protocol_test::kMarker, sizeof line);
        int written = DescribeValues(&values, line, 1);
        EXPECT_EQ(written, r.expected != nullptr);
        if (r.expected == nullptr)
            EXPECT_EQ(line[0], protocol_test::kMarker);
        else
            EXPECT_STREQ(line, r.expected);
    }
}

TEST(Values, NullArgumentsDecodeToNothing) {
    AnswerValues values;
    values.count = 5;
    EXPECT_EQ(DecodeAnswer(nullptr, &values), 0);
    EXPECT_EQ(values.count, 0);
    EXPECT_EQ(values.letter, 0);
    EXPECT_EQ(DecodeAnswer("E0 1", nullptr), 0);
    char line[DISPLAY_LINE_SIZE] = "kept";
    EXPECT_EQ(DescribeValues(nullptr, line, 1), 0);
    EXPECT_STREQ(line, "kept");
}

}  // namespace
