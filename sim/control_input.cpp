/*
 * control_input.cpp -- control lines from a descriptor (see
 * control_input.h).
 *
 * One read() per notification: the notifier only fires when the
 * descriptor is readable, so the read does not block, and the descriptor
 * is left as it was given (making standard input non-blocking would change
 * it for every process that shares it).
 *
 * The process ignores SIGTTIN (main.cpp), so that a read that comes just
 * after the terminal went to another group fails with EIO instead of
 * stopping it; such a read pauses the reading until the next check.
 */
#include "control_input.h"

#include <cerrno>
#include <unistd.h>

namespace sim {

namespace {

/* Bytes taken from the descriptor in one read. */
constexpr int kControlReadSize = 4096;
/* How often a terminal's foreground process group is checked. */
constexpr int kForegroundCheckMs = 1000;

}  // namespace

ControlInput::ControlInput(int fd, Handler handler, FILE *replies, QObject *parent)
    : QObject(parent),
      fd_(fd),
      handler_(std::move(handler)),
      replies_(replies),
      notifier_(fd, QSocketNotifier::Read) {
  connect(&notifier_, &QSocketNotifier::activated, this, [this] { readAvailable(); });
  connect(&foreground_, &QTimer::timeout, this, [this] { followForeground(); });
  if (isatty(fd_)) foreground_.start(kForegroundCheckMs);
  followForeground();
}

/* True unless fd_ is the controlling terminal of a process group other
 * than ours (tcgetpgrp() fails on a terminal that is not ours). */
bool ControlInput::mayRead() const {
  if (!isatty(fd_)) return true;
  pid_t group = tcgetpgrp(fd_);
  return group < 0 || group == getpgrp();
}

/* Reads while the process may, waits while it may not. */
void ControlInput::followForeground() {
  if (!ended_) notifier_.setEnabled(mayRead());
}

/* Takes what the descriptor has and carries out each whole line; at the
 * end of the input also the last, unterminated one. */
void ControlInput::readAvailable() {
  char buffer[kControlReadSize];
  ssize_t got = read(fd_, buffer, sizeof buffer);
  if (got < 0 && (errno == EINTR || errno == EAGAIN)) return;
  if (got < 0 && errno == EIO && foreground_.isActive()) return notifier_.setEnabled(false);
  if (got <= 0) return end();
  pending_.append(buffer, got);
  qsizetype end;
  while ((end = pending_.indexOf('\n')) >= 0) {
    takeLine(pending_.left(end));
    pending_.remove(0, end + 1);
  }
  if (pending_.size() > kMaxControlLine) {
    overlong_ = true;
    pending_.clear();
  }
}

/* Stops the reading for good; carries out a last line without line end. */
void ControlInput::end() {
  ended_ = true;
  foreground_.stop();
  notifier_.setEnabled(false);
  if (!pending_.isEmpty() || overlong_) takeLine(pending_);
  pending_.clear();
}

/* Answers one line: skips a blank one, refuses one that was too long. */
void ControlInput::takeLine(QByteArray line) {
  if (line.endsWith('\r')) line.chop(1);
  bool tooLong = overlong_ || line.size() > kMaxControlLine;
  overlong_ = false;
  if (!tooLong && line.trimmed().isEmpty()) return;
  QByteArray reply = tooLong ? QByteArray("error line too long") : handler_(line);
  fwrite(reply.constData(), 1, static_cast<size_t>(reply.size()), replies_);
  fputc('\n', replies_);
  fflush(replies_);
}

}  // namespace sim
