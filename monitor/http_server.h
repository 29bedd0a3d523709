/*
 * http_server.h -- the monitor's HTTP server (civetweb): GET pages
 * registered per path or path prefix, each run on the Qt event loop that
 * created the server, so that a page may read whatever that loop owns.
 *
 * A fixed number of worker threads take the connections, one request each
 * (no keep-alive, so pipelined requests are never read); a bounded queue
 * holds the accepted connections waiting for a worker; a client that does
 * not send its request or read its answer within the request timeout is
 * dropped. What one client and all of them can hold: docs/monitor.md,
 * "The HTTP server". A worker waits at most kLoopWaitMs for the loop and
 * answers 503 when the loop does not get to the page in time or has ended.
 * Any method but GET is answered 405 (Allow: GET), a path without a page
 * 404. A page registered with kOnWorker runs on the civetweb worker
 * instead, at once: for pages that read files, which must never hold up
 * the loop (and must then touch nothing the loop owns without a lock).
 * Every answer carries the headers of kSecurityHeaders: a
 * Content-Security-Policy that allows no inline script and nothing from
 * outside, no MIME sniffing, no referrer. Pages that stream (server-sent
 * events) would hold a worker for their life; they are to get a
 * registration of their own with a bound on how many run at once.
 */
#ifndef QUENTA_MONITOR_HTTP_SERVER_H
#define QUENTA_MONITOR_HTTP_SERVER_H

#include <QHostAddress>
#include <QString>
#include <functional>
#include <map>
#include <memory>
#include <string>

namespace monitor {

constexpr int kLoopWaitMs = 5000;

/* Sent with every answer, as "Name: value" pairs. */
constexpr const char *kSecurityHeaders[][2] = {
    {"Content-Security-Policy",
     "default-src 'self'; script-src 'self'; style-src 'self'; img-src 'self' data:; "
     "connect-src 'self'; frame-ancestors 'none'; base-uri 'none'; form-action 'none'"},
    {"X-Content-Type-Options", "nosniff"},
    {"Referrer-Policy", "no-referrer"},
};

struct HttpRequest {
  std::string path;   /* decoded, e.g. "/metrics" */
  std::string query;  /* what follows '?', not decoded; empty without */
};

/* Writes the next part of a streamed body; false once the client is gone. */
using HttpWrite = std::function<bool(const char *bytes, size_t length)>;

struct HttpResponse {
  int status = 200;
  std::string contentType = "text/plain; charset=utf-8";
  std::string body;
  /* Pages on a worker only: when set, the body is not body but what this
   * writes, in parts, after the headers (the connection's end ends it). */
  std::function<void(const HttpWrite &write)> stream;
};

/* Fills response for request, on the server's event loop (or a worker). */
using HttpHandler = std::function<void(const HttpRequest &request, HttpResponse &response)>;

/* How a page is registered (or-ed): its path exact or a prefix of the
 * paths it answers; on the event loop or on the worker that took it. */
enum HttpRoute { kExactPath = 0, kPathPrefix = 1, kOnWorker = 2 };

/* The parameters of a query string ("chamber=oven%201&from=5"), each name
 * and value percent-decoded, '+' read as a space; the first of a name
 * repeated wins. */
std::map<std::string, std::string> ParseQuery(const std::string &query);

/* Appends text percent-encoded for a query value: every byte but letters,
 * digits and "-._~" as %XX. */
void AppendQueryValue(const std::string &text, std::string &out);

class HttpServerPrivate;

class HttpServer {
 public:
  /* Created on the thread whose event loop runs the pages; needs a
   * QCoreApplication. When that loop ends, the server stops answering. */
  HttpServer();
  /* Stops serving; returns once every worker has ended. */
  ~HttpServer();

  /* Registers handler for GET path; or, with kPathPrefix in route, for
   * every path that begins with path (the longest such prefix wins, an
   * exact path before any); with kOnWorker, run on the worker. Only before
   * listen(). */
  void get(const std::string &path, HttpHandler handler, int route = kExactPath);
  /* Registers a page of one content type whose body render appends. */
  void get(const std::string &path, const char *contentType, std::function<void(std::string &)> render);

  /* Returns true once listening on address:port, else false with *error. */
  bool listen(const QHostAddress &address, quint16 port, QString *error);

 private:
  std::unique_ptr<HttpServerPrivate> d_;
};

}  // namespace monitor

#endif
