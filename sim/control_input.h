/*
 * control_input.h -- control lines read from a descriptor (the simulator's
 * standard input) on the event loop, each answered with one line.
 *
 * Exports class ControlInput. A line ends with LF (a CR before it is
 * dropped); a last line without LF counts at the end of the input. Blank
 * lines are skipped. A line longer than kMaxControlLine bytes is not
 * carried out and gets the reply "error line too long". The end of the
 * input, or an error reading it, only stops the reading.
 *
 * A terminal is read only while the process is in its foreground process
 * group: a read in the background would stop the process (SIGTTIN), as
 * after "quenta-sim &" at the next key pressed. It checks again each
 * second, so that "fg" brings the control lines back; the keys typed
 * meanwhile wait in the terminal.
 */
#ifndef QUENTA_SIM_CONTROL_INPUT_H
#define QUENTA_SIM_CONTROL_INPUT_H

#include <QByteArray>
#include <QObject>
#include <QSocketNotifier>
#include <QTimer>
#include <cstdio>
#include <functional>

namespace sim {

constexpr int kMaxControlLine = 256;

class ControlInput : public QObject {
 public:
  /* Carries out one line (without line end) and returns the reply (without
   * line end). */
  using Handler = std::function<QByteArray(const QByteArray &line)>;

  /* Reads fd from now on; writes each reply and a LF to replies, flushed. */
  ControlInput(int fd, Handler handler, FILE *replies, QObject *parent = nullptr);

  bool atEnd() const { return ended_; }

 private:
  bool mayRead() const;
  void followForeground();
  void readAvailable();
  void end();
  void takeLine(QByteArray line);

  int fd_;
  Handler handler_;
  FILE *replies_;
  QSocketNotifier notifier_;
  QTimer foreground_;  /* a terminal's: checks who is in the foreground */
  bool ended_ = false;
  QByteArray pending_;
  bool overlong_ = false;  /* the line being read is too long */
};

}  // namespace sim

#endif
