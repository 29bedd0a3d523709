/*
 * epoll_dispatcher.cpp -- a Qt event dispatcher on Linux epoll (see
 * epoll_dispatcher.h).
 *
 * One pass of processEvents(): deliver the posted events, wait in
 * epoll_wait() until a descriptor is ready, the next timer is due or
 * wakeUp() writes the eventfd, then activate the ready notifiers and the
 * due timers. Epoll runs level-triggered, so a notifier that is not
 * activated in one pass (excluded, or unregistered and registered again)
 * is reported again in the next, as with poll().
 */
#include "epoll_dispatcher.h"

#include <QCoreApplication>
#include <QSocketNotifier>
#include <QTimerEvent>
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdint>
#include <poll.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <unistd.h>

namespace eventloop {

namespace {

/* Ready descriptors taken from the kernel in one pass; more wait for the
 * next pass. */
constexpr int kMaxEvents = 256;

qint64 NowMs() {
  using namespace std::chrono;
  return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

/* The epoll events that wake each kind of notifier, as poll() reports
 * them to Qt's own dispatcher. */
constexpr uint32_t kWakes[3] = {
    EPOLLIN | EPOLLHUP | EPOLLERR,   /* QSocketNotifier::Read */
    EPOLLOUT | EPOLLHUP | EPOLLERR,  /* Write */
    EPOLLPRI | EPOLLHUP | EPOLLERR,  /* Exception */
};
constexpr uint32_t kWants[3] = {EPOLLIN, EPOLLOUT, EPOLLPRI};

void Drain(int fd) {
  uint64_t count;
  while (read(fd, &count, sizeof count) > 0) {
  }
}

}  // namespace

EpollDispatcher::EpollDispatcher(QObject *parent)
    : QAbstractEventDispatcher(parent),
      epoll_(epoll_create1(EPOLL_CLOEXEC)),
      wake_(eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {
  if (epoll_ < 0 || wake_ < 0) qFatal("cannot create the event loop's descriptors");
  epoll_event event = {};
  event.events = EPOLLIN;
  event.data.fd = wake_;
  epoll_ctl(epoll_, EPOLL_CTL_ADD, wake_, &event);
}

EpollDispatcher::~EpollDispatcher() {
  close(wake_);
  close(epoll_);
}

/* One pass of the event loop; flags as for QEventLoop::processEvents().
 * Returns true when it delivered a notifier or timer event. */
bool EpollDispatcher::processEvents(QEventLoop::ProcessEventsFlags flags) {
  interrupted_ = false;
  emit awake();
  QCoreApplication::sendPostedEvents();
  bool mayWait = (flags & QEventLoop::WaitForMoreEvents) && !interrupted_;
  if (mayWait) emit aboutToBlock();
  if (interrupted_) return false;
  int timeoutMs = waitMs(mayWait);
  if (flags & QEventLoop::ExcludeSocketNotifiers) {
    pollfd wake = {wake_, POLLIN, 0};
    if (poll(&wake, 1, timeoutMs) > 0) Drain(wake_);
  } else {
    collectReady(timeoutMs);
  }
  emit awake();
  int delivered = activateNotifiers();
  if (!(flags & QEventLoop::X11ExcludeTimers)) delivered += activateTimers();
  return delivered > 0;
}

/* How long the pass may wait: 0 when it must not or a regular file is
 * watched, -1 (for ever) when no timer runs, else until the next one. */
int EpollDispatcher::waitMs(bool mayWait) const {
  if (!mayWait || !alwaysReady_.empty()) return 0;
  if (timerQueue_.empty()) return -1;
  qint64 left = timerQueue_.begin()->first - NowMs();
  return static_cast<int>(std::clamp<qint64>(left, 0, INT_MAX));
}

/* Waits up to timeoutMs for ready descriptors and queues their notifiers
 * in pending_, after those of the regular files. */
void EpollDispatcher::collectReady(int timeoutMs) {
  pending_.assign(alwaysReady_.begin(), alwaysReady_.end());
  epoll_event events[kMaxEvents];
  int ready = epoll_wait(epoll_, events, kMaxEvents, timeoutMs);
  for (int i = 0; i < ready; i++) {
    int fd = events[i].data.fd;
    if (fd == wake_) {
      Drain(wake_);
      continue;
    }
    auto it = watches_.find(fd);
    if (it == watches_.end()) continue;
    for (int type = 0; type < 3; type++)
      if (it->second.notifier[type] && (events[i].events & kWakes[type]))
        pending_.push_back(it->second.notifier[type]);
  }
}

/* Sends each queued notifier its activation, unless it was unregistered
 * meanwhile. Returns how many were activated. */
int EpollDispatcher::activateNotifiers() {
  int activated = 0;
  for (size_t i = 0; i < pending_.size(); i++) {
    QSocketNotifier *notifier = pending_[i];
    if (!notifier) continue;
    pending_[i] = nullptr;
    QEvent event(QEvent::SockAct);
    QCoreApplication::sendEvent(notifier, &event);
    activated++;
  }
  pending_.clear();
  return activated;
}

/* Sends a timer event for every timer due at the start of the call, once
 * each, and sets its next due time. Returns how many fired. */
int EpollDispatcher::activateTimers() {
  qint64 now = NowMs();
  std::vector<int> due;
  for (auto it = timerQueue_.begin(); it != timerQueue_.end() && it->first <= now; ++it)
    due.push_back(it->second);
  int fired = 0;
  for (int id : due) {
    auto it = timers_.find(id);
    if (it == timers_.end() || it->second.dueMs > now) continue;  /* gone or started anew */
    Timer &t = it->second;
    timerQueue_.erase({t.dueMs, id});
    t.dueMs += t.intervalMs;
    if (t.dueMs < now) t.dueMs = now + t.intervalMs;  /* late: no burst to catch up */
    timerQueue_.insert({t.dueMs, id});
    QTimerEvent event(id);
    QCoreApplication::sendEvent(t.object, &event);
    fired++;
  }
  return fired;
}

/* Tells epoll which events descriptor fd needs now: none removes it.
 * added: fd is in the epoll set already. A descriptor that epoll refuses
 * (a regular file) has its notifiers moved to alwaysReady_. */
void EpollDispatcher::watch(int fd, const Watch &w, bool added) {
  epoll_event event = {};
  event.data.fd = fd;
  for (int type = 0; type < 3; type++)
    if (w.notifier[type]) event.events |= kWants[type];
  if (!event.events) {
    epoll_ctl(epoll_, EPOLL_CTL_DEL, fd, &event);  /* may be closed already */
    watches_.erase(fd);
    return;
  }
  if (epoll_ctl(epoll_, added ? EPOLL_CTL_MOD : EPOLL_CTL_ADD, fd, &event) == 0) return;
  if (errno == EEXIST && epoll_ctl(epoll_, EPOLL_CTL_MOD, fd, &event) == 0) return;
  if (errno == ENOENT && epoll_ctl(epoll_, EPOLL_CTL_ADD, fd, &event) == 0) return;
  for (QSocketNotifier *n : w.notifier)
    if (n) alwaysReady_.insert(n);
  watches_.erase(fd);
}

void EpollDispatcher::registerSocketNotifier(QSocketNotifier *notifier) {
  int fd = static_cast<int>(notifier->socket());
  auto it = watches_.find(fd);
  bool added = it != watches_.end();
  Watch w = added ? it->second : Watch();
  w.notifier[notifier->type()] = notifier;
  watches_[fd] = w;
  watch(fd, w, added);
}

void EpollDispatcher::unregisterSocketNotifier(QSocketNotifier *notifier) {
  alwaysReady_.erase(notifier);
  std::replace(pending_.begin(), pending_.end(), notifier, static_cast<QSocketNotifier *>(nullptr));
  auto it = watches_.find(static_cast<int>(notifier->socket()));
  if (it == watches_.end() || it->second.notifier[notifier->type()] != notifier) return;
  it->second.notifier[notifier->type()] = nullptr;
  watch(it->first, it->second, true);
}

void EpollDispatcher::registerTimer(int timerId, qint64 interval, Qt::TimerType timerType,
                                    QObject *object) {
  unregisterTimer(timerId);
  qint64 due = NowMs() + std::max<qint64>(0, interval);
  timers_[timerId] = Timer{std::max<qint64>(0, interval), timerType, object, due};
  timerQueue_.insert({due, timerId});
}

bool EpollDispatcher::unregisterTimer(int timerId) {
  auto it = timers_.find(timerId);
  if (it == timers_.end()) return false;
  timerQueue_.erase({it->second.dueMs, timerId});
  timers_.erase(it);
  return true;
}

bool EpollDispatcher::unregisterTimers(QObject *object) {
  std::vector<int> ids;
  for (const auto &[id, t] : timers_)
    if (t.object == object) ids.push_back(id);
  for (int id : ids) unregisterTimer(id);
  return !ids.empty();
}

QList<QAbstractEventDispatcher::TimerInfo> EpollDispatcher::registeredTimers(
    QObject *object) const {
  QList<TimerInfo> list;
  for (const auto &[id, t] : timers_)
    if (t.object == object) list.append(TimerInfo(id, static_cast<int>(t.intervalMs), t.type));
  return list;
}

/* Milliseconds until timer timerId is due, 0 when it is overdue, -1 when
 * there is no such timer. */
int EpollDispatcher::remainingTime(int timerId) {
  auto it = timers_.find(timerId);
  if (it == timers_.end()) return -1;
  return static_cast<int>(std::clamp<qint64>(it->second.dueMs - NowMs(), 0, INT_MAX));
}

/* Safe from any thread. */
void EpollDispatcher::wakeUp() {
  uint64_t one = 1;
  ssize_t written = write(wake_, &one, sizeof one);
  (void)written;  /* a full counter means a wake-up is pending anyway */
}

void EpollDispatcher::interrupt() {
  interrupted_ = true;
  wakeUp();
}

}  // namespace eventloop
