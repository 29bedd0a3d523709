/*
 * server.cpp -- the chamber's TCP side (see server.h).
 *
 * Framing: commands come without terminator. The bytes of one read are one
 * command, since the program writes each command in one write. A person
 * typing into nc ends lines with LF or CR LF: such a read is cut at every
 * line end into several commands, and each of their answers ends with the
 * same line end, while answers to unterminated commands carry none.
 *
 * Each client has an outbox of timed chunks, so that delayed and split
 * answers still leave in the order of their commands. The clients read the
 * server's faults when they answer, so a change applies at once.
 */
#include "server.h"

#include <QElapsedTimer>
#include <QRandomGenerator>
#include <QTcpSocket>
#include <QTime>
#include <QTimer>
#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <deque>

#include "responder.h"

namespace sim {

namespace {

/* A client that reads no answers is dropped past this backlog. */
constexpr qint64 kMaxUnsentBytes = 1 << 20;
constexpr size_t kMaxQueuedChunks = 4096;
/* One log line, with its NUL. */
constexpr int kLogLineSize = 1024;
/* Longest garbage answer, in bytes. */
constexpr int kMaxGarbageBytes = 600;
/* A listener that ran out of descriptors tries again after this long. */
constexpr int kAcceptRetryMs = 1000;

/* Shows printable ASCII as it is and every other byte as \xNN. */
QByteArray Escaped(const QByteArray &bytes) {
  QByteArray out;
  for (char c : bytes) {
    unsigned char u = static_cast<unsigned char>(c);
    if (u >= 0x20 && u < 0x7F && c != '\\') out.append(c);
    else out.append(QByteArray("\\x") + QByteArray::number(u, 16).rightJustified(2, '0'));
  }
  return out;
}

/* Writes one line to stream, starting with the time of day. */
__attribute__((format(printf, 2, 3)))
void LogLine(FILE *stream, const char *format, ...) {
  char line[kLogLineSize];
  va_list args;
  va_start(args, format);
  vsnprintf(line, sizeof line, format, args);
  va_end(args);
  QByteArray now = QTime::currentTime().toString(QStringLiteral("HH:mm:ss.zzz")).toLatin1();
  fprintf(stream, "%s %s\n", now.constData(), line);
  fflush(stream);
}

/* Random bytes, 2 to kMaxGarbageBytes of them, among them at least one NUL
 * and one byte from 0x80 to 0xFF, at random places. */
QByteArray Garbage() {
  QRandomGenerator *random = QRandomGenerator::global();
  QByteArray bytes(random->bounded(2, kMaxGarbageBytes + 1), '\0');
  for (char &c : bytes) c = static_cast<char>(random->bounded(256));
  qsizetype nul = random->bounded(bytes.size());
  qsizetype high = (nul + 1 + random->bounded(bytes.size() - 1)) % bytes.size();
  bytes[nul] = '\0';
  bytes[high] = static_cast<char>(0x80 + random->bounded(0x80));
  return bytes;
}

struct Chunk {
  QByteArray bytes;
  qint64 dueMs;
  bool endsAnswer;
};

/* One connected client; deletes itself, with its socket, when the
 * connection ends. */
class Client : public QObject {
 public:
  Client(QTcpSocket *socket, Chamber &chamber, const Faults &faults, bool verbose,
         const QByteArray &label, QObject *parent);
  void reset() { socket_->abort(); }

 private:
  void readCommands();
  void handle(const QByteArray &command, const QByteArray &lineEnd);
  void queue(const QByteArray &answer);
  void sendDue();
  void drop(const char *why);

  QTcpSocket *socket_;
  Chamber &chamber_;
  const Faults &faults_;
  bool verbose_;
  QByteArray peer_;
  QElapsedTimer clock_;
  QTimer timer_;
  std::deque<Chunk> outbox_;
};

Client::Client(QTcpSocket *socket, Chamber &chamber, const Faults &faults, bool verbose,
               const QByteArray &label, QObject *parent)
    : QObject(parent), socket_(socket), chamber_(chamber), faults_(faults), verbose_(verbose) {
  socket_->setParent(this);
  socket_->setSocketOption(QAbstractSocket::LowDelayOption, 1);
  peer_ = (socket_->peerAddress().toString() + ':' + QString::number(socket_->peerPort())).toLatin1();
  if (!label.isEmpty()) peer_ = label + ' ' + peer_;
  clock_.start();
  timer_.setSingleShot(true);
  connect(&timer_, &QTimer::timeout, this, [this] { sendDue(); });
  connect(socket_, &QTcpSocket::readyRead, this, [this] { readCommands(); });
  connect(socket_, &QTcpSocket::disconnected, this, [this] {
    if (verbose_) LogLine(stdout, "%s closed", peer_.constData());
    deleteLater();
  });
  if (verbose_) LogLine(stdout, "%s connected", peer_.constData());
}

/* Cuts what arrived at every CR, LF or CR LF; see the framing note above. */
void Client::readCommands() {
  QByteArray data = socket_->readAll();
  qsizetype start = 0;
  while (start < data.size() && socket_->state() == QAbstractSocket::ConnectedState) {
    qsizetype end = start;
    while (end < data.size() && data[end] != '\r' && data[end] != '\n') end++;
    qsizetype after = end;
    if (after < data.size() && data[after] == '\r') after++;
    if (after < data.size() && data[after] == '\n') after++;
    if (end > start) handle(data.mid(start, end - start), data.mid(end, after - end));
    start = after;
  }
}

/* Carries out one command; a command that is unknown or refused gets no
 * answer and one line on standard error. */
void Client::handle(const QByteArray &command, const QByteArray &lineEnd) {
  Reply reply = Respond(chamber_, command);
  if (verbose_) LogLine(stdout, "%s << %s", peer_.constData(), Escaped(command).constData());
  if (reply.kind != Reply::Answered) {
    LogLine(stderr, "quenta-sim: %s: %s \"%s\"", peer_.constData(), reply.reason.constData(),
            Escaped(command).constData());
    return;
  }
  if (faults_.silent) {
    if (verbose_) LogLine(stdout, "%s (silent)", peer_.constData());
    return;
  }
  queue(faults_.garbage ? Garbage() : reply.answer + lineEnd);
}

/* Puts one answer into the outbox: whole, or in two halves when answers
 * are split (an answer of one byte cannot be split). */
void Client::queue(const QByteArray &answer) {
  if (outbox_.size() >= kMaxQueuedChunks) return drop("has too many answers waiting");
  qint64 due = clock_.elapsed() + faults_.delayMs;
  if (faults_.splitAnswers && answer.size() > 1) {
    qsizetype half = answer.size() / 2;
    outbox_.push_back(Chunk{answer.left(half), due, false});
    outbox_.push_back(Chunk{answer.mid(half), due + faults_.splitPauseMs, true});
  } else {
    outbox_.push_back(Chunk{answer, due, true});
  }
  sendDue();
}

/* Writes every chunk whose time has come, in order, and sets the timer for
 * the next one. */
void Client::sendDue() {
  while (!outbox_.empty() && outbox_.front().dueMs <= clock_.elapsed()) {
    Chunk chunk = outbox_.front();
    outbox_.pop_front();
    socket_->write(chunk.bytes);
    socket_->flush();
    if (verbose_) LogLine(stdout, "%s >> %s%s", peer_.constData(), Escaped(chunk.bytes).constData(),
                          chunk.endsAnswer ? "" : " (first part)");
    if (socket_->bytesToWrite() > kMaxUnsentBytes) return drop("does not read its answers");
    if (chunk.endsAnswer && faults_.closeAfterAnswer) {
      outbox_.clear();
      socket_->disconnectFromHost();
      return;
    }
  }
  if (!outbox_.empty()) timer_.start(std::max<qint64>(0, outbox_.front().dueMs - clock_.elapsed()));
}

void Client::drop(const char *why) {
  LogLine(stderr, "quenta-sim: %s %s; dropped", peer_.constData(), why);
  outbox_.clear();
  socket_->abort();
  deleteLater();
}

}  // namespace

Server::Server(Chamber &chamber, const Faults &faults, bool verbose, const QByteArray &label,
               QObject *parent)
    : QObject(parent), chamber_(chamber), faults_(faults), verbose_(verbose), label_(label) {
  connect(&server_, &QTcpServer::newConnection, this, [this] { accept(); });
  connect(&server_, &QTcpServer::acceptError, this, [this] { acceptFailed(); });
}

bool Server::listen(const QHostAddress &address, quint16 port) {
  address_ = address;
  port_ = port;
  if (!server_.listen(address, port)) return false;
  port_ = server_.serverPort();
  return true;
}

void Server::down() {
  server_.close();
  for (QObject *child : children())
    if (Client *client = dynamic_cast<Client *>(child)) client->reset();
}

bool Server::up() {
  return server_.isListening() || server_.listen(address_, port_);
}

void Server::accept() {
  while (QTcpSocket *socket = server_.nextPendingConnection())
    new Client(socket, chamber_, faults_, verbose_, label_, this);
}

/* The listener stops accepting when a connection cannot be taken (most
 * often: no descriptor left); the connection waits in the backlog and the
 * listener tries again a little later instead of never. */
void Server::acceptFailed() {
  LogLine(stderr, "quenta-sim: %s port %u: cannot accept a connection: %s; trying again",
          qPrintable(address_.toString()), port_, qPrintable(server_.errorString()));
  QTimer::singleShot(kAcceptRetryMs, this, [this] {
    if (server_.isListening()) server_.resumeAccepting();
  });
}

}  // namespace sim
