/*
 * tcp_lookup_test.cpp -- the way from the server text of a connect to a
 * conversation, and the end of one: blanks and tabs around an address, name
 * lookups under a name server that does not answer (played by a resolver of
 * the test's own, through the library's seam), and the socket notifier that
 * must outlive its own signal. Peers listen on 127.0.0.130, 127.0.0.132 and
 * 127.0.0.133 (of the test's range 127.0.0.130 to 127.0.0.139), port 1080.
 */
#include <dirent.h>
#include <netdb.h>
#include <string.h>
#include <sys/socket.h>

#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include <QCoreApplication>
#include <QSocketNotifier>
#include <QTest>

#include <gtest/gtest.h>

#include "tcp.h"
#include "tcp_resolve.h"
#include "loopback_peer.h"

namespace {

const unsigned kPort = 1080;
const char kAnswerAddress[] = "127.0.0.130";   /* where the test's resolver points */
const int kWaitMs = 10000;                      /* bound of every wait for a condition */

/* Threads of this process, counted by the kernel. */
int ThreadCount()
{
    int n = 0;
    DIR *dir = opendir("/proc/self/task");
    if (dir == nullptr)
        return -1;
    while (struct dirent *entry = readdir(dir))
        n += entry->d_name[0] != '.';
    closedir(dir);
    return n;
}

/* A name server that does not answer until Release(): every lookup waits,
 * then gets kAnswerAddress. Notes each name it was asked for. */
struct HangingResolver {
    std::mutex lock;
    std::condition_variable released;
    bool open = false;
    std::vector<std::string> names;

    void Release()
    {
        std::lock_guard<std::mutex> hold(lock);
        open = true;
        released.notify_all();
    }
    size_t Calls()
    {
        std::lock_guard<std::mutex> hold(lock);
        return names.size();
    }
};

HangingResolver *hanging;

int ResolveWhenReleased(const char *host, const char *service, const struct addrinfo *hints,
                        struct addrinfo **result)
{
    struct addrinfo numeric = *hints;
    {
        std::unique_lock<std::mutex> hold(hanging->lock);
        hanging->names.push_back(host);
        hanging->released.wait(hold, [] { return hanging->open; });
    }
    numeric.ai_flags |= AI_NUMERICHOST;
    return getaddrinfo(kAnswerAddress, service, &numeric, result);
}

class TcpLookup : public ::testing::Test {
protected:
    void SetUp() override
    {
        app_ = std::make_unique<QCoreApplication>(argc_, argv_);
        resolver_ = std::make_unique<HangingResolver>();
        hanging = resolver_.get();
        TcpSetResolverForTest(ResolveWhenReleased);
        baseline_ = ThreadCount();
    }
    void TearDown() override
    {
        /* No lookup thread may stay behind once the resolver has answered. */
        resolver_->Release();
        EXPECT_TRUE(QTest::qWaitFor([this] { return ThreadCount() <= baseline_; }, kWaitMs))
            << ThreadCount() << " threads, " << baseline_ << " before the test";
        TcpSetResolverForTest(nullptr);
        QTest::qWait(20);
        app_.reset();
    }

    int baseline_ = 0;
    std::unique_ptr<HangingResolver> resolver_;

private:
    int argc_ = 1;
    char name_[24] = "tcp_lookup_test";
    char *argv_[2] = {name_, nullptr};
    std::unique_ptr<QCoreApplication> app_;
};

TEST_F(TcpLookup, BlanksAndTabsAroundTheAddressAreNotPartOfIt)
{
    static const struct {
        const char *server;
        int expected;
        const char *looksUp;   /* the name the resolver is asked for, or NULL */
    } cases[] = {
        {"\t127.0.0.130\t", 0, nullptr},
        {" \t 127.0.0.130 \t ", 0, nullptr},
        {" chamber-7\t", 0, "chamber-7"},
        {"127.0.0 .130", TCPE_HOST_NOT_FOUND, nullptr},
        {" chamber 7 ", TCPE_HOST_NOT_FOUND, nullptr},
        {"127.0.0.130\n", TCPE_HOST_NOT_FOUND, nullptr},
        {"\t \t", TCPE_HOST_NOT_FOUND, nullptr},
    };
    LoopbackPeer peer(kAnswerAddress);
    ASSERT_TRUE(peer.listening());
    resolver_->Release();
    for (const auto &c : cases) {
        SCOPED_TRACE(std::string("server \"") + c.server + "\"");
        unsigned handle = 77;
        size_t callsBefore = resolver_->Calls();
        int result = ConnectToTCPServer(&handle, kPort, c.server, nullptr, nullptr, kWaitMs);
        EXPECT_EQ(result, c.expected);
        if (result == 0) {
            EXPECT_EQ(DisconnectFromTCPServer(handle), 0);
        } else {
            EXPECT_EQ(handle, 77u);
        }
        EXPECT_EQ(resolver_->Calls(), callsBefore + (c.looksUp ? 1 : 0));
        if (c.looksUp && resolver_->Calls() > callsBefore) {
            EXPECT_EQ(resolver_->names.back(), c.looksUp);
        }
        peer.closeConn(peer.acceptOne(result == 0 ? kWaitMs : 0));
    }
}

/* A lookup that outlasts its connect goes on alone: connects to the same
 * name join it, and lookups of other names are bounded in all (the first
 * counts among them: it still hangs). */
TEST_F(TcpLookup, TimedOutLookupsAreSharedAndBoundedInAll)
{
    static const struct {
        const char *what;
        bool oneName;
        int connects, timeoutMs;
        int lookups; /* running and asked for, since the test began */
    } cases[] = {
        {"one name again and again", true, 8, 50, 1},
        {"a new name each time", false, 12, 30, TCP_LOOKUP_MAX},
    };
    for (const auto &c : cases) {
        for (int i = 0; i < c.connects; i++) {
            const std::string name = c.oneName ? "chamber-hangs" : "chamber-" + std::to_string(i);
            SCOPED_TRACE(std::string(c.what) + ": " + name);
            unsigned handle = 77;
            EXPECT_EQ(ConnectToTCPServer(&handle, kPort, name.c_str(), nullptr, nullptr, c.timeoutMs),
                      TCPE_TIMEOUT);
            EXPECT_EQ(handle, 77u);
            EXPECT_LE(ThreadCount(), baseline_ + c.lookups);
        }
        ASSERT_TRUE(QTest::qWaitFor([&] { return resolver_->Calls() >= (size_t)c.lookups; }, kWaitMs));
        EXPECT_EQ(resolver_->Calls(), (size_t)c.lookups) << c.what;
    }
}

TEST_F(TcpLookup, ALateAnswerServesTheNextConnect)
{
    LoopbackPeer peer(kAnswerAddress);
    ASSERT_TRUE(peer.listening());
    unsigned handle = 77;
    EXPECT_EQ(ConnectToTCPServer(&handle, kPort, "chamber-late", nullptr, nullptr, 30),
              TCPE_TIMEOUT);
    resolver_->Release();
    ASSERT_TRUE(QTest::qWaitFor([this] { return ThreadCount() <= baseline_; }, kWaitMs))
        << "the lookup answered and its thread ended";
    EXPECT_EQ(ConnectToTCPServer(&handle, kPort, "chamber-late", nullptr, nullptr, kWaitMs), 0);
    EXPECT_NE(handle, 77u);
    EXPECT_EQ(DisconnectFromTCPServer(handle), 0);
    EXPECT_EQ(resolver_->Calls(), 1u) << "the second connect took the late answer";
}

/* The socket notifier of a conversation, found among the application's
 * children: the one that watches a socket right now. */
QSocketNotifier *WatchingNotifier()
{
    for (QSocketNotifier *n : QCoreApplication::instance()->findChildren<QSocketNotifier *>())
        if (n->isEnabled())
            return n;
    return nullptr;
}

std::vector<std::string> *steps;

int NoteDisconnect(unsigned, int xType, int, void *)
{
    if (xType == TCP_DISCONNECT)
        steps->push_back("disconnect");
    return 0;
}

/* A peer that closes makes the notifier deliver the conversation's end;
 * the library then closes the conversation, but may delete the notifier
 * only after its signal is over, or Qt would run on a deleted object. Our
 * own slot, connected after the library's, shows the signal went on. */
TEST_F(TcpLookup, TheNotifierOutlivesItsOwnSignal)
{
    static const struct {
        const char *name;
        const char *address;
        bool reset;
    } cases[] = {
        {"orderly close", "127.0.0.132", false},
        {"reset", "127.0.0.133", true},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        const char *address = c.address;
        std::vector<std::string> seen;
        steps = &seen;
        LoopbackPeer peer(address);
        ASSERT_TRUE(peer.listening());
        unsigned handle = 0;
        ASSERT_EQ(ConnectToTCPServer(&handle, kPort, address, NoteDisconnect, nullptr, kWaitMs), 0);
        QSocketNotifier *notifier = WatchingNotifier();
        ASSERT_NE(notifier, nullptr);
        QObject::connect(notifier, &QSocketNotifier::activated, notifier,
                         [&seen] { seen.push_back("activated"); });
        QObject::connect(notifier, &QObject::destroyed, [&seen] { seen.push_back("destroyed"); });
        int fd = peer.acceptOne(kWaitMs);
        if (c.reset)
            peer.resetConn(fd);
        else
            peer.closeConn(fd);
        ASSERT_TRUE(QTest::qWaitFor([&] { return !seen.empty() && seen.back() == "destroyed"; }, kWaitMs));
        std::string order;
        for (const std::string &s : seen)
            order += s + " ";
        EXPECT_EQ(order, "disconnect activated destroyed ") << order;
        EXPECT_EQ(DisconnectFromTCPServer(handle), TCPE_INVALID_HANDLE);
    }
}

}  // namespace
