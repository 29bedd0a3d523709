/*
 * fields.h -- what the request and the response interpreter share: the
 * byte-wise display modes 0 and 1, and the readers that take a character,
 * a number or a text from a fixed position of a command or an answer.
 *
 * Every reader is given the text and its length (the position of its
 * terminator). A position at or past the terminator reads like the
 * terminator itself: a character is NUL, a number is 0, a text is empty.
 * Nothing past the terminator is ever touched.
 */
#ifndef QUENTA_FIELDS_H
#define QUENTA_FIELDS_H

#include <locale.h>
#include <stddef.h>

/* Mode 0 (every byte as "0x%02X ") or mode 1 (the text unchanged) of the
 * NUL-terminated text into line (DISPLAY_LINE_SIZE bytes). Mode 0 writes
 * only whole groups, at most 511; mode 1 at most DISPLAY_LINE_SIZE - 1 bytes.
 * Returns 1 when mode was 0 or 1 and the line written, 0 (line untouched)
 * for any other mode. */
int DescribeBytes(const char *text, char *line, int mode);

/* The byte at pos, or NUL when pos is at or past the terminator. */
char FieldChar(const char *text, size_t len, size_t pos);

/* The text from pos to the terminator; "" when pos is past it. */
const char *FieldText(const char *text, size_t len, size_t pos);

/* Decimal number from pos: leading white space, an optional sign, digits
 * with an optional point and fraction, an optional exponent; reading stops
 * at the first byte that does not fit. No number reads as 0.0. */
double FieldReal(const char *text, size_t len, size_t pos);

/* Whole number from pos: leading white space, an optional sign, digits.
 * No digits read as 0; values beyond the 32-bit range are clamped to it. */
int FieldInt(const char *text, size_t len, size_t pos);

/* Like FieldInt, but the number ends before position end whatever stands
 * there. The field [pos, end) is at most FIELD_SHORT_MAX bytes long. */
#define FIELD_SHORT_MAX 15
int FieldIntBefore(const char *text, size_t len, size_t pos, size_t end);

/* Copies at most count bytes from pos (fewer where the terminator comes
 * first) into out, of size outSize > count, and terminates it. */
void FieldCopy(char *out, size_t outSize, const char *text, size_t len,
               size_t pos, size_t count);

/* Writes the printf-style sentence into line (DISPLAY_LINE_SIZE bytes),
 * cut at the line's end. A "%c" given a NUL ends the line right there.
 * Returns what vsnprintf returns. */
int LinePrintf(char *line, const char *format, ...)
    __attribute__((format(printf, 2, 3)));

/* Writes a clock sentence: format takes twelve "%c", filled with the bytes
 * at positions 1 to 12 of text (day, month, year, hour, minute, second). */
void LineClock(char *line, const char *format, const char *text, size_t len)
    __attribute__((format(printf, 2, 0)));

/* Numbers are read and printed with a decimal point whatever locale the
 * program has set (a GUI toolkit may set the user's, where the point is a
 * comma). NumericLocaleEnter switches the calling thread to the C locale
 * and returns the one it had; NumericLocaleLeave(saved) restores it. */
locale_t NumericLocaleEnter(void);
void NumericLocaleLeave(locale_t saved);

#endif
