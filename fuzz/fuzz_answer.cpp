/*
 * fuzz_answer.cpp -- libFuzzer target for DescribeAnswer: any answer in any
 * mode, in the language this binary is linked with (english_ui.cpp).
 * Input layout: see fuzz_line.h.
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

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size == 0)
        return 0;
    int mode = fuzz_line::ModeOf(data[0]);
    std::vector<char> answer = fuzz_line::TextOf(data, size);
    std::vector<char> before = answer;
    std::vector<char> line(DISPLAY_LINE_SIZE, fuzz_line::kMarker);
    DescribeAnswer(answer.data(), line.data(), mode);
    CheckAnswerKept(answer, before);
    fuzz_line::CheckLine(line, before.data(), mode);
    return 0;
}
