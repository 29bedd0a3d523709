/*
 * display.cpp -- display modes 0 (every byte in hexadecimal) and 1 (the
 * text unchanged), one routine for the commands sent and the answers
 * received. Exports DescribeBytes (fields.h).
 */
#include "display.h"
#include "fields.h"

#include <string.h>

enum {
    HEX_GROUP = 5,                                        /* "0xE4 " */
    HEX_GROUPS_MAX = (DISPLAY_LINE_SIZE - 1) / HEX_GROUP  /* 511 */
};

struct HexGroups {
    char group[256][HEX_GROUP];
};

/* The 256 groups "0x00 " to "0xFF ", built by the compiler so that a line
 * costs one copy of five bytes per byte and no formatting call. */
static constexpr HexGroups MakeHexGroups() {
    const char digits[] = "0123456789ABCDEF";
    HexGroups table{};
    for (int b = 0; b < 256; b++) {
        table.group[b][0] = '0';
        table.group[b][1] = 'x';
        table.group[b][2] = digits[b >> 4];
        table.group[b][3] = digits[b & 15];
        table.group[b][4] = ' ';
    }
    return table;
}

static constexpr HexGroups kHex = MakeHexGroups();

/* Appends one group per byte of text at the running end of line, bytes
 * taken as unsigned, until the terminator or the last whole group that fits
 * the line (511 groups, 2,555 characters); then terminates the line. */
static void WriteHex(const unsigned char *text, char *line) {
    char *end = line;
    for (int n = 0; n < HEX_GROUPS_MAX && text[n] != 0; n++) {
        memcpy(end, kHex.group[text[n]], HEX_GROUP);
        end += HEX_GROUP;
    }
    *end = 0;
}

/* Copies text into line up to its terminator, cut at the line's capacity. */
static void WriteRaw(const char *text, char *line) {
    size_t n = strnlen(text, DISPLAY_LINE_SIZE - 1);
    memcpy(line, text, n);
    line[n] = 0;
}

int DescribeBytes(const char *text, char *line, int mode) {
    if (mode == DISPLAY_HEX) {
        WriteHex(reinterpret_cast<const unsigned char *>(text), line);
        return 1;
    }
    if (mode == DISPLAY_RAW) {
        WriteRaw(text, line);
        return 1;
    }
    return 0;
}
