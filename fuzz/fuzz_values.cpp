/*
 * fuzz_values.cpp -- libFuzzer target for DecodeAnswer and DescribeValues:
 * the whole input, up to its first zero byte, is the answer. Checks that
 * the answer is left as it was, that the values keep their bounds (count,
 * names, kinds, terminated texts), and that the sentence printed from the
 * values is the interpreter's, in English and in German.
 */
#include "fuzz_line.h"
#include "values.h"

#include <math.h>

/* Count within bounds, every name lower-case snake_case, every kind one of
 * the two, every text terminated in its buffer, cut only where the text
 * fills it, no number NaN. */
static void CheckValues(const AnswerValues &v, const char *answer) {
    if (v.letter != answer[0])
        fuzz_line::Fail("letter is not the answer's first byte");
    if (v.count < 0 || v.count > ANSWER_VALUES_MAX)
        fuzz_line::Fail("count out of bounds");
    for (int i = 0; i < v.count; i++) {
        const AnswerValue &a = v.value[i];
        if (a.name == nullptr || a.name[0] < 'a' || a.name[0] > 'z' ||
            strspn(a.name, "abcdefghijklmnopqrstuvwxyz0123456789_") != strlen(a.name))
            fuzz_line::Fail("name missing or not snake_case");
        if (a.kind != VALUE_NUMBER && a.kind != VALUE_TEXT)
            fuzz_line::Fail("unknown kind");
        if (memchr(a.text, 0, sizeof a.text) == nullptr)
            fuzz_line::Fail("text not terminated");
        if (a.cut && strlen(a.text) != VALUE_TEXT_SIZE - 1)
            fuzz_line::Fail("cut text does not fill its buffer");
        if (a.kind == VALUE_NUMBER && isnan(a.number))
            fuzz_line::Fail("number is NaN");
    }
}

/* The sentence from the values equals the interpreter's, or its start
 * where a text was cut; the answers shown as they stand have none. */
static void CheckSentence(const std::vector<char> &answer, const AnswerValues &v, int english) {
    std::vector<char> text = answer;
    std::vector<char> line(DISPLAY_LINE_SIZE, fuzz_line::kMarker);
    DescribeAnswerIn(text.data(), line.data(), DISPLAY_INTERPRETED, english);
    std::vector<char> fromValues(DISPLAY_LINE_SIZE, fuzz_line::kMarker);
    int written = DescribeValues(&v, fromValues.data(), english);
    if (written != !fuzz_line::Untouched(fromValues))
        fuzz_line::Fail("DescribeValues' result does not tell whether it wrote");
    bool verbatim = v.letter != 0 && strchr("HIMRim", v.letter) != nullptr;
    if (fuzz_line::Untouched(line) || verbatim) {
        if (written)
            fuzz_line::Fail("a sentence from values where the interpreter has none");
        return;
    }
    if (!written)
        fuzz_line::Fail("no sentence from values where the interpreter has one");
    bool cut = false;
    for (int i = 0; i < v.count; i++)
        cut = cut || v.value[i].cut;
    size_t n = strlen(fromValues.data());
    if (cut ? strncmp(line.data(), fromValues.data(), n) != 0 : strcmp(line.data(), fromValues.data()) != 0)
        fuzz_line::Fail("the sentence from the values differs from the interpreter's");
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    /* A heap block of exactly the answer and its terminator, so that
     * AddressSanitizer sees any read beyond. */
    std::vector<char> answer(data, data + size);
    answer.push_back(0);
    const std::vector<char> before = answer;
    AnswerValues values;
    if (DecodeAnswer(answer.data(), &values) != values.count)
        fuzz_line::Fail("DecodeAnswer's result is not the count");
    if (answer != before)
        fuzz_line::Fail("the answer was changed");
    CheckValues(values, answer.data());
    CheckSentence(answer, values, 1);
    CheckSentence(answer, values, 0);
    return 0;
}
