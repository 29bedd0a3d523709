/*
 * epoll_dispatcher.h -- a Qt event dispatcher on Linux epoll, so that one
 * event loop serves thousands of sockets at a cost that grows with the
 * sockets that are ready, not with those that exist.
 *
 * Exports class EpollDispatcher. Qt's own dispatchers hand every socket
 * notifier to poll() on each pass of the loop; with a listener and a client
 * for each of a thousand chambers that alone costs more than the chambers.
 * Install it before the application object exists:
 *
 *     QCoreApplication::setEventDispatcher(new eventloop::EpollDispatcher);
 *
 * Timers are kept to the millisecond whatever their type. A notifier on a
 * descriptor that epoll cannot watch (a regular file) counts as always
 * ready, as poll() would report it.
 */
#ifndef QUENTA_EVENTLOOP_EPOLL_DISPATCHER_H
#define QUENTA_EVENTLOOP_EPOLL_DISPATCHER_H

#include <QAbstractEventDispatcher>
#include <atomic>
#include <set>
#include <unordered_map>
#include <vector>

namespace eventloop {

class EpollDispatcher : public QAbstractEventDispatcher {
 public:
  explicit EpollDispatcher(QObject *parent = nullptr);
  ~EpollDispatcher() override;

  bool processEvents(QEventLoop::ProcessEventsFlags flags) override;
  void registerSocketNotifier(QSocketNotifier *notifier) override;
  void unregisterSocketNotifier(QSocketNotifier *notifier) override;
  void registerTimer(int timerId, qint64 interval, Qt::TimerType timerType,
                     QObject *object) override;
  bool unregisterTimer(int timerId) override;
  bool unregisterTimers(QObject *object) override;
  QList<TimerInfo> registeredTimers(QObject *object) const override;
  int remainingTime(int timerId) override;
  void wakeUp() override;
  void interrupt() override;

 private:
  /* The notifiers of one descriptor, by QSocketNotifier::Type. */
  struct Watch {
    QSocketNotifier *notifier[3] = {};
  };
  struct Timer {
    qint64 intervalMs;
    Qt::TimerType type;
    QObject *object;
    qint64 dueMs;
  };

  int waitMs(bool mayWait) const;
  void watch(int fd, const Watch &w, bool added);
  void collectReady(int timeoutMs);
  int activateNotifiers();
  int activateTimers();

  int epoll_ = -1;
  int wake_ = -1;  /* an eventfd that wakeUp() writes */
  std::atomic<bool> interrupted_{false};
  std::unordered_map<int, Watch> watches_;
  std::set<QSocketNotifier *> alwaysReady_;
  std::vector<QSocketNotifier *> pending_;  /* ready, not yet activated */
  std::unordered_map<int, Timer> timers_;
  std::set<std::pair<qint64, int>> timerQueue_;  /* (due, id) */
};

}  // namespace eventloop

#endif
