/*
 * tcp_test.cpp -- the TCP client conversations against real peers: plain
 * POSIX sockets on threads of their own, each test on its own loopback
 * address, port 1080. The conversations' events come through a Qt event
 * loop that the tests pump themselves.
 */
#include <netinet/in.h>
#include <arpa/inet.h>
#include <poll.h>
#include <signal.h>
#include <string.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTimer>

#include <gtest/gtest.h>

#include "tcp.h"

namespace {

const unsigned kPort = 1080;
const size_t kBufferSize = 4096;   /* what a callback reads at most */
const size_t kReadSize = 64;       /* a test's own read buffer */
const size_t kChunkSize = 2048;    /* what a peer reads at a time */
const int kPeerWaitMs = 3000;

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

/* Listening socket on address:1080, or -1. A receiveBuffer > 0 is handed
 * down to the accepted connections. */
int Listen(const char *address, int backlog, int receiveBuffer)
{
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    int on = 1;
    struct sockaddr_in sa = {};

    sa.sin_family = AF_INET;
    sa.sin_port = htons(kPort);
    inet_pton(AF_INET, address, &sa.sin_addr);
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    if (receiveBuffer > 0)
        setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
    if (bind(fd, (struct sockaddr *)&sa, sizeof sa) != 0 || listen(fd, backlog) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

void SendAll(int fd, const std::string &text)
{
    size_t sent = 0;
    while (sent < text.size()) {
        ssize_t n = send(fd, text.data() + sent, text.size() - sent, MSG_NOSIGNAL);
        if (n <= 0)
            return;
        sent += (size_t)n;
    }
}

/* Ends the connection with a reset instead of a close. */
void ResetOnClose(int fd)
{
    struct linger hard = {1, 0};
    setsockopt(fd, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
}

/* The far end: accepts `connections` connections one after the other and
 * runs script on each (the connection's socket, its number from 0), then
 * closes it. Done() is set when the last one is closed. */
class Peer {
public:
    using Script = std::function<void(int fd, int index)>;

    Peer(const char *address, Script script, int connections = 1, int receiveBuffer = 0)
        : listener_(Listen(address, 4, receiveBuffer)), script_(std::move(script))
    {
        if (listener_ >= 0)
            thread_ = std::thread([this, connections] { Run(connections); });
    }
    ~Peer()
    {
        if (thread_.joinable())
            thread_.join();
        if (listener_ >= 0)
            close(listener_);
    }
    bool Listening() const { return listener_ >= 0; }
    Flag &Done() { return done_; }

private:
    void Run(int connections)
    {
        for (int i = 0; i < connections; i++) {
            struct pollfd p = {listener_, POLLIN, 0};
            if (poll(&p, 1, kPeerWaitMs) != 1)
                break;
            int fd = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
            if (fd < 0)
                break;
            script_(fd, i);
            close(fd);
        }
        done_.Set();
    }

    int listener_;
    Script script_;
    std::thread thread_;
    Flag done_;
};

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

/* Runs the event loop until done() holds or ms have passed. */
void Pump(const std::function<bool()> &done, int ms)
{
    QTimer wake;
    QElapsedTimer clock;

    wake.start(5);
    clock.start();
    while (!done() && clock.elapsed() < ms)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
}

void PumpFor(int ms)
{
    Pump([] { return false; }, ms);
}

/* Connects e to address:1080 with Record as callback. Returns the result. */
int Open(const char *address, Events *e, unsigned timeoutMs = 2000)
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
        app_ = std::make_unique<QCoreApplication>(argc_, argv_);
    }
    void TearDown() override
    {
        PumpFor(20);
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
        {"no address", nullptr, kPort, TCPE_INVALID_ARGUMENT},
        {"port 0", "127.0.0.10", 0, TCPE_INVALID_ARGUMENT},
        {"port past 65535", "127.0.0.10", 65536, TCPE_INVALID_ARGUMENT},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        unsigned handle = 77;
        auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(ConnectToTCPServer(&handle, c.port, c.server, Record, nullptr, 1000), c.expected);
        EXPECT_EQ(handle, 77u);
        EXPECT_LT(MsSince(start), 500);
    }
    EXPECT_EQ(ConnectToTCPServer(nullptr, kPort, "127.0.0.10", Record, nullptr, 500),
              TCPE_INVALID_ARGUMENT);
}

TEST_F(Tcp, ConnectWaitsNoLongerThanItsTimeout)
{
    /* A backlog of 0 holds one connection; with it and one more pending,
     * the server drops further SYNs and the connect hears nothing. */
    int listener = Listen("127.0.0.11", 0, 0);
    ASSERT_GE(listener, 0);
    std::vector<int> fillers;
    struct sockaddr_in sa = {};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(kPort);
    inet_pton(AF_INET, "127.0.0.11", &sa.sin_addr);
    for (int i = 0; i < 3; i++) {
        fillers.push_back(socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
        connect(fillers.back(), (struct sockaddr *)&sa, sizeof sa);
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    Events e;
    e.handle = 77;
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(Open("127.0.0.11", &e, 500), TCPE_TIMEOUT);
    long long elapsed = MsSince(start);
    EXPECT_GE(elapsed, 480);
    EXPECT_LT(elapsed, 1500);
    EXPECT_EQ(e.handle, 77u);
    for (int fd : fillers)
        close(fd);
    close(listener);
}

TEST_F(Tcp, ConnectsByHostName)
{
    Peer peer("127.0.0.1", [](int fd, int) { SendAll(fd, "by name"); });
    if (!peer.Listening())
        GTEST_SKIP() << "127.0.0.1:1080 is taken by another program";
    Events e;
    ASSERT_EQ(Open("localhost", &e), 0);
    Pump([&] { return e.Count(TCP_DISCONNECT) > 0; }, 2000);
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
        Peer peer(c.address, [&](int fd, int) {
            SendAll(fd, text.substr(0, 13));
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            SendAll(fd, text.substr(13));
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            if (c.reset)
                ResetOnClose(fd);
        });
        Events e;
        ASSERT_EQ(Open(c.address, &e), 0);
        /* Everything, end included, is waiting before the first event. */
        ASSERT_TRUE(peer.Done().Wait());
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        Pump([&] { return e.Count(TCP_DISCONNECT) > 0; }, 2000);
        PumpFor(100);
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
        Peer peer(c.address, [&](int fd, int) {
            SendAll(fd, "hello");
            more.Wait();
            SendAll(fd, "more");
        });
        Events e;
        e.readMax = kBufferSize;
        e.closeInCallback = c.inCallback;
        ASSERT_EQ(Open(c.address, &e), 0);
        if (c.inCallback)
            Pump([&] { return !e.types.empty(); }, 2000);
        else
            EXPECT_EQ(DisconnectFromTCPServer(e.handle), 0);
        more.Set();
        ASSERT_TRUE(peer.Done().Wait());
        PumpFor(150);
        EXPECT_EQ(e.Count(TCP_DATAREADY), c.inCallback ? 1 : 0);
        EXPECT_EQ(e.Count(TCP_DISCONNECT), 0);
        EXPECT_EQ(e.closeResult, c.inCallback ? 0 : 1);
        EXPECT_EQ(DisconnectFromTCPServer(e.handle), TCPE_INVALID_HANDLE);
    }
}

TEST_F(Tcp, CallbacksNeverRunInsideLibraryCalls)
{
    Flag release;
    Peer peer("127.0.0.16", [&](int fd, int) {
        SendAll(fd, "ping");
        release.Wait();
    }, 1, 4096);
    Events e;
    inLibraryCall = true;
    ASSERT_EQ(Open("127.0.0.16", &e), 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    std::vector<char> flood(16 << 20, 'x');
    EXPECT_EQ(ClientTCPWrite(e.handle, flood.data(), flood.size(), 300), TCPE_TIMEOUT);
    unsigned other = 0;
    EXPECT_EQ(ConnectToTCPServer(&other, kPort, "127.0.0.10", Record, &e, 500),
              TCPE_CONNECT_FAILED);
    inLibraryCall = false;
    EXPECT_TRUE(e.types.empty());
    Pump([&] { return !e.data.empty(); }, 2000);
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
    } cases[] = {
        {"bytes waiting come at once", 0, "abcdef", false, 100, 1000, 6, "abcdef", "", 0, 200},
        {"never more than the maximum", 0, "0123456789", false, 4, 1000, 4, "0123", "456789", 0, 200},
        {"waits when nothing is waiting", 200, "late", false, 100, 2000, 4, "late", "", 150, 1500},
        {"times out when nothing comes", 0, "", false, 100, 300, TCPE_TIMEOUT, "", "", 280, 1000},
        {"peer closed, nothing left", 0, "", true, 100, 1000, 0, "", "", 0, 200},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        Flag sent, release;
        Peer peer("127.0.0.17", [&](int fd, int) {
            std::this_thread::sleep_for(std::chrono::milliseconds(c.delayMs));
            SendAll(fd, c.payload);
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
        auto start = std::chrono::steady_clock::now();
        int result = ClientTCPRead(e.handle, buffer, c.maxBytes, c.timeoutMs);
        long long elapsed = MsSince(start);
        EXPECT_EQ(result, c.expected);
        EXPECT_GE(elapsed, c.minMs);
        EXPECT_LT(elapsed, c.maxMs);
        size_t got = result > 0 ? (size_t)result : 0;
        EXPECT_EQ(std::string(buffer, got), c.expectedData);
        for (size_t i = got; i < sizeof buffer; i++)
            ASSERT_EQ(buffer[i], 0x5A) << "byte " << i << " written past the count";
        if (c.rest[0] != '\0') {
            result = ClientTCPRead(e.handle, buffer, sizeof buffer, 500);
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
    } cases[] = {
        {"slow reader gets all bytes", "127.0.0.18", 2, 100000, 3000, 100000},
        {"reader that stopped", "127.0.0.19", -1, 16 << 20, 300, TCPE_TIMEOUT},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        std::string received;
        Flag release;
        Peer peer(c.address, [&](int fd, int) {
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
        }, 1, 4096);
        std::string data(c.count, '\0');
        for (size_t i = 0; i < c.count; i++)
            data[i] = (char)('a' + i % 23);
        Events e;
        ASSERT_EQ(Open(c.address, &e), 0);
        auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(ClientTCPWrite(e.handle, data.data(), data.size(), c.timeoutMs), c.expected);
        EXPECT_LT(MsSince(start), c.timeoutMs + 500);
        EXPECT_EQ(DisconnectFromTCPServer(e.handle), 0);
        release.Set();
        ASSERT_TRUE(peer.Done().Wait());
        if (c.expected >= 0) {
            EXPECT_TRUE(received == data) << "peer got " << received.size() << " bytes";
        }
    }
}

TEST_F(Tcp, WriteToAClosedPeerFailsAndTheProcessLives)
{
    signal(SIGPIPE, SIG_DFL);
    Peer peer("127.0.0.20", [](int, int) {});
    Events e;
    ASSERT_EQ(Open("127.0.0.20", &e), 0);
    ASSERT_TRUE(peer.Done().Wait());
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    int result = 0;
    for (int i = 0; i < 20 && result >= 0; i++) {
        result = ClientTCPWrite(e.handle, "A0", 2, 500);
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    EXPECT_EQ(result, TCPE_WRITE_FAILED);
    Pump([&] { return !e.types.empty(); }, 2000);
    PumpFor(50);
    EXPECT_EQ(e.Count(TCP_DISCONNECT), 1);
    EXPECT_EQ(e.Count(TCP_DATAREADY), 0);
    EXPECT_EQ(ClientTCPWrite(e.handle, "A0", 2, 500), TCPE_INVALID_HANDLE);
}

TEST_F(Tcp, HandlesThatAreNotOpenDoNoHarm)
{
    Peer peer("127.0.0.21", [](int fd, int) {
        char chunk[kReadSize];
        ssize_t n;
        while ((n = recv(fd, chunk, sizeof chunk, 0)) > 0)
            SendAll(fd, std::string(chunk, (size_t)n));
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
    ASSERT_EQ(ClientTCPWrite(second.handle, "echo", 4, 1000), 4);
    ASSERT_EQ(ClientTCPRead(second.handle, buffer, sizeof buffer, 1000), 4);
    EXPECT_EQ(std::string(buffer, 4), "echo");
    EXPECT_EQ(ClientTCPRead(second.handle, nullptr, 4, 0), TCPE_INVALID_ARGUMENT);
    EXPECT_EQ(ClientTCPRead(second.handle, buffer, 0, 0), TCPE_INVALID_ARGUMENT);
    EXPECT_EQ(ClientTCPWrite(second.handle, nullptr, 4, 0), TCPE_INVALID_ARGUMENT);
    EXPECT_EQ(DisconnectFromTCPServer(second.handle), 0);
    EXPECT_EQ(DisconnectFromTCPServer(second.handle), TCPE_INVALID_HANDLE);
}

TEST_F(Tcp, SeveralConversationsKeepTheirEventsApart)
{
    Peer one("127.0.0.22", [](int fd, int) { SendAll(fd, "from one"); });
    Peer two("127.0.0.23", [](int fd, int) { SendAll(fd, "from two, longer"); });
    Events a, b;
    ASSERT_EQ(Open("127.0.0.22", &a), 0);
    ASSERT_EQ(Open("127.0.0.23", &b), 0);
    EXPECT_NE(a.handle, b.handle);
    Pump([&] { return a.Count(TCP_DISCONNECT) + b.Count(TCP_DISCONNECT) == 2; }, 2000);
    EXPECT_EQ(a.data, "from one");
    EXPECT_EQ(b.data, "from two, longer");
    EXPECT_EQ(a.Count(TCP_DISCONNECT), 1);
    EXPECT_EQ(b.Count(TCP_DISCONNECT), 1);
    EXPECT_EQ(a.wrongHandles + b.wrongHandles, 0);
}

}  // namespace
