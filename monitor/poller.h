/*
 * poller.h -- polls many chambers at once on the Qt event loop: one
 * QTcpSocket per chamber, one schedule for all their timers, no thread per
 * chamber and no call that waits. A chamber that is down, slow, silent or
 * talking garbage only ever costs its own polls.
 *
 * Each chamber is polled every interval, the chambers spread evenly over
 * it in steps of 10 ms (PollOffsetNs). A poll writes the commands one
 * after the other on the chamber's connection, each when the previous
 * one's answer has ended (answer_frame.h), and ends in one result per
 * command. Every wait is bounded by the timeout: a connection that does
 * not come, an answer that does not come or does not come whole. After a
 * failure the connection is closed and the next attempt waits 1 s,
 * doubling to at most 60 s, until an answer resets it. Every poll that
 * falls due has its results: polls due while the chamber waits to be
 * connected again or its previous poll is still in flight, and polls the
 * monitor itself was too late for (stopped, starved of the processor), end
 * as "skipped" at their due time, so that the record has no gap.
 *
 * With PollSettings::once the poller polls each chamber once, at once,
 * and stops: the one-shot send is such a run.
 */
#ifndef QUENTA_MONITOR_POLLER_H
#define QUENTA_MONITOR_POLLER_H

#include <QHostAddress>
#include <QObject>
#include <QTcpSocket>
#include <deque>
#include <functional>
#include <memory>
#include <vector>

#include "answer_frame.h"
#include "metrics.h"
#include "options.h"
#include "rows.h"
#include "schedule.h"

namespace monitor {

/* The chambers' polls start in steps of this much, so that those due in
 * one step share a turn of the loop and their rows one sync of the CSV
 * file: with a thousand chambers a second, a hundred syncs, not a thousand. */
constexpr int64_t kPollStepNs = 10000000;

/* The time of chamber i's first poll (of count chambers, polled every
 * everyNs) after the start: i's even share of the interval, rounded down
 * to a step of kPollStepNs. */
int64_t PollOffsetNs(int i, int count, int64_t everyNs);

struct PollSettings {
  QList<QByteArray> commands;
  int everyMs = 5000;
  int timeoutMs = 2000;
  int gapMs = 200;
  bool once = false;  /* one poll per chamber, then stop */
};

/* The answer to one asked command (Poller::ask). */
struct AskAnswer {
  Outcome outcome = kSkipped;
  QByteArray answer;          /* the bytes recorded, any */
  AnswerValues values = {};   /* decoded when outcome is kAnswered */
};
using AskDone = std::function<void(const std::vector<AskAnswer> &)>;

class Poller : public QObject {
 public:
  Poller(const QList<ChamberEntry> &chambers, const PollSettings &settings);
  ~Poller() override;

  /* Called for every result, in the order they end. */
  std::function<void(const CommandResult &)> onResult;
  /* Called when a chamber comes up, or goes down with a reason. */
  std::function<void(int chamber, bool up, const QString &why)> onChange;
  /* Called once, after stop(), when no poll is left in flight. */
  std::function<void()> onStopped;

  /* Starts polling: the first polls fall within the first interval. */
  void start();
  /* Starts no more polls; the ones in flight end as usual. */
  void stop();

  /* Sends commands to chamber i as soon as nothing else is in flight on
   * its connection (between polls, after the asks before it), one after
   * the other as a poll's, and calls done with one answer per command
   * (kSkipped for those not sent after a failure). Their results reach
   * onResult like a poll's. A poll that falls due meanwhile starts when
   * they are done. */
  void ask(int i, const QList<QByteArray> &commands, AskDone done);

  const std::vector<ChamberStats> &stats() const { return stats_; }
  const Histogram &startDelay() const { return startDelay_; }
  const Percentiles &roundTrips() const { return roundTrips_; }
  const Percentiles &startDelays() const { return startDelays_; }
  int chambersUp() const;

 private:
  enum class Link { Down, Connecting, Ready };

  struct Chamber {
    ChamberEntry entry;
    QHostAddress literal;             /* null for a host name */
    QTcpSocket *socket = nullptr;
    Link link = Link::Down;
    int64_t pollDue = 0;              /* monotonic ns */
    int64_t pollStartNs = 0;          /* due time of the poll in flight */
    int64_t pollWallMs = 0;
    QList<QByteArray> batch;          /* the commands of the poll or ask in flight */
    int command = -1;                 /* command in flight, -1 between polls */
    bool asking = false;              /* the batch is an ask */
    std::vector<AskAnswer> answers;   /* of the ask in flight */
    AskDone askDone;
    std::deque<std::pair<QList<QByteArray>, AskDone>> asks;  /* waiting */
    int64_t pendingDue = -1;          /* a poll that fell due during an ask, -1 none */
    int64_t sentWallMs = 0;
    int64_t connectDeadline = 0;
    int64_t nextConnectNs = 0;
    int64_t backoffNs = 0;
    bool tried = false;               /* a connection was attempted before */
    bool answeredOnLink = false;      /* the connection carried an answer already */
    bool reused = false;              /* the command in flight went on such a connection */
    bool written = false;             /* the command in flight was written */
    int known = -1;                   /* -1 not yet, 0 down, 1 up */
    AnswerFrame frame;                /* the answer in flight, and the bytes thrown away */
  };

  void wake(int i, int64_t now);
  void startPoll(int i, int64_t now);
  void startBatch(int i, int64_t due, int64_t now);
  void startAsk(int i, int64_t now);
  void skipMissed(int i, int64_t now);
  void advance(int i, int64_t now);
  void connectChamber(int i, int64_t now);
  void sendCommand(int i);
  void readAnswer(int i);
  void connected(int i);
  void socketFailed(int i);
  void frameEnded(int i, int end);
  void completeAnswer(int i);
  void fail(int i, Outcome outcome, const QString &why, bool closeNow);
  void endPoll(int i);
  void record(int i, int command, Outcome outcome, int64_t wallMs, const QString &why = QString(),
              const AnswerValues *values = nullptr, const QList<QByteArray> *batch = nullptr);
  void setUp(int i, bool up, const QString &why);
  void rearm(int i);
  void checkStopped();
  QString commandText(int i) const;

  PollSettings settings_;
  int64_t everyNs_, timeoutNs_, gapNs_;
  std::vector<std::unique_ptr<Chamber>> chambers_;
  std::vector<ChamberStats> stats_;
  Schedule schedule_;
  Histogram startDelay_;
  Percentiles roundTrips_, startDelays_;
  int inFlight_ = 0;                  /* chambers with a poll in flight */
  bool stopping_ = false;
  bool stopReported_ = false;
};

}  // namespace monitor

#endif
