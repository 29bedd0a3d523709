/*
 * fleet_bench.cpp -- measures what a fleet of simulated chambers costs:
 * starts quenta-sim with --chambers N, times its start until it says it
 * listens, connects once to every chamber and asks each "A0" once a
 * second, spread evenly over the second as a monitor would, and reports
 * the simulator's start-up time, resident memory and processor time.
 *
 *     sim_fleet_bench --sim PATH [--chambers N] [--listen ADDRESS]
 *                     [--seconds S]
 *
 * The client is plain sockets on epoll, so that it costs little beside
 * the simulator. Exit code 0 when every answer came and was an A0 answer,
 * 1 otherwise, 2 for bad arguments.
 */
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <signal.h>
#include <sys/epoll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "fleet.h"
#include "open_files.h"

namespace {

constexpr int kAnswerBufferSize = 64;
constexpr int kMaxEvents = 256;
constexpr int kStatusLineSize = 256;

struct Options {
  std::string sim;
  int chambers = 1000;
  std::string listen = "127.0.1.1";
  int seconds = 30;
};

double NowSeconds() {
  using namespace std::chrono;
  return duration<double>(steady_clock::now().time_since_epoch()).count();
}

/* Reads --sim, --chambers, --listen and --seconds; false for anything
 * else or a missing --sim. */
bool ParseOptions(int argc, char **argv, Options *o) {
  for (int i = 1; i + 1 < argc; i += 2) {
    std::string name = argv[i], value = argv[i + 1];
    if (name == "--sim") o->sim = value;
    else if (name == "--chambers") o->chambers = atoi(value.c_str());
    else if (name == "--listen") o->listen = value;
    else if (name == "--seconds") o->seconds = atoi(value.c_str());
    else return false;
  }
  return argc % 2 == 1 && !o->sim.empty() && o->chambers >= 1 && o->seconds >= 1;
}

/* Starts the simulator with its standard output on a pipe; returns its
 * process id and sets *output to the pipe's reading end. */
pid_t StartSimulator(const Options &o, int *output) {
  int pipeFds[2];
  if (pipe(pipeFds) != 0) return -1;
  pid_t pid = fork();
  if (pid == 0) {
    dup2(pipeFds[1], STDOUT_FILENO);
    close(pipeFds[0]);
    std::string chambers = std::to_string(o.chambers);
    execl(o.sim.c_str(), o.sim.c_str(), "--chambers", chambers.c_str(), "--listen",
          o.listen.c_str(), "--port", "1080", static_cast<char *>(nullptr));
    _exit(127);
  }
  close(pipeFds[1]);
  *output = pipeFds[0];
  return pid;
}

/* Waits for the simulator's line that says it listens; false when its
 * output ends first. */
bool WaitForListening(int output) {
  std::string seen;
  char buffer[kStatusLineSize];
  ssize_t got;
  while (seen.find("listening") == std::string::npos &&
         (got = read(output, buffer, sizeof buffer)) > 0)
    seen.append(buffer, static_cast<size_t>(got));
  return seen.find("listening") != std::string::npos;
}

/* Processor seconds the process pid has used, from /proc. */
double ProcessorSeconds(pid_t pid) {
  std::string path = "/proc/" + std::to_string(pid) + "/stat";
  FILE *f = fopen(path.c_str(), "r");
  if (!f) return 0;
  unsigned long user = 0, system = 0;
  int fields = fscanf(f, "%*d (%*[^)]) %*c %*d %*d %*d %*d %*d %*u %*u %*u %*u %*u %lu %lu", &user,
                      &system);
  fclose(f);
  return fields == 2 ? static_cast<double>(user + system) / sysconf(_SC_CLK_TCK) : 0;
}

/* Field name ("VmRSS", "VmHWM") of /proc/pid/status, in KiB. */
long StatusKiB(pid_t pid, const char *name) {
  std::string path = "/proc/" + std::to_string(pid) + "/status";
  FILE *f = fopen(path.c_str(), "r");
  if (!f) return 0;
  char line[kStatusLineSize];
  long kib = 0;
  while (fgets(line, sizeof line, f))
    if (strncmp(line, name, strlen(name)) == 0 && line[strlen(name)] == ':')
      kib = atol(line + strlen(name) + 1);
  fclose(f);
  return kib;
}

/* Connects to every chamber and adds the sockets to epoll; an empty list
 * when one cannot be reached. */
std::vector<int> ConnectAll(const Options &o, int epoll) {
  std::vector<int> sockets;
  QHostAddress first(QString::fromStdString(o.listen));
  for (int k = 0; k < o.chambers; k++) {
    sockaddr_in where = {};
    where.sin_family = AF_INET;
    where.sin_port = htons(1080);
    where.sin_addr.s_addr = htonl(sim::FleetAddress(first, k).toIPv4Address());
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    int on = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    if (fd < 0 || connect(fd, reinterpret_cast<sockaddr *>(&where), sizeof where) != 0) {
      fprintf(stderr, "sim_fleet_bench: cannot connect to chamber %d: %s\n", k + 1, strerror(errno));
      return {};
    }
    epoll_event event = {};
    event.events = EPOLLIN;
    event.data.u32 = static_cast<uint32_t>(k);
    epoll_ctl(epoll, EPOLL_CTL_ADD, fd, &event);
    sockets.push_back(fd);
  }
  return sockets;
}

/* Takes the answers that are ready, waiting up to timeoutMs; counts in
 * *right those that are A0 answers and in *wrong the rest. */
void TakeAnswers(int epoll, const std::vector<int> &sockets, int timeoutMs, long *right,
                 long *wrong) {
  epoll_event events[kMaxEvents];
  int ready = epoll_wait(epoll, events, kMaxEvents, timeoutMs);
  for (int i = 0; i < ready; i++) {
    char answer[kAnswerBufferSize];
    ssize_t got = read(sockets[events[i].data.u32], answer, sizeof answer);
    if (got == 14 && strncmp(answer, "A0 ", 3) == 0) ++*right;
    else ++*wrong;
  }
}

/* Asks every chamber "A0" once a second for o.seconds seconds, spread
 * over each second; returns the number of right answers, *wrong the rest. */
long Poll(const Options &o, int epoll, const std::vector<int> &sockets, long *wrong) {
  long right = 0;
  double start = NowSeconds();
  for (long sent = 0; sent < static_cast<long>(o.seconds) * o.chambers; sent++) {
    double due = start + static_cast<double>(sent) / o.chambers;
    double wait;
    while ((wait = due - NowSeconds()) > 0)
      TakeAnswers(epoll, sockets, static_cast<int>(wait * 1000) + 1, &right, wrong);
    if (write(sockets[sent % o.chambers], "A0", 2) != 2) ++*wrong;
  }
  double end = NowSeconds() + 5;
  while (right + *wrong < static_cast<long>(o.seconds) * o.chambers && NowSeconds() < end)
    TakeAnswers(epoll, sockets, 100, &right, wrong);
  return right;
}

}  // namespace

int main(int argc, char **argv) {
  Options o;
  if (!ParseOptions(argc, argv, &o)) {
    fprintf(stderr, "usage: sim_fleet_bench --sim PATH [--chambers N] [--listen ADDRESS] "
                    "[--seconds S]\n");
    return 2;
  }
  eventloop::RaiseOpenFileLimit(sim::DescriptorsNeeded(o.chambers));
  int output = -1;
  double started = NowSeconds();
  pid_t pid = StartSimulator(o, &output);
  if (pid < 0 || !WaitForListening(output)) {
    fprintf(stderr, "sim_fleet_bench: the simulator did not start\n");
    return 1;
  }
  double startup = NowSeconds() - started;
  long rssIdle = StatusKiB(pid, "VmRSS");
  int epoll = epoll_create1(EPOLL_CLOEXEC);
  std::vector<int> sockets = ConnectAll(o, epoll);
  long wrong = 0, right = 0;
  double cpuBefore = ProcessorSeconds(pid), wallBefore = NowSeconds();
  rusage selfBefore, selfAfter;
  getrusage(RUSAGE_SELF, &selfBefore);
  if (!sockets.empty()) right = Poll(o, epoll, sockets, &wrong);
  double cpu = ProcessorSeconds(pid) - cpuBefore, wall = NowSeconds() - wallBefore;
  getrusage(RUSAGE_SELF, &selfAfter);
  double self = (selfAfter.ru_utime.tv_sec - selfBefore.ru_utime.tv_sec) +
                (selfAfter.ru_stime.tv_sec - selfBefore.ru_stime.tv_sec) +
                (selfAfter.ru_utime.tv_usec - selfBefore.ru_utime.tv_usec +
                 selfAfter.ru_stime.tv_usec - selfBefore.ru_stime.tv_usec) / 1e6;
  printf("fleet %d chambers: start-up %.0f ms, RSS %.1f MiB idle, %.1f MiB polled (peak %.1f)\n",
         o.chambers, startup * 1000, rssIdle / 1024.0, StatusKiB(pid, "VmRSS") / 1024.0,
         StatusKiB(pid, "VmHWM") / 1024.0);
  printf("fleet polled each chamber once a second for %.1f s: %ld answers right, %ld wrong or "
         "missing; simulator CPU %.1f %% of one core, this client %.1f %%\n",
         wall, right, static_cast<long>(o.seconds) * o.chambers - right, 100 * cpu / wall,
         100 * self / wall);
  kill(pid, SIGTERM);
  waitpid(pid, nullptr, 0);
  return !sockets.empty() && right == static_cast<long>(o.seconds) * o.chambers ? 0 : 1;
}
