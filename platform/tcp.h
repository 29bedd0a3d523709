/*
 * tcp.h -- TCP client conversations: connect to a server, read, write and
 * disconnect, with a callback that hears of waiting bytes and of the end of
 * the conversation.
 *
 * This header is the whole contract of the TCP library. It needs Qt Core
 * only (events come through the Qt event loop of the QCoreApplication) and
 * no Qt type appears here. Every operation must be called on the thread of
 * the QCoreApplication. Negative results mean failure; the codes are the
 * TCPE_* constants below.
 */
#ifndef QUENTA_TCP_H
#define QUENTA_TCP_H

#include <stddef.h>

/* ---- Events and error codes. ---- */
#define TCP_DISCONNECT 2
#define TCP_DATAREADY 3

#define TCPE_INVALID_HANDLE -1
#define TCPE_TIMEOUT -2
#define TCPE_HOST_NOT_FOUND -3
#define TCPE_CONNECT_FAILED -4
#define TCPE_READ_FAILED -5
#define TCPE_WRITE_FAILED -6
#define TCPE_INVALID_ARGUMENT -7
#define TCPE_NOT_INITIALIZED -8

#define TCP_LOOKUP_MAX 4   /* most name lookups running at once */

typedef int (*tcpFuncPtr)(unsigned handle, int xType, int errCode, void *callbackData);

/* ---- Conversations. ----
 * ConnectToTCPServer: server is a dotted IPv4 address, an IPv6 literal or a
 *   host name (its addresses are tried in the resolver's order); blanks and
 *   tabs around it are not part of it. port is 1..65535. Waits at most
 *   timeoutMs for the lookup and the connection; on success stores a handle
 *   (never 0, never reused while the process runs) and returns 0; otherwise
 *   returns TCPE_HOST_NOT_FOUND, TCPE_CONNECT_FAILED, TCPE_TIMEOUT,
 *   TCPE_INVALID_ARGUMENT or TCPE_NOT_INITIALIZED (no QCoreApplication
 *   exists) and leaves *handle as it was. Several conversations may be open
 *   at once. With a NULL callback the conversation raises no events. A name
 *   lookup that outlasts its connect goes on; the next connect to the same
 *   name waits for it instead of starting another, and at most
 *   TCP_LOOKUP_MAX run at once.
 * The callback is called only from the event loop, never from inside a
 *   library call. TCP_DATAREADY comes only while bytes are waiting, again for
 *   as long as some are left. When the peer closes or the connection fails,
 *   the waiting bytes are offered first, then exactly one TCP_DISCONNECT
 *   (errCode 0 for an orderly close, TCPE_READ_FAILED for a failed
 *   connection, e.g. a reset). When that callback returns, the library closes
 *   the conversation itself: the handle is no longer open. A close made with
 *   DisconnectFromTCPServer raises no event, also when made from inside the
 *   conversation's own callback.
 * ClientTCPRead: returns the bytes waiting, at most maxBytes (> 0); waits up
 *   to timeoutMs only when none are waiting. Returns the count (0 when the
 *   peer has closed and nothing is left), TCPE_TIMEOUT, TCPE_READ_FAILED,
 *   TCPE_INVALID_ARGUMENT or TCPE_INVALID_HANDLE.
 * ClientTCPWrite: writes all count bytes within timeoutMs and returns count,
 *   or TCPE_TIMEOUT (part of the bytes may have gone out), TCPE_WRITE_FAILED,
 *   TCPE_INVALID_ARGUMENT or TCPE_INVALID_HANDLE. Writing to a connection the
 *   peer has closed fails; it never raises SIGPIPE.
 * DisconnectFromTCPServer: closes the conversation and returns 0; a handle
 *   that is not open gives TCPE_INVALID_HANDLE and does no harm. */
int ConnectToTCPServer(unsigned *handle, unsigned port, const char *server,
                       tcpFuncPtr callback, void *callbackData, unsigned timeoutMs);
int ClientTCPRead(unsigned handle, void *buffer, size_t maxBytes, unsigned timeoutMs);
int ClientTCPWrite(unsigned handle, const void *data, size_t count, unsigned timeoutMs);
int DisconnectFromTCPServer(unsigned handle);

/* ---- Before a call waits. ----
 * TcpSetWaitHook: hook (NULL for none) is called on the caller's thread
 *   before a library call waits for the network, so that a user interface
 *   can show what it has pending: at the start of every connect (the
 *   lookup and the connect may wait), and in a read or write each time no
 *   bytes are waiting or the send buffer is full with time left; a read or
 *   write that need not wait never calls it. It may run several times in
 *   one call. hook must not call this library. */
typedef void (*tcpWaitHookPtr)(void);
void TcpSetWaitHook(tcpWaitHookPtr hook);

/* ---- A plain sentence for an error code (never NULL). ---- */
const char *GetTCPErrorString(int code);

#endif
