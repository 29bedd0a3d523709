/*
 * tcp_test.cpp -- the TCP client conversations against real peers: loopback
 * peers (loopback_peer.h) on threads of their own, each test on its own
 * loopback address, port 1080. The conversations' events come through a Qt
 * event loop that the tests run themselves (QTest::qWaitFor). A write that
 * must back up first has both ends' buffers fixed small, so that it does
 * not depend on the kernel's buffer autotuning.
 */
#include <signal.h>
#include <string.h>
#include <sys/socket.h>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <QCoreApplication>
#include <QTest>

#include <gtest/gtest.h>

#include "loopback_peer.h"
#include "tcp.h"

namespace {

const unsigned kPort = 1080;
const size_t kBufferSize = 4096;   /* what a callback reads at most */
const size_t kReadSize = 64;       /* a test's own read buffer */
const size_t kChunkSize = 2048;    /* what a peer reads at a time */
const int kPeerWaitMs = 10000;     /* for what a peer thread must do */
const int kWaitMs = 10000;         /* for events that must come */
const int kSlackMs = 2000;         /* a loaded machine wakes late; more is a fault */
const int kSmallBuffer = 4096;     /* both ends' buffers where a write must back up */

/* A one-shot signal between the test and a peer thread. */
class Flag {
public:
    void Set()
    {
        std::lock_guard<std::mutex> hold(lock_);
        set_ = true;
        changed_.notify_all();
    }
    bool Wait(int ms = kPeerWaitMs)
    {
        std::unique_lock<std::mutex> hold(lock_);
        return changed_.wait_for(hold, std::chrono::milliseconds(ms), [this] { return set_; });
    }

private:
    std::mutex lock_;
    std::condition_variable changed_;
    bool set_ = false;
};

/* A peer on address serving `connections` connections one after the
 * other with script on its own thread; a receiveBuffer > 0 is set before
 * it listens. */
std::unique_ptr<LoopbackPeer> Serve(const char *address, LoopbackPeer::Script script, int connections = 1,
                                    int receiveBuffer = 0)
{
    PeerOptions options;
    options.receiveBuffer = receiveBuffer;
    auto peer = std::make_unique<LoopbackPeer>(address, options);
    if (peer->listening())
        peer->serve(std::move(script), connections);
    return peer;
}

/* What a conversation's callback saw. On TCP_DATAREADY it reads at most
 * readMax bytes without waiting, and closes the conversation when asked. */
struct Events {
    unsigned handle = 0;
    size_t readMax = 5;
    bool closeInCallback = false;
    int closeResult = 1;
    std::string data;
    std::vector<int> types;
    int lastError = 1;
    int wrongHandles = 0;
    int emptyReads = 0;

    int Count(int type) const
    {
        int n = 0;
        for (int t : types)
            n += t == type;
        return n;
    }
};

bool inLibraryCall;
int reentries;
int waits;  /* calls of the wait hook */

void CountWait()
{
    waits++;
}

int Record(unsigned handle, int type, int errCode, void *callbackData)
{
    Events *e = static_cast<Events *>(callbackData);
    char buffer[kBufferSize];

    reentries += inLibraryCall;
    e->wrongHandles += handle != e->handle;
    e->types.push_back(type);
    if (type == TCP_DISCONNECT)
        e->lastError = errCode;
    if (type == TCP_DATAREADY) {
        int n = ClientTCPRead(handle, buffer, e->readMax, 0);
        if (n > 0)
            e->data.append(buffer, (size_t)n);
        else
            e->emptyReads++;
        if (e->closeInCallback)
            e->closeResult = DisconnectFromTCPServer(handle);
    }
    return 0;
}

/* Connects e to address:1080 with Record as callback. Returns the result. */
int Open(const char *address, Events *e, unsigned timeoutMs = kWaitMs)
{
    return ConnectToTCPServer(&e->handle, kPort, address, Record, e, timeoutMs);
}

long long MsSince(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now() - start).count();
}

class Tcp : public ::testing::Test {
protected:
    void SetUp() override
    {
        reentries = 0;
        inLibraryCall = false;
        waits = 0;
        TcpSetWaitHook(CountWait);
        app_ = std::make_unique<QCoreApplication>(argc_, argv_);
    }
    void TearDown() override
    {
        TcpSetWaitHook(nullptr);
        QTest::qWait(20);
        app_.reset();
    }

private:
    int argc_ = 1;
    char name_[16] = "tcp_test";
    char *argv_[2] = {name_, nullptr};
    std::unique_ptr<QCoreApplication> app_;
};

TEST(TcpWithoutApplication, ConnectNeedsAnApplicationObject)
{
    unsigned handle = 77;
    ASSERT_EQ(QCoreApplication::instance(), nullptr);
    EXPECT_EQ(ConnectToTCPServer(&handle, kPort, "127.0.0.10", Record, nullptr, 500),
              TCPE_NOT_INITIALIZED);
    EXPECT_EQ(handle, 77u);
}

TEST_F(Tcp, ConnectFailuresGiveTheirCodeAndKeepTheHandle)
{
    static const struct {
        const char *name;
        const char *server;
        unsigned port;
        int expected;
    } cases[] = {
        {"nothing listens", "127.0.0.10", kPort, TCPE_CONNECT_FAILED},
        {"empty address", "", kPort, TCPE_HOST_NOT_FOUND},
        {"blanks in the name", "no such host", kPort, TCPE_HOST_NOT_FOUND},
        {"punctuation in the name", "chamber!", kPort, TCPE_HOST_NOT_FOUND},
        {"dotted address with junk", "127.0.0.10;x", kPort, TCPE_HOST_NOT_FOUND},
        {"leading zero, not octal 127.0.53.17", "127.0.53.021", kPort, TCPE_HOST_NOT_FOUND},
        {"short form, not 127.0.0.1", "127.1", kPort, TCPE_HOST_NOT_FOUND},
        {"no address", nullptr, kPort, TCPE_INVALID_ARGUMENT},
        {"port 0", "127.0.0.10", 0, TCPE_INVALID_ARGUMENT},
        {"port past 65535", "127.0.0.10", 65536, TCPE_INVALID_ARGUMENT},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        unsigned handle = 77;
        auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(ConnectToTCPServer(&handle, c.port, c.server, Record, nullptr, 2 * kSlackMs),
                  c.expected);
        EXPECT_EQ(handle, 77u);
        EXPECT_LT(MsSince(start), kSlackMs) << "refused without waiting the timeout out";
    }
    EXPECT_EQ(ConnectToTCPServer(nullptr, kPort, "127.0.0.10", Record, nullptr, 500),
              TCPE_INVALID_ARGUMENT);
}

TEST_F(Tcp, ConnectWaitsNoLongerThanItsTimeout)
{
    /* A backlog of 0 taken by a connection never accepted: the server
     * drops further SYNs and the connect hears nothing. */
    PeerOptions full;
    full.fullBacklog = true;
    LoopbackPeer peer("127.0.0.11", full);
    ASSERT_TRUE(peer.listening());
    Events e;
    e.handle = 77;
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(Open("127.0.0.11", &e, 500), TCPE_TIMEOUT);
    long long elapsed = MsSince(start);
    EXPECT_GE(waits, 1) << "the wait hook ran before the connect waited";
    EXPECT_GE(elapsed, 480);
    EXPECT_LT(elapsed, 500 + kSlackMs);
    EXPECT_EQ(e.handle, 77u);
}

TEST_F(Tcp, ConnectsByHostName)
{
    auto peer = Serve("127.0.0.1", [](LoopbackPeer &p, int fd, int) { p.sendAll(fd, "by name"); });
    if (!peer->listening())
        GTEST_SKIP() << "127.0.0.1:1080 is taken by another program";
    Events e;
    ASSERT_EQ(Open("localhost", &e), 0);
    EXPECT_TRUE(QTest::qWaitFor([&] { return e.Count(TCP_DISCONNECT) > 0; }, kWaitMs));
    EXPECT_EQ(e.data, "by name");
    EXPECT_EQ(e.Count(TCP_DISCONNECT), 1);
}

TEST_F(Tcp, PeerEndDeliversAllDataThenOneDisconnect)
{
    static const struct {
        const char *name;
        const char *address;
        bool reset;
        int expectedError;
    } cases[] = {
        {"orderly close", "127.0.0.12", false, 0},
        {"reset", "127.0.0.13", true, TCPE_READ_FAILED},
    };
    const std::string text = "first answer;second answer;third";
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        auto peer = Serve(c.address, [&](LoopbackPeer &p, int fd, int) {
            p.sendAll(fd, text.substr(0, 13));
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            p.sendAll(fd, text.substr(13));
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            if (c.reset)
                p.resetOnClose(fd);
        });
        Events e;
        ASSERT_EQ(Open(c.address, &e), 0);
        /* Everything, end included, is waiting before the first event. */
        ASSERT_TRUE(peer->waitServed(kPeerWaitMs));
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        EXPECT_TRUE(QTest::qWaitFor([&] { return e.Count(TCP_DISCONNECT) > 0; }, kWaitMs));
        QTest::qWait(100);
        EXPECT_EQ(e.data, text);
        EXPECT_GE(e.Count(TCP_DATAREADY), (int)(text.size() / e.readMax));
        EXPECT_EQ(e.Count(TCP_DISCONNECT), 1);
        ASSERT_FALSE(e.types.empty());
        EXPECT_EQ(e.types.back(), TCP_DISCONNECT);
        EXPECT_EQ(e.lastError, c.expectedError);
        EXPECT_EQ(e.emptyReads, 0);
        EXPECT_EQ(e.wrongHandles, 0);
        EXPECT_EQ(DisconnectFromTCPServer(e.handle), TCPE_INVALID_HANDLE);
    }
}

TEST_F(Tcp, LocalCloseRaisesNoEvent)
{
    static const struct {
        const char *name;
        const char *address;
        bool inCallback;
    } cases[] = {
        {"closed outside the callback", "127.0.0.14", false},
        {"closed inside the data-ready callback", "127.0.0.15", true},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        Flag more;
        auto peer = Serve(c.address, [&](LoopbackPeer &p, int fd, int) {
            p.sendAll(fd, "hello");
            more.Wait();
            p.sendAll(fd, "more");
        });
        Events e;
        e.readMax = kBufferSize;
        e.closeInCallback = c.inCallback;
        ASSERT_EQ(Open(c.address, &e), 0);
        if (c.inCallback)
            EXPECT_TRUE(QTest::qWaitFor([&] { return !e.types.empty(); }, kWaitMs));
        else
            EXPECT_EQ(DisconnectFromTCPServer(e.handle), 0);
        more.Set();
        ASSERT_TRUE(peer->waitServed(kPeerWaitMs));
        QTest::qWait(150);
        EXPECT_EQ(e.Count(TCP_DATAREADY), c.inCallback ? 1 : 0);
        EXPECT_EQ(e.Count(TCP_DISCONNECT), 0);
        EXPECT_EQ(e.closeResult, c.inCallback ? 0 : 1);
        EXPECT_EQ(DisconnectFromTCPServer(e.handle), TCPE_INVALID_HANDLE);
    }
}

TEST_F(Tcp, CallbacksNeverRunInsideLibraryCalls)
{
    Flag release;
    auto peer = Serve("127.0.0.16", [&](LoopbackPeer &p, int fd, int) {
        p.sendAll(fd, "ping");
        release.Wait();
    }, 1, kSmallBuffer);
    Events e;
    inLibraryCall = true;
    ASSERT_EQ(Open("127.0.0.16", &e), 0);
    ASSERT_GT(LockBuffer("127.0.0.16", SO_SNDBUF, kSmallBuffer), 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    std::vector<char> flood(1 << 20, 'x'); /* far more than both buffers hold */
    EXPECT_EQ(ClientTCPWrite(e.handle, flood.data(), flood.size(), 300), TCPE_TIMEOUT);
    unsigned other = 0;
    EXPECT_EQ(ConnectToTCPServer(&other, kPort, "127.0.0.10", Record, &e, 500),
              TCPE_CONNECT_FAILED);
    inLibraryCall = false;
    EXPECT_TRUE(e.types.empty());
    EXPECT_TRUE(QTest::qWaitFor([&] { return !e.data.empty(); }, kWaitMs));
    EXPECT_EQ(e.data, "ping");
    EXPECT_EQ(reentries, 0);
    EXPECT_EQ(DisconnectFromTCPServer(e.handle), 0);
    release.Set();
}

TEST_F(Tcp, ReadReturnsWhatIsWaitingAndWaitsOnlyWhenNothingIs)
{
    static const struct {
        const char *name;
        int delayMs;       /* before the peer sends; 0: sent before the read */
        const char *payload;
        bool peerCloses;
        size_t maxBytes;
        unsigned timeoutMs;
        int expected;
        const char *expectedData;
        const char *rest;  /* what a second read finds */
        long long minMs, maxMs;
        bool hook;         /* whether the wait hook runs first */
    } cases[] = {
        {"bytes waiting come at once", 0, "abcdef", false, 100, 5000, 6, "abcdef", "", 0, kSlackMs, false},
        {"never more than the maximum", 0, "0123456789", false, 4, 5000, 4, "0123", "456789", 0, kSlackMs, false},
        {"waits when nothing is waiting", 200, "late", false, 100, 20000, 4, "late", "", 150, 20000, true},
        {"times out when nothing comes", 0, "", false, 100, 300, TCPE_TIMEOUT, "", "", 280, 300 + kSlackMs, true},
        {"peer closed, nothing left", 0, "", true, 100, 5000, 0, "", "", 0, kSlackMs, false},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        Flag sent, release;
        auto peer = Serve("127.0.0.17", [&](LoopbackPeer &p, int fd, int) {
            std::this_thread::sleep_for(std::chrono::milliseconds(c.delayMs));
            p.sendAll(fd, c.payload);
            sent.Set();
            if (!c.peerCloses)
                release.Wait();
        });
        Events e;
        ASSERT_EQ(Open("127.0.0.17", &e), 0);
        if (c.delayMs == 0) {
            ASSERT_TRUE(sent.Wait());
            std::this_thread::sleep_for(std::chrono::milliseconds(30));
        }
        char buffer[kReadSize];
        memset(buffer, 0x5A, sizeof buffer);
        waits = 0;
        auto start = std::chrono::steady_clock::now();
        int result = ClientTCPRead(e.handle, buffer, c.maxBytes, c.timeoutMs);
        long long elapsed = MsSince(start);
        EXPECT_EQ(result, c.expected);
        EXPECT_EQ(waits > 0, c.hook) << waits << " calls of the wait hook";
        EXPECT_GE(elapsed, c.minMs);
        EXPECT_LT(elapsed, c.maxMs);
        size_t got = result > 0 ? (size_t)result : 0;
        EXPECT_EQ(std::string(buffer, got), c.expectedData);
        for (size_t i = got; i < sizeof buffer; i++)
            ASSERT_EQ(buffer[i], 0x5A) << "byte " << i << " written past the count";
        if (c.rest[0] != '\0') {
            result = ClientTCPRead(e.handle, buffer, sizeof buffer, kWaitMs);
            EXPECT_EQ(std::string(buffer, result > 0 ? (size_t)result : 0), c.rest);
        }
        EXPECT_TRUE(e.types.empty());
        EXPECT_EQ(DisconnectFromTCPServer(e.handle), 0);
        release.Set();
    }
}

TEST_F(Tcp, WriteDeliversEveryByteOrTimesOut)
{
    static const struct {
        const char *name;
        const char *address;
        int readPauseMs;   /* between the peer's reads; -1: it never reads */
        size_t count;
        unsigned timeoutMs;
        int expected;
        bool hook;         /* whether the wait hook runs */
    } cases[] = {
        {"slow reader gets all bytes", "127.0.0.18", 2, 100000, 30000, 100000, true},
        {"reader that stopped", "127.0.0.19", -1, 1 << 20, 300, TCPE_TIMEOUT, true},
        {"a write the buffer takes at once", "127.0.0.24", 0, 100, 5000, 100, false},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        std::string received;
        Flag release;
        auto peer = Serve(c.address, [&](LoopbackPeer &, int fd, int) {
            char chunk[kChunkSize];
            ssize_t n;
            if (c.readPauseMs < 0) {
                release.Wait();
                return;
            }
            while ((n = recv(fd, chunk, sizeof chunk, 0)) > 0) {
                received.append(chunk, (size_t)n);
                std::this_thread::sleep_for(std::chrono::milliseconds(c.readPauseMs));
            }
        }, 1, kSmallBuffer);
        std::string data(c.count, '\0');
        for (size_t i = 0; i < c.count; i++)
            data[i] = (char)('a' + i % 23);
        Events e;
        ASSERT_EQ(Open(c.address, &e), 0);
        ASSERT_GT(LockBuffer(c.address, SO_SNDBUF, kSmallBuffer), 0);
        waits = 0;
        auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(ClientTCPWrite(e.handle, data.data(), data.size(), c.timeoutMs), c.expected);
        EXPECT_EQ(waits > 0, c.hook) << waits << " calls of the wait hook";
        EXPECT_LT(MsSince(start), c.timeoutMs + kSlackMs);
        EXPECT_EQ(DisconnectFromTCPServer(e.handle), 0);
        release.Set();
        ASSERT_TRUE(peer->waitServed(kPeerWaitMs));
        if (c.expected >= 0) {
            EXPECT_TRUE(received == data) << "peer got " << received.size() << " bytes";
        }
    }
}

TEST_F(Tcp, WriteToAClosedPeerFailsAndTheProcessLives)
{
    signal(SIGPIPE, SIG_DFL);
    auto peer = Serve("127.0.0.20", [](LoopbackPeer &, int, int) {});
    Events e;
    ASSERT_EQ(Open("127.0.0.20", &e), 0);
    ASSERT_TRUE(peer->waitServed(kPeerWaitMs));
    /* The first write after the close may still go out; the peer's reset
     * answers it. No event is processed meanwhile. */
    int result = 0;
    auto start = std::chrono::steady_clock::now();
    while (result >= 0 && MsSince(start) < kWaitMs) {
        result = ClientTCPWrite(e.handle, "A0", 2, 500);
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    EXPECT_EQ(result, TCPE_WRITE_FAILED);
    EXPECT_TRUE(QTest::qWaitFor([&] { return !e.types.empty(); }, kWaitMs));
    QTest::qWait(50);
    EXPECT_EQ(e.Count(TCP_DISCONNECT), 1);
    EXPECT_EQ(e.Count(TCP_DATAREADY), 0);
    EXPECT_EQ(ClientTCPWrite(e.handle, "A0", 2, 500), TCPE_INVALID_HANDLE);
}

TEST_F(Tcp, HandlesThatAreNotOpenDoNoHarm)
{
    auto peer = Serve("127.0.0.21", [](LoopbackPeer &p, int fd, int) {
        std::string echo;
        while (!(echo = p.readSome(fd, kPeerWaitMs)).empty())
            p.sendAll(fd, echo);
    }, 2);
    Events first, second;
    ASSERT_EQ(Open("127.0.0.21", &first), 0);
    EXPECT_EQ(DisconnectFromTCPServer(first.handle), 0);
    ASSERT_EQ(Open("127.0.0.21", &second), 0);
    EXPECT_GT(second.handle, first.handle);
    const unsigned notOpen[] = {0, first.handle, second.handle + 1000, 0xFFFFFFFFu};
    char buffer[kReadSize];
    for (unsigned handle : notOpen) {
        SCOPED_TRACE(handle);
        EXPECT_EQ(DisconnectFromTCPServer(handle), TCPE_INVALID_HANDLE);
        EXPECT_EQ(ClientTCPRead(handle, buffer, sizeof buffer, 0), TCPE_INVALID_HANDLE);
        EXPECT_EQ(ClientTCPWrite(handle, "x", 1, 0), TCPE_INVALID_HANDLE);
    }
    /* The socket of the first conversation may well be the second's now. */
    ASSERT_EQ(ClientTCPWrite(second.handle, "echo", 4, kWaitMs), 4);
    ASSERT_EQ(ClientTCPRead(second.handle, buffer, sizeof buffer, kWaitMs), 4);
    EXPECT_EQ(std::string(buffer, 4), "echo");
    EXPECT_EQ(ClientTCPRead(second.handle, nullptr, 4, 0), TCPE_INVALID_ARGUMENT);
    EXPECT_EQ(ClientTCPRead(second.handle, buffer, 0, 0), TCPE_INVALID_ARGUMENT);
    EXPECT_EQ(ClientTCPWrite(second.handle, nullptr, 4, 0), TCPE_INVALID_ARGUMENT);
    EXPECT_EQ(DisconnectFromTCPServer(second.handle), 0);
    EXPECT_EQ(DisconnectFromTCPServer(second.handle), TCPE_INVALID_HANDLE);
}

TEST_F(Tcp, SeveralConversationsKeepTheirEventsApart)
{
    auto one = Serve("127.0.0.22", [](LoopbackPeer &p, int fd, int) { p.sendAll(fd, "from one"); });
    auto two = Serve("127.0.0.23", [](LoopbackPeer &p, int fd, int) { p.sendAll(fd, "from two, longer"); });
    Events a, b;
    ASSERT_EQ(Open("127.0.0.22", &a), 0);
    ASSERT_EQ(Open("127.0.0.23", &b), 0);
    EXPECT_NE(a.handle, b.handle);
    EXPECT_TRUE(QTest::qWaitFor([&] { return a.Count(TCP_DISCONNECT) + b.Count(TCP_DISCONNECT) == 2; }, kWaitMs));
    EXPECT_EQ(a.data, "from one");
    EXPECT_EQ(b.data, "from two, longer");
    EXPECT_EQ(a.Count(TCP_DISCONNECT), 1);
    EXPECT_EQ(b.Count(TCP_DISCONNECT), 1);
    EXPECT_EQ(a.wrongHandles + b.wrongHandles, 0);
}

}  // namespace
