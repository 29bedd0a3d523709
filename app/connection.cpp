/*
 * connection.cpp -- the one TCP connection to the chamber and the receive
 * path: ConnectToChamber, CloseChamberConnection, ApplyCloseAfterCommand,
 * the library's callback TCPClientCallback, AddHistoryLine for both history
 * lists, and the control callbacks IPinput (address committed) and
 * ChangeCloseConnection.
 *
 * The LED and `connected` are independent: the LED shows whether the chamber
 * was last reachable or answering, `connected` whether a connection is open.
 */
#include <stddef.h>

#include "ascii.h"
#include "ascii_module.h"
#include "platform.h"

/*
 * Connects to the address in IP, port 1080, waiting at most 3000 ms under
 * the wait cursor. Callers call it only while `connected` is 0.
 * Returns 1 and sets `connected` on success, 0 on failure. The LED is the
 * caller's business.
 */
int ConnectToChamber(void)
{
    char address[ADDRESS_SIZE];
    int result;

    address[0] = '\0';
    GetCtrlVal(mainPanel, IP, address);
    SetWaitCursor(1);
    result = ConnectToTCPServer(&connHandle, CHAMBER_PORT, address, TCPClientCallback, NULL,
                                CONNECT_TIMEOUT_MS);
    SetWaitCursor(0);
    connected = result >= 0;
    return connected;
}

/* Closes the connection held in connHandle (a handle that is not open does
 * no harm) and sets `connected` to 0. The result of the close is ignored;
 * the LED is not touched. */
void CloseChamberConnection(void)
{
    DisconnectFromTCPServer(connHandle);
    connected = 0;
}

/* With CLOSE_CONN on, closes an open connection; the LED is not touched. */
void ApplyCloseAfterCommand(void)
{
    int closeAfterCommand = 0;

    GetCtrlVal(mainPanel, CLOSE_CONN, &closeAfterCommand);
    if (connected == 1 && closeAfterCommand)
        CloseChamberConnection();
}

/*
 * Reads what the chamber sent (at most 2,500 bytes), lists it in the
 * display mode of RINGSLIDE at the top of ZEICHEN_EMPFANGEN and sets the LED
 * on. A read that fails is no answer: nothing is listed and the LED stays.
 */
static void ReceiveAnswer(void)
{
    char answer[ANSWER_MAX + 1];
    char line[DISPLAY_LINE_SIZE];
    int mode = DISPLAY_RAW;
    int count;

    count = ClientTCPRead(connHandle, answer, ANSWER_MAX, IO_TIMEOUT_MS);
    if (count < 0)
        return;
    answer[count] = '\0';
    SetCtrlVal(mainPanel, LED, 1);
    GetCtrlVal(mainPanel, RINGSLIDE, &mode);
    /* An answer that the mode cannot interpret is listed as it stands. */
    DescribeAnswer(answer, line, DISPLAY_RAW);
    DescribeAnswer(answer, line, mode);
    AddHistoryLine(ZEICHEN_EMPFANGEN, line);
    ApplyCloseAfterCommand();
}

/*
 * The library's callback for the connection: TCP_DISCONNECT clears the LED
 * and `connected`; TCP_DATAREADY receives an answer. Every read goes to
 * connHandle. Returns 0.
 */
int TCPClientCallback(unsigned, int xType, int, void *)
{
    if (xType == TCP_DISCONNECT) {
        SetCtrlVal(mainPanel, LED, 0);
        connected = 0;
    } else if (xType == TCP_DATAREADY) {
        ReceiveAnswer();
    }
    return 0;
}

/*
 * Puts line at the top of the history list (ZEICHEN_GESENDET or
 * ZEICHEN_EMPFANGEN) and selects it; the list keeps at most 12 lines, the
 * oldest dropping off the bottom.
 */
void AddHistoryLine(int list, const char *line)
{
    int count = 0;

    GetNumListItems(mainPanel, list, &count);
    if (count >= HISTORY_MAX)
        DeleteListItem(mainPanel, list, HISTORY_MAX - 1, -1);
    InsertListItem(mainPanel, list, 0, line, 0);
    SetCtrlIndex(mainPanel, list, 0);
}

/* Address committed: close an open connection (LED off), connect anew and
 * show the result on the LED, whether or not the address changed. */
int IPinput(int, int, int event, void *, int, int)
{
    if (event != EVENT_COMMIT)
        return 0;
    if (connected == 1) {
        CloseChamberConnection();
        SetCtrlVal(mainPanel, LED, 0);
    }
    ConnectToChamber();
    SetCtrlVal(mainPanel, LED, connected);
    return 0;
}

/* CLOSE_CONN committed: turning it on closes an open connection at once. */
int ChangeCloseConnection(int, int, int event, void *, int, int)
{
    if (event == EVENT_COMMIT)
        ApplyCloseAfterCommand();
    return 0;
}
