/*
 * control_input.cpp -- control lines from a descriptor (see
 * control_input.h).
 *
 * One read() per notification: the notifier only fires when the
 * descriptor is readable, so the read does not block, and the descriptor
 * is left as it was given (making standard input non-blocking would change
 * it for every process that shares it).
 */
#include "control_input.h"

#include <cerrno>
#include <unistd.h>

namespace sim {

namespace {

/* Bytes taken from the descriptor in one read. */
constexpr int kControlReadSize = 4096;

}  // namespace

ControlInput::ControlInput(int fd, Handler handler, FILE *replies, QObject *parent)
    : QObject(parent),
      fd_(fd),
      handler_(std::move(handler)),
      replies_(replies),
      notifier_(fd, QSocketNotifier::Read) {
  connect(&notifier_, &QSocketNotifier::activated, this, [this] { readAvailable(); });
}

/* Takes what the descriptor has and carries out each whole line; at the
 * end of the input also the last, unterminated one. */
void ControlInput::readAvailable() {
  char buffer[kControlReadSize];
  ssize_t got = read(fd_, buffer, sizeof buffer);
  if (got < 0 && (errno == EINTR || errno == EAGAIN)) return;
  if (got <= 0) {
    notifier_.setEnabled(false);
    if (!pending_.isEmpty() || overlong_) takeLine(pending_);
    pending_.clear();
    return;
  }
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
