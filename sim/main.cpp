/*
 * main.cpp -- quenta-sim, a simulated climate test chamber that speaks the
 * Quenta ASCII protocol over TCP, for trying the test program without a
 * chamber. Reads its options (see --help), builds the chamber and the
 * server, prints one line saying where it listens, and runs until killed.
 * Exit code 2 for a bad option, 1 when it cannot listen.
 */
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDateTime>
#include <QElapsedTimer>
#include <QTimeZone>
#include <cstdio>

#include "chamber.h"
#include "server.h"

namespace {

struct Settings {
  QHostAddress address;
  quint16 port = 1080;
  double speed = 1.0;
  bool verbose = false;
  sim::Faults faults;
  QStringList errors;
};

void AddOptions(QCommandLineParser &parser) {
  parser.setApplicationDescription(
      "Simulated climate test chamber speaking the Quenta ASCII protocol.\n"
      "Answers every command of the test program's catalogue; an unknown or\n"
      "malformed command gets no answer and one line on standard error.");
  parser.addHelpOption();
  parser.addVersionOption();
  parser.addOptions({
      {"listen", "Listen on ADDRESS (default 127.0.0.1).", "ADDRESS", "127.0.0.1"},
      {"port", "Listen on TCP port N (default 1080; 0 picks a free one).", "N", "1080"},
      {"speed", "Run simulated time N times faster than real time (default 1).", "N", "1"},
      {"delay", "Wait MS milliseconds before each answer (default 0).", "MS", "0"},
      {"split-answers", "Send each answer in two TCP segments with a short pause between."},
      {"split-pause", "Pause MS milliseconds between the two parts (default 50).", "MS", "50"},
      {"close-after-answer", "Close the connection after each answer."},
      {"silent", "Carry out commands but never answer."},
      {"error", "Start with a pending error with TEXT (repeatable).", "TEXT"},
      {"verbose", "Log connections, commands and answers on standard output."},
  });
}

/* Reads an integer option within [low, high]; false, with a message on
 * standard error, otherwise. */
bool IntOption(const QCommandLineParser &parser, const char *name, int low, int high, int *out) {
  bool ok = false;
  int value = parser.value(name).toInt(&ok);
  if (!ok || value < low || value > high) {
    fprintf(stderr, "quenta-sim: --%s must be a whole number from %d to %d\n", name, low, high);
    return false;
  }
  *out = value;
  return true;
}

/* Fills settings from the parsed options; false after a message on
 * standard error when one of them is bad. */
bool ReadSettings(const QCommandLineParser &parser, Settings *s) {
  int port = 0;
  bool ok = false;
  if (!s->address.setAddress(parser.value("listen"))) {
    fprintf(stderr, "quenta-sim: --listen needs an IP address, not \"%s\"\n",
            qPrintable(parser.value("listen")));
    return false;
  }
  s->speed = parser.value("speed").toDouble(&ok);
  if (!ok || !(s->speed > 0 && s->speed <= 1e6)) {
    fprintf(stderr, "quenta-sim: --speed must be a number above 0 and at most 1000000\n");
    return false;
  }
  if (!IntOption(parser, "port", 0, 65535, &port) ||
      !IntOption(parser, "delay", 0, 600000, &s->faults.delayMs) ||
      !IntOption(parser, "split-pause", 1, 10000, &s->faults.splitPauseMs))
    return false;
  s->port = static_cast<quint16>(port);
  s->faults.splitAnswers = parser.isSet("split-answers");
  s->faults.closeAfterAnswer = parser.isSet("close-after-answer");
  s->faults.silent = parser.isSet("silent");
  s->verbose = parser.isSet("verbose");
  s->errors = parser.values("error");
  return true;
}

/* The host's local date and time, as the chamber clock counts it. */
int64_t LocalWallSeconds() {
  QDateTime now = QDateTime::currentDateTime();
  return QDateTime(now.date(), now.time(), QTimeZone::utc()).toSecsSinceEpoch();
}

}  // namespace

int main(int argc, char *argv[]) {
  QCoreApplication app(argc, argv);
  QCoreApplication::setApplicationName("quenta-sim");
  QCoreApplication::setApplicationVersion("1.0.0");
  QCommandLineParser parser;
  AddOptions(parser);
  if (!parser.parse(app.arguments())) {
    fprintf(stderr, "quenta-sim: %s\n", qPrintable(parser.errorText()));
    return 2;
  }
  if (parser.isSet("help")) parser.showHelp(0);
  if (parser.isSet("version")) parser.showVersion();
  Settings settings;
  if (!ReadSettings(parser, &settings)) return 2;

  QElapsedTimer elapsed;
  elapsed.start();
  sim::Chamber chamber([&elapsed] { return static_cast<int64_t>(elapsed.elapsed()); },
                       settings.speed, LocalWallSeconds());
  for (const QString &text : settings.errors) chamber.raiseError(text.toLatin1().toStdString());
  sim::Server server(chamber, settings.faults, settings.verbose);
  if (!server.listen(settings.address, settings.port)) {
    fprintf(stderr, "quenta-sim: cannot listen on %s port %u: %s\n",
            qPrintable(settings.address.toString()), settings.port, qPrintable(server.errorString()));
    return 1;
  }
  printf("quenta-sim listening on %s port %u (speed %g)\n", qPrintable(settings.address.toString()),
         server.port(), settings.speed);
  fflush(stdout);
  return app.exec();
}
