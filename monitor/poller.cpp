/*
 * poller.cpp -- the chambers' connections and polls on the event loop (see
 * poller.h).
 *
 * Each chamber's connection is Down, Connecting or Ready; on a Ready one
 * the answer frame (answer_frame.h) says whether an answer is awaited, the
 * tail of an overlong one is being thrown away, or nothing is asked. A
 * poll walks its commands with advance(), which writes the next one once
 * the connection is ready and the frame idle. Every event of a chamber (its
 * wake-up time, or a signal of its socket) ends in rearm(), which asks the
 * schedule for the next time that matters to it. Sockets are only ever
 * aborted or reconnected from a wake-up, never from inside one of their
 * own signals.
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
constexpr qint64 kReadChunk = 4096;

QString Seconds(int64_t ns) { return QString::number(static_cast<double>(ns) / 1e9); }

/* The wall-clock time (ms since 1970) of the monotonic time atNs, nowNs
 * being the monotonic time now. */
int64_t WallAt(int64_t atNs, int64_t nowNs) { return WallMs() - (nowNs - atNs) / kNsPerMs; }

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
    FrameInit(&c->frame, gapNs_, timeoutNs_);
    c->socket = new QTcpSocket(this);
    c->socket->setReadBufferSize(kSocketBufferBytes);
    connect(c->socket, &QTcpSocket::connected, this, [this, i] { connected(i); });
    connect(c->socket, &QTcpSocket::readyRead, this, [this, i] { readAnswer(i); });
    connect(c->socket, &QTcpSocket::errorOccurred, this, [this, i] { socketFailed(i); });
    connect(c->socket, &QTcpSocket::disconnected, this, [this, i] { socketFailed(i); });
    stats_[static_cast<size_t>(i)].name = c->entry.name.toUtf8();
    stats_[static_cast<size_t>(i)].address = c->entry.address().toUtf8();
    stats_[static_cast<size_t>(i)].sinceMs = WallMs();
    chambers_.push_back(std::move(c));
  }
}

Poller::~Poller() = default;

void Poller::start() {
  int64_t now = NowNs();
  int count = static_cast<int>(chambers_.size());
  for (int i = 0; i < count; i++) {
    chambers_[static_cast<size_t>(i)]->pollDue = now + PollOffsetNs(i, count, everyNs_);
    if (settings_.once) startPoll(i, now);
    rearm(i);
  }
  if (settings_.once) stop();
}

void Poller::stop() {
  stopping_ = true;
  checkStopped();
}

int Poller::chambersUp() const {
  return static_cast<int>(std::count_if(stats_.begin(), stats_.end(),
                                        [](const ChamberStats &s) { return s.up; }));
}

QString Poller::commandText(int i) const {
  const Chamber &c = *chambers_[static_cast<size_t>(i)];
  return QString::fromLatin1(c.batch[c.command]);
}

void Poller::ask(int i, const QList<QByteArray> &commands, AskDone done) {
  Chamber &c = *chambers_[static_cast<size_t>(i)];
  c.asks.emplace_back(commands, std::move(done));
  if (c.command < 0) schedule_.wake(i, NowNs());
}

/* The chamber's time has come: a deadline, the end of an answer's quiet
 * gap or of a drain, a connection attempt within a poll, or the next poll. */
void Poller::wake(int i, int64_t now) {
  Chamber &c = *chambers_[static_cast<size_t>(i)];
  if (c.link == Link::Connecting && now >= c.connectDeadline) {
    fail(i, kTimeout, "no connection within " + Seconds(timeoutNs_) + " s", true);
  } else if (c.link == Link::Ready) {
    frameEnded(i, FrameWake(&c.frame, now));
  }
  if (c.command >= 0) advance(i, now);
  if (!stopping_ && now >= c.pollDue) startPoll(i, now);
  if (c.command < 0 && !c.asks.empty()) startAsk(i, now);
  rearm(i);
}

/* Begins the poll that is due, after the results of any poll due before
 * it that the loop came too late for; records it skipped where the
 * chamber is busy or waits to be connected again. */
void Poller::startPoll(int i, int64_t now) {
  Chamber &c = *chambers_[static_cast<size_t>(i)];
  skipMissed(i, now);
  int64_t due = std::min(c.pollDue, now);
  c.pollDue = settings_.once ? kNever : due + everyNs_;
  int64_t wallMs = WallAt(due, now);
  bool down = c.link == Link::Down && now < c.nextConnectNs;
  if (c.command >= 0 && c.asking && c.pendingDue < 0) {
    c.pendingDue = due;  /* after the ask in flight */
    return;
  }
  if (c.command >= 0 || down) {
    for (int k = 0; k < settings_.commands.size(); k++) record(i, k, kSkipped, wallMs, QString(), nullptr, &settings_.commands);
    return;
  }
  startBatch(i, due, now);
}

/* Starts the poll due at due (monotonic ns) on the chamber's connection. */
void Poller::startBatch(int i, int64_t due, int64_t now) {
  Chamber &c = *chambers_[static_cast<size_t>(i)];
  startDelay_.add(static_cast<double>(now - due) / 1e9);
  startDelays_.add(now - due);
  c.pollWallMs = WallAt(due, now);
  c.pollStartNs = due;
  c.batch = settings_.commands;
  c.asking = false;
  c.command = 0;
  inFlight_++;
  advance(i, now);
}

/* Starts the first ask waiting, as a poll of its own commands. */
void Poller::startAsk(int i, int64_t now) {
  Chamber &c = *chambers_[static_cast<size_t>(i)];
  c.batch = c.asks.front().first;
  c.askDone = std::move(c.asks.front().second);
  c.asks.pop_front();
  c.answers.assign(static_cast<size_t>(c.batch.size()), AskAnswer());
  c.pollWallMs = WallMs();
  c.pollStartNs = now;
  c.asking = true;
  c.command = 0;
  inFlight_++;
  advance(i, now);
}

/* Records as skipped, at its due time, every poll that fell due before the
 * latest one due at now: the loop did not run in time for them. */
void Poller::skipMissed(int i, int64_t now) {
  Chamber &c = *chambers_[static_cast<size_t>(i)];
  if (settings_.once) return;
  while (c.pollDue + everyNs_ <= now) {
    int64_t wallMs = WallAt(c.pollDue, now);
    for (int k = 0; k < settings_.commands.size(); k++) record(i, k, kSkipped, wallMs, QString(), nullptr, &settings_.commands);
    c.pollDue += everyNs_;
  }
}

/* Moves the poll in flight on: connects when there is no connection and
 * the wait before the next attempt is over, writes the next command when
 * the connection is ready and nothing is awaited on it. */
void Poller::advance(int i, int64_t now) {
  Chamber &c = *chambers_[static_cast<size_t>(i)];
  if (c.command < 0) return;
  if (c.link == Link::Down && now >= c.nextConnectNs) connectChamber(i, now);
  else if (c.link == Link::Ready && c.frame.state == FRAME_IDLE) sendCommand(i);
}

void Poller::connectChamber(int i, int64_t now) {
  Chamber &c = *chambers_[static_cast<size_t>(i)];
  ChamberStats &s = stats_[static_cast<size_t>(i)];
  c.socket->abort();
  FrameClose(&c.frame);
  c.link = Link::Connecting;
  c.connectDeadline = now + timeoutNs_;
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
  advance(i, NowNs());
  rearm(i);
}

/* Writes the poll's current command. Whatever came while nothing was
 * asked was thrown away as it came (readAnswer). */
void Poller::sendCommand(int i) {
  Chamber &c = *chambers_[static_cast<size_t>(i)];
  const QByteArray &command = c.batch[c.command];
  c.reused = c.answeredOnLink;
  c.written = true;
  c.sentWallMs = WallMs();
  FrameBegin(&c.frame, command.constData(), static_cast<size_t>(command.size()), NowNs());
  stats_[static_cast<size_t>(i)].commands++;
  c.socket->write(command);
  c.socket->flush();
}

/* Feeds everything that arrived to the frame, then acts on the end of the
 * answer if the bytes brought it. Reading all of it first means that bytes
 * behind a complete answer are thrown away before the next command is
 * written, never taken for its answer. */
void Poller::readAnswer(int i) {
  Chamber &c = *chambers_[static_cast<size_t>(i)];
  char chunk[kReadChunk];
  int end = FRAME_OPEN;
  qint64 n;
  while ((n = c.socket->read(chunk, sizeof chunk)) > 0) {
    int fed = FrameFeed(&c.frame, chunk, static_cast<size_t>(n), NowNs());
    if (fed != FRAME_OPEN) end = fed;
  }
  stats_[static_cast<size_t>(i)].discardedBytes = c.frame.discarded;
  if (end != FRAME_OPEN) {
    frameEnded(i, end);
    if (c.socket->state() == QAbstractSocket::ConnectedState) advance(i, NowNs());
  }
  rearm(i);
}

/* The socket reported an error or the end of the connection. */
void Poller::socketFailed(int i) {
  Chamber &c = *chambers_[static_cast<size_t>(i)];
  if (c.link == Link::Down) return;
  if (c.link == Link::Connecting) {
    fail(i, c.socket->error() == QAbstractSocket::SocketTimeoutError ? kTimeout : kRefused,
         c.socket->errorString(), false);
    rearm(i);
    return;
  }
  if (c.socket->bytesAvailable() > 0) readAnswer(i);
  if (c.link != Link::Ready) return;
  c.link = Link::Down;  /* the next command connects again */
  int end = FrameClose(&c.frame);
  if (end == FRAME_CLOSED && c.frame.length == 0 && c.reused) {
    /* A chamber that closes after each answer may have closed this
     * connection before the command reached it: send it once more on a
     * new one, at once. */
    c.nextConnectNs = 0;
    c.written = false;
    stats_[static_cast<size_t>(i)].commands--;
  } else {
    frameEnded(i, end);
  }
  rearm(i);
}

/* Acts on how the frame ended (answer_frame.h). */
void Poller::frameEnded(int i, int end) {
  Chamber &c = *chambers_[static_cast<size_t>(i)];
  const QString command = c.command >= 0 ? commandText(i) : QString();
  switch (end) {
    case FRAME_ANSWER:
      completeAnswer(i);
      break;
    case FRAME_INCOMPLETE:
      fail(i, kIncomplete, "only " + QString::number(c.frame.length) + " bytes of the answer to \"" +
                               command + "\" within " + Seconds(timeoutNs_) + " s", true);
      break;
    case FRAME_TIMEOUT:
      fail(i, kTimeout, "no answer to \"" + command + "\" within " + Seconds(timeoutNs_) + " s", true);
      break;
    case FRAME_CLOSED:
      fail(i, kClosed, c.frame.length > 0 ? "the chamber closed the connection in the middle of an answer"
                                          : "the chamber closed the connection before answering", false);
      break;
    case FRAME_FLOOD:
      c.socket->abort();  /* it does not stop sending: the next command connects again */
      c.link = Link::Down;
      c.nextConnectNs = 0;
      break;
    default:
      break;
  }
}

/* Records the answer that ended whole, keeps its values if it is one to
 * the command, and goes on with the poll's next command. */
void Poller::completeAnswer(int i) {
  Chamber &c = *chambers_[static_cast<size_t>(i)];
  ChamberStats &s = stats_[static_cast<size_t>(i)];
  const QByteArray &command = c.batch[c.command];
  const AnswerFrame &f = c.frame;
  const size_t commandLength = static_cast<size_t>(command.size());
  bool valid = AnswerFits(command.constData(), commandLength, f.bytes, f.length) != 0;
  int64_t roundTrip = f.lastByteNs - f.sentNs;
  AnswerValues values;
  if (valid) {
    DecodeAnswerBody(command.constData(), commandLength, f.bytes, f.length, &values);
    s.answers++;
    s.roundTrip.add(static_cast<double>(roundTrip) / 1e9);
    s.lastAnswerNs = f.lastByteNs;
    s.keep(values);
    roundTrips_.add(roundTrip);
    c.backoffNs = kBackoffFirstNs;
    c.nextConnectNs = 0;
  } else {
    s.invalid++;
  }
  c.answeredOnLink = true;
  QString why = valid ? QString() : "the answer to \"" + commandText(i) + "\" is not one to it";
  record(i, c.command, valid ? kAnswered : kInvalid, c.sentWallMs, why, valid ? &values : nullptr);
  setUp(i, valid, why);
  c.written = false;
  if (++c.command >= c.batch.size()) endPoll(i);
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
  else if (outcome == kIncomplete) s.incomplete++;
  int64_t wallMs = c.written ? c.sentWallMs : c.pollWallMs;
  record(i, c.command, outcome, wallMs, why);
  for (int k = c.command + 1; k < c.batch.size(); k++) record(i, k, kSkipped, wallMs);
  c.link = Link::Down;
  if (closeNow) c.socket->abort();
  FrameClose(&c.frame);
  c.nextConnectNs = c.pollStartNs + c.backoffNs;  /* on the polls' grid, so that a poll falls on it */
  c.backoffNs = std::min(c.backoffNs * 2, kBackoffMaxNs);
  c.written = false;
  setUp(i, false, why);
  endPoll(i);
}

/* The poll or ask in flight has a result for each of its commands: hands
 * an ask its answers, and starts a poll that fell due meanwhile. */
void Poller::endPoll(int i) {
  Chamber &c = *chambers_[static_cast<size_t>(i)];
  c.command = -1;
  inFlight_--;
  if (c.asking) {
    c.asking = false;
    AskDone done = std::move(c.askDone);
    std::vector<AskAnswer> answers = std::move(c.answers);
    if (done) done(answers);
  }
  int64_t now = NowNs();
  if (c.pendingDue >= 0 && !stopping_) startBatch(i, c.pendingDue, now);
  c.pendingDue = -1;
  if (c.command < 0 && !c.asks.empty()) schedule_.wake(i, now);
  checkStopped();
}

/* Hands the result of command of chamber i to onResult; the answer is
 * the frame's where the outcome has one. */
void Poller::record(int i, int command, Outcome outcome, int64_t wallMs, const QString &why,
                    const AnswerValues *values, const QList<QByteArray> *batch) {
  ChamberStats &s = stats_[static_cast<size_t>(i)];
  Chamber &c = *chambers_[static_cast<size_t>(i)];
  const bool inFlight = batch == nullptr;
  const QByteArray &bytes = inFlight ? c.batch[command] : (*batch)[command];
  const bool hasBytes = outcome == kAnswered || outcome == kInvalid || outcome == kIncomplete || outcome == kClosed;
  if (outcome == kSkipped) s.skipped++;
  if (inFlight && c.asking) {
    AskAnswer &a = c.answers[static_cast<size_t>(command)];
    a.outcome = outcome;
    if (hasBytes) a.answer = QByteArray(c.frame.bytes, static_cast<qsizetype>(c.frame.length));
    if (values) a.values = *values;
  }
  if (!onResult) return;
  const QByteArray reason = why.toUtf8();
  CommandResult r;
  r.wallMs = wallMs;
  r.chamber = s.name.constData();
  r.address = s.address.constData();
  r.command = bytes.constData();
  r.commandLength = static_cast<size_t>(bytes.size());
  r.outcome = outcome;
  r.reason = reason.constData();
  r.sent = inFlight && outcome != kSkipped && command == c.command && c.written;
  if (hasBytes) {
    r.answer = c.frame.bytes;
    r.answerLength = c.frame.length;
  }
  if (outcome == kAnswered || outcome == kInvalid) r.roundTripNs = c.frame.lastByteNs - c.frame.sentNs;
  r.values = values;
  r.chamberIndex = i;
  onResult(r);
}

void Poller::setUp(int i, bool up, const QString &why) {
  Chamber &c = *chambers_[static_cast<size_t>(i)];
  ChamberStats &s = stats_[static_cast<size_t>(i)];
  if (s.up != up) s.sinceMs = WallMs();
  s.up = up;
  if (c.known == (up ? 1 : 0)) return;
  c.known = up ? 1 : 0;
  if (onChange) onChange(i, up, why);
}

/* Asks the schedule for the next time that matters to chamber i. */
void Poller::rearm(int i) {
  const Chamber &c = *chambers_[static_cast<size_t>(i)];
  int64_t next = stopping_ ? kNever : c.pollDue;
  if (c.link == Link::Connecting) next = std::min(next, c.connectDeadline);
  if (c.link == Link::Ready) next = std::min(next, FrameWakeAt(&c.frame));
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
