/*
 * fault_peer.h -- misbehaving chambers for the fault suite: a loopback
 * peer (loopback_peer.h) on a thread of its own, so that it misbehaves on
 * time while the program blocks in a connect, a read or a write.
 *
 * Exports FaultPeer with its Misbehaviour and PeerScript, and the test
 * stream StreamByte()/Stream(): printable bytes whose value depends on
 * their position, so that a lost, doubled or reordered byte shows.
 */
#ifndef QUENTA_FAULT_PEER_H
#define QUENTA_FAULT_PEER_H

#include <stddef.h>

#include <atomic>
#include <memory>
#include <string>
#include <utility>

#include "loopback_peer.h"

enum class Misbehaviour {
    Refuse,          /* nothing listens: every connect is refused */
    NeverAccept,     /* the backlog is full: a connect waits out its timeout */
    CloseAtOnce,     /* every connection is closed as soon as it is accepted */
    ResetMidAnswer,  /* after a command: the first half of the answer, a pause, a reset */
    Answer,          /* every command gets the whole answer in one write */
    Segments,        /* every command gets the answer a few bytes at a time */
    Flood,           /* after a command: the stream for floodMs, then an orderly close */
    StopReading,     /* accepts and never reads again */
};

struct PeerScript {
    PeerScript(Misbehaviour what, std::string reply = "", size_t bytesPerWrite = 1, int pause = 0,
               int flood = 0)
        : act(what), answer(std::move(reply)), segment(bytesPerWrite), pauseMs(pause), floodMs(flood)
    {
    }

    Misbehaviour act;
    std::string answer;     /* Answer, Segments, ResetMidAnswer */
    size_t segment;         /* Segments: bytes per write */
    int pauseMs;            /* Segments: between writes; ResetMidAnswer: before the reset */
    int floodMs;            /* Flood: how long the stream runs */
};

class FaultPeer {
public:
    FaultPeer(const std::string &address, const PeerScript &script, PeerOptions options = PeerOptions());
    FaultPeer(const FaultPeer &) = delete;
    FaultPeer &operator=(const FaultPeer &) = delete;

    bool ready() const;                                      /* set up as the script asks */
    std::string received() { return peer_ ? peer_->received() : ""; } /* everything read so far */
    size_t streamed() const { return streamed_; }            /* Flood: stream bytes sent */
    bool finished() const { return finished_; }              /* Flood: stream sent, closed */
    int bufferSize(int option) const { return peer_ ? peer_->bufferSize(option) : -1; }

private:
    void Serve(LoopbackPeer &peer, int fd);
    void Flood(LoopbackPeer &peer, int fd);

    PeerScript script_;
    std::atomic<size_t> streamed_{0};
    std::atomic<bool> finished_{false};
    std::unique_ptr<LoopbackPeer> peer_; /* last: its thread ends before the rest goes */
};

/* The byte at position i of the test stream: printable ASCII, never 0. */
char StreamByte(size_t i);
/* count bytes of the test stream from position from. */
std::string Stream(size_t count, size_t from = 0);

#endif
