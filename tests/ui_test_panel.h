/*
 * ui_test_panel.h -- panel numbers and control IDs of ui_test.uir, the
 * user-interface tests' own panel file, and its path. It holds a small
 * main panel shaped like the program's (the same kinds of controls under
 * the same names, naming the program's ten callbacks, with a ring of seven
 * commands), a text popup, and a panel of three list kinds holding the
 * same items beside kinds of other values. The library's tests load it
 * instead of the program's panel files, so that editing the program's
 * catalogue touches only the tests of those files (ascii_panels_test).
 */
#ifndef QUENTA_UI_TEST_PANEL_H
#define QUENTA_UI_TEST_PANEL_H

#define UI_TEST_PANEL_FILE QUENTA_TEST_DIR "/ui_test.uir"

enum TestPanels {
    PANEL = 2,
    TXTPANEL = 3,
    LISTS = 5
};

/* Controls of PANEL; a control's ID is its place in the list plus 1. */
enum TestPanelControls {
    TOGGLEBUTTON = 2,
    ESC_BUTTON,
    AUSWAHL,
    SEND_STRING,
    LED,
    SCANNER,
    IP,
    RINGSLIDE,
    ZEICHEN_EMPFANGEN,
    ZEICHEN_GESENDET,
    CLOSE_CONN,
    RESEND,
    SCANNING,
    DECORATION,
    NO_SUCH_CONTROL /* the first ID past the panel's controls */
};

/* Controls of TXTPANEL. */
enum TestPopupControls {
    TEXTBOX = 2
};

/* Controls of LISTS. */
enum TestListControls {
    RING = 2,
    SLIDE,
    LIST,
    MESSAGE,
    LAMP,
    SWITCH,
    NUMBER
};

#endif
