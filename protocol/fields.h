/*
 * fields.h -- what the request and the response interpreter share: the
 * byte-wise display modes 0 and 1, the readers that take a character, a
 * number or a text from a fixed position of a command or an answer, the
 * bounded writers of the line, and the index from a letter to its form.
 *
 * Every reader is given the text and its length (the position of its
 * terminator). A position at or past the terminator reads like the
 * terminator itself: a character is NUL, a number is 0, a text is empty.
 * Nothing past the terminator is ever touched.
 */
#ifndef QUENTA_FIELDS_H
#define QUENTA_FIELDS_H

#include <stddef.h>

/* Mode 0 (every byte as "0x%02X ") or mode 1 (the text unchanged) of the
 * NUL-terminated text into line (DISPLAY_LINE_SIZE bytes). Mode 0 writes
 * only whole groups, at most 511; mode 1 at most DISPLAY_LINE_SIZE - 1 bytes.
 * Returns 1 when mode was 0 or 1 and the line written, 0 (line untouched)
 * for any other mode. */
int DescribeBytes(const char *text, char *line, int mode);

/* The byte at pos, or NUL when pos is at or past the terminator. */
inline char FieldChar(const char *text, size_t len, size_t pos) {
    return pos < len ? text[pos] : '\0';
}

/* The text from pos to the terminator; "" when pos is past it. */
inline const char *FieldText(const char *text, size_t len, size_t pos) {
    return pos <= len ? text + pos : text + len;
}

/* Decimal number from pos: leading white space, an optional sign, digits
 * with an optional point and fraction, an optional exponent; reading stops
 * at the first byte that does not fit. No number reads as 0.0. The point
 * is "." whatever locale the program has set; beyond the range of a double
 * the value is infinite or zero, with its sign. */
double FieldReal(const char *text, size_t len, size_t pos);

/* Whole number from pos: leading white space, an optional sign, digits.
 * No digits read as 0; values beyond the 32-bit range are clamped to it. */
int FieldInt(const char *text, size_t len, size_t pos);

/* Like FieldInt and FieldReal, but the number ends before position end
 * whatever stands there; nothing is written into text. The field
 * [pos, end) is at most FIELD_SHORT_MAX bytes long. */
#define FIELD_SHORT_MAX 15
int FieldIntBefore(const char *text, size_t len, size_t pos, size_t end);
double FieldRealBefore(const char *text, size_t len, size_t pos, size_t end);

/* Copies at most count bytes from pos (fewer where the terminator comes
 * first) into out, of size outSize > count, and terminates it. */
void FieldCopy(char *out, size_t outSize, const char *text, size_t len,
               size_t pos, size_t count);

/* Copies the NUL-terminated sentence into line, cut at the line's end. */
void LineCopy(char *line, const char *sentence);

/* Writes the printf-style sentence into line (DISPLAY_LINE_SIZE bytes),
 * cut at the line's end. A "%c" given a NUL ends the line right there.
 * Returns what vsnprintf returns. */
int LinePrintf(char *line, const char *format, ...)
    __attribute__((format(printf, 2, 3)));

/* Writes a clock sentence: format takes twelve "%c", filled with the bytes
 * at positions first to first + 11 of text (day, month, year, hour,
 * minute, second). */
void LineClock(char *line, const char *format, const char *text, size_t len, size_t first)
    __attribute__((format(printf, 2, 0)));

/* As LinePrintf, for sentences with decimals ("%5.1f", "%6.1f", "%7.2f"):
 * they are printed with a decimal point whatever locale the program has
 * set (a GUI toolkit may set the user's, where the point is a comma). */
int LinePrintfDecimal(char *line, const char *format, ...)
    __attribute__((format(printf, 2, 3)));

/* Where each letter from "A" to "u" has its entry in a list of forms. */
enum { LETTER_FIRST = 'A', LETTER_LAST = 'u', LETTER_COUNT = LETTER_LAST - LETTER_FIRST + 1 };

struct LetterIndex {
    signed char at[LETTER_COUNT];  /* index into the list, or -1 */
};

/* Builds, at compile time, the index of forms (anything with a member
 * letter); a letter listed twice keeps its last entry. */
template <typename Form, size_t N>
constexpr LetterIndex IndexLetters(const Form (&forms)[N]) {
    LetterIndex index{};
    for (signed char &at : index.at)
        at = -1;
    for (size_t i = 0; i < N; i++)
        index.at[forms[i].letter - LETTER_FIRST] = static_cast<signed char>(i);
    return index;
}

/* The entry of the form for the first byte of text, or -1 when that byte
 * lies outside "A" to "u" (bytes from 128 included) or has no form. */
inline int FindLetter(const LetterIndex &index, const char *text) {
    unsigned char letter = static_cast<unsigned char>(text[0]);
    if (letter < LETTER_FIRST || letter > LETTER_LAST)
        return -1;
    return index.at[letter - LETTER_FIRST];
}

#endif
