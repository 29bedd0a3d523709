/*
 * tcp_resolve.cpp -- the server text of a connect turned into addresses,
 * without the blanks and tabs around it, read as every part of the system
 * reads a host text (ParseHostText, protocol/address.h): a dotted IPv4
 * address or an IPv6 literal at once, a host name by the resolver on a
 * thread of its own, so that a name server that does not answer holds the
 * connect up no longer than its timeout; anything else is refused without
 * asking anyone.
 *
 * A resolver call cannot be cancelled, so a lookup whose connect gave up
 * goes on, entered under its name and port: the next connect to the same
 * name waits for it instead of starting another, or takes its answer if it
 * came meanwhile (an answer nobody took is dropped only to make room for
 * another name), and at most TCP_LOOKUP_MAX run at once. Each thread ends
 * when its resolver call returns; one still inside it when the process ends
 * is not waited for and ends with the process.
 */
#include <stdio.h>
#include <string.h>
#include <sys/socket.h>

#include <atomic>
#include <condition_variable>
#include <iterator>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <system_error>
#include <thread>

#include "address.h"
#include "tcp.h"
#include "tcp_resolve.h"

static const size_t PORT_TEXT_SIZE = 8;

/* Where lookup threads leave their answers: one lock and one wake-up for
 * all of them. A thread holds the board and its lookup by shared pointers
 * of its own and touches nothing else of the library, so a thread still
 * inside the resolver when the process ends refers to no freed state. */
struct Board {
    std::mutex lock;
    std::condition_variable answered;
};

/* A name lookup that may outlive the caller who gave up waiting on it.
 * Guarded by its board's lock. */
struct Lookup {
    std::shared_ptr<Board> board;
    bool done = false;
    int status = EAI_FAIL;
    struct addrinfo *result = nullptr;
    ~Lookup() { if (result) freeaddrinfo(result); }
};

static std::shared_ptr<Board> board = std::make_shared<Board>();
/* The lookups running, or answered and not yet taken, by "host port". */
static std::map<std::string, std::shared_ptr<Lookup>> lookups;
static std::atomic<TcpResolverFunc> resolverForTest{nullptr};

void TcpSetResolverForTest(TcpResolverFunc resolver)
{
    resolverForTest = resolver;
}

/* Thread body of a name lookup: resolves host and port with resolve, hands
 * the result to lookup and wakes whoever waits for an answer. */
static void RunLookup(std::shared_ptr<Lookup> lookup, TcpResolverFunc resolve, std::string host,
                      std::string port)
{
    struct addrinfo hints = {};
    struct addrinfo *found = nullptr;
    int status;

    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_NUMERICSERV;
    status = resolve(host.c_str(), port.c_str(), &hints, &found);
    std::lock_guard<std::mutex> hold(lookup->board->lock);
    lookup->status = status;
    lookup->result = found;
    lookup->done = true;
    lookup->board->answered.notify_all();
}

/* Drops the lookups that have answered but that nobody took, to make room
 * for a lookup of another name. The caller holds the board's lock. */
static void ForgetAnswered(void)
{
    for (auto it = lookups.begin(); it != lookups.end();)
        it = it->second->done ? lookups.erase(it) : std::next(it);
}

/* Starts looking host and port up on a thread of its own and enters the
 * lookup under key. The caller holds the board's lock. Returns the lookup,
 * or nullptr when no thread could be started. */
static std::shared_ptr<Lookup> StartLookup(const std::string &key, const char *host,
                                           const char *port)
{
    auto lookup = std::make_shared<Lookup>();
    TcpResolverFunc resolve = resolverForTest.load();

    lookup->board = board;
    try {
        std::thread(RunLookup, lookup, resolve ? resolve : getaddrinfo, std::string(host),
                    std::string(port)).detach();
    } catch (const std::system_error &) {
        return nullptr;
    }
    lookups[key] = lookup;
    return lookup;
}

/* Waits, with the board's lock in hold, until lookup of key has answered
 * or deadline. lookup is a copy of its own: the entry of key may go. Returns 0 and hands its addresses to *result,
 * TCPE_HOST_NOT_FOUND or TCPE_TIMEOUT (the lookup goes on). */
static int TakeAnswer(std::unique_lock<std::mutex> &hold, const std::string &key,
                      std::shared_ptr<Lookup> lookup, TcpClock::time_point deadline,
                      struct addrinfo **result)
{
    if (!board->answered.wait_until(hold, deadline, [&] { return lookup->done; }))
        return TCPE_TIMEOUT;
    auto it = lookups.find(key);
    if (it != lookups.end() && it->second == lookup)
        lookups.erase(it);
    if (lookup->status != 0)
        return TCPE_HOST_NOT_FOUND;
    *result = lookup->result;
    lookup->result = nullptr;
    return 0;
}

/*
 * Looks host name up with port on a thread of its own, so that a resolver
 * that does not answer holds the caller up no longer than deadline. A
 * lookup of the same name and port entered before is taken instead of a
 * second one: its answer if it came after its own connect gave up, else
 * it is waited for. With TCP_LOOKUP_MAX running, a new name waits for one
 * of them to answer. Returns 0 and sets *result (free with freeaddrinfo),
 * TCPE_HOST_NOT_FOUND or TCPE_TIMEOUT.
 */
static int LookUpName(const char *name, const char *port, TcpClock::time_point deadline,
                      struct addrinfo **result)
{
    const std::string key = std::string(name) + " " + port;
    std::unique_lock<std::mutex> hold(board->lock);
    std::shared_ptr<Lookup> lookup;

    auto it = lookups.find(key);
    if (it != lookups.end())
        return TakeAnswer(hold, key, it->second, deadline, result);
    if (!board->answered.wait_until(hold, deadline, [] {
            ForgetAnswered();
            return lookups.size() < TCP_LOOKUP_MAX;
        }))
        return TCPE_TIMEOUT;
    if (!(lookup = StartLookup(key, name, port)))
        return TCPE_HOST_NOT_FOUND;
    return TakeAnswer(hold, key, lookup, deadline, result);
}

/* server without the blanks and tabs around it. */
static std::string Trimmed(const char *server)
{
    const char *start = server + strspn(server, " \t");
    size_t length = strlen(start);

    while (length > 0 && (start[length - 1] == ' ' || start[length - 1] == '\t'))
        length--;
    return std::string(start, length);
}

/* address: an IPv4 or IPv6 literal of family, as ParseHostText accepts
 * it. Returns 0 and sets *result (free with freeaddrinfo), or
 * TCPE_HOST_NOT_FOUND (an IPv6 zone that names no interface). */
static int NumericAddress(const std::string &address, int family, const char *port,
                          struct addrinfo **result)
{
    struct addrinfo hints = {};

    hints.ai_family = family;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_NUMERICHOST | AI_NUMERICSERV;
    return getaddrinfo(address.c_str(), port, &hints, result) == 0 ? 0 : TCPE_HOST_NOT_FOUND;
}

int TcpResolve(const char *server, unsigned port, TcpClock::time_point deadline,
               struct addrinfo **result)
{
    const std::string text = Trimmed(server);
    char portText[PORT_TEXT_SIZE];

    snprintf(portText, sizeof portText, "%u", port);
    switch (ParseHostText(text.c_str(), nullptr)) {
    case HOST_IPV4: return NumericAddress(text, AF_INET, portText, result);
    case HOST_IPV6: return NumericAddress(text, AF_INET6, portText, result);
    case HOST_NAME: return LookUpName(text.c_str(), portText, deadline, result);
    default: return TCPE_HOST_NOT_FOUND;
    }
}
