/*
 * poller.cpp -- the chambers' connections and polls on the event loop (see
 * poller.h).
 *
 * Each chamber moves between four links: Down (no connection), Connecting,
 * Ready (connected, nothing asked) and Waiting (a command written, its
 * answer not yet complete). Every event of a chamber (its wake-up time,
 * or a signal of its socket) ends in rearm(), which asks the schedule for
 * the next time that matters to it. Sockets are only ever aborted or
 * reconnected from a wake-up, never from inside one of their own signals.
 */
#include "poller.h"

#include <QTimer>
#include <algorithm>
#include <limits>

namespace monitor {

namespace {

constexpr int64_t kBackoffFirstNs = 1000 * kNsPerMs;
constexpr int64_t kBackoffMaxNs = 60000 * kNsPerMs;
constexpr int64_t kNever = std::numeric_limits<int64_t>::max();
constexpr qint64 kSocketBufferBytes = 8192;  /* Qt's read buffer per chamber */

QString Seconds(int64_t ns) { return QString::number(static_cast<double>(ns) / 1e9); }

}  // namespace

int64_t PollOffsetNs(int i, int count, int64_t everyNs) {
  int64_t even = everyNs * i / count;
  return even - even % kPollStepNs;
}

Poller::Poller(const QList<ChamberEntry> &chambers, const PollSettings &settings)
    : settings_(settings),
      everyNs_(settings.everyMs * kNsPerMs),
      timeoutNs_(settings.timeoutMs * kNsPerMs),
      gapNs_(settings.gapMs * kNsPerMs),
      stats_(static_cast<size_t>(chambers.size())),
      schedule_(static_cast<int>(chambers.size()), [this](int i, int64_t now) { wake(i, now); }) {
  for (int i = 0; i < chambers.size(); i++) {
    auto c = std::make_unique<Chamber>();
    c->entry = chambers[i];
    c->literal.setAddress(c->entry.host);
    c->backoffNs = kBackoffFirstNs;
    c->socket = new QTcpSocket(this);
    c->socket->setReadBufferSize(kSocketBufferBytes);
    connect(c->socket, &QTcpSocket::connected, this, [this, i] { connected(i); });
    connect(c->socket, &QTcpSocket::readyRead, this, [this, i] { readAnswer(i); });
    connect(c->socket, &QTcpSocket::errorOccurred, this, [this, i] { socketFailed(i); });
    connect(c->socket, &QTcpSocket::disconnected, this, [this, i] { socketFailed(i); });
    stats_[static_cast<size_t>(i)].name = c->entry.name.toUtf8();
    stats_[static_cast<size_t>(i)].address = c->entry.address().toUtf8();
    chambers_.push_back(std::move(c));
  }
}

Poller::~Poller() = default;

void Poller::start() {
  int64_t now = NowNs();
  for (size_t i = 0; i < chambers_.size(); i++) {
    chambers_[i]->pollDue = now + PollOffsetNs(static_cast<int>(i), static_cast<int>(chambers_.size()), everyNs_);
    rearm(static_cast<int>(i));
  }
}

void Poller::stop() {
  stopping_ = true;
  checkStopped();
}

int Poller::chambersUp() const {
  return static_cast<int>(std::count_if(stats_.begin(), stats_.end(),
                                        [](const ChamberStats &s) { return s.up; }));
}

/* The chamber's time has come: a deadline, the end of an answer's quiet
 * gap, a connection attempt within a poll, or the next poll. */
void Poller::wake(int i, int64_t now) {
  Chamber &c = *chambers_[static_cast<size_t>(i)];
  if (c.link == Link::Connecting && now >= c.deadline) {
    fail(i, kTimeout, "no connection within " + Seconds(timeoutNs_) + " s", true);
  } else if (c.link == Link::Waiting && c.length > 0 &&
             (now >= c.lastByteNs + gapNs_ || now >= c.deadline)) {
    completeAnswer(i);
  } else if (c.link == Link::Waiting && now >= c.deadline) {
    QString command = QString::fromLatin1(settings_.commands[c.command]);
    fail(i, kTimeout, "no answer to \"" + command + "\" within " + Seconds(timeoutNs_) + " s", true);
  } else if (c.command >= 0 && c.link == Link::Down && now >= c.nextConnectNs) {
    connectChamber(i, now);
  }
  if (!stopping_ && now >= c.pollDue) startPoll(i, now);
  rearm(i);
}

/* Begins the poll that is due: sends, connects, or records it skipped. */
void Poller::startPoll(int i, int64_t now) {
  Chamber &c = *chambers_[static_cast<size_t>(i)];
  int64_t due = c.pollDue;
  do c.pollDue += everyNs_;
  while (c.pollDue <= now);
  int64_t wallMs = WallMs();
  bool down = c.link == Link::Down && now < c.nextConnectNs;
  if (c.command >= 0 || down) {
    for (int k = 0; k < settings_.commands.size(); k++) record(i, k, kSkipped, wallMs, -1, nullptr);
    return;
  }
  startDelay_.add(static_cast<double>(now - due) / 1e9);
  startDelays_.add(now - due);
  c.pollWallMs = wallMs;
  c.pollStartNs = due;
  c.command = 0;
  inFlight_++;
  if (c.link == Link::Ready) sendCommand(i);
  else connectChamber(i, now);
}

void Poller::connectChamber(int i, int64_t now) {
  Chamber &c = *chambers_[static_cast<size_t>(i)];
  ChamberStats &s = stats_[static_cast<size_t>(i)];
  c.socket->abort();
  c.link = Link::Connecting;
  c.deadline = now + timeoutNs_;
  if (c.tried) s.reconnects++;
  c.tried = true;
  c.answeredOnLink = false;
  if (c.literal.isNull()) c.socket->connectToHost(c.entry.host, c.entry.port);
  else c.socket->connectToHost(c.literal, c.entry.port);
}

void Poller::connected(int i) {
  Chamber &c = *chambers_[static_cast<size_t>(i)];
  if (c.link != Link::Connecting) return;
  c.socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
  c.link = Link::Ready;
  sendCommand(i);
  rearm(i);
}

/* Writes the poll's current command. Whatever came while nothing was
 * asked was thrown away as it came (readAnswer). */
void Poller::sendCommand(int i) {
  Chamber &c = *chambers_[static_cast<size_t>(i)];
  const QByteArray &command = settings_.commands[c.command];
  c.length = 0;
  c.link = Link::Waiting;
  c.reused = c.answeredOnLink;
  c.sentNs = NowNs();
  c.sentWallMs = WallMs();
  c.deadline = c.sentNs + timeoutNs_;
  stats_[static_cast<size_t>(i)].commands++;
  c.socket->write(command);
  c.socket->flush();
}

/* Takes what arrived into the answer, or throws it away when nothing was
 * asked; completes the answer when its length says it is whole. */
void Poller::readAnswer(int i) {
  Chamber &c = *chambers_[static_cast<size_t>(i)];
  if (c.link != Link::Waiting) {
    c.socket->skip(c.socket->bytesAvailable());
    return;
  }
  qint64 n = c.socket->read(c.answer + c.length, static_cast<qint64>(kAnswerMax - c.length));
  if (n > 0 && c.length == 0) n = static_cast<qint64>(DropLineEnds(c.answer, static_cast<size_t>(n)));
  if (n > 0) {
    c.length += static_cast<size_t>(n);
    c.lastByteNs = NowNs();
  }
  const QByteArray &command = settings_.commands[c.command];
  if (AnswerComplete(command.constData(), static_cast<size_t>(command.size()), c.answer, c.length))
    completeAnswer(i);
  rearm(i);
}

/* The socket reported an error or the end of the connection. */
void Poller::socketFailed(int i) {
  Chamber &c = *chambers_[static_cast<size_t>(i)];
  switch (c.link) {
    case Link::Down:
      return;
    case Link::Connecting:
      fail(i, c.socket->error() == QAbstractSocket::SocketTimeoutError ? kTimeout : kRefused,
           c.socket->errorString(), false);
      break;
    case Link::Ready:
      c.link = Link::Down;  /* closed between commands: the next poll connects again */
      break;
    case Link::Waiting:
      if (c.socket->bytesAvailable() > 0) {
        readAnswer(i);
        if (c.link != Link::Waiting) break;
      }
      if (c.length > 0) {
        c.link = Link::Down;  /* the close ends the answer */
        completeAnswer(i);
      } else if (c.reused) {
        /* A chamber that closes after each answer may have closed this
         * connection before the command reached it: send it once more on
         * a new one, at once. */
        c.link = Link::Down;
        c.nextConnectNs = 0;
      } else {
        fail(i, kClosed, "the chamber closed the connection before answering", false);
      }
      break;
  }
  rearm(i);
}

/* Records the complete answer, keeps its values, and goes on with the
 * poll's next command. */
void Poller::completeAnswer(int i) {
  Chamber &c = *chambers_[static_cast<size_t>(i)];
  ChamberStats &s = stats_[static_cast<size_t>(i)];
  const QByteArray &command = settings_.commands[c.command];
  c.answer[c.length] = 0;
  bool valid = c.answer[0] == command[0];
  int64_t roundTrip = c.lastByteNs - c.sentNs;
  AnswerValues values;
  if (valid) {
    DecodeAnswerBody(command.constData(), static_cast<size_t>(command.size()), c.answer, c.length, &values);
    s.answers++;
    s.roundTrip.add(static_cast<double>(roundTrip) / 1e9);
    s.lastAnswerNs = c.lastByteNs;
    s.keep(values);
    roundTrips_.add(roundTrip);
    c.backoffNs = kBackoffFirstNs;
    c.nextConnectNs = 0;
  } else {
    s.invalid++;
  }
  if (c.link == Link::Waiting) c.link = Link::Ready;
  c.answeredOnLink = true;
  record(i, c.command, valid ? kAnswered : kInvalid, c.sentWallMs, roundTrip, valid ? &values : nullptr);
  setUp(i, valid, valid ? QString() : "the answer to \"" + QString::fromLatin1(command) +
                                          "\" does not begin with its letter");
  nextCommand(i);
}

/* Ends the command in flight with outcome, skips the rest of the poll,
 * closes the connection (at once when closeNow, else at the next attempt)
 * and doubles the wait before that attempt. */
void Poller::fail(int i, Outcome outcome, const QString &why, bool closeNow) {
  Chamber &c = *chambers_[static_cast<size_t>(i)];
  ChamberStats &s = stats_[static_cast<size_t>(i)];
  if (outcome == kTimeout) s.timeouts++;
  else if (outcome == kRefused) s.refusals++;
  else if (outcome == kClosed) s.closes++;
  int64_t wallMs = c.link == Link::Waiting ? c.sentWallMs : c.pollWallMs;
  c.length = 0;
  record(i, c.command, outcome, wallMs, -1, nullptr);
  for (int k = c.command + 1; k < settings_.commands.size(); k++) record(i, k, kSkipped, wallMs, -1, nullptr);
  c.link = Link::Down;
  if (closeNow) c.socket->abort();
  c.nextConnectNs = c.pollStartNs + c.backoffNs;  /* on the polls' grid, so that a poll falls on it */
  c.backoffNs = std::min(c.backoffNs * 2, kBackoffMaxNs);
  c.command = -1;
  inFlight_--;
  setUp(i, false, why);
  checkStopped();
}

/* Sends the poll's next command, or waits for a connection to send it on
 * (the chamber closed after its answer), or ends the poll. */
void Poller::nextCommand(int i) {
  Chamber &c = *chambers_[static_cast<size_t>(i)];
  c.command++;
  if (c.command >= settings_.commands.size()) {
    c.command = -1;
    inFlight_--;
    checkStopped();
  } else if (c.link == Link::Ready) {
    sendCommand(i);
  }
}

void Poller::record(int i, int command, Outcome outcome, int64_t wallMs, int64_t roundTripNs,
                    const AnswerValues *values) {
  if (!onResult) return;
  const Chamber &c = *chambers_[static_cast<size_t>(i)];
  const ChamberStats &s = stats_[static_cast<size_t>(i)];
  const QByteArray &bytes = settings_.commands[command];
  CommandResult r;
  r.wallMs = wallMs;
  r.chamber = s.name.constData();
  r.address = s.address.constData();
  r.command = bytes.constData();
  r.commandLength = static_cast<size_t>(bytes.size());
  r.outcome = outcome;
  r.roundTripNs = roundTripNs;
  if (outcome == kAnswered || outcome == kInvalid) {
    r.answer = c.answer;
    r.answerLength = c.length;
  }
  r.values = values;
  onResult(r);
}

void Poller::setUp(int i, bool up, const QString &why) {
  Chamber &c = *chambers_[static_cast<size_t>(i)];
  stats_[static_cast<size_t>(i)].up = up;
  if (c.known == (up ? 1 : 0)) return;
  c.known = up ? 1 : 0;
  if (onChange) onChange(i, up, why);
}

/* Asks the schedule for the next time that matters to chamber i. */
void Poller::rearm(int i) {
  const Chamber &c = *chambers_[static_cast<size_t>(i)];
  int64_t next = stopping_ ? kNever : c.pollDue;
  if (c.link == Link::Connecting || c.link == Link::Waiting) next = std::min(next, c.deadline);
  if (c.link == Link::Waiting && c.length > 0) next = std::min(next, c.lastByteNs + gapNs_);
  if (c.command >= 0 && c.link == Link::Down) next = std::min(next, c.nextConnectNs);
  if (next != kNever) schedule_.wake(i, next);
}

void Poller::checkStopped() {
  if (!stopping_ || inFlight_ > 0 || stopReported_) return;
  stopReported_ = true;
  QTimer::singleShot(0, this, [this] {
    if (onStopped) onStopped();
  });
}

}  // namespace monitor
