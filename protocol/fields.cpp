/*
 * fields.cpp -- readers for the fixed positions of commands and answers,
 * and the writers of the display line. Exports FieldReal, FieldInt,
 * FieldIntBefore, FieldRealBefore, FieldCopy, LineCopy, LinePrintf,
 * LinePrintfDecimal and LineClock (fields.h).
 */
#include "fields.h"
#include "display.h"

#include <ctype.h>
#include <limits.h>
#include <locale.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <charconv>

/* The C locale, made once; (locale_t)0 if it could not be made. */
static locale_t CLocale(void) {
    static const locale_t c = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(0));
    return c;
}

/* s: text after the white space and the sign. Returns 1 when a decimal
 * number starts there (a digit, or a point and a digit), else 0. */
static int StartsDecimal(const char *s) {
    if (isdigit(static_cast<unsigned char>(s[0])))
        return 1;
    return s[0] == '.' && isdigit(static_cast<unsigned char>(s[1]));
}

double FieldReal(const char *text, size_t len, size_t pos) {
    if (pos >= len)
        return 0.0;
    const char *s = text + pos;
    while (isspace(static_cast<unsigned char>(*s)))
        s++;
    const char *digits = s + (*s == '+' || *s == '-');
    /* Only decimal digits count: "inf", "nan" and the like read as 0, and
     * "0x1A" as 0 (the reading stops at the "x"). */
    if (!StartsDecimal(digits))
        return 0.0;
    double value = 0.0;
    std::from_chars_result r = std::from_chars(digits, text + len, value,
                                               std::chars_format::general);
    /* Beyond the range of a double: the standard conversion's infinity or
     * underflow value, read in the C locale, since the program's locale
     * may have a comma for the point. glibc makes the C locale without
     * allocating, so the plain conversion is only a last resort. */
    if (r.ec == std::errc::result_out_of_range) {
        locale_t c = CLocale();
        return c ? strtod_l(s, nullptr, c) : strtod(s, nullptr);
    }
    return *s == '-' ? -value : value;
}

int FieldInt(const char *text, size_t len, size_t pos) {
    if (pos >= len)
        return 0;
    long value = strtol(text + pos, nullptr, 10);
    if (value > INT_MAX)
        return INT_MAX;
    if (value < INT_MIN)
        return INT_MIN;
    return static_cast<int>(value);
}

int FieldIntBefore(const char *text, size_t len, size_t pos, size_t end) {
    char field[FIELD_SHORT_MAX + 1];
    FieldCopy(field, sizeof field, text, len, pos, end > pos ? end - pos : 0);
    return FieldInt(field, strlen(field), 0);
}

double FieldRealBefore(const char *text, size_t len, size_t pos, size_t end) {
    char field[FIELD_SHORT_MAX + 1];
    FieldCopy(field, sizeof field, text, len, pos, end > pos ? end - pos : 0);
    return FieldReal(field, strlen(field), 0);
}

void FieldCopy(char *out, size_t outSize, const char *text, size_t len,
               size_t pos, size_t count) {
    size_t n = pos < len ? len - pos : 0;
    if (n > count)
        n = count;
    if (n > outSize - 1)
        n = outSize - 1;
    memcpy(out, text + (pos < len ? pos : len), n);
    out[n] = 0;
}

void LineCopy(char *line, const char *sentence) {
    DescribeBytes(sentence, line, DISPLAY_RAW);
}

int LinePrintf(char *line, const char *format, ...) {
    va_list args;
    va_start(args, format);
    int n = vsnprintf(line, DISPLAY_LINE_SIZE, format, args);
    va_end(args);
    return n;
}

void LineClock(char *line, const char *format, const char *text, size_t len, size_t first) {
    char c[12];
    for (size_t i = 0; i < sizeof c; i++)
        c[i] = FieldChar(text, len, first + i);
    LinePrintf(line, format, c[0], c[1], c[2], c[3], c[4], c[5], c[6], c[7],
               c[8], c[9], c[10], c[11]);
}

int LinePrintfDecimal(char *line, const char *format, ...) {
    locale_t c = CLocale();
    locale_t saved = c ? uselocale(c) : static_cast<locale_t>(0);
    va_list args;
    va_start(args, format);
    int n = vsnprintf(line, DISPLAY_LINE_SIZE, format, args);
    va_end(args);
    if (saved)
        uselocale(saved);
    return n;
}
