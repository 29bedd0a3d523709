/*
 * epoll_dispatcher.cpp -- Qt's event dispatching on epoll (see
 * epoll_dispatcher.h). Level-triggered, like poll(): a socket stays ready
 * until it is read. Handlers may add or remove notifiers and timers while
 * they run, so every activation looks its notifier or timer up afresh.
 */
#include "epoll_dispatcher.h"

#include <errno.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <time.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QSocketNotifier>
#include <algorithm>

#include "schedule.h"

namespace monitor {

namespace {

constexpr int kEventsPerTurn = 256;
constexpr int64_t kNsPerMs = 1000000;
constexpr uint32_t kEpollFlags[3] = {EPOLLIN, EPOLLOUT, EPOLLPRI};

}  // namespace

EpollDispatcher::EpollDispatcher() {
  epoll_ = epoll_create1(EPOLL_CLOEXEC);
  wake_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  struct epoll_event ev = {};
  ev.events = EPOLLIN;
  ev.data.fd = wake_;
  epoll_ctl(epoll_, EPOLL_CTL_ADD, wake_, &ev);
}

EpollDispatcher::~EpollDispatcher() {
  close(wake_);
  close(epoll_);
}

/* One turn: posted events, then (unless told not to wait) a wait for the
 * first socket, timer or wake-up, then the ready sockets, then the timers
 * that are due. Returns true when something was handled. */
bool EpollDispatcher::processEvents(QEventLoop::ProcessEventsFlags flags) {
  interrupted_ = false;
  emit awake();
  QCoreApplication::sendPostedEvents();
  bool wait = (flags & QEventLoop::WaitForMoreEvents) && !interrupted_;
  if (wait) emit aboutToBlock();
  struct epoll_event events[kEventsPerTurn];
  int n = epoll_wait(epoll_, events, kEventsPerTurn, wait ? msToNextTimer() : 0);
  if (n < 0) n = 0;
  if (wait) emit awake();
  int handled = 0;
  for (int i = 0; i < n; i++) {
    int fd = events[i].data.fd;
    uint32_t got = events[i].events;
    if (fd == wake_) {
      uint64_t count;
      ssize_t r = read(wake_, &count, sizeof count);
      (void)r;  /* nonblocking: nothing to read means another turn took it */
      continue;
    }
    if (flags & QEventLoop::ExcludeSocketNotifiers) continue;
    if (got & (EPOLLIN | EPOLLHUP | EPOLLERR)) activate(fd, QSocketNotifier::Read);
    if (got & (EPOLLOUT | EPOLLHUP | EPOLLERR)) activate(fd, QSocketNotifier::Write);
    if (got & EPOLLPRI) activate(fd, QSocketNotifier::Exception);
    handled++;
  }
  handled += fireTimers();
  return handled > 0;
}

/* Sends the activation event to fd's notifier of type, if it still has one. */
void EpollDispatcher::activate(int fd, int type) {
  auto it = watches_.find(fd);
  if (it == watches_.end() || !it->second.notifier[type]) return;
  QEvent event(QEvent::SockAct);
  QCoreApplication::sendEvent(it->second.notifier[type], &event);
}

void EpollDispatcher::registerSocketNotifier(QSocketNotifier *notifier) {
  int fd = static_cast<int>(notifier->socket());
  watches_[fd].notifier[notifier->type()] = notifier;
  updateWatch(fd);
}

void EpollDispatcher::unregisterSocketNotifier(QSocketNotifier *notifier) {
  int fd = static_cast<int>(notifier->socket());
  auto it = watches_.find(fd);
  if (it == watches_.end() || it->second.notifier[notifier->type()] != notifier) return;
  it->second.notifier[notifier->type()] = nullptr;
  updateWatch(fd);
}

/* Tells epoll what fd's notifiers want; forgets fd when none is left. An
 * fd closed and opened anew under the same number is added again. */
void EpollDispatcher::updateWatch(int fd) {
  Watch &w = watches_[fd];
  struct epoll_event ev = {};
  ev.data.fd = fd;
  for (int type = 0; type < 3; type++)
    if (w.notifier[type]) ev.events |= kEpollFlags[type];
  if (ev.events == 0) {
    epoll_ctl(epoll_, EPOLL_CTL_DEL, fd, &ev);
    watches_.erase(fd);
  } else if (epoll_ctl(epoll_, EPOLL_CTL_MOD, fd, &ev) != 0 && errno == ENOENT) {
    epoll_ctl(epoll_, EPOLL_CTL_ADD, fd, &ev);
  }
}

void EpollDispatcher::registerTimer(int timerId, qint64 interval, Qt::TimerType timerType, QObject *object) {
  timers_.push_back(Timer{timerId, interval, timerType, object, NowNs() + interval * kNsPerMs, false});
}

bool EpollDispatcher::unregisterTimer(int timerId) {
  auto it = std::find_if(timers_.begin(), timers_.end(), [&](const Timer &t) { return t.id == timerId; });
  if (it == timers_.end()) return false;
  timers_.erase(it);
  return true;
}

bool EpollDispatcher::unregisterTimers(QObject *object) {
  auto end = std::remove_if(timers_.begin(), timers_.end(), [&](const Timer &t) { return t.object == object; });
  bool any = end != timers_.end();
  timers_.erase(end, timers_.end());
  return any;
}

QList<QAbstractEventDispatcher::TimerInfo> EpollDispatcher::registeredTimers(QObject *object) const {
  QList<TimerInfo> list;
  for (const Timer &t : timers_)
    if (t.object == object) list.append(TimerInfo(t.id, static_cast<int>(t.intervalMs), t.type));
  return list;
}

int EpollDispatcher::remainingTime(int timerId) {
  for (const Timer &t : timers_)
    if (t.id == timerId) return static_cast<int>(std::max<int64_t>(0, (t.dueNs - NowNs()) / kNsPerMs));
  return -1;
}

/* Milliseconds until the first timer is due, rounded up; -1 without one. */
int EpollDispatcher::msToNextTimer() const {
  if (timers_.empty()) return -1;
  int64_t first = timers_.front().dueNs;
  for (const Timer &t : timers_) first = std::min(first, t.dueNs);
  int64_t wait = first - NowNs();
  return wait <= 0 ? 0 : static_cast<int>((wait + kNsPerMs - 1) / kNsPerMs);
}

/* Sends a timer event for each timer that is due, once, earliest first,
 * each next due one interval after it was due (or after now, when it fell
 * further behind). A timer whose handler is still running is not fired
 * again. */
int EpollDispatcher::fireTimers() {
  int64_t now = NowNs();
  std::vector<std::pair<int64_t, int>> due;  /* fired in the order they fell due */
  for (const Timer &t : timers_)
    if (t.dueNs <= now && !t.firing) due.emplace_back(t.dueNs, t.id);
  std::sort(due.begin(), due.end());
  for (const auto &[at, id] : due) {
    auto it = std::find_if(timers_.begin(), timers_.end(), [&](const Timer &t) { return t.id == id; });
    if (it == timers_.end()) continue;
    it->dueNs += it->intervalMs * kNsPerMs;
    if (it->dueNs <= now) it->dueNs = now + it->intervalMs * kNsPerMs;
    it->firing = true;
    QObject *object = it->object;
    QTimerEvent event(id);
    QCoreApplication::sendEvent(object, &event);
    it = std::find_if(timers_.begin(), timers_.end(), [&](const Timer &t) { return t.id == id; });
    if (it != timers_.end()) it->firing = false;
  }
  return static_cast<int>(due.size());
}

void EpollDispatcher::wakeUp() {
  uint64_t one = 1;
  ssize_t r = write(wake_, &one, sizeof one);
  (void)r;  /* a full counter wakes the loop all the same */
}

void EpollDispatcher::interrupt() {
  interrupted_ = true;
  wakeUp();
}

}  // namespace monitor
