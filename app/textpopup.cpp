/*
 * textpopup.cpp -- the modal popup TXTPANEL that shows one history line in
 * full: FullText opens it on a commit of either history list, CloseText
 * discards it on a commit of its text box (Enter in it; Esc or the window's
 * close, which the library turns into that commit). Every opening loads a
 * fresh copy.
 */
#include <stddef.h>

#include "ascii.h"
#include "ascii_module.h"
#include "platform.h"

int textPanel = -1;

/*
 * A history list committed (control: ZEICHEN_EMPFANGEN or ZEICHEN_GESENDET):
 * load the popup if it is not loaded, show it modal, and fill its text box
 * with the list's current line, whole (a display line fits the buffer). A
 * list with no current item gives an empty text. A failed load shows no
 * popup, and the next commit tries again. Returns 0.
 */
int FullText(int, int control, int event, void *, int, int)
{
    char text[DISPLAY_LINE_SIZE];
    int index = -1;

    if (event != EVENT_COMMIT)
        return 0;
    if (textPanel == -1) {
        textPanel = LoadPanel(mainPanel, AsciiPanelFile(), TXTPANEL);
        if (textPanel < 0) {
            textPanel = -1;
            return 0;
        }
    }
    InstallPopup(textPanel);
    GetCtrlIndex(mainPanel, control, &index);
    text[0] = '\0';
    GetLabelFromIndex(mainPanel, control, index, text);
    ResetTextBox(textPanel, TEXTBOX, text);
    return 0;
}

/* The popup's text box committed: discard the popup. Returns 0. */
int CloseText(int, int, int event, void *, int, int)
{
    if (event != EVENT_COMMIT)
        return 0;
    DiscardPanel(textPanel);
    textPanel = -1;
    return 0;
}
