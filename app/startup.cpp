/*
 * startup.cpp -- the shared state of the module, the table of the ten
 * callbacks that the panel files name, start-up from loading the main panel
 * to setting the cyclic-send interval (AsciiStartup), and QUIT.
 */
#include <stddef.h>

#include "ascii.h"
#include "ascii_module.h"
#include "platform.h"

int mainPanel;
unsigned connHandle;
int connected;
double cycleSeconds;

static const CallbackEntry callbackTable[] = {
    {"COMMAND", COMMAND},
    {"ChangeCloseConnection", ChangeCloseConnection},
    {"ChangeScanning", ChangeScanning},
    {"CloseText", CloseText},
    {"FullText", FullText},
    {"IPinput", IPinput},
    {"ON_OFF", ON_OFF},
    {"QUIT", QUIT},
    {"SENDEN", SENDEN},
    {"TIMER", TIMER},
};

/* Returns the panel file of the build's language: "ascii_e.uir" or "ascii.uir". */
const char *AsciiPanelFile(void)
{
    return englishUI ? ASCII_PANEL_FILE_EN : ASCII_PANEL_FILE_DE;
}

/* Hands the library the callbacks by name. Returns its result (0 on success). */
int AsciiRegisterCallbacks(void)
{
    return RegisterCallbacks(callbackTable, (int)(sizeof callbackTable / sizeof callbackTable[0]));
}

/*
 * Loads and shows the main panel, puts the catalogue's current command into
 * the command field, opens the first connection (the LED shows the result)
 * and gives the timer the interval of SCANNING. The engine must be running.
 * Returns 0, or -1 when the main panel cannot be loaded; then nothing else
 * has been done, no connection attempted.
 */
int AsciiStartup(void)
{
    char command[COMMAND_SIZE];

    AsciiRegisterCallbacks();
    mainPanel = LoadPanel(0, AsciiPanelFile(), PANEL);
    if (mainPanel < 0)
        return -1;
    DisplayPanel(mainPanel);

    command[0] = '\0';
    GetCtrlVal(mainPanel, AUSWAHL, command);
    SetCtrlVal(mainPanel, SEND_STRING, command);

    ConnectToChamber();
    SetCtrlVal(mainPanel, LED, connected);

    GetCtrlVal(mainPanel, SCANNING, &cycleSeconds);
    SetCtrlAttribute(mainPanel, SCANNER, ATTR_INTERVAL, cycleSeconds);
    return 0;
}

/* Quit button (and Esc): a commit ends the event loop. Returns 0. */
int QUIT(int, int, int event, void *, int, int)
{
    if (event == EVENT_COMMIT)
        QuitUserInterface(0);
    return 0;
}
