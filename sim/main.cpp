/*
 * main.cpp -- quenta-sim, a simulated climate test chamber that speaks the
 * Quenta ASCII protocol over TCP, for trying the test program without a
 * chamber, or a fleet of them for testing a monitor at lab scale. Reads its
 * options (see --help), builds the chambers and their servers, prints one
 * line saying where they listen, carries out control commands from
 * standard input, and runs until killed. Exit code 2 for a bad option, 1
 * when it cannot listen.
 */
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDateTime>
#include <QElapsedTimer>
#include <QTimeZone>
#include <climits>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

#include "control_input.h"
#include "epoll_dispatcher.h"
#include "open_files.h"
#include "fleet.h"

namespace {

constexpr const char *kDescription =
    "Simulated climate test chamber speaking the Quenta ASCII protocol.\n"
    "Answers every command of the test program's catalogue; an unknown or\n"
    "malformed command gets no answer and one line on standard error.\n"
    "\n"
    "With --chambers N it simulates N independent chambers in one process:\n"
    "chamber K (from 1) listens on the K-th ordinary address counted from\n"
    "--listen, skipping addresses that end in .0 or .255 (127.0.1.1,\n"
    "127.0.1.2, ..., 127.0.1.254, 127.0.2.1, ...). Each has its own model;\n"
    "chamber K answers C with PLC number SIM-K (four digits at least) and\n"
    "starts (K-1) mod 100 tenths above 22.0 degrees and (K-1) mod 50 tenths\n"
    "above 45.0 percent. The fault options apply to every chamber at start.\n"
    "\n"
    "Control commands, one per line on standard input, change chambers at\n"
    "run time; K is a chamber's number, its address, or all:\n"
    "  down K       stop listening and reset its connections (refused)\n"
    "  up K         listen again, with the same model\n"
    "  silent K     read commands and carry them out, never answer\n"
    "  slow K MS    answer MS milliseconds late (0 to 600000)\n"
    "  ignore K     acknowledge commands that set (a, u, s, ...), carry none out\n"
    "  garbage K    answer with 2 to 600 random bytes, among them a NUL and\n"
    "               one from 0x80 to 0xFF\n"
    "  close K      close the connection after each answer\n"
    "  split K MS   each answer in two parts MS ms apart (0 to 10000; 0: whole)\n"
    "  trickle K MS each answer one byte at a time, MS ms apart (0 to 10000)\n"
    "  reset K N    reset each connection (RST) after N bytes of its next answer\n"
    "               (0 to 100000; 0: instead of answering)\n"
    "  long K N     pad each answer with '#' to N bytes in all (0 to 100000),\n"
    "               written at once\n"
    "  channel K XX byte 1 (the channel) of each A, E, G and U answer replaced\n"
    "               by the byte of hexadecimal value XX (00 to ff)\n"
    "  lineend K MS CR LF after each answer, MS ms later (0 to 10000; 0: in\n"
    "               the same write)\n"
    "  door K open  open the door: temperature and humidity drift toward the\n"
    "               room's (ambient) with a time constant of 2 simulated minutes\n"
    "  door K closed  close it: the control takes over again\n"
    "  error K TEXT raise a pending error with TEXT (the error channel is set)\n"
    "  clear K      confirm the pending errors\n"
    "  normal K     no faults at all (also none from the options), the door\n"
    "               closed, and up; pending errors and the noise stay\n"
    "Faults add up until normal; answers keep the order of their commands.\n"
    "Each line gets one line on standard output:\n"
    "\"ok \" and the command, or \"error \", the command, \": \" and why.\n"
    "The end of standard input does not stop the simulator. Started in the\n"
    "background of a terminal (quenta-sim &), it reads no control lines until\n"
    "it is in the foreground (fg); keys typed meanwhile wait and stop nothing.\n"
    "\n"
    "On start it prints where it listens, for example \"quenta-sim listening\n"
    "on 127.0.1.1 to 127.0.4.235 port 1080 (1000 chambers, speed 1)\". With\n"
    "--verbose each connect, command, answer and close is one line on\n"
    "standard output: the time, with more than one chamber the chamber's\n"
    "address, the client's address:port, then \"connected\", \"<< \" and the\n"
    "command, \">> \" and the answer (bytes outside printable ASCII as \\xNN),\n"
    "or \"closed\". Refused commands are logged on standard error.\n"
    "\n"
    "Exit status: 2 for a bad option, 1 when a chamber cannot listen or the\n"
    "process may not open enough files for the chambers.";

struct Settings {
  int chambers = 1;
  QHostAddress address;
  quint16 port = 1080;
  double speed = 1.0;
  bool verbose = false;
  sim::Faults faults;
  QStringList errors;
  sim::Physics physics;
};

/* The options that limit the plant: the option, the channel, which way. */
struct CapacityOption {
  const char *name;
  int channel;
  bool rise;
};
constexpr CapacityOption kCapacityOptions[] = {
    {"heat-rate", 0, true}, {"cool-rate", 0, false},
    {"humidify-rate", 1, true}, {"dry-rate", 1, false},
};
constexpr double kMaxCapacity = 999.9;
constexpr double kMaxNoise = 100.0;

void AddOptions(QCommandLineParser &parser) {
  parser.setApplicationDescription(kDescription);
  parser.addHelpOption();
  parser.addVersionOption();
  parser.addOptions({
      {"listen", "Listen on ADDRESS (default 127.0.0.1), IPv4 in decimal without leading zeros "
                 "or IPv6; with --chambers, the first chamber.",
       "ADDRESS", "127.0.0.1"},
      {"port", "Listen on TCP port N (default 1080; 0 picks a free one, for one chamber only).",
       "N", "1080"},
      {"chambers", "Simulate N chambers (default 1, at most 100000) on consecutive addresses.",
       "N", "1"},
      {"speed", "Run simulated time N times faster than real time in every chamber (default 1).",
       "N", "1"},
      {"delay", "Wait MS milliseconds before each answer (default 0).", "MS", "0"},
      {"split-answers", "Send each answer in two TCP segments with a short pause between."},
      {"split-pause", "Pause MS milliseconds between the two parts (default 50).", "MS", "50"},
      {"close-after-answer", "Close the connection after each answer."},
      {"silent", "Carry out commands but never answer."},
      {"error", "Start with a pending error with TEXT (repeatable).", "TEXT"},
      {"noise", "Sensor noise: each actual value answered is up to N off the model's "
                "(uniform, in the channel's unit; default 0).", "N"},
      {"seed", "Seed of the noise (default 1); chamber K draws from N + K - 1.", "N"},
      {"heat-rate", "The temperature rises at most N K/min under control, whatever the ramp "
                    "(default: no limit).", "N"},
      {"cool-rate", "The temperature falls at most N K/min under control (default: no limit).",
       "N"},
      {"humidify-rate", "The humidity rises at most N %/min under control (default: no limit).",
       "N"},
      {"dry-rate", "The humidity falls at most N %/min under control (default: no limit).", "N"},
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

/* Reads a number option, if given, from low to high into *out; false,
 * with a message on standard error, when it is out of range. */
bool NumberOption(const QCommandLineParser &parser, const char *name, double low, double high,
                  double *out) {
  if (!parser.isSet(name)) return true;
  bool ok = false;
  double value = parser.value(name).toDouble(&ok);
  if (!ok || !(value >= low && value <= high)) {
    fprintf(stderr, "quenta-sim: --%s must be a number from %g to %g\n", name, low, high);
    return false;
  }
  *out = value;
  return true;
}

/* Fills s->physics from the options; false after a message on standard
 * error when one of them is bad. */
bool ReadPhysics(const QCommandLineParser &parser, Settings *s) {
  int seed = static_cast<int>(sim::kDefaultSeed);
  for (const CapacityOption &o : kCapacityOptions) {
    double *limit = o.rise ? &s->physics.rise[o.channel] : &s->physics.fall[o.channel];
    if (!NumberOption(parser, o.name, 0.0, kMaxCapacity, limit)) return false;
  }
  if (parser.isSet("seed") && !IntOption(parser, "seed", 0, INT_MAX, &seed)) return false;
  s->physics.seed = static_cast<uint32_t>(seed);
  return NumberOption(parser, "noise", 0.0, kMaxNoise, &s->physics.noise);
}

/* Fills settings from the parsed options; false after a message on
 * standard error when one of them is bad. */
bool ReadSettings(const QCommandLineParser &parser, Settings *s) {
  int port = 0;
  bool ok = false;
  QByteArray listen = parser.value("listen").toLocal8Bit(), why;
  if (!sim::ParseAddressLiteral(listen, &s->address, &why)) {
    fprintf(stderr, "quenta-sim: --listen needs an IP address, not \"%s\": %s\n",
            listen.constData(), why.constData());
    return false;
  }
  s->speed = parser.value("speed").toDouble(&ok);
  if (!ok || !(s->speed > 0 && s->speed <= 1e6)) {
    fprintf(stderr, "quenta-sim: --speed must be a number above 0 and at most 1000000\n");
    return false;
  }
  if (!IntOption(parser, "port", 0, 65535, &port) ||
      !IntOption(parser, "chambers", 1, sim::kMaxChambers, &s->chambers) ||
      !IntOption(parser, "delay", 0, 600000, &s->faults.delayMs) ||
      !IntOption(parser, "split-pause", 1, 10000, &s->faults.splitPauseMs))
    return false;
  s->port = static_cast<quint16>(port);
  QString problem = sim::FleetAddressProblem(s->address, s->chambers);
  if (problem.isEmpty() && s->chambers > 1 && port == 0)
    problem = QStringLiteral("--port 0 picks a port for one chamber only");
  if (!problem.isEmpty()) {
    fprintf(stderr, "quenta-sim: %s\n", qPrintable(problem));
    return false;
  }
  s->faults.splitAnswers = parser.isSet("split-answers");
  s->faults.closeAfterAnswer = parser.isSet("close-after-answer");
  s->faults.silent = parser.isSet("silent");
  s->verbose = parser.isSet("verbose");
  s->errors = parser.values("error");
  return ReadPhysics(parser, s);
}

/* The host's local date and time, as the chamber clock counts it. */
int64_t LocalWallSeconds() {
  QDateTime now = QDateTime::currentDateTime();
  return QDateTime(now.date(), now.time(), QTimeZone::utc()).toSecsSinceEpoch();
}

/* Opens /dev/null on each of descriptors 0 to 2 that is closed, so that no
 * socket takes its number: log lines would go to a client, and control
 * lines would be read from one. */
void KeepStandardStreams() {
  for (int fd = 0; fd <= 2; fd++)
    if (fcntl(fd, F_GETFD) < 0 && open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY) < 0) return;
}

/* True when the process may open a socket for each chamber and a client;
 * else says so on standard error. */
bool EnoughDescriptors(int chambers) {
  qint64 needed = sim::DescriptorsNeeded(chambers);
  qint64 limit = eventloop::RaiseOpenFileLimit(needed);
  if (limit >= needed) return true;
  fprintf(stderr,
          "quenta-sim: %d chambers need %lld open files (a listener and a client each, and %d "
          "more), but the limit is %lld; raise it (ulimit -Hn) or simulate fewer chambers\n",
          chambers, static_cast<long long>(needed), sim::kSpareDescriptors,
          static_cast<long long>(limit));
  return false;
}

/* The line that says where the chambers listen. */
void PrintListening(const sim::Fleet &fleet, const Settings &s) {
  if (fleet.size() == 1) {
    printf("quenta-sim listening on %s port %u (speed %g)\n",
           qPrintable(fleet.address(0).toString()), fleet.port(), s.speed);
  } else {
    printf("quenta-sim listening on %s to %s port %u (%d chambers, speed %g)\n",
           qPrintable(fleet.address(0).toString()),
           qPrintable(fleet.address(fleet.size() - 1).toString()), fleet.port(), fleet.size(),
           s.speed);
  }
  fflush(stdout);
}

/* Builds the chambers, listens, and runs the event loop with the control
 * input. Returns the exit code. */
int RunFleet(const Settings &settings) {
  if (!EnoughDescriptors(settings.chambers)) return 1;
  QElapsedTimer elapsed;
  elapsed.start();
  sim::Fleet fleet(settings.chambers, settings.address,
                   [&elapsed] { return static_cast<int64_t>(elapsed.elapsed()); }, settings.speed,
                   LocalWallSeconds(), settings.errors, settings.faults, settings.verbose,
                   settings.physics);
  QString error;
  if (!fleet.listen(settings.port, &error)) {
    fprintf(stderr, "quenta-sim: %s\n", qPrintable(error));
    return 1;
  }
  PrintListening(fleet, settings);
  sim::ControlInput control(STDIN_FILENO, [&fleet](const QByteArray &line) {
    return fleet.control(line);
  }, stdout);
  return QCoreApplication::exec();
}

}  // namespace

int main(int argc, char *argv[]) {
  KeepStandardStreams();
  signal(SIGPIPE, SIG_IGN);  /* a reader of the log that goes away stops nothing */
  /* started in the background of a terminal ("quenta-sim &"), it goes on:
   * a read there fails (see control_input.h), a log line is written */
  signal(SIGTTIN, SIG_IGN);
  signal(SIGTTOU, SIG_IGN);
  QCoreApplication::setEventDispatcher(new eventloop::EpollDispatcher);
  QCoreApplication app(argc, argv);
  QCoreApplication::setApplicationName("quenta-sim");
  QCoreApplication::setApplicationVersion(QUENTA_VERSION);
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
  return RunFleet(settings);
}
