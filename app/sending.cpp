/*
 * sending.cpp -- sending a command by hand: SENDEN (Enter in the command
 * field), COMMAND (a pick from the catalogue ring fills the field),
 * SendCommand with CopyCommandText, and ListSentCommand, which both send
 * paths use to list what they wrote.
 */
#include <stddef.h>

#include "ascii.h"
#include "ascii_module.h"
#include "platform.h"

/*
 * Copies the NUL-terminated source into destination, a COMMAND_SIZE buffer,
 * with its terminator. Returns the number of characters copied, terminator
 * not counted. A source longer than 511 characters is cut there, so the
 * copy never runs past the buffer.
 */
int CopyCommandText(const char *source, char *destination)
{
    int count = 0;

    while (count < COMMAND_SIZE - 1 && source[count] != '\0') {
        destination[count] = source[count];
        count++;
    }
    destination[count] = '\0';
    return count;
}

/*
 * Copies commandText into sendBuffer (COMMAND_SIZE) and writes exactly its
 * characters to the chamber, nothing appended, within 2000 ms. After a
 * failed write with RESEND on the connection is closed, so that the next
 * send connects anew; the LED is not touched.
 * Returns the write's result: the bytes written, or a negative code.
 */
int SendCommand(const char *commandText, char *sendBuffer)
{
    int length = CopyCommandText(commandText, sendBuffer);
    int result = ClientTCPWrite(connHandle, sendBuffer, (size_t)length, IO_TIMEOUT_MS);
    int reconnectOnError = 0;

    if (result < 0) {
        GetCtrlVal(mainPanel, RESEND, &reconnectOnError);
        if (reconnectOnError)
            CloseChamberConnection();
    }
    return result;
}

/*
 * Lists sendBuffer, the command just written, at the top of ZEICHEN_GESENDET
 * in the display mode of RINGSLIDE. A command that the mode cannot
 * interpret is listed as it stands.
 */
void ListSentCommand(const char *sendBuffer)
{
    char line[DISPLAY_LINE_SIZE];
    int mode = DISPLAY_RAW;

    GetCtrlVal(mainPanel, RINGSLIDE, &mode);
    DescribeCommand(sendBuffer, line, DISPLAY_RAW);
    DescribeCommand(sendBuffer, line, mode);
    AddHistoryLine(ZEICHEN_GESENDET, line);
}

/*
 * Enter in the command field: connect if no connection is open (on failure
 * nothing is sent or listed and the LED stays), write the command and list
 * it, whatever the write's result. An empty field does nothing. Returns 0.
 */
int SENDEN(int, int, int event, void *, int eventData1, int)
{
    char command[COMMAND_SIZE];
    char sendBuffer[COMMAND_SIZE];

    if (event != EVENT_KEYPRESS || eventData1 != VAL_ENTER_VKEY)
        return 0;
    command[0] = '\0';
    GetCtrlVal(mainPanel, SEND_STRING, command);
    if (command[0] == '\0')
        return 0;
    if (connected == 0) {
        if (!ConnectToChamber())
            return 0;
        SetCtrlVal(mainPanel, LED, 1);
    }
    SendCommand(command, sendBuffer);
    ListSentCommand(sendBuffer);
    return 0;
}

/* A pick from the catalogue ring: its command goes into the command field,
 * which takes the keyboard focus. Nothing is sent. Returns 0. */
int COMMAND(int, int, int event, void *, int, int)
{
    char command[COMMAND_SIZE];

    if (event != EVENT_COMMIT)
        return 0;
    command[0] = '\0';
    GetCtrlVal(mainPanel, AUSWAHL, command);
    SetActiveCtrl(mainPanel, SEND_STRING);
    SetCtrlVal(mainPanel, SEND_STRING, command);
    return 0;
}
