/*
 * fuzz_answer.cpp -- libFuzzer target for DescribeAnswerIn: any answer in
 * any mode, in English and in German. Input layout: see fuzz_line.h.
 */
#include "fuzz_line.h"

/* The interpreter may end a field by a NUL at position 3 or 8 of the
 * answer, and change nothing else. */
static void CheckAnswerKept(const std::vector<char> &after, const std::vector<char> &before) {
    for (size_t i = 0; i < before.size(); i++) {
        if (after[i] == before[i])
            continue;
        if (after[i] != 0 || (i != 3 && i != 8) || i >= strlen(before.data()))
            fuzz_line::Fail("the answer was changed beyond a field cut");
    }
}

/* Runs the interpreter on a copy of answer in language english, checks
 * the line and the copy, and returns the line; *after gets the copy. */
static std::vector<char> Describe(const std::vector<char> &answer, int mode, int english,
                                  std::vector<char> *after) {
    *after = answer;
    std::vector<char> line(DISPLAY_LINE_SIZE, fuzz_line::kMarker);
    DescribeAnswerIn(after->data(), line.data(), mode, english);
    CheckAnswerKept(*after, answer);
    fuzz_line::CheckLine(line, answer.data(), mode);
    return line;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size == 0)
        return 0;
    int mode = fuzz_line::ModeOf(data[0]);
    std::vector<char> answer = fuzz_line::TextOf(data, size);
    std::vector<char> afterEnglish, afterGerman;
    std::vector<char> english = Describe(answer, mode, 1, &afterEnglish);
    std::vector<char> german = Describe(answer, mode, 0, &afterGerman);
    fuzz_line::CheckLanguagesAgree(english, german, mode);
    if (afterEnglish != afterGerman)
        fuzz_line::Fail("the languages cut the answer differently");
    return 0;
}
