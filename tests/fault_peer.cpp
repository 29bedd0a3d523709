/*
 * fault_peer.cpp -- the misbehaving chamber stand-ins of fault_peer.h.
 *
 * One thread accepts and serves one connection at a time, as the program
 * holds at most one. Every wait is a poll() of at most kSliceMs, so that
 * the destructor stops the thread within that time whatever it was doing.
 */
#include "fault_peer.h"

#include <arpa/inet.h>
#include <errno.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <stdint.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>

static const unsigned short kPort = 1080;
static const int kSliceMs = 20;
static const int kFillerWaitMs = 1000;
static const size_t kChunk = 65536;

char StreamByte(size_t i)
{
    uint32_t h = (uint32_t)i * 2654435761u;
    return (char)(0x21 + (h >> 8) % 94);
}

std::string Stream(size_t count, size_t from)
{
    std::string bytes(count, '\0');
    for (size_t i = 0; i < count; i++)
        bytes[i] = StreamByte(from + i);
    return bytes;
}

/* Fills *sa with address (dotted IPv4) and port 1080; false when it is no address. */
static bool LoopbackAddress(const std::string &address, struct sockaddr_in *sa)
{
    *sa = {};
    sa->sin_family = AF_INET;
    sa->sin_port = htons(kPort);
    return inet_pton(AF_INET, address.c_str(), &sa->sin_addr) == 1;
}

/*
 * Sets the peer up as script asks and starts its thread: nothing at all
 * for Refuse, a listener with a full backlog and no thread for
 * NeverAccept, a listener served by the thread otherwise. ready() tells
 * whether it worked.
 */
FaultPeer::FaultPeer(const std::string &address, const PeerScript &script) : script_(script)
{
    if (script.act == Misbehaviour::Refuse) {
        ready_ = true;
        return;
    }
    if (script.act == Misbehaviour::NeverAccept) {
        ready_ = Listen(address, 0) && FillBacklog(address);
        return;
    }
    ready_ = Listen(address, 4);
    if (ready_)
        worker_ = std::thread(&FaultPeer::Run, this);
}

/* Stops the thread and closes every socket; an accepted connection that
 * still holds unread bytes is thereby reset. */
FaultPeer::~FaultPeer()
{
    stopping_ = true;
    if (worker_.joinable())
        worker_.join();
    if (fillerFd_ >= 0)
        close(fillerFd_);
    if (listenFd_ >= 0)
        close(listenFd_);
}

std::string FaultPeer::received()
{
    std::lock_guard<std::mutex> hold(lock_);
    return received_;
}

/* Listens on address, port 1080, with backlog; the receive buffer of the
 * script goes to every accepted socket. Returns true when listening. */
bool FaultPeer::Listen(const std::string &address, int backlog)
{
    struct sockaddr_in sa;
    int one = 1;

    if (!LoopbackAddress(address, &sa))
        return false;
    listenFd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (listenFd_ < 0)
        return false;
    setsockopt(listenFd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    if (script_.receiveBuffer > 0)
        setsockopt(listenFd_, SOL_SOCKET, SO_RCVBUF, &script_.receiveBuffer,
                   sizeof script_.receiveBuffer);
    return bind(listenFd_, (struct sockaddr *)&sa, sizeof sa) == 0 && listen(listenFd_, backlog) == 0;
}

/*
 * Takes the one place of a backlog of 0 with a connection of our own that
 * is never accepted; the kernel then drops every further connection
 * request, so that a connect waits until it gives up. Returns true once
 * the filler is connected.
 */
bool FaultPeer::FillBacklog(const std::string &address)
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
    if (!Wait(fillerFd_, POLLOUT, kFillerWaitMs))
        return false;
    return getsockopt(fillerFd_, SOL_SOCKET, SO_ERROR, &error, &length) == 0 && error == 0;
}

/*
 * Waits up to timeoutMs for events (POLLIN, POLLOUT) on fd, in slices, and
 * gives up early when the peer is stopping. Returns true when fd is ready,
 * an error or a hang-up included.
 */
bool FaultPeer::Wait(int fd, short events, int timeoutMs)
{
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);

    while (!stopping_) {
        struct pollfd p = {fd, events, 0};
        if (poll(&p, 1, kSliceMs) > 0)
            return true;
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
    }
    return false;
}

/* The thread: accepts one connection after the other and serves it. */
void FaultPeer::Run()
{
    while (!stopping_) {
        struct pollfd p = {listenFd_, POLLIN, 0};
        if (poll(&p, 1, kSliceMs) <= 0)
            continue;
        int fd = accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0)
            continue;
        accepted_++;
        Serve(fd);
        close(fd);
    }
}

/* Reads what the program sent and keeps it. Returns false when the program
 * closed the connection, it failed, or the peer is stopping. */
bool FaultPeer::ReadCommand(int fd)
{
    char buffer[kChunk];

    while (!stopping_) {
        if (!Wait(fd, POLLIN, kSliceMs))
            continue;
        ssize_t n = recv(fd, buffer, sizeof buffer, MSG_DONTWAIT);
        if (n < 0 && (errno == EAGAIN || errno == EINTR))
            continue;
        if (n <= 0)
            return false;
        std::lock_guard<std::mutex> hold(lock_);
        received_.append(buffer, (size_t)n);
        return true;
    }
    return false;
}

/* Writes all count bytes, waiting for room as long as it takes. Returns
 * false when the connection failed or the peer is stopping. */
bool FaultPeer::Send(int fd, const char *bytes, size_t count)
{
    size_t done = 0;

    while (done < count) {
        ssize_t n = send(fd, bytes + done, count - done, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n > 0) {
            done += (size_t)n;
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EINTR)
            return false;
        if (stopping_)
            return false;
        Wait(fd, POLLOUT, kSliceMs);
    }
    return true;
}

/* Serves one accepted connection as the script says; returns when it is
 * over. The caller closes fd. */
void FaultPeer::Serve(int fd)
{
    const std::string &answer = script_.answer;
    int one = 1;

    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    if (script_.sendBuffer > 0)
        setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &script_.sendBuffer, sizeof script_.sendBuffer);
    switch (script_.act) {
    case Misbehaviour::CloseAtOnce:
        return;
    case Misbehaviour::StopReading:
        while (!stopping_)
            std::this_thread::sleep_for(std::chrono::milliseconds(kSliceMs));
        return;
    case Misbehaviour::Flood:
        if (ReadCommand(fd))
            Flood(fd);
        return;
    case Misbehaviour::ResetMidAnswer: {
        struct linger hard = {1, 0};
        if (!ReadCommand(fd) || !Send(fd, answer.data(), answer.size() / 2))
            return;
        std::this_thread::sleep_for(std::chrono::milliseconds(script_.pauseMs));
        setsockopt(fd, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
        return;
    }
    default:
        break;
    }
    while (ReadCommand(fd)) {
        size_t step = script_.act == Misbehaviour::Segments ? script_.segment : answer.size();
        for (size_t at = 0; at < answer.size(); at += step) {
            if (at > 0)
                std::this_thread::sleep_for(std::chrono::milliseconds(script_.pauseMs));
            if (!Send(fd, answer.data() + at, std::min(step, answer.size() - at)))
                return;
        }
    }
}

/*
 * Sends the test stream as fast as the program takes it for floodMs,
 * reading whatever the program writes meanwhile, then closes its side and
 * waits for the program to close. streamed() counts the bytes sent.
 */
void FaultPeer::Flood(int fd)
{
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(script_.floodMs);
    std::string chunk;

    while (!stopping_ && std::chrono::steady_clock::now() < end) {
        struct pollfd p = {fd, POLLIN | POLLOUT, 0};
        if (poll(&p, 1, kSliceMs) <= 0)
            continue;
        if ((p.revents & POLLIN) && !ReadCommand(fd))
            return;
        if (!(p.revents & POLLOUT))
            continue;
        chunk = Stream(kChunk, streamed_);
        ssize_t n = send(fd, chunk.data(), chunk.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n < 0 && errno != EAGAIN && errno != EINTR)
            return;
        if (n > 0)
            streamed_ += (size_t)n;
    }
    shutdown(fd, SHUT_WR);
    while (ReadCommand(fd))
        continue;
    finished_ = true;
}
