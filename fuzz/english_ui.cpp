/*
 * english_ui.cpp -- the language of one fuzz target: englishUI is fixed
 * when the program is built, so each language is a binary of its own,
 * compiled with QUENTA_FUZZ_ENGLISH_UI 1 (English) or 0 (German).
 */
extern const int englishUI = QUENTA_FUZZ_ENGLISH_UI;
