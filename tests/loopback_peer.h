/*
 * loopback_peer.h -- the chamber stand-in of the tests: a TCP listener on
 * one loopback address, port 1080, with its buffers fixed before it
 * listens when a test asks for it. Two ways to drive it:
 *
 *   step by step from the test's thread (acceptOne, readSome, sendAll ...):
 *     every wait there runs the Qt event loop, so that the program under
 *     test, on the same thread, goes on meanwhile;
 *   on a thread of its own (serve): it accepts one connection after the
 *     other and runs a script on each, so that it acts on time while the
 *     program blocks in a library call. Waits there poll in slices and give
 *     up once the peer is being destroyed.
 *
 * Every wait is bounded. lockBuffer() fixes a buffer of this process's own
 * end of a connection (the library under test opens it), so that a test
 * does not depend on the kernel's buffer autotuning.
 */
#ifndef QUENTA_LOOPBACK_PEER_H
#define QUENTA_LOOPBACK_PEER_H

#include <stddef.h>

#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

struct PeerOptions {
    int backlog = 8;
    int receiveBuffer = 0;    /* SO_RCVBUF of every accepted socket in bytes; 0: the kernel's */
    int sendBuffer = 0;       /* SO_SNDBUF likewise */
    bool fullBacklog = false; /* backlog 0, taken by a connection never accepted: a connect waits out its timeout */
};

class LoopbackPeer {
public:
    /* Runs on the peer's thread for the index-th connection (from 0), fd its
     * socket; the peer closes fd afterwards. */
    using Script = std::function<void(LoopbackPeer &peer, int fd, int index)>;
    static const int kForever = -1;

    explicit LoopbackPeer(const std::string &address, const PeerOptions &options = PeerOptions());
    ~LoopbackPeer();
    LoopbackPeer(const LoopbackPeer &) = delete;
    LoopbackPeer &operator=(const LoopbackPeer &) = delete;

    bool listening() const { return listenFd_ >= 0; }
    void serve(Script script, int connections = kForever);
    bool waitServed(int timeoutMs);               /* all connections served within the time */
    bool stopping() const { return stopping_; }
    int connections() const { return accepted_; } /* accepted so far */
    int bufferSize(int option) const;
    std::string received();                       /* every byte read so far */

    int acceptOne(int timeoutMs);                  /* fd, or -1 */
    std::string readSome(int fd, int timeoutMs);   /* "" on timeout or end of stream */
    std::string readExactly(int fd, size_t count, int timeoutMs);
    bool sendAll(int fd, const std::string &bytes);
    bool closedByPeer(int fd, int timeoutMs);      /* end of stream seen within the time */
    bool waitFor(int fd, short events, int timeoutMs);
    bool waitTakenIn(int fd, int timeoutMs);       /* what went out on fd arrived and was read */
    void closeConn(int fd);
    void resetConn(int fd);                        /* close with RST */
    void resetOnClose(int fd);                     /* the next close of fd sends RST */
    void stop();                                   /* stop listening */

private:
    bool fillBacklog(const std::string &address);
    void run(int connections);

    Script script_;
    std::string address_;
    int listenFd_ = -1;
    int fillerFd_ = -1;
    std::atomic<bool> stopping_{false};
    std::atomic<bool> served_{false};
    std::atomic<int> accepted_{0};
    std::mutex lock_;
    std::string received_;
    std::thread worker_;
};

/* The descriptor of this process's one connection to address, port 1080
 * (the program's end, opened by the library), or -1 when there is none or
 * more than one. */
int ProgramConnection(const std::string &address);

/*
 * Sets option (SO_SNDBUF or SO_RCVBUF) to bytes on this process's one
 * connection to address, port 1080. Returns the size the kernel reports
 * afterwards (it doubles what it is given), or -1 when there is not
 * exactly one such connection.
 */
int LockBuffer(const std::string &address, int option, int bytes);

#endif
