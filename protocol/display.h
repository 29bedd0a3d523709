/*
 * display.h -- turns one command sent to the chamber, or one answer received
 * from it, into the line that the history lists show.
 *
 * Display modes: 0 every byte as "0x%02X ", 1 the text unchanged, 2 a
 * plain-language sentence in the language the caller asks for. Texts are
 * single-byte Latin-1, NUL-terminated. Plain C++ with no Qt and no global
 * input: tests, benchmarks and fuzzers link this library alone, and one
 * program may show both languages.
 */
#ifndef QUENTA_DISPLAY_H
#define QUENTA_DISPLAY_H

#define DISPLAY_LINE_SIZE 2560  /* one display line with its NUL */

#define DISPLAY_HEX 0
#define DISPLAY_RAW 1
#define DISPLAY_INTERPRETED 2

/* Both take a NUL-terminated text of any length, a line buffer of
 * DISPLAY_LINE_SIZE bytes, a mode and the language (english nonzero:
 * English sentences; 0: German). They write a NUL-terminated line that
 * never exceeds the buffer (mode 0 stops at the last whole group that
 * fits: 511 bytes), or leave the buffer untouched when mode is none of the
 * three or when mode 2 has no sentence for the text's first byte. Nothing
 * beyond the text's terminator is read or written. Both return 0. */
int DescribeCommandIn(const char *command, char *line, int mode, int english);
/* May end a field by writing a NUL into the answer (at 8 for "A" with one
 * channel and for "U", at 3 for "o"), only where that lies inside it. */
int DescribeAnswerIn(char *answer, char *line, int mode, int english);

#endif
