/*
 * address.h -- the one reader of the text that names a chamber's host (or
 * the address a simulated chamber listens on), shared by the test
 * program's TCP library, the monitor and the simulator, so that a text
 * names the same host everywhere. Plain C++, no Qt, no network.
 *
 * A dotted IPv4 address is four decimal numbers from 0 to 255 without
 * leading zeros: "127.0.99.021" is refused rather than read as octal
 * (127.0.99.17), as inet_aton() and with it getaddrinfo() would; so are
 * the short forms "127.1" and "0x7f.0.0.1". An IPv6 literal is what
 * inet_pton() reads, optionally with a zone ("fe80::1%eth0"). A host name
 * is labels of letters, digits, hyphens and underscores, 1 to 63
 * characters each, not beginning or ending with a hyphen, at most 253 in
 * all, an optional dot at its end; its last label is not all digits, so
 * that a mistyped address is never looked up as a name.
 */
#ifndef QUENTA_ADDRESS_H
#define QUENTA_ADDRESS_H

enum HostKind { HOST_BAD = 0, HOST_IPV4 = 4, HOST_IPV6 = 6, HOST_NAME = 1 };

/* text: NUL-terminated, taken as it stands (no blanks are stripped).
 * Returns its kind; HOST_BAD with *why (if why is not null) set to a
 * static English sentence that says what is wrong, e.g. "a dotted IPv4
 * address is written in decimal without leading zeros". */
int ParseHostText(const char *text, const char **why);

#endif
