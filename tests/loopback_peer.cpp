/*
 * loopback_peer.cpp -- the chamber stand-in of loopback_peer.h.
 */
#include "loopback_peer.h"

#include <arpa/inet.h>
#include <dirent.h>
#include <errno.h>
#include <limits.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>

#include <QCoreApplication>
#include <QTest>
#include <QThread>

using Clock = std::chrono::steady_clock;

static const unsigned short kPort = 1080;
static const size_t kChunk = 65536;    /* bytes taken by one read */
static const int kSliceMs = 20;        /* a peer thread notices stopping() within this */
static const int kFillerWaitMs = 30000;
static const int kSendStallMs = 30000; /* the longest a send waits for room */

/* Fills *sa with address (dotted IPv4) and port 1080; false when it is no address. */
static bool LoopbackAddress(const std::string &address, struct sockaddr_in *sa)
{
    *sa = {};
    sa->sin_family = AF_INET;
    sa->sin_port = htons(kPort);
    return inet_pton(AF_INET, address.c_str(), &sa->sin_addr) == 1;
}

/* True when the caller runs on the thread of the Qt event loop. */
static bool OnEventLoopThread()
{
    QCoreApplication *app = QCoreApplication::instance();
    return app != nullptr && QThread::currentThread() == app->thread();
}

/* True when fd reports one of events, an error or a hang-up within ms. */
static bool Ready(int fd, short events, int ms)
{
    struct pollfd p = {fd, events, 0};
    return poll(&p, 1, ms) > 0;
}

/*
 * Listens on address, port 1080, with the buffers of options set before
 * listen() so that every accepted socket has them from its first byte.
 * With fullBacklog the one place of a backlog of 0 is taken at once.
 */
LoopbackPeer::LoopbackPeer(const std::string &address, const PeerOptions &options) : address_(address)
{
    struct sockaddr_in sa;
    int one = 1;

    if (!LoopbackAddress(address, &sa))
        return;
    listenFd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (listenFd_ < 0)
        return;
    setsockopt(listenFd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    if (options.receiveBuffer > 0)
        setsockopt(listenFd_, SOL_SOCKET, SO_RCVBUF, &options.receiveBuffer, sizeof options.receiveBuffer);
    if (options.sendBuffer > 0)
        setsockopt(listenFd_, SOL_SOCKET, SO_SNDBUF, &options.sendBuffer, sizeof options.sendBuffer);
    if (bind(listenFd_, (struct sockaddr *)&sa, sizeof sa) != 0 ||
        listen(listenFd_, options.fullBacklog ? 0 : options.backlog) != 0 ||
        (options.fullBacklog && !fillBacklog(address)))
        stop();
}

/* Stops the thread and closes every socket; an accepted connection that
 * still holds unread bytes is thereby reset. */
LoopbackPeer::~LoopbackPeer()
{
    stopping_ = true;
    if (worker_.joinable())
        worker_.join();
    closeConn(fillerFd_);
    stop();
}

/* Stops listening: further connects are refused. */
void LoopbackPeer::stop()
{
    closeConn(listenFd_);
    listenFd_ = -1;
}

/*
 * Takes the one place of a backlog of 0 with a connection of our own that
 * is never accepted; the kernel then drops every further connection
 * request, so that a connect waits until it gives up. Returns true once
 * the filler is connected.
 */
bool LoopbackPeer::fillBacklog(const std::string &address)
{
    struct sockaddr_in sa;
    int error = 0;
    socklen_t length = sizeof error;

    if (!LoopbackAddress(address, &sa))
        return false;
    fillerFd_ = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fillerFd_ < 0)
        return false;
    if (connect(fillerFd_, (struct sockaddr *)&sa, sizeof sa) != 0 && errno != EINPROGRESS)
        return false;
    if (!Ready(fillerFd_, POLLOUT, kFillerWaitMs))
        return false;
    return getsockopt(fillerFd_, SOL_SOCKET, SO_ERROR, &error, &length) == 0 && error == 0;
}

/* Starts the thread that serves `connections` connections (kForever: until
 * the peer is destroyed) with script. */
void LoopbackPeer::serve(Script script, int connections)
{
    script_ = std::move(script);
    worker_ = std::thread(&LoopbackPeer::run, this, connections);
}

/* The thread: accepts one connection after the other and serves it. */
void LoopbackPeer::run(int connections)
{
    for (int i = 0; connections == kForever || i < connections; i++) {
        int fd = acceptOne(INT_MAX);
        if (fd < 0)
            break;
        script_(*this, fd, i);
        closeConn(fd);
    }
    served_ = true;
}

/* Waits, without running the event loop, until the thread has served all
 * its connections. Returns false when it has not within timeoutMs. */
bool LoopbackPeer::waitServed(int timeoutMs)
{
    Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!served_ && Clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return served_;
}

/* Every byte readSome() has taken so far, from any connection. */
std::string LoopbackPeer::received()
{
    std::lock_guard<std::mutex> hold(lock_);
    return received_;
}

/*
 * Waits up to timeoutMs for events (POLLIN, POLLOUT) on fd. On the event
 * loop's thread the loop runs meanwhile; on a peer thread the wait ends
 * early once the peer is stopping. Returns true when fd is ready, an
 * error or a hang-up included.
 */
bool LoopbackPeer::waitFor(int fd, short events, int timeoutMs)
{
    if (OnEventLoopThread())
        return QTest::qWaitFor([&] { return Ready(fd, events, 0); }, timeoutMs);
    Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!stopping_) {
        if (Ready(fd, events, kSliceMs))
            return true;
        if (Clock::now() >= deadline)
            return false;
    }
    return false;
}

/*
 * Waits until what the peer sent on fd has arrived (the program's end has
 * acknowledged it) and the program has read it: this process's connection
 * to the peer's address holds no unread byte. Returns true then or when
 * either end is gone, false after timeoutMs or when the peer is stopping.
 */
bool LoopbackPeer::waitTakenIn(int fd, int timeoutMs)
{
    Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!stopping_) {
        int program = ProgramConnection(address_);
        int unacknowledged = 0, unread = 0;
        if (ioctl(fd, TIOCOUTQ, &unacknowledged) != 0 || program < 0 ||
            ioctl(program, FIONREAD, &unread) != 0 || (unacknowledged == 0 && unread == 0))
            return true;
        if (Clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return false;
}

/* The next connection, or -1 when none came within timeoutMs. Its writes
 * go out at once (no Nagle delay), as a chamber's do. */
int LoopbackPeer::acceptOne(int timeoutMs)
{
    int one = 1;
    if (listenFd_ < 0 || !waitFor(listenFd_, POLLIN, timeoutMs))
        return -1;
    int fd = accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0)
        return -1;
    accepted_++;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    return fd;
}

/* The size the kernel gives option (SO_RCVBUF, SO_SNDBUF) of the accepted
 * sockets, or -1 when not listening. */
int LoopbackPeer::bufferSize(int option) const
{
    int size = -1;
    socklen_t length = sizeof size;
    if (listenFd_ < 0 || getsockopt(listenFd_, SOL_SOCKET, option, &size, &length) != 0)
        return -1;
    return size;
}

/* What is waiting on fd, at most kChunk bytes, once something is; kept
 * for received(). "" on timeout, end of stream or error. */
std::string LoopbackPeer::readSome(int fd, int timeoutMs)
{
    char buffer[kChunk];
    if (!waitFor(fd, POLLIN, timeoutMs))
        return "";
    ssize_t n = recv(fd, buffer, sizeof buffer, MSG_DONTWAIT);
    if (n <= 0)
        return "";
    std::lock_guard<std::mutex> hold(lock_);
    received_.append(buffer, (size_t)n);
    return std::string(buffer, (size_t)n);
}

/* Reads until count bytes came, the stream ended or timeoutMs passed;
 * returns what came (more than count when it came in one piece). */
std::string LoopbackPeer::readExactly(int fd, size_t count, int timeoutMs)
{
    std::string got;
    Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (got.size() < count && Clock::now() < deadline) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        std::string part = readSome(fd, (int)left.count());
        if (part.empty())
            break;
        got += part;
    }
    return got;
}

/* Writes all of bytes, waiting for room up to kSendStallMs at a time.
 * Returns false when the connection failed, stayed full or the peer stops. */
bool LoopbackPeer::sendAll(int fd, const std::string &bytes)
{
    size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = send(fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n > 0) {
            done += (size_t)n;
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EINTR)
            return false;
        if (!waitFor(fd, POLLOUT, kSendStallMs))
            return false;
    }
    return true;
}

/* True when the end of the stream on fd comes within timeoutMs; bytes
 * before it are read and dropped. */
bool LoopbackPeer::closedByPeer(int fd, int timeoutMs)
{
    char c;
    Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (Clock::now() < deadline) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (!waitFor(fd, POLLIN, (int)left.count()))
            return false;
        if (recv(fd, &c, 1, MSG_DONTWAIT) == 0)
            return true;
    }
    return false;
}

/* Closes fd; -1 is ignored. */
void LoopbackPeer::closeConn(int fd)
{
    if (fd >= 0)
        close(fd);
}

/* Closes fd with a reset instead of an orderly close. */
void LoopbackPeer::resetConn(int fd)
{
    resetOnClose(fd);
    closeConn(fd);
}

/* A script's way to reset: the peer closes fd after the script. */
void LoopbackPeer::resetOnClose(int fd)
{
    struct linger hard = {1, 0};
    if (fd >= 0)
        setsockopt(fd, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
}

/* See loopback_peer.h. The peers' accepted sockets do not count: their far
 * end is an ephemeral port, never 1080. */
int ProgramConnection(const std::string &address)
{
    struct sockaddr_in want, peer;
    int found = -1, count = 0;
    DIR *fds = nullptr;

    if (!LoopbackAddress(address, &want) || (fds = opendir("/proc/self/fd")) == nullptr)
        return -1;
    while (struct dirent *entry = readdir(fds)) {
        int fd = atoi(entry->d_name);
        socklen_t length = sizeof peer;
        if (entry->d_name[0] == '.' || fd == dirfd(fds) ||
            getpeername(fd, (struct sockaddr *)&peer, &length) != 0 || length != sizeof peer)
            continue;
        if (peer.sin_family == AF_INET && peer.sin_port == want.sin_port &&
            peer.sin_addr.s_addr == want.sin_addr.s_addr) {
            found = fd;
            count++;
        }
    }
    closedir(fds);
    return count == 1 ? found : -1;
}

/* See loopback_peer.h. Setting SO_SNDBUF also stops the kernel from
 * growing the buffer later. */
int LockBuffer(const std::string &address, int option, int bytes)
{
    int fd = ProgramConnection(address);
    int size = 0;
    socklen_t length = sizeof size;
    if (fd < 0 || setsockopt(fd, SOL_SOCKET, option, &bytes, sizeof bytes) != 0 ||
        getsockopt(fd, SOL_SOCKET, option, &size, &length) != 0)
        return -1;
    return size;
}
