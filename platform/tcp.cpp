/*
 * tcp.cpp -- TCP client conversations on POSIX sockets, with events
 * delivered through the Qt event loop: ConnectToTCPServer, ClientTCPRead,
 * ClientTCPWrite and DisconnectFromTCPServer.
 *
 * Every conversation is a non-blocking socket watched by a QSocketNotifier.
 * Library calls wait with poll() on their own socket and never run an event
 * loop, so a callback can only ever come from the event loop. When the
 * socket turns readable, a peek decides the event: bytes waiting give
 * TCP_DATAREADY, end of stream or an error gives the one TCP_DISCONNECT,
 * after which the library closes the conversation itself.
 * GetTCPErrorString gives each error code its sentence; TcpSetWaitHook names
 * what is called before a call waits.
 */
#include <errno.h>
#include <limits.h>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <map>

#include <QCoreApplication>
#include <QPointer>
#include <QSocketNotifier>

#include "tcp.h"
#include "tcp_resolve.h"

using Clock = TcpClock;

struct Conversation {
    int fd;
    tcpFuncPtr callback;
    void *callbackData;
    QPointer<QSocketNotifier> notifier; /* null without a callback */
};

static std::map<unsigned, Conversation> conversations;
static unsigned lastHandle;
static tcpWaitHookPtr waitHook;

void TcpSetWaitHook(tcpWaitHookPtr hook)
{
    waitHook = hook;
}

/* Lets the user interface show what it has pending before a call waits. */
static void BeforeWait(void)
{
    if (waitHook != nullptr)
        waitHook();
}

/* Milliseconds left until deadline, rounded up, 0 when it has passed. */
static int RemainingMs(Clock::time_point deadline)
{
    auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0)
        return 0;
    return left > INT_MAX ? INT_MAX : (int)left;
}

/*
 * Waits until fd reports one of events (POLLIN or POLLOUT), an error or a
 * hang-up, or until deadline. Returns 1 when it did, 0 on timeout, -1 when
 * poll() itself failed.
 */
static int WaitFor(int fd, short events, Clock::time_point deadline)
{
    struct pollfd p;
    int ready;

    if (RemainingMs(deadline) > 0)
        BeforeWait();
    for (;;) {
        p.fd = fd;
        p.events = events;
        p.revents = 0;
        ready = poll(&p, 1, RemainingMs(deadline));
        if (ready >= 0)
            return ready > 0 ? 1 : 0;
        if (errno != EINTR)
            return -1;
    }
}

/* Returns the open conversation of handle, or nullptr. */
static Conversation *Find(unsigned handle)
{
    auto it = conversations.find(handle);
    return it == conversations.end() ? nullptr : &it->second;
}

/*
 * Closes the conversation of handle and forgets it; no event is raised.
 * The notifier is deleted later, from the event loop: the close may come
 * from inside its own signal (the callback closing, or the end of the
 * conversation delivered), and Qt must not be left running on a deleted
 * object.
 */
static void Release(unsigned handle)
{
    auto it = conversations.find(handle);
    if (it == conversations.end())
        return;
    QSocketNotifier *notifier = it->second.notifier.data();
    if (notifier) {
        notifier->setEnabled(false);
        notifier->deleteLater();
    }
    close(it->second.fd);
    conversations.erase(it);
}

/*
 * Calls the callback of handle with event and errCode, with the notifier
 * off so that an event loop the callback runs cannot call it again.
 * Returns true when the conversation is still open afterwards.
 */
static bool Deliver(unsigned handle, int event, int errCode)
{
    Conversation *c = Find(handle);
    c->notifier->setEnabled(false);
    c->callback(handle, event, errCode, c->callbackData);
    return Find(handle) != nullptr;
}

/*
 * The socket of handle turned readable. Bytes waiting: TCP_DATAREADY, and
 * the notifier stays on so the event comes again while bytes are left.
 * End of stream (errCode 0) or a failed connection (TCPE_READ_FAILED): one
 * TCP_DISCONNECT, then the conversation is closed.
 */
static void OnReadable(unsigned handle)
{
    Conversation *c = Find(handle);
    char probe;
    ssize_t n;

    if (c == nullptr)
        return;
    n = recv(c->fd, &probe, 1, MSG_PEEK | MSG_DONTWAIT);
    if (n > 0) {
        if (Deliver(handle, TCP_DATAREADY, 0) && Find(handle)->notifier)
            Find(handle)->notifier->setEnabled(true);
        return;
    }
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR))
        return;
    if (Deliver(handle, TCP_DISCONNECT, n == 0 ? 0 : TCPE_READ_FAILED))
        Release(handle);
}

/*
 * Connects a new socket to the address ai, waiting until deadline at most.
 * Returns the connected non-blocking socket, or TCPE_CONNECT_FAILED or
 * TCPE_TIMEOUT.
 */
static int ConnectTo(const struct addrinfo *ai, Clock::time_point deadline)
{
    int fd = socket(ai->ai_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    int error = 0;
    socklen_t length = sizeof error;

    if (fd < 0)
        return TCPE_CONNECT_FAILED;
    if (connect(fd, ai->ai_addr, ai->ai_addrlen) == 0)
        return fd;
    if (errno == EINPROGRESS || errno == EINTR) {
        int ready = WaitFor(fd, POLLOUT, deadline);
        if (ready == 0) {
            close(fd);
            return TCPE_TIMEOUT;
        }
        if (ready > 0 && getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) == 0 && error == 0)
            return fd;
    }
    close(fd);
    return TCPE_CONNECT_FAILED;
}

/*
 * Tries the addresses of list in order until one connects or deadline
 * passes. Returns the connected socket, TCPE_TIMEOUT when time ran out, or
 * TCPE_CONNECT_FAILED when every address refused or failed.
 */
static int ConnectToAny(const struct addrinfo *list, Clock::time_point deadline)
{
    int result = TCPE_CONNECT_FAILED;

    for (const struct addrinfo *ai = list; ai != nullptr; ai = ai->ai_next) {
        if (RemainingMs(deadline) == 0)
            return TCPE_TIMEOUT;
        result = ConnectTo(ai, deadline);
        if (result >= 0 || result == TCPE_TIMEOUT)
            return result;
    }
    return result;
}

/*
 * Enters the connected socket fd as a new conversation with its own
 * handle, watched for reading when there is a callback. Returns the handle.
 */
static unsigned Enter(int fd, tcpFuncPtr callback, void *callbackData)
{
    unsigned handle = ++lastHandle;
    Conversation &c = conversations[handle];

    c.fd = fd;
    c.callback = callback;
    c.callbackData = callbackData;
    if (callback != nullptr) {
        c.notifier = new QSocketNotifier(fd, QSocketNotifier::Read, QCoreApplication::instance());
        QObject::connect(c.notifier.data(), &QSocketNotifier::activated, c.notifier.data(),
                         [handle]() { OnReadable(handle); });
    }
    return handle;
}

/*
 * handle: where the new handle goes; port 1..65535; server: dotted IPv4
 * address, IPv6 literal or host name; callback may be NULL (no events).
 * Returns 0 and stores the handle, or TCPE_INVALID_ARGUMENT,
 * TCPE_NOT_INITIALIZED (no QCoreApplication), TCPE_HOST_NOT_FOUND,
 * TCPE_CONNECT_FAILED or TCPE_TIMEOUT, leaving *handle as it was.
 */
int ConnectToTCPServer(unsigned *handle, unsigned port, const char *server,
                       tcpFuncPtr callback, void *callbackData, unsigned timeoutMs)
{
    Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    struct addrinfo *list = nullptr;
    int result;

    if (handle == nullptr || server == nullptr || port == 0 || port > 65535)
        return TCPE_INVALID_ARGUMENT;
    if (QCoreApplication::instance() == nullptr)
        return TCPE_NOT_INITIALIZED;
    BeforeWait();
    result = TcpResolve(server, port, deadline, &list);
    if (result < 0)
        return result;
    result = ConnectToAny(list, deadline);
    freeaddrinfo(list);
    if (result < 0)
        return result;
    *handle = Enter(result, callback, callbackData);
    return 0;
}

/*
 * Reads the bytes waiting on handle into buffer, at most maxBytes (> 0);
 * waits up to timeoutMs only when none are waiting. Returns the count, 0
 * when the peer has closed and nothing is left, TCPE_TIMEOUT,
 * TCPE_READ_FAILED, TCPE_INVALID_ARGUMENT or TCPE_INVALID_HANDLE.
 */
int ClientTCPRead(unsigned handle, void *buffer, size_t maxBytes, unsigned timeoutMs)
{
    Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    Conversation *c = Find(handle);
    size_t want = maxBytes > INT_MAX ? INT_MAX : maxBytes;

    if (c == nullptr)
        return TCPE_INVALID_HANDLE;
    if (buffer == nullptr || maxBytes == 0)
        return TCPE_INVALID_ARGUMENT;
    for (;;) {
        ssize_t n = recv(c->fd, buffer, want, MSG_DONTWAIT);
        if (n >= 0)
            return (int)n;
        if (errno == EINTR)
            continue;
        if (errno != EAGAIN && errno != EWOULDBLOCK)
            return TCPE_READ_FAILED;
        int ready = WaitFor(c->fd, POLLIN, deadline);
        if (ready <= 0)
            return ready == 0 ? TCPE_TIMEOUT : TCPE_READ_FAILED;
    }
}

/*
 * Writes all count bytes of data to handle within timeoutMs, never raising
 * SIGPIPE. Returns count, or TCPE_TIMEOUT (some bytes may have gone out),
 * TCPE_WRITE_FAILED, TCPE_INVALID_ARGUMENT or TCPE_INVALID_HANDLE.
 */
int ClientTCPWrite(unsigned handle, const void *data, size_t count, unsigned timeoutMs)
{
    Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    Conversation *c = Find(handle);
    const char *bytes = (const char *)data;
    size_t sent = 0;

    if (c == nullptr)
        return TCPE_INVALID_HANDLE;
    if ((data == nullptr && count > 0) || count > INT_MAX)
        return TCPE_INVALID_ARGUMENT;
    while (sent < count) {
        ssize_t n = send(c->fd, bytes + sent, count - sent, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n > 0) {
            sent += (size_t)n;
            continue;
        }
        if (n < 0 && errno != EINTR && errno != EAGAIN && errno != EWOULDBLOCK)
            return TCPE_WRITE_FAILED;
        int ready = WaitFor(c->fd, POLLOUT, deadline);
        if (ready <= 0)
            return ready == 0 ? TCPE_TIMEOUT : TCPE_WRITE_FAILED;
    }
    return (int)count;
}

/*
 * Closes the conversation of handle without raising an event, also from
 * inside its own callback. Returns 0, or TCPE_INVALID_HANDLE for a handle
 * that is not open (0, never issued, closed already), doing nothing.
 */
int DisconnectFromTCPServer(unsigned handle)
{
    if (Find(handle) == nullptr)
        return TCPE_INVALID_HANDLE;
    Release(handle);
    return 0;
}

/* code: a TCPE_* value. Returns a static sentence. */
const char *GetTCPErrorString(int code)
{
    switch (code) {
    case TCPE_INVALID_HANDLE: return "The connection is not open.";
    case TCPE_TIMEOUT: return "The operation timed out.";
    case TCPE_HOST_NOT_FOUND: return "The host was not found.";
    case TCPE_CONNECT_FAILED: return "The connection was refused or could not be made.";
    case TCPE_READ_FAILED: return "Reading from the connection failed.";
    case TCPE_WRITE_FAILED: return "Writing to the connection failed.";
    case TCPE_INVALID_ARGUMENT: return "An argument is not valid.";
    case TCPE_NOT_INITIALIZED: return "The TCP support has not been initialised.";
    default: return code >= 0 ? "No error." : "Unknown TCP error.";
    }
}
