/*
 * address.cpp -- IPv4 in strict dotted decimal, IPv6 literals and host
 * names (see address.h).
 */
#include "address.h"

#include <arpa/inet.h>
#include <string.h>

static const size_t HOST_TEXT_MAX = 253;
static const size_t LABEL_MAX = 63;
static const size_t ZONE_MAX = 64;

static bool IsDigit(char c) { return c >= '0' && c <= '9'; }

static bool IsLetterOrDigit(char c)
{
    return IsDigit(c) || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

/* True when text is made of digits and dots only: it is meant as a
 * dotted IPv4 address, whatever else is wrong with it. */
static bool AllDigitsAndDots(const char *text)
{
    for (const char *p = text; *p; p++)
        if (!IsDigit(*p) && *p != '.')
            return false;
    return *text != 0;
}

/* A text of digits and dots read as a dotted IPv4 address. Returns
 * HOST_IPV4, or HOST_BAD with *why. */
static int ParseDottedQuad(const char *text, const char **why)
{
    int parts = 0;
    for (const char *p = text;; p++) {
        const char *start = p;
        int value = 0;
        while (IsDigit(*p) && p - start < 4)
            value = value * 10 + (*p++ - '0');
        size_t digits = (size_t)(p - start);
        if (digits == 0 || digits > 3 || IsDigit(*p)) {
            *why = "a dotted IPv4 address has four numbers from 0 to 255, each between dots";
            return HOST_BAD;
        }
        if (digits > 1 && *start == '0') {
            *why = "a dotted IPv4 address is written in decimal without leading zeros";
            return HOST_BAD;
        }
        if (value > 255) {
            *why = "each number of a dotted IPv4 address is from 0 to 255";
            return HOST_BAD;
        }
        parts++;
        if (*p == 0)
            break;
    }
    if (parts != 4) {
        *why = "a dotted IPv4 address has four numbers from 0 to 255, each between dots";
        return HOST_BAD;
    }
    return HOST_IPV4;
}

/* An IPv6 literal, with an optional "%zone". */
static bool IsIpv6(const char *text)
{
    char plain[INET6_ADDRSTRLEN + ZONE_MAX + 2];
    unsigned char bytes[16];
    size_t length = strlen(text);
    if (length >= sizeof plain || strchr(text, ':') == nullptr)
        return false;
    memcpy(plain, text, length + 1);
    char *zone = strchr(plain, '%');
    if (zone != nullptr) {
        *zone++ = 0;
        if (*zone == 0 || strlen(zone) > ZONE_MAX)
            return false;
        for (const char *p = zone; *p; p++)
            if (!IsLetterOrDigit(*p) && *p != '-' && *p != '_' && *p != '.')
                return false;
    }
    return inet_pton(AF_INET6, plain, bytes) == 1;
}

/* One label of a host name, [start, end). */
static bool IsLabel(const char *start, const char *end)
{
    size_t length = (size_t)(end - start);
    if (length == 0 || length > LABEL_MAX || *start == '-' || end[-1] == '-')
        return false;
    for (const char *p = start; p < end; p++)
        if (!IsLetterOrDigit(*p) && *p != '-' && *p != '_')
            return false;
    return true;
}

/* A host name as address.h describes it. */
static bool IsHostName(const char *text)
{
    size_t length = strlen(text);
    if (length > 0 && text[length - 1] == '.')
        length--;
    if (length == 0 || length > HOST_TEXT_MAX)
        return false;
    const char *end = text + length;
    const char *last = text;
    for (const char *start = text; start < end;) {
        const char *dot = (const char *)memchr(start, '.', (size_t)(end - start));
        const char *stop = dot ? dot : end;
        if (!IsLabel(start, stop))
            return false;
        last = start;
        start = dot ? dot + 1 : end;
        if (dot && start == end)
            return false;
    }
    for (const char *p = last; p < end; p++)
        if (!IsDigit(*p))
            return true;
    return false;
}

int ParseHostText(const char *text, const char **why)
{
    const char *ignored;
    if (why == nullptr)
        why = &ignored;
    *why = "";
    if (text == nullptr || *text == 0) {
        *why = "an empty text names no host";
        return HOST_BAD;
    }
    if (AllDigitsAndDots(text))
        return ParseDottedQuad(text, why);
    if (IsIpv6(text))
        return HOST_IPV6;
    if (IsHostName(text))
        return HOST_NAME;
    *why = "not an IP address or a host name (letters, digits, hyphens, underscores and dots)";
    return HOST_BAD;
}
