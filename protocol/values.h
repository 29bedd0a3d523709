/*
 * values.h -- the values an answer of the chamber carries, decoded into
 * named numbers and texts, for programs that keep them (a monitor writing
 * CSV and metrics). The response interpreter makes its sentence from the
 * same decoded values, so that a value and the sentence that shows it can
 * never disagree. Plain C++ with no Qt; the names, per letter, are listed
 * in docs/protocol.md.
 */
#ifndef QUENTA_VALUES_H
#define QUENTA_VALUES_H

#define ANSWER_VALUES_MAX 16     /* no answer carries more */
#define VALUE_TEXT_SIZE 32

enum ValueKind { VALUE_NUMBER = 1, VALUE_TEXT = 2 };

struct AnswerValue {
    const char *name;   /* static lower-case snake_case name, stable: it becomes a CSV value and a JSON key */
    char channel;       /* the channel character the value belongs to ('0', '1', ...), or 0 for none */
    int kind;           /* VALUE_NUMBER or VALUE_TEXT */
    double number;      /* VALUE_NUMBER: exactly the value the sentence shows before its rounding; whole numbers exact */
    char text[VALUE_TEXT_SIZE];  /* VALUE_TEXT: Latin-1, NUL-terminated */
    int cut;            /* VALUE_TEXT: nonzero when the answer's text was longer than
                           VALUE_TEXT_SIZE - 1 bytes and text holds only its start */
};

struct AnswerValues {
    char letter;        /* the answer letter (position 0), 0 for an empty answer */
    int count;          /* values in value[] */
    AnswerValue value[ANSWER_VALUES_MAX];
};

/* Decodes the NUL-terminated answer, any bytes, never modified and never
 * read past its terminator. Returns out->count: 0 when the letter carries
 * no values. A character field (a flag, a level) is a VALUE_NUMBER when it
 * holds a digit, else a VALUE_TEXT of its one byte, empty where the answer
 * ends before it. A null answer or out decodes to nothing (returns 0). */
int DecodeAnswer(const char *answer, AnswerValues *out);

/* The sentence of display mode 2 made from values that DecodeAnswer
 * decoded, in English (english nonzero) or German, into line
 * (DISPLAY_LINE_SIZE bytes, display.h). It equals the sentence the
 * response interpreter makes of the answer itself, except that a text
 * with cut set shows only its start. Returns 1 when it wrote the line, 0
 * (line untouched) when the values make no sentence: a letter that has no
 * sentence or is shown as it stands (H, I, M, R, i, m), or a count that
 * fits none of the letter's forms. */
int DescribeValues(const AnswerValues *values, char *line, int english);

#endif
