/*
 * fuzz_frame.cpp -- libFuzzer target for the end of an answer
 * (answer_frame.h): random answer streams in random segments at random
 * times, with wake-ups, closes and the next commands between them.
 *
 * Input layout: byte 0 chooses the command; then steps, each a byte whose
 * low two bits say what happens (0, 1 feed the following 1 to 64 bytes, 2
 * wake, 3 close or, when no answer is awaited, write the next command) and
 * whose high six bits the milliseconds that passed before it (times four).
 * Checks that no answer is taken as complete unless it is (its fixed
 * length where it has one; else the gap, the close or the limit), that a
 * partial answer is never complete, and that the bytes in ended answers,
 * in the answer awaited and thrown away are exactly the bytes fed.
 */
#include "answer_frame.h"

#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

namespace {

const char *const kCommands[] = {"A0", "Aa", "S", "T", "E1", "G0", "U0", "L", "P", "F", "D", "C", "I"};
constexpr int64_t kMs = 1000000;
constexpr int64_t kGap = 200 * kMs;
constexpr int64_t kTimeout = 2000 * kMs;

void Fail(const char *what) {
    fprintf(stderr, "fuzz_frame: %s\n", what);
    abort();
}

/* The rules an ended answer keeps, given how it ended and by which call
 * ('f' feed, 'w' wake, 'c' close). */
void CheckEnd(const AnswerFrame &f, int end, char by, int64_t now) {
    size_t fixed = f.length > 0 ? FixedAnswerLength(f.command, f.commandLength, f.bytes[0]) : 0;
    if (f.length > ANSWER_MAX + 2 || (fixed == 0 && f.length > ANSWER_MAX))
        Fail("an answer beyond its limit");
    if (f.bytes[f.length] != 0)
        Fail("an ended answer without its terminator");
    if (end == FRAME_ANSWER && f.length == 0)
        Fail("an empty answer complete");
    if (end == FRAME_ANSWER && fixed != 0 && (by != 'f' || f.length < fixed || f.length > fixed + 2))
        Fail("a fixed-length answer complete at another length, or not by its bytes");
    if (end == FRAME_ANSWER && fixed != 0 && strspn(f.bytes + fixed, "\r\n") != f.length - fixed)
        Fail("more than a line end kept behind a fixed-length answer");
    if (end == FRAME_ANSWER && fixed == 0 && by == 'f' && f.length != ANSWER_MAX)
        Fail("an answer of open length complete by its bytes short of the limit");
    if (end == FRAME_ANSWER && by == 'w' && now < f.lastByteNs + kGap)
        Fail("an answer of open length ended before its gap");
    if (end == FRAME_INCOMPLETE && (f.length == 0 || (fixed != 0 && f.length >= fixed)))
        Fail("an incomplete answer that is empty or whole");
    if ((end == FRAME_INCOMPLETE || end == FRAME_TIMEOUT) && now < f.sentNs + kTimeout)
        Fail("a timeout before its time");
    if (end == FRAME_CLOSED && fixed == 0 && f.length > 0)
        Fail("an answer of open length taken as cut by the close");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size == 0)
        return 0;
    const char *command = kCommands[data[0] % (sizeof kCommands / sizeof kCommands[0])];
    AnswerFrame f;
    FrameInit(&f, kGap, kTimeout);
    uint64_t recorded = 0;
    int64_t now = 0;
    FrameBegin(&f, command, strlen(command), now);
    for (size_t i = 1; i < size;) {
        uint8_t step = data[i++];
        now += (step >> 2) * 4 * kMs;
        int end = FRAME_OPEN;
        char by = 'f';
        if ((step & 3) <= 1) {
            size_t n = i < size ? data[i++] % 64 + 1 : 0;
            n = n < size - i ? n : size - i;
            end = FrameFeed(&f, reinterpret_cast<const char *>(data + i), n, now);
            i += n;
        } else if ((step & 3) == 2) {
            by = 'w';  /* at any time: a wake-up before the frame's own time must end nothing */
            end = FrameWake(&f, now);
        } else if (f.state == FRAME_IDLE) {
            FrameBegin(&f, command, strlen(command), now);
        } else {
            by = 'c';
            end = FrameClose(&f);
        }
        if (end == FRAME_ANSWER || end == FRAME_INCOMPLETE || end == FRAME_CLOSED || end == FRAME_TIMEOUT) {
            CheckEnd(f, end, by, now);
            recorded += f.length;
        }
        uint64_t awaited = f.state == FRAME_WAITING ? f.length : 0;
        if (recorded + f.discarded + awaited != f.received)
            Fail("bytes received are not those recorded, awaited and thrown away");
    }
    return 0;
}
