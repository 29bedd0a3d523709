/*
 * faults.cpp -- an answer as the faults deliver it (see faults.h).
 *
 * The faults change the bytes first (the channel byte, the filler, a line
 * end in the same write), then cut them (a reset after N bytes), then part
 * them into writes (one a byte, or two halves), and last add a late line
 * end. Trickled bytes stay the pause apart across answers too, so that
 * each arrives in a read of its own.
 */
#include "faults.h"

#include <algorithm>

namespace sim {

namespace {

/* True for the commands whose answer carries the channel in byte 1. */
bool NamesChannel(char letter) {
  return letter == 'A' || letter == 'E' || letter == 'G' || letter == 'U';
}

/* body and lineEnd as one write, changed by the faults: byte 1 replaced,
 * CR LF added when it is due at once, filler up to the long length. */
QByteArray Disguised(QByteArray body, const QByteArray &lineEnd, char letter, const Faults &f) {
  if (f.channelByte >= 0 && body.size() > 1 && NamesChannel(letter))
    body[1] = static_cast<char>(f.channelByte);
  QByteArray tail = f.lineEndMs == 0 ? lineEnd + "\r\n" : lineEnd;
  qsizetype filler = f.longBytes - body.size() - tail.size();
  if (filler > 0) body.append(QByteArray(filler, kFiller));
  return body + tail;
}

/* Appends bytes to *chunks as writes from dueMs on: one a byte when
 * trickling, two halves when split, else one (also when empty). */
void AddParts(std::vector<Chunk> *chunks, const QByteArray &bytes, const Faults &f, qint64 dueMs) {
  if (f.trickleMs > 0 && bytes.size() > 1) {
    for (qsizetype i = 0; i < bytes.size(); i++)
      chunks->push_back(Chunk{bytes.mid(i, 1), dueMs + i * f.trickleMs, false, false});
  } else if (f.splitAnswers && bytes.size() > 1) {
    qsizetype half = bytes.size() / 2;
    chunks->push_back(Chunk{bytes.left(half), dueMs, false, false});
    chunks->push_back(Chunk{bytes.mid(half), dueMs + f.splitPauseMs, false, false});
  } else {
    chunks->push_back(Chunk{bytes, dueMs, false, false});
  }
}

}  // namespace

std::vector<Chunk> ShapeAnswer(const QByteArray &body, const QByteArray &lineEnd, char letter,
                               const Faults &faults, qint64 dueMs, qint64 lastDueMs) {
  QByteArray bytes = Disguised(body, lineEnd, letter, faults);
  bool resets = faults.resetAfter >= 0;
  if (resets) bytes.truncate(faults.resetAfter);
  if (faults.trickleMs > 0) dueMs = std::max(dueMs, lastDueMs + faults.trickleMs);
  std::vector<Chunk> chunks;
  AddParts(&chunks, bytes, faults, dueMs);
  if (faults.lineEndMs > 0 && !resets)
    chunks.push_back(Chunk{"\r\n", chunks.back().dueMs + faults.lineEndMs, false, false});
  chunks.back().endsAnswer = true;
  chunks.back().resets = resets;
  return chunks;
}

}  // namespace sim
