/*
 * fuzz_line.h -- what the fuzz targets check after every call of an
 * interpreter, beyond what the sanitizers see: the mode taken from the
 * first input byte, the rules every display line keeps, and that the two
 * languages differ in the words of mode 2 only.
 *
 * Input layout: byte 0 chooses the mode ("0", "1", "2" and every byte
 * congruent to them modulo 4; the rest give values that are no mode), the
 * bytes after it are the command or answer, up to the first zero byte.
 */
#ifndef QUENTA_FUZZ_LINE_H
#define QUENTA_FUZZ_LINE_H

#include "display.h"

#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <vector>

namespace fuzz_line {

constexpr char kMarker = '\xA5';  /* fills the line before the call */

/* The mode for byte b: 0, 1 or 2, or a value from -125 to 127 that is none
 * of them. */
inline int ModeOf(uint8_t b) {
    return b % 4 == 3 ? static_cast<int>(b) - 128 : b % 4;
}

/* The text after the mode byte, in a heap block of exactly its length
 * plus the terminator, so that AddressSanitizer sees any access beyond. */
inline std::vector<char> TextOf(const uint8_t *data, size_t size) {
    std::vector<char> text(data + 1, data + size);
    text.push_back(0);
    return text;
}

[[noreturn]] inline void Fail(const char *what) {
    fprintf(stderr, "display line fault: %s\n", what);
    abort();
}

inline bool Untouched(const std::vector<char> &line) {
    for (char c : line)
        if (c != kMarker)
            return false;
    return true;
}

/* Checks the line that mode made of text (text as it was before the call):
 * modes 0 and 1 exactly, mode 2 terminated within the line, other modes
 * and mode 2 for a first byte outside "A" to "u" untouched. */
inline void CheckLine(const std::vector<char> &line, const char *text, int mode) {
    size_t len = strlen(text);
    unsigned char letter = static_cast<unsigned char>(text[0]);
    bool known = mode >= 0 && mode <= 2 && (mode != DISPLAY_INTERPRETED || (letter >= 'A' && letter <= 'u'));
    if (!known) {
        if (!Untouched(line))
            Fail("written although nothing should be");
        return;
    }
    if (Untouched(line))
        return;  /* a letter in range without a sentence */
    const char *nul = static_cast<const char *>(memchr(line.data(), 0, line.size()));
    if (nul == nullptr)
        Fail("line not terminated within its buffer");
    size_t n = static_cast<size_t>(nul - line.data());
    if (mode == DISPLAY_RAW && (n != (len < DISPLAY_LINE_SIZE ? len : DISPLAY_LINE_SIZE - 1) ||
                                memcmp(line.data(), text, n) != 0))
        Fail("mode 1 is not the text");
    if (mode == DISPLAY_HEX) {
        size_t groups = len < 511 ? len : 511;
        char group[8];
        if (n != 5 * groups)
            Fail("mode 0 has the wrong length");
        for (size_t i = 0; i < groups; i++) {
            snprintf(group, sizeof group, "0x%02X ", static_cast<unsigned char>(text[i]));
            if (memcmp(line.data() + 5 * i, group, 5) != 0)
                Fail("mode 0 group differs");
        }
    }
}

/* Checks the lines that mode made in English and in German: modes 0 and 1
 * are the same bytes, and mode 2 writes in both languages or in neither
 * (every letter with a sentence has one in each language). */
inline void CheckLanguagesAgree(const std::vector<char> &english, const std::vector<char> &german,
                                int mode) {
    if (Untouched(english) != Untouched(german))
        Fail("one language wrote a line, the other did not");
    if (mode != DISPLAY_INTERPRETED && !Untouched(english) &&
        strcmp(english.data(), german.data()) != 0)
        Fail("modes 0 and 1 differ between the languages");
}

}  // namespace fuzz_line

#endif
