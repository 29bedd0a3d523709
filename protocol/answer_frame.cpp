/*
 * answer_frame.cpp -- the end of an answer (see answer_frame.h): the fixed
 * lengths of the answers the protocol lays out completely, and the state
 * of one answer as bytes, wake-ups and the close come.
 */
#include "answer_frame.h"

#include <stdint.h>
#include <string.h>

namespace {

struct FixedLength {
    char letter;
    size_t length;
};

/* "E0 025.0", "G0 -70.0 180.0", "L2", "S111100001", "T131009123000",
 * "U0 03.50 05.48". "A" depends on the command: see FixedAnswerLength. */
constexpr FixedLength kFixed[] = {
    {'E', 8}, {'G', 14}, {'L', 2}, {'S', 10}, {'T', 13}, {'U', 14},
};

constexpr size_t kOneChannel = 14;   /* "A0 022.0 025.0" */
constexpr size_t kAllChannels = 74;  /* five groups of 15 positions, the last without its blank */

bool IsLineEnd(char c) { return c == '\r' || c == '\n'; }

/* Ends the answer waited for: f is idle, its bytes terminated. */
int EndAnswer(AnswerFrame *f, int end)
{
    f->state = FRAME_IDLE;
    f->bytes[f->length] = 0;
    return end;
}

/* The answer reached its limit (its fixed length, or ANSWER_MAX) with
 * data[i..n) left over: keeps a line end behind a fixed-length answer,
 * throws away the rest, and drains after an overlong one. Returns the
 * bytes of data[i..n) kept. */
size_t Complete(AnswerFrame *f, const char *data, size_t i, size_t n, int64_t nowNs)
{
    size_t keep = 0;
    if (f->fixed == 0) {
        f->state = FRAME_DRAINING;
        f->lastByteNs = nowNs;
        f->drainUntilNs = nowNs + f->timeoutNs;
        f->bytes[f->length] = 0;
        return 0;
    }
    if (i < n && data[i] == '\r')
        keep++;
    if (i + keep < n && data[i + keep] == '\n')
        keep++;
    memcpy(f->bytes + f->length, data + i, keep);
    f->length += keep;
    EndAnswer(f, FRAME_ANSWER);
    return keep;
}

}  // namespace

void FrameInit(AnswerFrame *f, int64_t gapNs, int64_t timeoutNs)
{
    memset(f, 0, sizeof *f);
    f->gapNs = gapNs;
    f->timeoutNs = timeoutNs;
    f->state = FRAME_IDLE;
}

void FrameBegin(AnswerFrame *f, const char *command, size_t commandLength, int64_t nowNs)
{
    f->command = command;
    f->commandLength = commandLength;
    f->state = FRAME_WAITING;
    f->sentNs = nowNs;
    f->lastByteNs = nowNs;
    f->length = 0;
    f->fixed = 0;
    f->bytes[0] = 0;
}

int FrameFeed(AnswerFrame *f, const char *data, size_t n, int64_t nowNs)
{
    f->received += n;
    if (f->state != FRAME_WAITING) {
        f->discarded += n;
        if (f->state == FRAME_DRAINING && n > 0)
            f->lastByteNs = nowNs;
        return FRAME_OPEN;
    }
    size_t i = 0;
    if (f->length == 0) {
        while (i < n && IsLineEnd(data[i]))
            i++;
        if (i < n)
            f->fixed = FixedAnswerLength(f->command, f->commandLength, data[i]);
    }
    size_t skipped = i;
    size_t limit = f->fixed != 0 ? f->fixed : ANSWER_MAX;
    size_t take = n - i < limit - f->length ? n - i : limit - f->length;
    memcpy(f->bytes + f->length, data + i, take);
    f->length += take;
    i += take;
    if (take > 0)
        f->lastByteNs = nowNs;
    if (f->length < limit) {
        f->discarded += skipped;
        return FRAME_OPEN;
    }
    i += Complete(f, data, i, n, nowNs);
    f->discarded += skipped + (n - i);
    return FRAME_ANSWER;
}

int FrameWake(AnswerFrame *f, int64_t nowNs)
{
    if (f->state == FRAME_DRAINING) {
        if (nowNs >= f->lastByteNs + f->gapNs) {
            f->state = FRAME_IDLE;
            return FRAME_QUIET;
        }
        if (nowNs < f->drainUntilNs)
            return FRAME_OPEN;
        f->state = FRAME_IDLE;
        return FRAME_FLOOD;
    }
    if (f->state != FRAME_WAITING)
        return FRAME_OPEN;
    int64_t deadline = f->sentNs + f->timeoutNs;
    int64_t quiet = f->lastByteNs + f->gapNs;
    if (f->length > 0 && f->fixed == 0 && nowNs >= quiet && quiet <= deadline)
        return EndAnswer(f, FRAME_ANSWER);
    if (nowNs < deadline)
        return FRAME_OPEN;
    return EndAnswer(f, f->length > 0 ? FRAME_INCOMPLETE : FRAME_TIMEOUT);
}

int FrameClose(AnswerFrame *f)
{
    if (f->state != FRAME_WAITING) {
        f->state = FRAME_IDLE;
        return FRAME_OPEN;
    }
    return EndAnswer(f, f->length > 0 && f->fixed == 0 ? FRAME_ANSWER : FRAME_CLOSED);
}

int64_t FrameWakeAt(const AnswerFrame *f)
{
    if (f->state == FRAME_DRAINING) {
        int64_t quiet = f->lastByteNs + f->gapNs;
        return quiet < f->drainUntilNs ? quiet : f->drainUntilNs;
    }
    if (f->state != FRAME_WAITING)
        return INT64_MAX;
    int64_t deadline = f->sentNs + f->timeoutNs;
    int64_t quiet = f->lastByteNs + f->gapNs;
    return f->length > 0 && f->fixed == 0 && quiet < deadline ? quiet : deadline;
}

size_t FixedAnswerLength(const char *command, size_t commandLength, char firstByte)
{
    if (commandLength == 0 || firstByte != command[0])
        return 0;
    if (firstByte == 'A') {
        if (commandLength != 2)
            return 0;
        return command[1] == 'a' ? kAllChannels : kOneChannel;
    }
    for (const FixedLength &f : kFixed)
        if (f.letter == firstByte)
            return commandLength <= 2 ? f.length : 0;
    return 0;
}

int AnswerFits(const char *command, size_t commandLength, const char *answer, size_t length)
{
    if (commandLength == 0 || length == 0 || answer[0] != command[0])
        return 0;
    if (strchr("AEGU", answer[0]) == nullptr)
        return 1;
    return length > 1 && answer[1] >= '0' && answer[1] <= '9';
}

size_t AnswerBodyLength(const char *command, size_t commandLength, const char *answer,
                        size_t length)
{
    size_t fixed = length > 0 ? FixedAnswerLength(command, commandLength, answer[0]) : 0;
    size_t end = fixed != 0 && length > fixed ? fixed : length;
    if (fixed == 0)
        while (end > 0 && IsLineEnd(answer[end - 1]))
            end--;
    return end;
}

void DecodeAnswerBody(const char *command, size_t commandLength, const char *answer,
                      size_t length, AnswerValues *values)
{
    char body[ANSWER_MAX + 1];
    size_t end = AnswerBodyLength(command, commandLength, answer, length);
    if (end > ANSWER_MAX)
        end = ANSWER_MAX;
    memcpy(body, answer, end);
    body[end] = 0;
    DecodeAnswer(body, values);
}
