/*
 * answer_end.cpp -- the fixed answer lengths of the read commands whose
 * answers the protocol lays out completely (see answer_end.h and
 * docs/protocol.md).
 */
#include "answer_end.h"

#include <string.h>

namespace monitor {

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

constexpr size_t kOneChannel = 14;    /* "A0 022.0 025.0" */
constexpr size_t kAllChannels = 74;   /* five groups of 15 positions, the last without its blank */

}  // namespace

size_t FixedAnswerLength(const char *command, size_t commandLength, char firstByte) {
  if (commandLength == 0 || firstByte != command[0]) return 0;
  if (firstByte == 'A') {
    if (commandLength != 2) return 0;
    return command[1] == 'a' ? kAllChannels : kOneChannel;
  }
  for (const FixedLength &f : kFixed)
    if (f.letter == firstByte) return commandLength <= 2 ? f.length : 0;
  return 0;
}

bool AnswerComplete(const char *command, size_t commandLength, const char *answer, size_t length) {
  if (length >= static_cast<size_t>(kAnswerMax)) return true;
  if (length == 0) return false;
  size_t fixed = FixedAnswerLength(command, commandLength, answer[0]);
  return fixed != 0 && length >= fixed;
}

size_t AnswerBody(const char *command, size_t commandLength, const char *answer, size_t length) {
  size_t fixed = length > 0 ? FixedAnswerLength(command, commandLength, answer[0]) : 0;
  return fixed != 0 && length > fixed ? fixed : length;
}

void DecodeAnswerBody(const char *command, size_t commandLength, char *answer, size_t length,
                      AnswerValues *values) {
  size_t end = AnswerBody(command, commandLength, answer, length);
  char kept = answer[end];
  answer[end] = 0;
  DecodeAnswer(answer, values);
  answer[end] = kept;
}

size_t DropLineEnds(char *bytes, size_t length) {
  size_t skip = 0;
  while (skip < length && (bytes[skip] == '\r' || bytes[skip] == '\n')) skip++;
  if (skip > 0) memmove(bytes, bytes + skip, length - skip);
  return length - skip;
}

}  // namespace monitor
