/*
 * language.cpp -- the build's language: nonzero English, 0 German. It
 * chooses the panel file and the language of the interpreted sentences.
 */
#include "display.h"

const int englishUI = QUENTA_ENGLISH_UI;
