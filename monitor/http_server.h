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
 * 404. Pages that stream (server-sent events) would hold a worker for
 * their life; they are to get a registration of their own with a bound on
 * how many run at once.
 */
#ifndef QUENTA_MONITOR_HTTP_SERVER_H
#define QUENTA_MONITOR_HTTP_SERVER_H

#include <QHostAddress>
#include <QString>
#include <functional>
#include <memory>
#include <string>

namespace monitor {

constexpr int kLoopWaitMs = 5000;

struct HttpRequest {
  std::string path;   /* decoded, e.g. "/metrics" */
  std::string query;  /* what follows '?', not decoded; empty without */
};

struct HttpResponse {
  int status = 200;
  std::string contentType = "text/plain; charset=utf-8";
  std::string body;
};

/* Fills response for request, on the server's event loop. */
using HttpHandler = std::function<void(const HttpRequest &request, HttpResponse &response)>;

class HttpServerPrivate;

class HttpServer {
 public:
  /* Created on the thread whose event loop runs the pages; needs a
   * QCoreApplication. When that loop ends, the server stops answering. */
  HttpServer();
  /* Stops serving; returns once every worker has ended. */
  ~HttpServer();

  /* Registers handler for GET path; or, with prefix, for every path that
   * begins with path (the longest such prefix wins, an exact path before
   * any). Only before listen(). */
  void get(const std::string &path, HttpHandler handler, bool prefix = false);
  /* Registers a page of one content type whose body render appends. */
  void get(const std::string &path, const char *contentType, std::function<void(std::string &)> render);

  /* Returns true once listening on address:port, else false with *error. */
  bool listen(const QHostAddress &address, quint16 port, QString *error);

 private:
  std::unique_ptr<HttpServerPrivate> d_;
};

}  // namespace monitor

#endif
