/*
 * fuzz_request.cpp -- libFuzzer target for DescribeCommandIn: any command
 * in any mode, in English and in German. Input layout: see fuzz_line.h.
 */
#include "fuzz_line.h"

/* Runs the interpreter on command in language english and checks the line
 * and that the command is unchanged. Returns the line. */
static std::vector<char> Describe(const std::vector<char> &command, int mode, int english) {
    std::vector<char> text = command;
    std::vector<char> line(DISPLAY_LINE_SIZE, fuzz_line::kMarker);
    DescribeCommandIn(text.data(), line.data(), mode, english);
    if (text != command)
        fuzz_line::Fail("the command was changed");
    fuzz_line::CheckLine(line, command.data(), mode);
    return line;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size == 0)
        return 0;
    int mode = fuzz_line::ModeOf(data[0]);
    std::vector<char> command = fuzz_line::TextOf(data, size);
    fuzz_line::CheckLanguagesAgree(Describe(command, mode, 1), Describe(command, mode, 0), mode);
    return 0;
}
