/*
 * faults.h -- how a simulated chamber misbehaves on its TCP side, and how
 * that turns one answer into the timed writes that carry it.
 *
 * Exports struct Faults (the misbehaviours, none by default), struct Chunk
 * (one write, when it is due, and what follows it) and ShapeAnswer(). No
 * sockets: the server queues the chunks and writes each when it is due.
 */
#ifndef QUENTA_SIM_FAULTS_H
#define QUENTA_SIM_FAULTS_H

#include <QByteArray>
#include <vector>

namespace sim {

/* Longest pause of split, trickled and late line ends, in milliseconds. */
constexpr int kMaxPartPauseMs = 10000;
/* Longest answer that long makes, and most bytes before a reset. */
constexpr int kMaxAnswerBytes = 100000;
/* What long pads an answer with. */
constexpr char kFiller = '#';

struct Faults {
  bool closeAfterAnswer = false;  /* close the connection after each answer */
  bool splitAnswers = false;      /* each answer in two writes, a pause between */
  int splitPauseMs = 50;
  int delayMs = 0;                /* wait this long before each answer */
  bool silent = false;            /* carry out commands, never answer */
  bool garbage = false;           /* answer with random bytes instead */
  int trickleMs = 0;              /* > 0: one byte per write, this far apart */
  int resetAfter = -1;            /* >= 0: reset after this many bytes of an answer */
  int longBytes = 0;              /* > 0: pad each answer to this many bytes */
  int channelByte = -1;           /* 0 to 255: byte 1 of A, E, G and U answers */
  int lineEndMs = -1;             /* >= 0: CR LF this long after each answer */
  bool ignoreWrites = false;      /* acknowledge commands that set, carry none out */
};

struct Chunk {
  QByteArray bytes;
  qint64 dueMs;
  bool endsAnswer;  /* the answer's last write */
  bool resets;      /* reset the connection once it is written */
};

/* body: the answer (or garbage) without line end; lineEnd: the line end
 * that mirrors the command's (may be empty); letter: the command's first
 * byte; dueMs: when the answer may leave; lastDueMs: when the write before
 * it was due. Returns the answer's writes in order, at least one, the last
 * marked endsAnswer. */
std::vector<Chunk> ShapeAnswer(const QByteArray &body, const QByteArray &lineEnd, char letter,
                               const Faults &faults, qint64 dueMs, qint64 lastDueMs);

}  // namespace sim

#endif
