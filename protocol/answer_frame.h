/*
 * answer_frame.h -- where an answer of the chamber ends, for every client
 * that waits for answers (the monitor's poller, its one-shot send, the
 * runs). Plain C++, no Qt, no sockets: the caller feeds what it reads, the
 * times, and the end of the connection, and is told when the answer
 * ended and how.
 *
 * The protocol has no framing: an answer is a text without terminator, and
 * TCP may deliver it in parts (a serial-to-Ethernet bridge, a slow chamber).
 * An answer ends:
 *   - complete, when it has the length the protocol fixes for its command
 *     and begins with the command's letter ("A0" 14 characters, "Aa" 74,
 *     "S" 10, ...); a line end right behind it, in the same read, is kept
 *     with it (some chambers and bridges send one), anything else behind
 *     it is thrown away;
 *   - complete, when an answer of open length (texts, lists, answers that
 *     are not what was asked) has been followed by the answer gap without
 *     a byte, or by the end of the connection;
 *   - complete, at ANSWER_MAX bytes; the bytes that follow are read and
 *     thrown away until the gap passes without one (FRAME_DRAINING), and
 *     only then may the next command be written;
 *   - incomplete, when the timeout since the command was written runs out
 *     with part of it (an answer of fixed length short of it, or an answer
 *     of open length still coming): never decoded;
 *   - closed, when the connection ends before a fixed-length answer is
 *     whole (with the bytes that came, if any);
 *   - timed out, when the timeout runs out before any byte.
 * The gap never ends an answer of fixed length early. Line ends before an
 * answer's first byte belong to the answer before and are thrown away, as
 * are bytes that come while no command waits. Every byte received is
 * either in an ended answer or counted as thrown away.
 */
#ifndef QUENTA_ANSWER_FRAME_H
#define QUENTA_ANSWER_FRAME_H

#include <stddef.h>
#include <stdint.h>

#include "values.h"

#define ANSWER_MAX 2500  /* bytes of one answer, as the test program reads */

enum FrameEnd {
    FRAME_OPEN = 0,     /* nothing ended: wait for bytes, a wake-up or the close */
    FRAME_ANSWER,       /* the answer is complete: decode it */
    FRAME_INCOMPLETE,   /* the timeout came with part of an answer */
    FRAME_TIMEOUT,      /* the timeout came before any byte */
    FRAME_CLOSED,       /* the connection ended before the answer was complete */
    FRAME_QUIET,        /* after an overlong answer, the chamber fell silent:
                           the next command may be written */
    FRAME_FLOOD,        /* after an overlong answer, the chamber kept sending
                           for the whole timeout: close the connection */
};

enum FrameState { FRAME_IDLE, FRAME_WAITING, FRAME_DRAINING };

struct AnswerFrame {
    int64_t gapNs;           /* quiet time that ends an answer of open length */
    int64_t timeoutNs;       /* from the write of a command */
    const char *command;     /* the command waited for; the caller keeps it */
    size_t commandLength;
    int state;               /* FrameState */
    int64_t sentNs;          /* when the command was written */
    int64_t lastByteNs;      /* the last byte of the answer, or thrown away while draining */
    int64_t drainUntilNs;    /* the longest a drain may last */
    size_t length;           /* bytes of the answer in bytes[] */
    size_t fixed;            /* the answer's fixed length; 0 while unknown or open */
    uint64_t received;       /* every byte fed since FrameInit */
    uint64_t discarded;      /* of them, those thrown away */
    char bytes[ANSWER_MAX + 3];  /* the answer, a line end behind a fixed one, NUL */
};

/* Sets f up with no command waiting and its counts at 0. */
void FrameInit(AnswerFrame *f, int64_t gapNs, int64_t timeoutNs);

/* The command (commandLength bytes, kept by the caller) was written at
 * nowNs; its answer starts empty. Only in FRAME_IDLE. */
void FrameBegin(AnswerFrame *f, const char *command, size_t commandLength, int64_t nowNs);

/* Takes n bytes read at nowNs. Returns FRAME_ANSWER when they completed
 * the answer, else FRAME_OPEN; bytes not part of an answer are counted in
 * discarded. */
int FrameFeed(AnswerFrame *f, const char *data, size_t n, int64_t nowNs);

/* The time has come (see FrameWakeAt): returns how the answer or the
 * drain ended by it (FRAME_ANSWER by the gap, FRAME_INCOMPLETE,
 * FRAME_TIMEOUT, FRAME_QUIET, FRAME_FLOOD) or FRAME_OPEN. */
int FrameWake(AnswerFrame *f, int64_t nowNs);

/* The connection ended (after its last bytes were fed). Returns
 * FRAME_ANSWER for an answer of open length with bytes, FRAME_CLOSED for
 * any other answer waited for, else FRAME_OPEN; f is idle after it. */
int FrameClose(AnswerFrame *f);

/* When FrameWake must next be called; INT64_MAX when nothing waits. */
int64_t FrameWakeAt(const AnswerFrame *f);

/* The length the answer to command (commandLength bytes) has when its
 * first byte is firstByte; 0 when the protocol leaves it open or
 * firstByte is not the command's letter. */
size_t FixedAnswerLength(const char *command, size_t commandLength, char firstByte);

/* Nonzero when answer (length bytes) is one to command: it begins with the
 * command's letter and, where its form carries a channel character
 * (A, E, G, U), that character is a digit. */
int AnswerFits(const char *command, size_t commandLength, const char *answer, size_t length);

/* The bytes of answer (length of them) to command that make the answer
 * itself: its fixed length where it has one (a line end may follow), else
 * all of them without the line ends at their end. */
size_t AnswerBodyLength(const char *command, size_t commandLength, const char *answer,
                        size_t length);

/* Decodes the body (AnswerBodyLength) of answer (length bytes, any bytes,
 * left as it is) to command into values. */
void DecodeAnswerBody(const char *command, size_t commandLength, const char *answer,
                      size_t length, AnswerValues *values);

#endif
