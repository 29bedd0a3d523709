/*
 * epoll_dispatcher.h -- an event dispatcher for Qt on Linux epoll, so that
 * a loop watching a thousand connected sockets costs in proportion to the
 * sockets that are ready, not to all of them. Qt's own dispatchers ask
 * poll() about every socket at every turn of the loop: with a thousand
 * chambers that turn costs as much as all the polling itself.
 *
 * Install it before the application object is made:
 *   QCoreApplication::setEventDispatcher(new EpollDispatcher);
 * Socket notifiers, timers (all kept to the millisecond), posted events,
 * wakeUp() from other threads and interrupt() behave as in Qt's own.
 */
#ifndef QUENTA_MONITOR_EPOLL_DISPATCHER_H
#define QUENTA_MONITOR_EPOLL_DISPATCHER_H

#include <stdint.h>

#include <QAbstractEventDispatcher>
#include <atomic>
#include <unordered_map>
#include <vector>

namespace monitor {

class EpollDispatcher : public QAbstractEventDispatcher {
 public:
  EpollDispatcher();
  ~EpollDispatcher() override;

  bool processEvents(QEventLoop::ProcessEventsFlags flags) override;
  void registerSocketNotifier(QSocketNotifier *notifier) override;
  void unregisterSocketNotifier(QSocketNotifier *notifier) override;
  void registerTimer(int timerId, qint64 interval, Qt::TimerType timerType, QObject *object) override;
  bool unregisterTimer(int timerId) override;
  bool unregisterTimers(QObject *object) override;
  QList<TimerInfo> registeredTimers(QObject *object) const override;
  int remainingTime(int timerId) override;
  void wakeUp() override;
  void interrupt() override;

 private:
  struct Watch {
    QSocketNotifier *notifier[3] = {nullptr, nullptr, nullptr};  /* Read, Write, Exception */
  };
  struct Timer {
    int id;
    qint64 intervalMs;
    Qt::TimerType type;
    QObject *object;
    int64_t dueNs;
    bool firing;
  };

  void updateWatch(int fd);
  void activate(int fd, int type);
  int fireTimers();
  int msToNextTimer() const;

  int epoll_ = -1;
  int wake_ = -1;  /* eventfd that wakeUp() writes */
  std::atomic<bool> interrupted_{false};
  std::unordered_map<int, Watch> watches_;
  std::vector<Timer> timers_;
};

}  // namespace monitor

#endif
