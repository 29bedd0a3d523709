/*
 * http_server.cpp -- the monitor's HTTP server on civetweb (see
 * http_server.h): routing, the hand-over of each request from a civetweb
 * worker to the event loop and back, and the bounds civetweb is started
 * with.
 */
#include "http_server.h"

#include <civetweb.h>

#include <QCoreApplication>
#include <algorithm>
#include <cassert>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <vector>

namespace monitor {

namespace {

/* The bounds (docs/monitor.md, "The HTTP server"). */
const char *const kWorkers = "8";             /* connections served at once */
const char *const kQueuedConnections = "16";  /* accepted, waiting for a worker */
const char *const kListenBacklog = "16";      /* not yet accepted, in the kernel */
const char *const kRequestTimeoutMs = "5000";  /* to read a request, to write an answer */
const char *const kMaxRequestBytes = "8192";  /* request line and headers */

struct Route {
  std::string path;
  int route;  /* HttpRoute flags */
  HttpHandler handler;
};

/* One request handed to the event loop; done and abandoned are guarded by
 * the server's mutex. The response is written by the loop alone until
 * done, then read by the worker alone. */
struct Job {
  HttpRequest request;
  HttpResponse response;
  const HttpHandler *handler = nullptr;
  bool done = false;
  bool abandoned = false;  /* the worker stopped waiting */
};

/* Sends response on conn with its content type and length (none for a
 * streamed one: the connection's end ends it). Returns its status, which
 * civetweb logs. */
int Send(mg_connection *conn, const HttpResponse &response, const char *allow = nullptr) {
  std::string length = std::to_string(response.body.size());
  mg_response_header_start(conn, response.status);
  mg_response_header_add(conn, "Content-Type", response.contentType.c_str(), -1);
  if (!response.stream) mg_response_header_add(conn, "Content-Length", length.c_str(), -1);
  mg_response_header_add(conn, "Cache-Control", "no-store", -1);
  for (const auto &header : kSecurityHeaders) mg_response_header_add(conn, header[0], header[1], -1);
  if (allow) mg_response_header_add(conn, "Allow", allow, -1);
  mg_response_header_send(conn);
  /* A client that went away or did not read in time is dropped by
   * civetweb; there is nothing else to do for it. */
  if (response.stream)
    response.stream([conn](const char *bytes, size_t n) { return n == 0 || mg_write(conn, bytes, n) > 0; });
  else
    mg_write(conn, response.body.data(), response.body.size());
  return response.status;
}

/* The value of hexadecimal digit c, -1 when it is none. */
int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

/* text[begin, end) percent-decoded, '+' as a space; a '%' not followed by
 * two hexadecimal digits stays as it is. */
std::string Decode(const std::string &text, size_t begin, size_t end) {
  std::string out;
  for (size_t i = begin; i < end; i++) {
    int high = i + 2 < end ? HexValue(text[i + 1]) : -1, low = i + 2 < end ? HexValue(text[i + 2]) : -1;
    if (text[i] == '%' && high >= 0 && low >= 0) {
      out += static_cast<char>(high * 16 + low);
      i += 2;
    } else {
      out += text[i] == '+' ? ' ' : text[i];
    }
  }
  return out;
}

/* Sends a short text answer of status on conn; returns status. */
int SendText(mg_connection *conn, int status, const char *text, const char *allow = nullptr) {
  HttpResponse response;
  response.status = status;
  response.body = text;
  return Send(conn, response, allow);
}

}  // namespace

std::map<std::string, std::string> ParseQuery(const std::string &query) {
  std::map<std::string, std::string> out;
  size_t begin = 0;
  while (begin <= query.size()) {
    size_t end = std::min(query.find('&', begin), query.size());
    size_t equals = std::min(query.find('=', begin), end);
    if (end > begin)
      out.emplace(Decode(query, begin, equals), equals < end ? Decode(query, equals + 1, end) : std::string());
    begin = end + 1;
  }
  return out;
}

void AppendQueryValue(const std::string &text, std::string &out) {
  static const char kHex[] = "0123456789ABCDEF";
  for (char c : text) {
    unsigned char u = static_cast<unsigned char>(c);
    bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
    if (plain || c == '-' || c == '.' || c == '_' || c == '~') {
      out += c;
    } else {
      out += '%';
      out += kHex[u >> 4];
      out += kHex[u & 15];
    }
  }
}

class HttpServerPrivate {
 public:
  std::vector<Route> routes;
  QObject loop;  /* of the creating thread: the pages run there */
  std::mutex mutex;
  std::condition_variable answered;
  /* Guarded by mutex (context is written on the loop's thread alone): */
  bool stopping = false;
  mg_context *context = nullptr;
  std::string startMessage;       /* civetweb's first message while starting */

  bool start(const std::string &ports, std::string *why);
  const Route *find(const char *path) const;
  int serve(mg_connection *conn);
  bool runOnLoop(const std::shared_ptr<Job> &job);
  void runJob(Job &job);
  void stop();
};

/* civetweb's messages: while it starts, the first one is kept for the error
 * of listen(), which civetweb's own error ("Failed to setup server ports")
 * would leave without the reason. Later ones (a client gone, a timeout)
 * are dropped rather than interleaved with the monitor's own on standard
 * error. Returns 1: civetweb prints nothing. */
static int KeepStartMessage(const mg_connection *conn, const char *message) {
  auto *d = conn ? static_cast<HttpServerPrivate *>(mg_get_user_context_data(conn)) : nullptr;
  if (!d) return 1;
  std::lock_guard<std::mutex> lock(d->mutex);
  if (!d->context && !d->stopping && d->startMessage.empty()) d->startMessage = message;
  return 1;
}

/* The route of path: its exact one, else the one of the longest prefix it
 * begins with; null when none. */
const Route *HttpServerPrivate::find(const char *path) const {
  const Route *best = nullptr;
  for (const Route &r : routes) {
    const bool prefix = (r.route & kPathPrefix) != 0;
    if (!prefix && r.path == path) return &r;
    if (prefix && strncmp(path, r.path.c_str(), r.path.size()) == 0 &&
        (!best || r.path.size() > best->path.size()))
      best = &r;
  }
  return best;
}

/* Answers the request on conn, on a civetweb worker. Returns the status
 * sent. */
int HttpServerPrivate::serve(mg_connection *conn) {
  const mg_request_info *info = mg_get_request_info(conn);
  const Route *route = find(info->local_uri ? info->local_uri : "");
  if (!route) return SendText(conn, 404, "not found\n");
  if (strcmp(info->request_method, "GET") != 0) return SendText(conn, 405, "only GET\n", "GET");
  auto job = std::make_shared<Job>();
  job->request.path = info->local_uri;
  if (info->query_string) job->request.query = info->query_string;
  job->handler = &route->handler;
  if (route->route & kOnWorker) {
    route->handler(job->request, job->response);
    return Send(conn, job->response);
  }
  if (!runOnLoop(job)) return SendText(conn, 503, "the monitor is busy or stopping\n");
  return Send(conn, job->response);
}

/* Has the event loop run job and waits for it, at most kLoopWaitMs, on a
 * worker. Returns true when job is done; false when it was not in time or
 * the server stops, and the loop will then leave it. */
bool HttpServerPrivate::runOnLoop(const std::shared_ptr<Job> &job) {
  std::unique_lock<std::mutex> lock(mutex);
  if (stopping) return false;
  QMetaObject::invokeMethod(&loop, [this, job] { runJob(*job); }, Qt::QueuedConnection);
  answered.wait_for(lock, std::chrono::milliseconds(kLoopWaitMs), [&] { return job->done || stopping; });
  job->abandoned = !job->done;
  return job->done;
}

/* Runs job's handler on the event loop, unless its worker left it or the
 * server stops; then wakes the worker. */
void HttpServerPrivate::runJob(Job &job) {
  {
    std::lock_guard<std::mutex> lock(mutex);
    if (job.abandoned || stopping) return;
  }
  (*job.handler)(job.request, job.response);
  {
    std::lock_guard<std::mutex> lock(mutex);
    job.done = true;
  }
  answered.notify_all();
}

/* Wakes the workers that wait for the loop (they answer 503), then ends
 * civetweb, which returns once every worker has ended. */
void HttpServerPrivate::stop() {
  mg_context *running = nullptr;
  {
    std::lock_guard<std::mutex> lock(mutex);
    stopping = true;
    std::swap(running, context);
  }
  answered.notify_all();
  if (running) mg_stop(running);
}

/* Starts civetweb with the bounds on ports ("ADDRESS:PORT", "[IPV6]:PORT").
 * Returns true once it serves, else false with *why. */
bool HttpServerPrivate::start(const std::string &ports, std::string *why) {
  const char *options[] = {"listening_ports", ports.c_str(), "num_threads", kWorkers,
                           "connection_queue", kQueuedConnections, "listen_backlog", kListenBacklog,
                           "request_timeout_ms", kRequestTimeoutMs, "enable_keep_alive", "no",
                           "max_request_size", kMaxRequestBytes, nullptr};
  mg_callbacks callbacks = {};
  callbacks.begin_request = [](mg_connection *conn) {
    return static_cast<HttpServerPrivate *>(mg_get_request_info(conn)->user_data)->serve(conn);
  };
  callbacks.log_message = KeepStartMessage;
  mg_init_data init = {&callbacks, this, options};
  char text[256] = "";
  mg_error_data failure = {nullptr, text, sizeof text};
  mg_context *started = mg_start2(&init, &failure);
  std::lock_guard<std::mutex> lock(mutex);
  context = started;
  *why = startMessage.empty() ? text : startMessage;
  return context != nullptr;
}

HttpServer::HttpServer() : d_(std::make_unique<HttpServerPrivate>()) {
  mg_init_library(0);
  /* Once the loop has ended nothing would run the pages: the workers
   * answer 503 at once instead of waiting for it. */
  QObject::connect(QCoreApplication::instance(), &QCoreApplication::aboutToQuit, &d_->loop,
                   [d = d_.get()] { d->stop(); });
}

HttpServer::~HttpServer() {
  d_->stop();
  mg_exit_library();
}

void HttpServer::get(const std::string &path, HttpHandler handler, int route) {
  assert(!d_->context && "pages are registered before listen()");
  d_->routes.push_back(Route{path, route, std::move(handler)});
}

void HttpServer::get(const std::string &path, const char *contentType,
                     std::function<void(std::string &)> render) {
  std::string type = contentType;
  get(path, [type, render = std::move(render)](const HttpRequest &, HttpResponse &response) {
    response.contentType = type;
    render(response.body);
  });
}

bool HttpServer::listen(const QHostAddress &address, quint16 port, QString *error) {
  const bool ipv6 = address.protocol() == QAbstractSocket::IPv6Protocol;
  std::string host = address.toString().toStdString();
  std::string ports = (ipv6 ? "[" + host + "]" : host) + ":" + std::to_string(port);
  std::string why = "the civetweb library in use was built without IPv6";
  if ((!ipv6 || mg_check_feature(MG_FEATURES_IPV6)) && d_->start(ports, &why)) return true;
  *error = QStringLiteral("cannot serve HTTP on %1 port %2: %3")
               .arg(address.toString()).arg(port).arg(QString::fromStdString(why));
  return false;
}

}  // namespace monitor
