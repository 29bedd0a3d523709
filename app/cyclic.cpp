/*
 * cyclic.cpp -- cyclic sending: TIMER sends the text of the command field
 * on every tick of SCANNER, ON_OFF suspends and resumes the ticks,
 * ChangeScanning sets the interval. Whether cyclic sending runs is held by
 * the library (timer callbacks suspended or not); TOGGLEBUTTON shows it.
 */
#include <stddef.h>

#include "ascii.h"
#include "ascii_module.h"
#include "platform.h"

/*
 * Makes sure a tick has a connection to send on. Returns 1 when the tick
 * goes on to send: connected already, connected now (LED on), or not
 * connected with UNCONNECTED_SEND on (LED off; the write will fail). With
 * UNCONNECTED_SEND off a failed connect stops cyclic sending, sets the
 * toggle off, leaves the LED and returns 0.
 */
static int ConnectForTick(void)
{
    int sendWhenInterrupted = 0;

    if (connected)
        return 1;
    if (ConnectToChamber()) {
        SetCtrlVal(mainPanel, LED, 1);
        return 1;
    }
    GetCtrlVal(mainPanel, UNCONNECTED_SEND, &sendWhenInterrupted);
    if (sendWhenInterrupted) {
        SetCtrlVal(mainPanel, LED, connected);
        return 1;
    }
    SuspendTimerCallbacks();
    SetCtrlVal(mainPanel, TOGGLEBUTTON, 0);
    return 0;
}

/*
 * Timer tick: under the title "Scanning", read the command field anew,
 * close a connection left open when CLOSE_CONN is on, then (for a command
 * that is not empty) connect if needed, send and list it. The saved title
 * is put back. Returns 0.
 */
int TIMER(int, int, int event, void *, int, int)
{
    char title[TITLE_SIZE];
    char command[COMMAND_SIZE];
    char sendBuffer[COMMAND_SIZE];

    if (event != EVENT_TIMER_TICK)
        return 0;
    title[0] = '\0';
    GetPanelAttribute(mainPanel, ATTR_TITLE, title);
    SetPanelAttribute(mainPanel, ATTR_TITLE, "Scanning");

    command[0] = '\0';
    GetCtrlVal(mainPanel, SEND_STRING, command);
    ApplyCloseAfterCommand();
    if (command[0] != '\0' && ConnectForTick()) {
        SendCommand(command, sendBuffer);
        ListSentCommand(sendBuffer);
    }
    SetPanelAttribute(mainPanel, ATTR_TITLE, title);
    return 0;
}

/* Toggle committed: on resumes the ticks, off suspends them; with CLOSE_CONN
 * on an open connection is closed either way. Returns 0. */
int ON_OFF(int, int, int event, void *, int, int)
{
    int on = 0;

    if (event != EVENT_COMMIT)
        return 0;
    GetCtrlVal(mainPanel, TOGGLEBUTTON, &on);
    if (on)
        ResumeTimerCallbacks();
    else
        SuspendTimerCallbacks();
    ApplyCloseAfterCommand();
    return 0;
}

/* SCANNING committed: its value becomes the timer's interval at once. */
int ChangeScanning(int, int, int event, void *, int, int)
{
    if (event != EVENT_COMMIT)
        return 0;
    GetCtrlVal(mainPanel, SCANNING, &cycleSeconds);
    SetCtrlAttribute(mainPanel, SCANNER, ATTR_INTERVAL, cycleSeconds);
    return 0;
}
