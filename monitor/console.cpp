/*
 * console.cpp -- status line, event lines, and the signals that stop the
 * monitor or reopen its CSV file (see console.h). The signal handler only
 * writes the signal's number, one byte, into a pipe; the event loop reads
 * it.
 */
#include "console.h"

#include <fcntl.h>
#include <signal.h>
#include <stdio.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <string>

#include "clock.h"
#include "rows.h"

namespace monitor {

namespace {

int gSignalPipe[2] = {-1, -1};

void OnSignal(int number) {
  char byte = static_cast<char>(number);
  ssize_t written = write(gSignalPipe[1], &byte, 1);
  (void)written;  /* a full pipe holds enough signals already */
}

/* The terminal's width in columns, 80 when it cannot be asked. */
int TerminalWidth() {
  struct winsize size;
  if (ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) return size.ws_col;
  return 80;
}

}  // namespace

Console::Console(bool terminal) : terminal_(terminal) {}

void Console::log(const QString &message) {
  std::string time;
  AppendUtcTime(WallMs(), time);
  if (terminal_ && !status_.isEmpty()) fputs("\r\033[K", stderr);
  fprintf(stderr, "%s %s\n", time.c_str(), message.toLocal8Bit().constData());
  draw();
}

void Console::status(const QString &line) {
  if (!terminal_) return;
  QString cut = line.left(TerminalWidth() - 1);
  status_ = cut.toLocal8Bit();
  fputs("\r\033[K", stderr);
  draw();
}

void Console::finish() {
  if (terminal_ && !status_.isEmpty()) fputs("\n", stderr);
  status_.clear();
  fflush(stderr);
}

void Console::draw() {
  if (terminal_ && !status_.isEmpty()) fputs(status_.constData(), stderr);
  fflush(stderr);
}

SignalWatch::SignalWatch(std::function<void(int)> handler, std::function<void()> hangup)
    : handler_(std::move(handler)), hangup_(std::move(hangup)) {
  if (gSignalPipe[0] < 0 && pipe2(gSignalPipe, O_CLOEXEC | O_NONBLOCK) != 0) return;
  notifier_ = std::make_unique<QSocketNotifier>(gSignalPipe[0], QSocketNotifier::Read);
  connect(notifier_.get(), &QSocketNotifier::activated, this, [this] {
    char bytes[16];
    ssize_t n = read(gSignalPipe[0], bytes, sizeof bytes);
    for (ssize_t k = 0; k < n; k++) {
      if (bytes[k] == SIGHUP) hangup_();
      else handler_(++count_);
    }
  });
  struct sigaction action = {};
  action.sa_handler = OnSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
  if (hangup_) sigaction(SIGHUP, &action, nullptr);
}

SignalWatch::~SignalWatch() {
  signal(SIGINT, SIG_DFL);
  signal(SIGTERM, SIG_DFL);
  if (hangup_) signal(SIGHUP, SIG_DFL);
}

}  // namespace monitor
