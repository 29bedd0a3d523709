/*
 * monitor_support.cpp -- helpers of the monitor's tests (see
 * monitor_support.h).
 */
#include "monitor_support.h"

#include <errno.h>
#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QFile>
#include <QTcpSocket>
#include <QtTest/QTest>
#include <cmath>

#include "rows.h"

namespace {

constexpr int kStartMs = 10000;
constexpr int kFieldCount = 11;

}  // namespace

std::string Unescape(const std::string &field) {
  std::string out;
  for (size_t i = 0; i < field.size(); i++) {
    if (field[i] != '\\' || i + 1 >= field.size()) {
      out += field[i];
    } else if (field[i + 1] == '\\') {
      out += '\\';
      i++;
    } else if (field[i + 1] == 'x' && i + 3 < field.size()) {
      out += static_cast<char>(std::stoi(field.substr(i + 2, 2), nullptr, 16));
      i += 3;
    }
  }
  return out;
}

std::vector<std::string> ParseCsvLine(const std::string &line) {
  std::vector<std::string> fields(1);
  bool quoted = false, wasQuoted = false;
  for (size_t i = 0; i < line.size(); i++) {
    char c = line[i];
    if (quoted) {
      if (c != '"') fields.back() += c;
      else if (i + 1 < line.size() && line[i + 1] == '"') fields.back() += line[++i];
      else quoted = false;
    } else if (c == ',') {
      fields.emplace_back();
      wasQuoted = false;
    } else if (c == '"' && fields.back().empty() && !wasQuoted) {
      quoted = wasQuoted = true;
    } else if (wasQuoted || c == '"') {
      return {};
    } else {
      fields.back() += c;
    }
  }
  if (quoted) return {};
  return fields;
}

std::vector<std::vector<std::string>> ReadCsvRows(const QString &path, bool *whole) {
  std::vector<std::vector<std::string>> rows;
  QFile file(path);
  *whole = file.exists() && file.open(QIODevice::ReadOnly);
  if (!*whole) return rows;
  QByteArray all = file.readAll();
  *whole = *whole && all.startsWith(monitor::kCsvHeader) && all.endsWith('\n');
  QList<QByteArray> lines = all.split('\n');
  for (qsizetype i = 1; i + 1 < lines.size(); i++) {
    std::vector<std::string> fields = ParseCsvLine(lines[i].toStdString());
    if (fields.size() != kFieldCount || lines[i] + '\n' == monitor::kCsvHeader) *whole = false;
    rows.push_back(fields);
  }
  return rows;
}

bool WriteFile(const QString &path, const QByteArray &bytes) {
  QFile file(path);
  return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

void EnsureApp() {
  static int argc = 1;
  static char name[] = "monitor_test";
  static char *argv[] = {name, nullptr};
  if (!QCoreApplication::instance()) new QCoreApplication(argc, argv);
}

bool WaitFor(const std::function<bool()> &cond, int ms) {
  EnsureApp();
  return QTest::qWaitFor(cond, ms);
}

RunResult RunMonitor(const QStringList &args, int ms) {
  EnsureApp();
  QProcess p;
  p.start(QStringLiteral(QUENTA_MONITOR_PATH), args);
  RunResult r;
  if (!p.waitForStarted(kStartMs)) return r;
  if (!WaitFor([&] { return p.state() == QProcess::NotRunning; }, ms)) p.kill();
  p.waitForFinished(kStartMs);
  r.out = p.readAllStandardOutput();
  r.err = p.readAllStandardError();
  if (p.exitStatus() == QProcess::NormalExit) r.code = p.exitCode();
  return r;
}

Child::~Child() {
  if (running()) {
    process_.kill();
    process_.waitForFinished(kStartMs);
  }
}

bool Child::startSim(const QString &address, const QStringList &options) {
  EnsureApp();
  out_.clear();  /* a child started again must not count the old run's lines */
  err_.clear();
  process_.start(QStringLiteral(QUENTA_SIM_PATH), QStringList{"--verbose", "--listen", address} + options);
  if (!process_.waitForStarted(kStartMs)) return false;
  return WaitFor([&] { return output().contains("listening"); }, kStartMs);
}

bool Child::startMonitor(const QStringList &args, qint64 fileSizeLimit) {
  EnsureApp();
  if (fileSizeLimit > 0) {
    process_.setChildProcessModifier([fileSizeLimit] {
      struct rlimit limit;
      getrlimit(RLIMIT_FSIZE, &limit);
      limit.rlim_cur = static_cast<rlim_t>(fileSizeLimit);
      setrlimit(RLIMIT_FSIZE, &limit);
      signal(SIGXFSZ, SIG_IGN);  /* stays ignored across exec: writes fail instead */
    });
  }
  out_.clear();
  err_.clear();
  process_.start(QStringLiteral(QUENTA_MONITOR_PATH), args);
  return process_.waitForStarted(kStartMs);
}

bool Child::control(const QByteArray &line) {
  process_.write(line + '\n');
  return WaitFor([&] { return output().contains("ok " + line); }, kStartMs);
}

int Child::terminate(int ms) {
  process_.terminate();
  if (!WaitFor([&] { return !running(); }, ms)) return -1;
  output();
  errors();
  return process_.exitStatus() == QProcess::NormalExit ? process_.exitCode() : -1;
}

void Child::kill9() {
  ::kill(static_cast<pid_t>(process_.processId()), SIGKILL);
  process_.waitForFinished(kStartMs);
}

QByteArray Child::output() {
  while (process_.waitForReadyRead(0)) {
  }
  out_ += process_.readAllStandardOutput();
  return out_;
}

QByteArray Child::errors() {
  err_ += process_.readAllStandardError();
  return err_;
}

QByteArray HttpGet(const QString &address, quint16 port, const char *path, QByteArray *head, const char *method) {
  EnsureApp();
  QTcpSocket socket;
  socket.connectToHost(address, port);
  if (!socket.waitForConnected(kStartMs)) return QByteArray();
  socket.write(QByteArray(method) + " " + path + " HTTP/1.1\r\nHost: " + address.toLatin1() + "\r\n\r\n");
  QByteArray reply;
  qsizetype body = -1, length = -1;
  while (length < 0 || reply.size() < body + length) {
    if (socket.bytesAvailable() == 0 && !socket.waitForReadyRead(kStartMs)) return QByteArray();
    reply += socket.readAll();
    body = reply.indexOf("\r\n\r\n");
    qsizetype at = reply.toLower().indexOf("content-length:");
    if (body >= 0 && at >= 0 && at < body) {
      body += 4;
      length = reply.mid(at + 15, reply.indexOf("\r\n", at) - at - 15).trimmed().toLongLong();
    }
  }
  if (head) *head = reply.left(body);
  return reply.mid(body, length);
}

double MetricValue(const QByteArray &text, const QByteArray &sample) {
  for (const QByteArray &line : text.split('\n'))
    if (line.startsWith(sample + ' ')) return line.mid(sample.size() + 1).toDouble();
  return std::nan("");
}

ssize_t FaultEnv::pread(int fd, void *buffer, size_t length, off_t offset) {
  if (++reads_ != badRead) return FileEnv::pread(fd, buffer, length, offset);
  if (shortRead) return 0;
  errno = EIO;
  return -1;
}

ssize_t FaultEnv::write(int fd, const void *bytes, size_t length) {
  const int64_t left = room;
  if (left < 0) return FileEnv::write(fd, bytes, length);
  if (left == 0) {
    errno = ENOSPC;
    return -1;
  }
  ssize_t n = FileEnv::write(fd, bytes, std::min(length, static_cast<size_t>(left)));
  if (n > 0) room -= n;
  return n;
}

int FaultEnv::fdatasync(int fd) {
  struct stat st;
  if (::fstat(fd, &st) != 0) return -1;
  std::lock_guard<std::mutex> lock(mutex_);
  const auto file = std::make_pair(st.st_dev, st.st_ino);
  if (syncErrors > 0) {
    syncErrors--;
    auto last = synced_.find(file);
    if (last != synced_.end() && st.st_size > last->second && ::ftruncate(fd, last->second) != 0) return -1;
    errno = EIO;
    return -1;
  }
  if (FileEnv::fdatasync(fd) != 0) return -1;
  synced_[file] = st.st_size;
  return 0;
}
