/*
 * tcp_resolve.cpp -- the server text of a connect turned into addresses:
 * a dotted IPv4 address or an IPv6 literal at once, a host name by the
 * resolver on a thread of its own, so that a name server that does not
 * answer holds the connect up no longer than its timeout.
 */
#include <ctype.h>
#include <stdio.h>
#include <string.h>
#include <sys/socket.h>

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <system_error>
#include <thread>

#include "tcp.h"
#include "tcp_resolve.h"

/* Longest host name a resolver accepts. */
static const size_t HOST_NAME_MAX_LENGTH = 253;
static const size_t PORT_TEXT_SIZE = 8;

/* A name lookup that may outlive the caller who gave up waiting on it. */
struct Lookup {
    std::mutex lock;
    std::condition_variable finished;
    bool done = false;
    int status = EAI_FAIL;
    struct addrinfo *result = nullptr;
    ~Lookup() { if (result) freeaddrinfo(result); }
};

static std::atomic<TcpResolverFunc> resolverForTest{nullptr};

void TcpSetResolverForTest(TcpResolverFunc resolver)
{
    resolverForTest = resolver;
}

/* True when name can be a host name: letters, digits, '-', '.', '_'. */
static bool IsHostName(const char *name)
{
    size_t length = strlen(name);

    if (length == 0 || length > HOST_NAME_MAX_LENGTH)
        return false;
    for (size_t i = 0; i < length; i++) {
        unsigned char ch = (unsigned char)name[i];
        if (!isalnum(ch) && ch != '-' && ch != '.' && ch != '_')
            return false;
    }
    return true;
}

/* Thread body of a name lookup: resolves host and port with resolve, hands
 * the result to lookup and wakes whoever still waits for it. */
static void RunLookup(std::shared_ptr<Lookup> lookup, TcpResolverFunc resolve, std::string host,
                      std::string port)
{
    struct addrinfo hints = {};
    struct addrinfo *found = nullptr;
    int status;

    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_NUMERICSERV;
    status = resolve(host.c_str(), port.c_str(), &hints, &found);
    std::lock_guard<std::mutex> hold(lookup->lock);
    lookup->status = status;
    lookup->result = found;
    lookup->done = true;
    lookup->finished.notify_all();
}

/*
 * Looks host name up on a thread of its own, so that a resolver that does
 * not answer holds the caller up no longer than deadline. Returns 0 and
 * sets *result (free with freeaddrinfo), TCPE_HOST_NOT_FOUND or TCPE_TIMEOUT.
 */
static int LookUpName(const char *name, const char *port, TcpClock::time_point deadline,
                      struct addrinfo **result)
{
    auto lookup = std::make_shared<Lookup>();
    TcpResolverFunc resolve = resolverForTest.load();

    try {
        std::thread(RunLookup, lookup, resolve ? resolve : getaddrinfo, std::string(name),
                    std::string(port)).detach();
    } catch (const std::system_error &) {
        return TCPE_HOST_NOT_FOUND;
    }
    std::unique_lock<std::mutex> hold(lookup->lock);
    if (!lookup->finished.wait_until(hold, deadline, [&] { return lookup->done; }))
        return TCPE_TIMEOUT;
    if (lookup->status != 0)
        return TCPE_HOST_NOT_FOUND;
    *result = lookup->result;
    lookup->result = nullptr;
    return 0;
}

int TcpResolve(const char *server, unsigned port, TcpClock::time_point deadline,
               struct addrinfo **result)
{
    char portText[PORT_TEXT_SIZE];
    struct addrinfo hints = {};

    snprintf(portText, sizeof portText, "%u", port);
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_NUMERICHOST | AI_NUMERICSERV;
    if (getaddrinfo(server, portText, &hints, result) == 0)
        return 0;
    if (!IsHostName(server))
        return TCPE_HOST_NOT_FOUND;
    return LookUpName(server, portText, deadline, result);
}
