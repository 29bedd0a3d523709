/*
 * ascii_module.h -- the module ASCII: the program's own procedures and the
 * little state they share. Everything runs on the event-loop thread.
 *
 *   startup.cpp     start-up steps 2 to 6, QUIT, the callback table
 *   connection.cpp  the connection to the chamber and the receive path
 *   sending.cpp     sending a command by hand, the catalogue ring
 *   cyclic.cpp      cyclic sending on the timer
 *   textpopup.cpp   the popup that shows one history line in full
 *   language.cpp    the build's language and the interpreters in it
 */
#ifndef QUENTA_ASCII_MODULE_H
#define QUENTA_ASCII_MODULE_H

#include "display.h"

#define CHAMBER_PORT 1080
#define CONNECT_TIMEOUT_MS 3000
#define IO_TIMEOUT_MS 2000
#define COMMAND_SIZE 512      /* a command of at most 511 characters and its NUL */
#define ANSWER_MAX 2500       /* bytes read for one data-ready event */
#define ADDRESS_SIZE 31       /* the field IP holds at most 30 characters */
#define TITLE_SIZE 128        /* the saved panel title */
#define HISTORY_MAX 12        /* lines kept in each history list */

/* The build's language (nonzero English, 0 German), and the interpreters
 * of display.h in it. */
extern const int englishUI;
int DescribeCommand(const char *command, char *line, int mode);
int DescribeAnswer(char *answer, char *line, int mode);

/* Shared state. */
extern int mainPanel;
extern unsigned connHandle;
extern int connected;
extern double cycleSeconds;
extern int textPanel;

/* Start-up and shutdown. */
const char *AsciiPanelFile(void);
int AsciiRegisterCallbacks(void);
int AsciiStartup(void);
int QUIT(int panel, int control, int event, void *callbackData, int eventData1, int eventData2);

/* Connection and receive path. */
int ConnectToChamber(void);
void CloseChamberConnection(void);
void ApplyCloseAfterCommand(void);
int TCPClientCallback(unsigned handle, int xType, int errCode, void *callbackData);
void AddHistoryLine(int list, const char *line);
int IPinput(int panel, int control, int event, void *callbackData, int eventData1, int eventData2);
int ChangeCloseConnection(int panel, int control, int event, void *callbackData, int eventData1, int eventData2);

/* Sending. */
int SENDEN(int panel, int control, int event, void *callbackData, int eventData1, int eventData2);
int COMMAND(int panel, int control, int event, void *callbackData, int eventData1, int eventData2);
int CopyCommandText(const char *source, char *destination);
int SendCommand(const char *commandText, char *sendBuffer);
void ListSentCommand(const char *sendBuffer);

/* Cyclic sending. */
int TIMER(int panel, int control, int event, void *callbackData, int eventData1, int eventData2);
int ON_OFF(int panel, int control, int event, void *callbackData, int eventData1, int eventData2);
int ChangeScanning(int panel, int control, int event, void *callbackData, int eventData1, int eventData2);

/* Text popup. */
int FullText(int panel, int control, int event, void *callbackData, int eventData1, int eventData2);
int CloseText(int panel, int control, int event, void *callbackData, int eventData1, int eventData2);

#endif
