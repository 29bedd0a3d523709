/*
 * ascii.h -- panel numbers and control IDs of the panel files "ascii_e.uir"
 * (English) and "ascii.uir" (German). Both files hold the same panels and
 * controls; a control's ID is its place in the panel's list plus 1. A test
 * loads both files and checks every constant here against them.
 */
#ifndef QUENTA_UI_ASCII_H
#define QUENTA_UI_ASCII_H

enum AsciiPanels {
    FEHLER = 1,
    PANEL = 2,
    TXTPANEL = 3
};

/* Controls of PANEL. */
enum AsciiPanelControls {
    TOGGLEBUTTON = 2,
    ESC_BUTTON = 3,
    AUSWAHL = 4,
    SEND_STRING = 5,
    LED = 6,
    SCANNER = 7,
    DECORATION_3 = 8,
    DECORATION_4 = 9,
    IP = 10,
    DECORATION_5 = 11,
    RINGSLIDE = 12,
    ZEICHEN_EMPFANGEN = 13,
    ZEICHEN_GESENDET = 14,
    CLOSE_CONN = 15,
    RESEND = 16,
    UNCONNECTED_SEND = 17,
    SCANNING = 18
};

/* Controls of TXTPANEL and FEHLER (both have TEXTBOX at ID 2). */
enum AsciiPopupControls {
    TEXTBOX = 2,
    TEXTMSG = 3
};

#define ASCII_PANEL_FILE_EN "ascii_e.uir"
#define ASCII_PANEL_FILE_DE "ascii.uir"

#endif
