/*
 * fuzz_request.cpp -- libFuzzer target for DescribeCommand: any command in
 * any mode, in the language this binary is linked with (english_ui.cpp).
 * Input layout: see fuzz_line.h.
 */
#include "fuzz_line.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size == 0)
        return 0;
    int mode = fuzz_line::ModeOf(data[0]);
    std::vector<char> command = fuzz_line::TextOf(data, size);
    std::vector<char> before = command;
    std::vector<char> line(DISPLAY_LINE_SIZE, fuzz_line::kMarker);
    DescribeCommand(command.data(), line.data(), mode);
    if (command != before)
        fuzz_line::Fail("the command was changed");
    fuzz_line::CheckLine(line, command.data(), mode);
    return 0;
}
