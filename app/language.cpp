/*
 * language.cpp -- the build's language: nonzero English, 0 German. It
 * chooses the panel file and the language of the interpreted sentences,
 * which the two procedures below pass to the interpreters.
 */
#include "ascii_module.h"

const int englishUI = QUENTA_ENGLISH_UI;

/* As DescribeCommandIn (display.h), in the build's language. Returns 0. */
int DescribeCommand(const char *command, char *line, int mode) {
    return DescribeCommandIn(command, line, mode, englishUI);
}

/* As DescribeAnswerIn (display.h), in the build's language. Returns 0. */
int DescribeAnswer(char *answer, char *line, int mode) {
    return DescribeAnswerIn(answer, line, mode, englishUI);
}
