/*
 * wait_stable.cpp -- "quenta-monitor wait-stable": polls one chamber until
 * a channel is stable (stability.h), for the scripts that test the device
 * inside the chamber. Prints one line when it ends; the exit code says
 * how (options.h, docs/runs.md).
 */
#include <stdio.h>

#include <QCoreApplication>
#include <QTimer>
#include <cmath>

#include "clock.h"
#include "poller.h"
#include "run_commands.h"
#include "stability.h"

namespace monitor {

namespace {

constexpr int kMinPollMs = 50;
constexpr int kNoAnswerPolls = 3;

/* The state of one wait: the window, the answers, the end. */
struct Wait {
  const WaitStableOptions &o;
  StableWindow window;
  int64_t startNs = NowNs();
  int misses = 0;
  bool answered = false;
  bool checked = false;  /* the chamber's identity was checked (scaled time) */
  int code = -1;
  QString why;

  explicit Wait(const WaitStableOptions &options)
      : o(options), window(options.band, static_cast<int64_t>(options.windowMs), options.drift) {}

  /* The run time now, ms since the start. */
  int64_t nowMs() const { return static_cast<int64_t>(static_cast<double>(NowNs() - startNs) / 1e6 * o.timeScale); }

  void end(int exitCode, const QString &text) {
    if (code >= 0) return;
    code = exitCode;
    why = text;
    QCoreApplication::exit(0);
  }

  /* One result of the poll ("A<k>" then "S", start and error). */
  void take(const CommandResult &r) {
    QByteArray command(r.command, static_cast<qsizetype>(r.commandLength));
    if (command == "C") return identify(r);
    if (command == "S" && r.outcome == kAnswered && r.answerLength > 2) {
      if (r.answer[1] != '1') end(kExitStopped, "the chamber is stopped");
      else if (r.answer[2] == '1') end(kExitStopped, "the chamber's error channel is set");
      return;
    }
    if (command[0] != 'A' || r.outcome == kSkipped) return;
    if (r.outcome != kAnswered || !r.values || r.values->count != 2) {
      window.miss();
      if (++misses >= kNoAnswerPolls || !answered)
        end(kExitUnreachable, QStringLiteral("no answer from the chamber (%1)").arg(OutcomeName(r.outcome)));
      return;
    }
    misses = 0;
    answered = true;
    double actual = r.values->value[0].number, set = r.values->value[1].number;
    window.add(nowMs(), actual, set);
    if (window.stable())
      end(kExitOk, QStringLiteral("stable: actual %1, set %2, drift %3 over %4 s")
                       .arg(actual).arg(set).arg(window.drift()).arg(o.windowMs / 1000.0));
    else if (nowMs() >= o.waitMs)
      end(kExitNotStable, QStringLiteral("not stable within %1 s: actual %2, set %3, drift %4")
                              .arg(o.waitMs / 1000.0).arg(actual).arg(set).arg(window.drift()));
  }

  /* A scaled time is for the simulator only. */
  void identify(const CommandResult &r) {
    if (r.outcome == kSkipped) return;
    checked = true;
    QString plc = r.outcome == kAnswered ? QString::fromLatin1(r.answer, static_cast<qsizetype>(r.answerLength)).section(' ', 2) : QString();
    if (r.outcome != kAnswered) end(kExitUnreachable, "no answer from the chamber");
    else if (!plc.startsWith("SIM-")) end(kExitUsage, "a scaled time is for the simulator only, and this chamber is not the simulator");
  }
};

}  // namespace

int RunWaitStable(const WaitStableOptions &o) {
  PollSettings settings;
  settings.commands = {"A" + QByteArray::number(o.channel), "S"};
  if (o.timeScale != 1) settings.commands.prepend("C");
  settings.everyMs = std::max(kMinPollMs, static_cast<int>(o.everyMs / o.timeScale));
  settings.timeoutMs = o.timeoutMs;
  settings.gapMs = o.gapMs;
  Poller poller({o.chamber}, settings);
  Wait wait(o);
  poller.onResult = [&](const CommandResult &r) { wait.take(r); };
  poller.start();
  QCoreApplication::exec();
  FILE *out = wait.code == kExitOk ? stdout : stderr;
  fprintf(out, "%s%s: %s\n", wait.code == kExitOk ? "" : "quenta-monitor: ", qPrintable(o.chamber.address()),
          qPrintable(wait.why));
  return wait.code;
}

}  // namespace monitor
