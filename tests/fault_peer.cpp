/*
 * fault_peer.cpp -- the misbehaving chambers of fault_peer.h, each a
 * script that the loopback peer runs on its thread for every connection.
 */
#include "fault_peer.h"

#include <errno.h>
#include <limits.h>
#include <poll.h>
#include <stdint.h>
#include <sys/socket.h>

#include <algorithm>
#include <chrono>
#include <thread>

static const int kSliceMs = 20;
static const size_t kChunk = 65536;
static const int kTakenInMs = 30000;

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

/*
 * Sets the chamber up as script asks: nothing at all for Refuse, a
 * listener with a full backlog for NeverAccept, a listener that serves
 * every connection on its thread otherwise. ready() tells whether it worked.
 */
FaultPeer::FaultPeer(const std::string &address, const PeerScript &script, PeerOptions options)
    : script_(script)
{
    if (script.act == Misbehaviour::Refuse)
        return;
    options.fullBacklog = script.act == Misbehaviour::NeverAccept;
    peer_ = std::make_unique<LoopbackPeer>(address, options);
    if (peer_->listening() && !options.fullBacklog)
        peer_->serve([this](LoopbackPeer &peer, int fd, int) { Serve(peer, fd); });
}

bool FaultPeer::ready() const
{
    return script_.act == Misbehaviour::Refuse || (peer_ && peer_->listening());
}

/* A command arrived on fd (kept in received()); false when the program
 * closed the connection or the chamber is stopping. */
static bool ReadCommand(LoopbackPeer &peer, int fd)
{
    return !peer.readSome(fd, INT_MAX).empty();
}

/* Serves one accepted connection as the script says; returns when it is
 * over. The peer closes fd. */
void FaultPeer::Serve(LoopbackPeer &peer, int fd)
{
    const std::string &answer = script_.answer;

    switch (script_.act) {
    case Misbehaviour::CloseAtOnce:
        return;
    case Misbehaviour::StopReading:
        while (!peer.stopping())
            std::this_thread::sleep_for(std::chrono::milliseconds(kSliceMs));
        return;
    case Misbehaviour::Flood:
        if (ReadCommand(peer, fd))
            Flood(peer, fd);
        return;
    case Misbehaviour::ResetMidAnswer:
        if (!ReadCommand(peer, fd) || !peer.sendAll(fd, answer.substr(0, answer.size() / 2)))
            return;
        std::this_thread::sleep_for(std::chrono::milliseconds(script_.pauseMs));
        peer.resetOnClose(fd);
        return;
    default:
        break;
    }
    while (ReadCommand(peer, fd)) {
        size_t step = script_.act == Misbehaviour::Segments ? script_.segment : answer.size();
        for (size_t at = 0; at < answer.size(); at += step) {
            if (at > 0)
                std::this_thread::sleep_for(std::chrono::milliseconds(script_.pauseMs));
            if (!peer.sendAll(fd, answer.substr(at, step)))
                return;
            /* A segment reaches the program on its own, however slow it is. */
            if (step < answer.size() && !peer.waitTakenIn(fd, kTakenInMs))
                return;
        }
    }
}

/*
 * Sends the test stream as fast as the program takes it for floodMs,
 * reading whatever the program writes meanwhile, then closes its side and
 * waits for the program to close. streamed() counts the bytes sent.
 */
void FaultPeer::Flood(LoopbackPeer &peer, int fd)
{
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(script_.floodMs);
    std::string chunk;

    while (!peer.stopping() && std::chrono::steady_clock::now() < end) {
        struct pollfd p = {fd, POLLIN | POLLOUT, 0};
        if (poll(&p, 1, kSliceMs) <= 0)
            continue;
        if ((p.revents & POLLIN) && !ReadCommand(peer, fd))
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
    while (ReadCommand(peer, fd))
        continue;
    finished_ = true;
}
