/*
 * console.h -- what the operator sees on standard error: on a terminal a
 * one-line status redrawn in place, with event lines scrolling above it;
 * elsewhere (a pipe, a file, a journal) plain time-stamped lines only.
 * Also turns SIGINT, SIGTERM and SIGHUP into calls on the event loop.
 */
#ifndef QUENTA_MONITOR_CONSOLE_H
#define QUENTA_MONITOR_CONSOLE_H

#include <QObject>
#include <QSocketNotifier>
#include <QString>
#include <functional>
#include <memory>

namespace monitor {

class Console {
 public:
  /* terminal: whether standard error is one (isatty). */
  explicit Console(bool terminal);

  bool terminal() const { return terminal_; }

  /* Prints "TIME message" on a line of its own, the status line (if any)
   * drawn again below it. */
  void log(const QString &message);

  /* On a terminal, replaces the status line, cut to the terminal's width;
   * elsewhere does nothing. */
  void status(const QString &line);

  /* Ends the status line, so that what follows starts on a fresh line. */
  void finish();

 private:
  void draw();

  bool terminal_;
  QByteArray status_;
};

/* Calls handler(count) on the event loop for each SIGINT or SIGTERM, count
 * being 1 for the first, 2 for the second, ...; and hangup() for each
 * SIGHUP, when given (else SIGHUP keeps its default action). */
class SignalWatch : public QObject {
 public:
  explicit SignalWatch(std::function<void(int)> handler, std::function<void()> hangup = nullptr);
  ~SignalWatch() override;

 private:
  std::function<void(int)> handler_;
  std::function<void()> hangup_;
  std::unique_ptr<QSocketNotifier> notifier_;
  int count_ = 0;
};

}  // namespace monitor

#endif
