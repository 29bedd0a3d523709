/*
 * tcp_resolve.h -- inside the TCP library: turning the server text of a
 * connect into the addresses to try (tcp_resolve.cpp), and the seam through
 * which a test puts a resolver of its own in the place of getaddrinfo().
 * Not for the program: it sees tcp.h only.
 */
#ifndef QUENTA_TCP_RESOLVE_H
#define QUENTA_TCP_RESOLVE_H

#include <netdb.h>

#include <chrono>

using TcpClock = std::chrono::steady_clock;

/*
 * server: a dotted IPv4 address, an IPv6 literal or a host name as
 * ParseHostText (protocol/address.h) reads it, blanks and tabs around it
 * allowed; port 1..65535. Returns 0 and sets *result (free it with
 * freeaddrinfo), or TCPE_HOST_NOT_FOUND (a text that names no host is
 * refused without asking the resolver), or TCPE_TIMEOUT when the resolver
 * has not answered by deadline.
 */
int TcpResolve(const char *server, unsigned port, TcpClock::time_point deadline,
               struct addrinfo **result);

/* ---- Test seam. ----
 * Host names are looked up with getaddrinfo() on a thread of their own.
 * A test may put another function with getaddrinfo()'s arguments and
 * results in its place, e.g. one that does not answer until told to, to
 * play a hanging name server; its results must be freeable with
 * freeaddrinfo(). NULL puts getaddrinfo() back. A lookup already running
 * keeps the function it started with. */
typedef int (*TcpResolverFunc)(const char *host, const char *service,
                               const struct addrinfo *hints, struct addrinfo **result);
void TcpSetResolverForTest(TcpResolverFunc resolver);

#endif
