/*
 * test_peer.cpp -- the loopback chamber stand-in of test_peer.h.
 */
#include "test_peer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

#define PEER_PORT 1080
#define PEER_CHUNK 4096

TestPeer::TestPeer(const char *address, int backlog)
{
    struct sockaddr_in sa = {};
    int one = 1;

    sa.sin_family = AF_INET;
    sa.sin_port = htons(PEER_PORT);
    if (inet_pton(AF_INET, address, &sa.sin_addr) != 1)
        return;
    listenFd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    setsockopt(listenFd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    if (bind(listenFd, (struct sockaddr *)&sa, sizeof sa) < 0 || listen(listenFd, backlog) < 0) {
        close(listenFd);
        listenFd = -1;
    }
}

TestPeer::~TestPeer()
{
    stop();
}

void TestPeer::stop()
{
    if (listenFd >= 0)
        close(listenFd);
    listenFd = -1;
}

static void PumpSlice(int ms);

/* Waits for fd to become readable, running the Qt event loop meanwhile so
 * that the program's timers and connection events go on as they would. */
static bool WaitReadable(int fd, int timeoutMs)
{
    QElapsedTimer clock;
    clock.start();
    for (;;) {
        struct pollfd p = {fd, POLLIN, 0};
        if (poll(&p, 1, 0) > 0)
            return true;
        if (clock.elapsed() >= timeoutMs)
            return false;
        PumpSlice(5);
    }
}

int TestPeer::acceptOne(int timeoutMs)
{
    if (listenFd < 0 || !WaitReadable(listenFd, timeoutMs))
        return -1;
    return accept4(listenFd, nullptr, nullptr, SOCK_CLOEXEC);
}

std::string TestPeer::readSome(int fd, int timeoutMs)
{
    char buffer[PEER_CHUNK];
    if (!WaitReadable(fd, timeoutMs))
        return "";
    ssize_t n = recv(fd, buffer, sizeof buffer, 0);
    return n > 0 ? std::string(buffer, (size_t)n) : "";
}

std::string TestPeer::readExactly(int fd, size_t count, int timeoutMs)
{
    std::string got;
    QElapsedTimer clock;
    clock.start();
    while (got.size() < count && clock.elapsed() < timeoutMs) {
        std::string part = readSome(fd, timeoutMs - (int)clock.elapsed());
        if (part.empty())
            break;
        got += part;
    }
    return got;
}

bool TestPeer::sendAll(int fd, const std::string &bytes)
{
    size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = send(fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
        if (n <= 0)
            return false;
        done += (size_t)n;
    }
    return true;
}

bool TestPeer::closedByPeer(int fd, int timeoutMs)
{
    char c;
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < timeoutMs) {
        if (!WaitReadable(fd, timeoutMs - (int)clock.elapsed()))
            return false;
        ssize_t n = recv(fd, &c, 1, 0);
        if (n <= 0)
            return true;
    }
    return false;
}

void TestPeer::closeConn(int fd)
{
    if (fd >= 0)
        close(fd);
}

void TestPeer::resetConn(int fd)
{
    struct linger hard = {1, 0};
    if (fd < 0)
        return;
    setsockopt(fd, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
    close(fd);
}

/* Runs the event loop for at most ms milliseconds, sleeping while idle. */
static void PumpSlice(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

bool PumpUntil(const std::function<bool()> &done, int timeoutMs)
{
    QElapsedTimer clock;
    clock.start();
    while (!done() && clock.elapsed() < timeoutMs)
        PumpSlice(5);
    return done();
}

void PumpFor(int ms)
{
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < ms)
        PumpSlice(5);
}
