/*
 * options.cpp -- the command line, the chambers file, and the checks of
 * addresses and commands (see options.h). Every message names what was
 * given, so that the operator sees at once what to change.
 */
#include "options.h"

#include <QCommandLineParser>
#include <QFile>
#include <QHash>
#include <QRegularExpression>
#include <cmath>

#include "address.h"

namespace monitor {

namespace {

constexpr int kShownMax = 40;  /* characters of a bad text quoted in a message */

/* text, cut to kShownMax characters, in double quotes. */
QString Quoted(const QString &text) {
  if (text.size() <= kShownMax) return '"' + text + '"';
  return '"' + text.left(kShownMax) + "...\"";
}

/* A TCP port from 1 to 65535 (0 too when allowZero). */
bool ParsePort(const QString &text, bool allowZero, quint16 *out) {
  bool ok = false;
  int port = text.toInt(&ok);
  if (!ok || port < (allowZero ? 0 : 1) || port > 65535) return false;
  *out = static_cast<quint16>(port);
  return true;
}

/* A number of seconds within [low, high], e.g. "5" or "0.25", as whole
 * milliseconds. */
bool ParseSeconds(const QString &text, double low, double high, qint64 *ms) {
  bool ok = false;
  double seconds = text.toDouble(&ok);
  if (!ok || !(seconds >= low && seconds <= high)) return false;
  *ms = std::llround(seconds * 1000.0);
  return true;
}

/* The same for a span that fits an int of milliseconds (high at most
 * 2,000,000 s). */
bool ParseSeconds(const QString &text, double low, double high, int *ms) {
  qint64 wide = 0;
  if (!ParseSeconds(text, low, high, &wide)) return false;
  *ms = static_cast<int>(wide);
  return true;
}

/* A number of megabytes (of 1,048,576 bytes) within [low, high], e.g.
 * "256" or "0.5", as whole bytes. */
bool ParseMegabytes(const QString &text, double low, double high, qint64 *bytes) {
  bool ok = false;
  double megabytes = text.toDouble(&ok);
  if (!ok || !(megabytes >= low && megabytes <= high)) return false;
  *bytes = std::llround(megabytes * (1 << 20));
  return true;
}

bool ParseWhole(const QString &text, int low, int high, int *out) {
  bool ok = false;
  int value = text.toInt(&ok);
  if (!ok || value < low || value > high) return false;
  *out = value;
  return true;
}

/* "[ADDRESS:]PORT" of the metrics endpoint; the address defaults to
 * 127.0.0.1 so that nothing is served beyond the machine unless asked. */
bool ParseListen(const QString &text, QHostAddress *address, quint16 *port) {
  int colon = text.lastIndexOf(':');
  QString host = colon < 0 ? QStringLiteral("127.0.0.1") : text.left(colon);
  if (host.startsWith('[') && host.endsWith(']')) host = host.mid(1, host.size() - 2);
  return address->setAddress(host) && ParsePort(text.mid(colon + 1), false, port);
}

/* Appends the commands of one --commands value, split at commas. */
bool AddCommands(const QString &list, QList<QByteArray> *commands, QString *error) {
  for (const QString &text : list.split(',')) {
    QByteArray bytes;
    if (!CommandBytes(text, &bytes, error)) return false;
    commands->append(bytes);
  }
  return true;
}

/* Refuses two chambers with one name or one address: their rows and
 * metrics could not be told apart. */
bool CheckUnique(const QList<ChamberEntry> &chambers, QString *error) {
  QHash<QString, int> names, addresses;
  for (int i = 0; i < chambers.size(); i++) {
    const ChamberEntry &c = chambers[i];
    QString where = c.line ? QStringLiteral("line %1").arg(c.line) : QStringLiteral("argument");
    if (names.contains(c.name) || addresses.contains(c.address())) {
      const ChamberEntry &first = chambers[names.value(c.name, addresses.value(c.address()))];
      *error = QStringLiteral("chamber %1 (%2) is given twice (first as %3)")
                   .arg(Quoted(c.name), where, first.line ? QStringLiteral("line %1").arg(first.line)
                                                          : QStringLiteral("argument"));
      return false;
    }
    names.insert(c.name, i);
    addresses.insert(c.address(), i);
  }
  return true;
}

void AddMonitorOptions(QCommandLineParser &p) {
  p.addOptions({
      {{"h", "help"}, "help"},
      {{"V", "version"}, "version"},
      {"chambers", "file", "FILE"},
      {"commands", "list", "LIST"},
      {"every", "seconds", "SECONDS"},
      {"timeout", "seconds", "SECONDS"},
      {"answer-gap", "ms", "MS"},
      {"csv", "file", "FILE"},
      {"metrics", "listen", "[ADDRESS:]PORT"},
      {"port", "port", "PORT"},
      {"duration", "seconds", "SECONDS"},
      {"sync-interval", "ms", "MS"},
      {"queue-limit", "megabytes", "MB"},
  });
}

void AddSendOptions(QCommandLineParser &p) {
  p.addOptions({
      {{"h", "help"}, "help"},
      {"port", "port", "PORT"},
      {"timeout", "seconds", "SECONDS"},
      {"answer-gap", "ms", "MS"},
      {"mode", "form", "MODE"},
      {"lang", "language", "LANG"},
  });
}

/* The options both forms share: --port, --timeout, --answer-gap. */
bool ReadCommonOptions(const QCommandLineParser &p, quint16 *port, int *timeoutMs, int *gapMs,
                       QString *error) {
  if (p.isSet("port") && !ParsePort(p.value("port"), false, port)) {
    *error = "--port needs a TCP port from 1 to 65535, not " + Quoted(p.value("port"));
    return false;
  }
  if (p.isSet("timeout") && !ParseSeconds(p.value("timeout"), 0.01, 600, timeoutMs)) {
    *error = "--timeout needs seconds from 0.01 to 600, not " + Quoted(p.value("timeout"));
    return false;
  }
  if (p.isSet("answer-gap") && !ParseWhole(p.value("answer-gap"), 1, 60000, gapMs)) {
    *error = "--answer-gap needs milliseconds from 1 to 60000, not " + Quoted(p.value("answer-gap"));
    return false;
  }
  return true;
}

/* Reads the file named by --chambers into *out. */
bool ReadChambersFile(const QString &path, quint16 port, QList<ChamberEntry> *out, QString *error) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) {
    *error = "cannot read the chambers file " + Quoted(path) + ": " + file.errorString();
    return false;
  }
  return ParseChambersText(file.readAll(), path, port, out, error);
}

bool ReadMonitorOptions(const QCommandLineParser &p, MonitorOptions *o, QString *error) {
  quint16 port = kChamberPort;
  if (!ReadCommonOptions(p, &port, &o->timeoutMs, &o->gapMs, error)) return false;
  if (p.isSet("every") && !ParseSeconds(p.value("every"), 0.05, 86400, &o->everyMs)) {
    *error = "--every needs seconds from 0.05 to 86400, not " + Quoted(p.value("every"));
    return false;
  }
  if (p.isSet("duration") && !ParseSeconds(p.value("duration"), 0.05, 1e7, &o->durationMs)) {
    *error = "--duration needs seconds from 0.05 to 10000000, not " + Quoted(p.value("duration"));
    return false;
  }
  if (p.isSet("sync-interval") && !ParseWhole(p.value("sync-interval"), 0, 3600000, &o->syncIntervalMs)) {
    *error = "--sync-interval needs milliseconds from 0 to 3600000, not " + Quoted(p.value("sync-interval"));
    return false;
  }
  if (p.isSet("queue-limit") && !ParseMegabytes(p.value("queue-limit"), 0.01, 65536, &o->queueLimitBytes)) {
    *error = "--queue-limit needs megabytes from 0.01 to 65536, not " + Quoted(p.value("queue-limit"));
    return false;
  }
  o->metrics = p.isSet("metrics");
  if (o->metrics && !ParseListen(p.value("metrics"), &o->metricsAddress, &o->metricsPort)) {
    *error = "--metrics needs [ADDRESS:]PORT with an IP address, e.g. 127.0.0.1:9464, not " +
             Quoted(p.value("metrics"));
    return false;
  }
  o->csvPath = p.value("csv");
  if (p.isSet("csv") && o->csvPath.isEmpty()) {
    *error = "--csv needs a file name";
    return false;
  }
  for (const QString &list : p.values("commands"))
    if (!AddCommands(list, &o->commands, error)) return false;
  if (o->commands.isEmpty()) o->commands.append(QByteArrayLiteral("Aa"));
  if (p.isSet("chambers") && !ReadChambersFile(p.value("chambers"), port, &o->chambers, error))
    return false;
  for (const QString &text : p.positionalArguments()) {
    ChamberEntry c;
    if (!ParseChamberAddress(text, port, &c, error)) return false;
    c.name = c.address();
    o->chambers.append(c);
  }
  if (o->chambers.isEmpty()) {
    *error = "no chambers: give their addresses or --chambers FILE";
    return false;
  }
  return CheckUnique(o->chambers, error);
}

bool ReadSendOptions(const QCommandLineParser &p, SendOptions *o, QString *error) {
  quint16 port = kChamberPort;
  if (!ReadCommonOptions(p, &port, &o->timeoutMs, &o->gapMs, error)) return false;
  static const QStringList forms{"hex", "raw", "interpreted", "json"};
  int form = forms.indexOf(p.value("mode").isEmpty() ? QStringLiteral("raw") : p.value("mode"));
  if (form < 0) {
    *error = "--mode needs hex, raw, interpreted or json, not " + Quoted(p.value("mode"));
    return false;
  }
  o->form = static_cast<SendForm>(form);
  QString lang = p.value("lang").isEmpty() ? QStringLiteral("en") : p.value("lang");
  if (lang != "en" && lang != "de") {
    *error = "--lang needs en or de, not " + Quoted(lang);
    return false;
  }
  o->english = lang == "en";
  const QStringList rest = p.positionalArguments();
  if (rest.size() < 2) {
    *error = "send needs an address and at least one command";
    return false;
  }
  if (!ParseChamberAddress(rest[0], port, &o->chamber, error)) return false;
  o->chamber.name = o->chamber.address();
  for (int i = 1; i < rest.size(); i++) {
    QByteArray bytes;
    if (!CommandBytes(rest[i], &bytes, error)) return false;
    o->commands.append(bytes);
  }
  return true;
}

/* The chambers of a run: addresses and --chambers, checked unique. */
bool ReadChambers(const QCommandLineParser &p, const QStringList &addresses, quint16 port,
                  QList<ChamberEntry> *out, QString *error) {
  if (p.isSet("chambers") && !ReadChambersFile(p.value("chambers"), port, out, error)) return false;
  for (const QString &text : addresses) {
    ChamberEntry c;
    if (!ParseChamberAddress(text, port, &c, error)) return false;
    c.name = c.address();
    out->append(c);
  }
  if (out->isEmpty()) {
    *error = "no chambers: give their addresses or --chambers FILE";
    return false;
  }
  return CheckUnique(*out, error);
}

/* --time-scale: a number from 1 to 100000 (test runs against the simulator). */
bool ReadTimeScale(const QCommandLineParser &p, double *scale, QString *error) {
  bool ok = true;
  if (p.isSet("time-scale")) *scale = p.value("time-scale").toDouble(&ok);
  if (ok && *scale >= 1 && *scale <= 100000) return true;
  *error = "--time-scale needs a number from 1 to 100000, not " + Quoted(p.value("time-scale"));
  return false;
}

void AddRunOptions(QCommandLineParser &p) {
  p.addOptions({
      {{"h", "help"}, "help"}, {"chambers", "file", "FILE"}, {"csv", "file", "FILE"},
      {"journal", "file", "FILE"}, {"summary", "file", "FILE"}, {"metrics", "listen", "[ADDRESS:]PORT"},
      {"port", "port", "PORT"}, {"timeout", "seconds", "SECONDS"}, {"answer-gap", "ms", "MS"},
      {"sync-interval", "ms", "MS"}, {"on-alarm", "command", "COMMAND"}, {"dry-run", "dry run"},
      {"abort", "abort"}, {"time-scale", "factor", "FACTOR"},
  });
}

/* The files of a run: the CSV file (default: the profile's name with
 * .csv), its journal and summary beside it. */
void RunFiles(const QCommandLineParser &p, RunOptions *o) {
  QString stem = o->profilePath.section('/', -1);
  if (stem.endsWith(".toml")) stem.chop(5);
  o->csvPath = p.isSet("csv") ? p.value("csv") : stem + ".csv";
  o->journalPath = p.isSet("journal") ? p.value("journal") : o->csvPath + ".journal";
  o->summaryPath = p.isSet("summary") ? p.value("summary") : o->csvPath + ".summary.json";
}

bool ReadRunOptions(const QCommandLineParser &p, RunOptions *o, QString *error) {
  quint16 port = kChamberPort;
  if (!ReadCommonOptions(p, &port, &o->timeoutMs, &o->gapMs, error) || !ReadTimeScale(p, &o->timeScale, error))
    return false;
  if (p.isSet("sync-interval") && !ParseWhole(p.value("sync-interval"), 0, 3600000, &o->syncIntervalMs)) {
    *error = "--sync-interval needs milliseconds from 0 to 3600000, not " + Quoted(p.value("sync-interval"));
    return false;
  }
  o->metrics = p.isSet("metrics");
  if (o->metrics && !ParseListen(p.value("metrics"), &o->metricsAddress, &o->metricsPort)) {
    *error = "--metrics needs [ADDRESS:]PORT with an IP address, e.g. 127.0.0.1:9464, not " + Quoted(p.value("metrics"));
    return false;
  }
  const QStringList rest = p.positionalArguments();
  if (rest.isEmpty()) {
    *error = "run needs a profile";
    return false;
  }
  o->profilePath = rest[0];
  o->onAlarm = p.value("on-alarm");
  o->dryRun = p.isSet("dry-run");
  o->abort = p.isSet("abort");
  RunFiles(p, o);
  if (o->dryRun && rest.size() == 1 && !p.isSet("chambers")) return true;
  return ReadChambers(p, rest.mid(1), port, &o->chambers, error);
}

void AddWaitOptions(QCommandLineParser &p) {
  p.addOptions({
      {{"h", "help"}, "help"}, {"channel", "channel", "N"}, {"band", "band", "B"}, {"drift", "drift", "D"},
      {"window", "seconds", "SECONDS"}, {"timeout", "seconds", "SECONDS"}, {"every", "seconds", "SECONDS"},
      {"port", "port", "PORT"}, {"answer-gap", "ms", "MS"}, {"time-scale", "factor", "FACTOR"},
  });
}

bool ReadWaitOptions(const QCommandLineParser &p, WaitStableOptions *o, QString *error) {
  quint16 port = kChamberPort;
  bool ok = true;
  if (p.isSet("port") && !ParsePort(p.value("port"), false, &port)) {
    *error = "--port needs a TCP port from 1 to 65535, not " + Quoted(p.value("port"));
    return false;
  }
  if (p.isSet("answer-gap") && !ParseWhole(p.value("answer-gap"), 1, 60000, &o->gapMs)) {
    *error = "--answer-gap needs milliseconds from 1 to 60000, not " + Quoted(p.value("answer-gap"));
    return false;
  }
  if (!ParseWhole(p.value("channel"), 0, 4, &o->channel)) *error = "--channel needs 0 to 4";
  else if (!((o->band = p.value("band").toDouble(&ok)) >= 0 && ok && p.isSet("band"))) *error = "--band needs a number, 0 or more";
  else if (p.isSet("drift") && !((o->drift = p.value("drift").toDouble(&ok)) >= 0 && ok)) *error = "--drift needs a number, 0 or more";
  else if (!ParseSeconds(p.value("window"), 0, 1e7, &o->windowMs)) *error = "--window needs seconds";
  else if (!ParseSeconds(p.value("timeout"), 0.1, 1e7, &o->waitMs)) *error = "--timeout needs seconds";
  else if (p.isSet("every") && !ParseSeconds(p.value("every"), 0.05, 3600, &o->everyMs)) *error = "--every needs seconds from 0.05 to 3600";
  if (!error->isEmpty() || !ReadTimeScale(p, &o->timeScale, error)) return false;
  if (o->drift < 0) o->drift = o->band;
  const QStringList rest = p.positionalArguments();
  if (rest.size() != 1) {
    *error = "wait-stable needs one address";
    return false;
  }
  if (!ParseChamberAddress(rest[0], port, &o->chamber, error)) return false;
  o->chamber.name = o->chamber.address();
  return true;
}

}  // namespace

QString ChamberEntry::address() const {
  QString h = host.contains(':') ? '[' + host + ']' : host;
  return h + ':' + QString::number(port);
}

bool ParseChamberAddress(const QString &text, quint16 defaultPort, ChamberEntry *out,
                         QString *error) {
  QString host = text;
  quint16 port = defaultPort;
  bool portOk = true;
  if (text.startsWith('[')) {
    int close = text.indexOf(']');
    host = text.mid(1, close - 1);
    if (close < 0 || (close + 1 < text.size() && text[close + 1] != ':')) portOk = false;
    else if (close + 1 < text.size()) portOk = ParsePort(text.mid(close + 2), false, &port);
  } else if (text.count(':') == 1) {
    host = text.section(':', 0, 0);
    portOk = ParsePort(text.section(':', 1), false, &port);
  }
  const QByteArray hostText = host.toUtf8();
  const char *why = "";
  int kind = ParseHostText(hostText.constData(), &why);
  bool bracketed = text.startsWith('[');
  if (!portOk || kind == HOST_BAD || (bracketed && kind != HOST_IPV6)) {
    *error = Quoted(text) + " is not a chamber address (IP address or host name, optionally :PORT)";
    if (portOk && kind == HOST_BAD) *error += QStringLiteral(": ") + why;
    return false;
  }
  QHostAddress literal;
  bool isLiteral = kind != HOST_NAME && literal.setAddress(host);
  out->host = isLiteral ? literal.toString() : host.toLower();
  out->port = port;
  return true;
}

bool CommandBytes(const QString &text, QByteArray *out, QString *error) {
  if (text.isEmpty()) {
    *error = QStringLiteral("an empty command cannot be sent");
    return false;
  }
  if (text.size() > kCommandMax) {
    *error = QStringLiteral("the command %1 has %2 characters; at most %3 can be sent")
                 .arg(Quoted(text)).arg(text.size()).arg(kCommandMax);
    return false;
  }
  for (QChar c : text) {
    if (c.unicode() == 0 || c.unicode() > 0xFF) {
      QString code = QString::number(c.unicode(), 16).toUpper().rightJustified(4, '0');
      *error = QStringLiteral("the command %1 holds U+%2, which is not a Latin-1 character")
                   .arg(Quoted(text), code);
      return false;
    }
  }
  *out = text.toLatin1();
  return true;
}

bool ParseChambersText(const QByteArray &text, const QString &fileName, quint16 defaultPort,
                       QList<ChamberEntry> *out, QString *error) {
  static const QRegularExpression comment(QStringLiteral("(^|\\s)#.*$"));
  QStringList problems;
  /* A line ends at LF, CR LF or a lone CR (old Mac editors, some exports). */
  const QList<QByteArray> lines = QByteArray(text).replace("\r\n", "\n").replace('\r', '\n').split('\n');
  for (int n = 0; n < lines.size(); n++) {
    QString line = QString::fromUtf8(lines[n]).remove(comment).trimmed();
    if (line.isEmpty()) continue;
    QString where = QStringLiteral("%1:%2: ").arg(fileName).arg(n + 1);
    QString first = line.section(QRegularExpression("\\s+"), 0, 0);
    QString name = line.mid(first.size()).simplified();
    ChamberEntry c;
    QString why;
    if (!ParseChamberAddress(first, defaultPort, &c, &why)) {
      problems << where + why;
      continue;
    }
    static const QRegularExpression control(QStringLiteral("[\\x00-\\x1f\\x7f]"));
    if (name.size() > kNameMax || name.contains(QChar::ReplacementCharacter) || name.contains(control)) {
      problems << where + "the name " + Quoted(name) +
                      QStringLiteral(" is not UTF-8 text of at most %1 characters without control "
                                     "characters").arg(kNameMax);
      continue;
    }
    c.name = name.isEmpty() ? c.address() : name;
    c.line = n + 1;
    out->append(c);
  }
  if (problems.isEmpty()) return true;
  *error = problems.join('\n');
  return false;
}

bool ParseArguments(const QStringList &args, Invocation *out, QString *error) {
  const QString form = args.isEmpty() ? QString() : args[0];
  Action action = form == "send" ? Action::Send : form == "run" ? Action::Run
                  : form == "wait-stable" ? Action::WaitStable : Action::Monitor;
  QCommandLineParser p;
  p.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
  if (action == Action::Send) AddSendOptions(p);
  else if (action == Action::Run) AddRunOptions(p);
  else if (action == Action::WaitStable) AddWaitOptions(p);
  else AddMonitorOptions(p);
  QStringList withName = QStringList{"quenta-monitor"} + (action == Action::Monitor ? args : args.mid(1));
  if (!p.parse(withName)) {
    *error = p.errorText();
    return false;
  }
  if (p.isSet("help")) {
    out->action = Action::Help;
    return true;
  }
  if (action == Action::Monitor && p.isSet("version")) {
    out->action = Action::Version;
    return true;
  }
  out->action = action;
  error->clear();
  switch (action) {
    case Action::Send: return ReadSendOptions(p, &out->send, error);
    case Action::Run: return ReadRunOptions(p, &out->run, error);
    case Action::WaitStable: return ReadWaitOptions(p, &out->wait, error);
    default: return ReadMonitorOptions(p, &out->monitor, error);
  }
}

const char *UsageText() {
  return
      "Usage: quenta-monitor [OPTIONS] [ADDRESS[:PORT]...]\n"
      "       quenta-monitor send [OPTIONS] ADDRESS[:PORT] COMMAND...\n"
      "       quenta-monitor run PROFILE [ADDRESS[:PORT]...] [OPTIONS]\n"
      "       quenta-monitor wait-stable ADDRESS[:PORT] --channel N --band B --window S --timeout S\n"
      "\n"
      "Polls climate test chambers over the Quenta ASCII protocol (TCP port 1080),\n"
      "keeps every value in a CSV file and serves Prometheus metrics; with send,\n"
      "sends commands once and prints their answers; with run, drives chambers\n"
      "through a test profile; with wait-stable, waits until a channel is stable.\n"
      "\n"
      "Polling:\n"
      "  --chambers FILE        chambers, one a line: ADDRESS[:PORT] [NAME]; # comments\n"
      "  --commands LIST        commands polled, comma-separated (default Aa:\n"
      "                         actual and set values of all analogue channels)\n"
      "  --every SECONDS        poll interval per chamber (default 5)\n"
      "  --timeout SECONDS      longest wait for a connection or an answer (default 2)\n"
      "  --answer-gap MS        quiet time that ends an answer of open length (default 200)\n"
      "  --csv FILE             append one row per value to FILE (created if missing)\n"
      "  --sync-interval MS     least time between syncs of the CSV file to disk\n"
      "                         (default 0: sync as soon as rows are written)\n"
      "  --queue-limit MB       rows of the CSV file kept in memory while it cannot\n"
      "                         take them, e.g. on a full disk (default 256)\n"
      "  --metrics [ADDR:]PORT  serve Prometheus metrics at /metrics and the pages\n"
      "                         at / (address default 127.0.0.1)\n"
      "  --port PORT            chamber port where an address gives none (default 1080)\n"
      "  --duration SECONDS     stop after this long (default: at SIGINT or SIGTERM)\n"
      "\n"
      "send:\n"
      "  --mode MODE            hex, raw (default; control bytes as \\xNN), interpreted\n"
      "                         or json\n"
      "  --lang LANG            en (default) or de, for --mode interpreted\n"
      "  --port, --timeout, --answer-gap as above\n"
      "\n"
      "run (docs/runs.md):\n"
      "  --csv FILE             the run's record (default: the profile's name with .csv)\n"
      "  --journal FILE         the run's journal (default: the CSV file's name with .journal)\n"
      "  --summary FILE         the summary at the end (default: with .summary.json)\n"
      "  --on-alarm COMMAND     run COMMAND (sh -c) for each alarm raised or cleared\n"
      "  --dry-run              show the steps, their times and every command; write nothing\n"
      "  --abort                end the run: the profile's on_abort acts on every chamber\n"
      "  --time-scale FACTOR    tests only: the run's clock FACTOR times real time\n"
      "                         (refused unless every chamber is the simulator)\n"
      "  --chambers, --metrics, --port, --timeout, --answer-gap, --sync-interval as above\n"
      "\n"
      "wait-stable:\n"
      "  --channel N            the analogue channel, 0 to 4\n"
      "  --band B               largest |actual - set| that counts as stable\n"
      "  --drift D              largest change over the window (default: the band)\n"
      "  --window SECONDS       how long it must hold\n"
      "  --timeout SECONDS      how long to wait for it\n"
      "  --every SECONDS        poll interval (default 1); --port, --answer-gap,\n"
      "                         --time-scale as above\n"
      "\n"
      "  -h, --help             show this text;  -V, --version  show the version\n"
      "\n"
      "SIGHUP opens the CSV file again (after logrotate renamed it).\n"
      "\n"
      "Exit status: 0 success; 1 the CSV file, the journal or the metrics endpoint\n"
      "cannot be used; 2 usage error; 3 no connection; 4 no whole answer in time;\n"
      "5 connection closed before the answer was whole; 6 rows of the CSV file were\n"
      "lost; 7 an answer was not one to its command (send); 8 not stable in time,\n"
      "9 chamber stopped or its error set (wait-stable); 10 run refused before any\n"
      "write; 11 run ended otherwise than by completing the profile.\n";
}

}  // namespace monitor
