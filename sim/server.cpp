/*
 * server.cpp -- the chamber's TCP side (see server.h).
 *
 * Framing: commands come without terminator. The bytes of one read are one
 * command, since the program writes each command in one write. A person
 * typing into nc ends lines with LF or CR LF: such a read is cut at every
 * line end into several commands, and each of their answers ends with the
 * same line end, while answers to unterminated commands carry none.
 *
 * The listener is a plain socket: Qt's server, once its backlog has been
 * empty, takes a lack of descriptors for an empty backlog and tries again
 * at once, for ever, at full load.
 *
 * Each client has an outbox of timed chunks, so that delayed and split
 * answers still leave in the order of their commands. The clients read the
 * server's faults when they answer, so a change applies at once.
 */
#include "server.h"

#include <QElapsedTimer>
#include <QNetworkInterface>
#include <QRandomGenerator>
#include <QTcpSocket>
#include <QTime>
#include <QTimer>
#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cerrno>
#include <cstring>
#include <deque>
#include <optional>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include "responder.h"

namespace sim {

namespace {

/* A client that reads no answers is dropped past this backlog. */
constexpr qint64 kMaxUnsentBytes = 1 << 20;
constexpr size_t kMaxQueuedChunks = 4096;
/* Longest garbage answer, in bytes. */
constexpr int kMaxGarbageBytes = 600;
/* Connections the kernel keeps waiting for accept(), as Qt's server. */
constexpr int kListenBacklog = 50;
/* A listener that ran out of descriptors tries again after this long. */
constexpr int kAcceptRetryMs = 1000;
/* Before any chunk: so long ago that no pause reaches from it. */
constexpr qint64 kLongAgoMs = -(qint64(1) << 40);

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

/* Writes one line to stream, starting with the time of day. The line is
 * never cut, so that a long command or answer can be matched whole. */
__attribute__((format(printf, 2, 3)))
void LogLine(FILE *stream, const char *format, ...) {
  QByteArray now = QTime::currentTime().toString(QStringLiteral("HH:mm:ss.zzz")).toLatin1();
  fprintf(stream, "%s ", now.constData());
  va_list args;
  va_start(args, format);
  vfprintf(stream, format, args);
  va_end(args);
  fputc('\n', stream);
  fflush(stream);
}

/* Fills *where with address and port; returns its length. */
socklen_t SocketAddress(const QHostAddress &address, quint16 port, sockaddr_storage *where) {
  memset(where, 0, sizeof *where);
  if (address.protocol() == QAbstractSocket::IPv6Protocol) {
    sockaddr_in6 *in6 = reinterpret_cast<sockaddr_in6 *>(where);
    in6->sin6_family = AF_INET6;
    in6->sin6_port = htons(port);
    Q_IPV6ADDR bytes = address.toIPv6Address();
    memcpy(&in6->sin6_addr, &bytes, sizeof in6->sin6_addr);
    in6->sin6_scope_id = QNetworkInterface::interfaceIndexFromName(address.scopeId());
    return sizeof *in6;
  }
  sockaddr_in *in = reinterpret_cast<sockaddr_in *>(where);
  in->sin_family = AF_INET;
  in->sin_port = htons(port);
  in->sin_addr.s_addr = htonl(address.toIPv4Address());
  return sizeof *in;
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

/* One connected client; deletes itself, with its socket, when the
 * connection ends. */
class Client : public QObject {
 public:
  Client(QTcpSocket *socket, Chamber &chamber, const Faults &faults, bool verbose,
         const QByteArray &label, QObject *parent);
  void reset();

 private:
  void readCommands();
  void handle(const QByteArray &command, const QByteArray &lineEnd);
  void queue(const QByteArray &body, const QByteArray &lineEnd, char letter);
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
  qint64 lastDueMs_ = kLongAgoMs;  /* when the last chunk queued was due */
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
  /* A chamber that ignores writes answers a setting command as it would,
   * from a copy of itself that is then thrown away. */
  std::optional<Chamber> scratch;
  if (faults_.ignoreWrites && command[0] >= 'a' && command[0] <= 'z') scratch.emplace(chamber_);
  Reply reply = Respond(scratch ? *scratch : chamber_, command);
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
  if (faults_.garbage) queue(Garbage(), QByteArray(), 0);
  else queue(reply.answer, lineEnd, command[0]);
}

/* Puts one answer (body, the line end that mirrors the command's, the
 * command's letter) into the outbox as the faults shape it. */
void Client::queue(const QByteArray &body, const QByteArray &lineEnd, char letter) {
  if (outbox_.size() >= kMaxQueuedChunks) return drop("has too many answers waiting");
  for (Chunk &chunk : ShapeAnswer(body, lineEnd, letter, faults_,
                                  clock_.elapsed() + faults_.delayMs, lastDueMs_))
    outbox_.push_back(std::move(chunk));
  lastDueMs_ = outbox_.back().dueMs;
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
                          chunk.endsAnswer ? "" : " (part)");
    if (chunk.resets) return reset();
    if (socket_->bytesToWrite() > kMaxUnsentBytes) return drop("does not read its answers");
    if (chunk.endsAnswer && faults_.closeAfterAnswer) {
      outbox_.clear();
      socket_->disconnectFromHost();
      return;
    }
  }
  if (!outbox_.empty()) timer_.start(std::max<qint64>(0, outbox_.front().dueMs - clock_.elapsed()));
}

/* Resets the connection: with a linger time of 0 the close sends RST and
 * drops what the kernel has not sent yet. */
void Client::reset() {
  linger now = {1, 0};
  setsockopt(static_cast<int>(socket_->socketDescriptor()), SOL_SOCKET, SO_LINGER, &now, sizeof now);
  if (verbose_) LogLine(stdout, "%s reset", peer_.constData());
  outbox_.clear();
  socket_->abort();
  deleteLater();
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
  retry_.setSingleShot(true);
  connect(&retry_, &QTimer::timeout, this, [this] {
    if (incoming_) incoming_->setEnabled(true);
  });
}

Server::~Server() { closeListener(); }

bool Server::listen(const QHostAddress &address, quint16 port) {
  address_ = address;
  port_ = port;
  return up();
}

/* Binds address_ and port_ as Qt's server would (address reuse, a backlog
 * of 50, IPv6 only on an IPv6 address) and watches for connections. */
bool Server::up() {
  if (listener_ >= 0) return true;
  sockaddr_storage where;
  socklen_t size = SocketAddress(address_, port_, &where);
  int on = 1;
  int fd = socket(where.ss_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd < 0 || setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) != 0 ||
      (where.ss_family == AF_INET6 &&
       setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &on, sizeof on) != 0) ||
      bind(fd, reinterpret_cast<sockaddr *>(&where), size) != 0 ||
      ::listen(fd, kListenBacklog) != 0 ||
      getsockname(fd, reinterpret_cast<sockaddr *>(&where), &size) != 0) {
    error_ = QString::fromLocal8Bit(strerror(errno));
    if (fd >= 0) close(fd);
    return false;
  }
  port_ = ntohs(reinterpret_cast<sockaddr_in *>(&where)->sin_port);  /* same place in IPv6 */
  listener_ = fd;
  incoming_ = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Read);
  connect(incoming_.get(), &QSocketNotifier::activated, this, [this] { accept(); });
  return true;
}

void Server::closeListener() {
  retry_.stop();
  incoming_.reset();
  if (listener_ >= 0) close(listener_);
  listener_ = -1;
}

void Server::down() {
  closeListener();
  for (QObject *child : children())
    if (Client *client = dynamic_cast<Client *>(child)) client->reset();
}

/* Takes every waiting connection. */
void Server::accept() {
  for (;;) {
    int fd = accept4(listener_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (fd < 0 && (errno == EINTR || errno == ECONNABORTED)) continue;
    if (fd < 0) {
      if (errno != EAGAIN && errno != EWOULDBLOCK) acceptFailed(errno);
      return;
    }
    QTcpSocket *socket = new QTcpSocket;
    if (socket->setSocketDescriptor(fd)) {
      new Client(socket, chamber_, faults_, verbose_, label_, this);
    } else {
      close(fd);
      delete socket;
    }
  }
}

/* A connection that cannot be taken (most often: no descriptor left) waits
 * in the backlog; the listener rests a little and tries again, instead of
 * trying at once for ever. */
void Server::acceptFailed(int error) {
  LogLine(stderr, "quenta-sim: %s port %u: cannot accept a connection: %s; trying again",
          qPrintable(address_.toString()), port_, strerror(error));
  incoming_->setEnabled(false);
  retry_.start(kAcceptRetryMs);
}

}  // namespace sim
