/*
 * test_peer.h -- a chamber stand-in for tests: a TCP listener on one
 * loopback address, port 1080, driven step by step from the test's thread
 * (the kernel completes connections and buffers bytes, so no thread is
 * needed). Every wait is bounded.
 */
#ifndef QUENTA_TEST_PEER_H
#define QUENTA_TEST_PEER_H

#include <functional>
#include <string>

class TestPeer {
public:
    explicit TestPeer(const char *address, int backlog = 8);
    ~TestPeer();
    bool listening() const { return listenFd >= 0; }
    int acceptOne(int timeoutMs);                    /* fd, or -1 */
    std::string readSome(int fd, int timeoutMs);     /* "" on timeout or EOF */
    std::string readExactly(int fd, size_t count, int timeoutMs);
    bool sendAll(int fd, const std::string &bytes);
    bool closedByPeer(int fd, int timeoutMs);        /* EOF seen within the time */
    void closeConn(int fd);
    void resetConn(int fd);                          /* close with RST */
    void stop();                                     /* stop listening */

private:
    int listenFd = -1;
};

/* Processes Qt events until done() holds or timeoutMs passes; returns done(). */
bool PumpUntil(const std::function<bool()> &done, int timeoutMs);
/* Processes Qt events for ms milliseconds. */
void PumpFor(int ms);

#endif
