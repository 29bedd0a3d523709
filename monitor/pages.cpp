/*
 * pages.cpp -- the pages' routes, the static files, /api/v1/chambers,
 * /api/v1/series and /csv (see pages.h; the run's parts in run_pages.h).
 */
#include "pages.h"

#include <QDirIterator>
#include <QFile>
#include <charconv>
#include <cmath>

#include "clock.h"
#include "csv_window.h"
#include "json_text.h"

namespace monitor {

namespace {

constexpr char kJson[] = "application/json";
constexpr int64_t kHourMs = 3600000, kDayMs = 86400000;
constexpr int64_t kTimeMax = 1000000000000000;  /* ms since 1970, some 31,000 years */
constexpr int kSeriesPointsDefault = 1000;
constexpr int kCoarsestShare = 10;      /* memory may answer with a tenth of the finest buckets */
constexpr size_t kStreamBytes = 65536;  /* /csv is written in parts of this much */
constexpr size_t kChamberJsonBytes = 512;
/* Bucket sizes of a trend; beyond them, whole days. */
constexpr int64_t kBucketLadderMs[] = {1000,   2000,   5000,    10000,   15000,   30000,    60000,    120000, 300000,
                                       600000, 900000, 1800000, 3600000, 7200000, 10800000, 21600000, 43200000, kDayMs};

const std::pair<const char *, const char *> kContentTypes[] = {
    {".html", "text/html; charset=utf-8"}, {".js", "text/javascript; charset=utf-8"},
    {".css", "text/css; charset=utf-8"},   {".json", "application/json"},
    {".svg", "image/svg+xml"},             {".png", "image/png"}};

int64_t FloorTo(int64_t t, int64_t b) { return (t / b - ((t % b != 0) && (t < 0))) * b; }
int64_t CeilTo(int64_t t, int64_t b) { return -FloorTo(-t, b); }
int64_t Buckets(int64_t from, int64_t to, int64_t b) { return (CeilTo(to, b) - FloorTo(from, b)) / b; }

/* The request's window: from, to (default the last hour) and points. */
struct Window {
  int64_t from = 0, to = 0, points = 0;
};

/* The finest bucket size that cuts [from, to) into at most points. */
int64_t FinestBucket(int64_t from, int64_t to, int points) {
  for (int64_t b : kBucketLadderMs)
    if (Buckets(from, to, b) <= points) return b;
  int64_t b = (to - from + points * kDayMs - 1) / (points * kDayMs) * kDayMs;
  while (Buckets(from, to, b) > points) b += kDayMs;
  return b;
}

/* The bucket size of w's trend: the finest of at most w.points buckets,
 * or a coarser one with at least a tenth as many that memory holds whole
 * (where the finest would need the CSV file). */
int64_t BucketFor(const History &history, int chamber, const Window &w) {
  const int64_t finest = FinestBucket(w.from, w.to, static_cast<int>(w.points));
  for (int64_t b : kBucketLadderMs)
    if (b >= finest && Buckets(w.from, w.to, b) * kCoarsestShare >= Buckets(w.from, w.to, finest) &&
        history.coveredFrom(chamber, b) <= FloorTo(w.from, b))
      return b;
  return finest;
}

const char *ContentType(const QString &name) {
  for (const auto &t : kContentTypes)
    if (name.endsWith(QLatin1String(t.first))) return t.second;
  return "application/octet-stream";
}

void Fail(HttpResponse &response, int status, const std::string &why) {
  response.status = status;
  response.contentType = "text/plain; charset=utf-8";
  response.body = why + "\n";
}

/* A whole number parameter of query into *out, def when absent; false
 * when it is no number or beyond [low, high]. */
bool Number(const std::map<std::string, std::string> &query, const char *name, int64_t def, int64_t low,
            int64_t high, int64_t *out) {
  auto it = query.find(name);
  *out = def;
  if (it == query.end()) return true;
  const char *end = it->second.data() + it->second.size();
  return std::from_chars(it->second.data(), end, *out).ptr == end && !it->second.empty() && *out >= low &&
         *out <= high;
}

/* The request's window from its query; false after a 400 answer. */
bool WindowOf(const std::map<std::string, std::string> &query, Window *w, HttpResponse &response) {
  bool ok = Number(query, "to", WallMs(), -kTimeMax, kTimeMax, &w->to) &&
            Number(query, "from", w->to - kHourMs, -kTimeMax, kTimeMax, &w->from) &&
            Number(query, "points", kSeriesPointsDefault, 1, kSeriesPointsMax, &w->points);
  if (ok && w->from < w->to) return true;
  Fail(response, 400, "from and to are ms since 1970 with from < to; points 1 to " + std::to_string(kSeriesPointsMax));
  return false;
}

/* Holds one of the kCsvReadersMax places of the requests that read the
 * CSV file, if one is free. */
struct ReaderPlace {
  explicit ReaderPlace(std::atomic<int> &readers) : readers(readers), held(++readers <= kCsvReadersMax) {}
  ~ReaderPlace() { --readers; }
  std::atomic<int> &readers;
  const bool held;
};

/* The channels of the last answers that had them, from the kept values. */
void AppendChannels(const ChamberStats &s, std::string &out) {
  double actual[10], set[10];
  std::fill(std::begin(actual), std::end(actual), std::nan(""));
  std::fill(std::begin(set), std::end(set), std::nan(""));
  for (int k = 0; k < s.keptCount; k++) {
    const KeptValue &v = s.kept[k];
    if (v.channel < '0' || v.channel > '9') continue;
    if (strcmp(v.name, "actual") == 0) actual[v.channel - '0'] = v.number;
    else if (strcmp(v.name, "set") == 0) set[v.channel - '0'] = v.number;
  }
  out += ",\"channels\":[";
  for (int c = 0, first = 1; c < 10; c++) {
    if (std::isnan(actual[c]) && std::isnan(set[c])) continue;
    out += first ? "{\"channel\":" : ",{\"channel\":";
    out += static_cast<char>('0' + c);
    out += ",\"actual\":";
    AppendJsonNumber(actual[c], out);
    out += ",\"set\":";
    AppendJsonNumber(set[c], out);
    out += '}';
    first = 0;
  }
  out += ']';
}

/* One chamber of /api/v1/chambers, without its run and the closing brace. */
void AppendChamber(const ChamberStats &s, int64_t nowNs, std::string &out) {
  out += "{\"name\":";
  AppendJsonString(s.name.constData(), static_cast<size_t>(s.name.size()), out);
  out += ",\"address\":";
  AppendJsonString(s.address.constData(), static_cast<size_t>(s.address.size()), out);
  out += s.up ? ",\"up\":true,\"since\":" : ",\"up\":false,\"since\":";
  out += std::to_string(s.sinceMs);
  out += ",\"last_answer_age_seconds\":";
  if (s.lastAnswerNs >= 0) AppendJsonNumber(static_cast<double>((nowNs - s.lastAnswerNs) / kNsPerMs) / 1000, out);
  else out += "null";
  AppendChannels(s, out);
}

/* Appends the values of one channel of trend's buckets that hold any. */
void AppendColumn(const Trend &trend, double (TrendBucket::*column)[kTrendChannels], int c, std::string &out) {
  out += '[';
  bool first = true;
  for (const TrendBucket &b : trend.buckets) {
    if (!b.any) continue;
    if (!first) out += ',';
    AppendJsonNumber((b.*column)[c], out);
    first = false;
  }
  out += ']';
}

bool HasChannel(const Trend &trend, int c) {
  for (const TrendBucket &b : trend.buckets)
    if (!std::isnan(b.min[c]) || !std::isnan(b.set[c])) return true;
  return false;
}

/* The member channels of a series: those that had a value. */
void AppendTrendChannels(const Trend &trend, std::string &out) {
  out += ",\"channels\":{";
  for (int c = 0, none = 1; c < kTrendChannels; c++) {
    if (!HasChannel(trend, c)) continue;
    out += none ? "\"" : ",\"";
    out += static_cast<char>('0' + c);
    out += "\":{\"min\":";
    AppendColumn(trend, &TrendBucket::min, c, out);
    out += ",\"max\":";
    AppendColumn(trend, &TrendBucket::max, c, out);
    out += ",\"set\":";
    AppendColumn(trend, &TrendBucket::set, c, out);
    out += '}';
    none = 0;
  }
  out += '}';
}

/* The members t, channels and outages of a series. */
void AppendTrend(const Trend &trend, std::string &out) {
  out += ",\"t\":[";
  bool first = true;
  for (size_t k = 0; k < trend.buckets.size(); k++) {
    if (!trend.buckets[k].any) continue;
    out += first ? "" : ",";
    out += std::to_string(trend.from + static_cast<int64_t>(k) * trend.bucketMs);
    first = false;
  }
  out += ']';
  AppendTrendChannels(trend, out);
  out += ",\"outages\":[";
  for (size_t k = 0; k < trend.outages.size(); k++)
    out += (k ? ",[" : "[") + std::to_string(trend.outages[k].first) + "," + std::to_string(trend.outages[k].second) + "]";
  out += ']';
}

/* Writes the header and w's rows, in parts of kStreamBytes, until the
 * client is gone. */
void StreamRows(CsvWindowReader &reader, const CsvWindow &w, const HttpWrite &write) {
  std::string out = reader.header(), error;
  reader.read(w, [&](const char *line, size_t n, int64_t) {
    out.append(line, n);
    out += '\n';
    if (out.size() < kStreamBytes) return true;
    bool sent = write(out.data(), out.size());
    out.clear();
    return sent;
  }, &error);
  write(out.data(), out.size());
}

/* "/csv?chamber=NAME&from=FROM&to=TO". */
std::string CsvLink(const std::string &chamber, int64_t from, int64_t to) {
  std::string link = "/csv?chamber=";
  AppendQueryValue(chamber, link);
  return link + "&from=" + std::to_string(from) + "&to=" + std::to_string(to);
}

}  // namespace

int64_t RowDisorderMs(int commands, int timeoutMs) {
  return static_cast<int64_t>(commands) * timeoutMs + 60000;
}

Pages::Pages(const Poller &poller, const PagesSettings &settings)
    : poller_(poller), settings_(settings), history_(static_cast<int>(poller.stats().size()), WallMs()) {
  for (size_t i = 0; i < poller.stats().size(); i++) {
    names_.push_back(poller.stats()[i].name.toStdString());
    index_[names_.back()] = static_cast<int>(i);
  }
  QDirIterator it(QStringLiteral(":/web"), QDir::Files, QDirIterator::Subdirectories);
  while (it.hasNext()) {
    QFile file(it.next());
    if (!file.open(QIODevice::ReadOnly)) continue;
    const QString name = file.fileName().mid(6);  /* after ":/web/" */
    resources_[name.toStdString()] = Resource{ContentType(name), file.readAll().toStdString()};
  }
}

Pages::~Pages() {
  if (journal_) journal_->onAppend = nullptr;
}

void Pages::setRun(const Runner &runner, const Profile &profile, Journal &journal) {
  runner_ = &runner;
  profile_ = &profile;
  events_ = std::make_unique<RunEvents>(profile, poller_.stats());
  for (const QJsonObject &r : journal.records()) events_->take(r);
  journal.onAppend = [events = events_.get()](const QJsonObject &r) { events->take(r); };
  journal_ = &journal;
}

void Pages::serve(HttpServer &http) {
  http.get("/", [this](const HttpRequest &, HttpResponse &r) { resource("room.html", r); }, kOnWorker);
  http.get("/chamber", [this](const HttpRequest &, HttpResponse &r) { resource("chamber.html", r); }, kOnWorker);
  http.get("/static/", [this](const HttpRequest &q, HttpResponse &r) { resource(q.path.substr(8), r); },
           kPathPrefix | kOnWorker);
  http.get("/api/v1/chambers", kJson, [this](std::string &out) { chambers(out); });
  http.get("/api/v1/runs", kJson, [this](std::string &out) {
    if (runner_) AppendRuns(*runner_, *profile_, poller_.stats(), out);
    else out += "{\"runs\":[]}";
  });
  http.get("/api/v1/series", [this](const HttpRequest &q, HttpResponse &r) { series(q, r); }, kOnWorker);
  http.get("/csv", [this](const HttpRequest &q, HttpResponse &r) { csv(q, r); }, kOnWorker);
  http.get("/report", [this](const HttpRequest &q, HttpResponse &r) {
    if (report) report(ParseQuery(q.query)["run"], r);
    else Fail(r, 404, "this monitor has no report of a run");
  }, kOnWorker);
}

void Pages::resource(const std::string &name, HttpResponse &response) const {
  auto it = resources_.find(name);
  if (it == resources_.end()) return Fail(response, 404, "not found");
  response.contentType = it->second.contentType;
  response.body = it->second.bytes;
}

void Pages::chambers(std::string &out) const {
  const std::vector<ChamberStats> &stats = poller_.stats();
  const int64_t nowNs = NowNs();
  out.reserve(stats.size() * kChamberJsonBytes);
  out += "{\"time\":" + std::to_string(WallMs()) + ",\"run\":";
  if (runner_) AppendJsonString(runner_->runId().toStdString(), out);
  else out += "null";
  out += ",\"chambers\":[";
  for (size_t i = 0; i < stats.size(); i++) {
    if (i) out += ',';
    AppendChamber(stats[i], nowNs, out);
    if (runner_ && i < runner_->views().size()) AppendChamberRun(runner_->views()[i], *profile_, out);
    else out += ",\"run\":null,\"alarms\":[]";
    out += '}';
  }
  out += "]}";
}

bool Pages::chamberOf(const std::map<std::string, std::string> &query, int *index, HttpResponse &response) const {
  auto name = query.find("chamber");
  auto it = name == query.end() ? index_.end() : index_.find(name->second);
  if (it != index_.end()) {
    *index = it->second;
    return true;
  }
  Fail(response, name == query.end() ? 400 : 404, name == query.end() ? "chamber=NAME is needed" : "no such chamber");
  return false;
}

void Pages::series(const HttpRequest &request, HttpResponse &response) const {
  const auto query = ParseQuery(request.query);
  int chamber = 0;
  Window w;
  if (!chamberOf(query, &chamber, response) || !WindowOf(query, &w, response)) return;
  const int64_t b = BucketFor(history_, chamber, w);
  Trend trend(FloorTo(w.from, b), CeilTo(w.to, b), b);
  const char *source = "memory";
  std::string error;
  if (!readTrend(chamber, trend, &source, &error))
    return Fail(response, error.empty() ? 503 : 500, error.empty() ? "the CSV file is being read for others" : error);
  const std::string &name = query.at("chamber");
  std::string &out = response.body;
  out += "{\"chamber\":";
  AppendJsonString(name, out);
  out += ",\"from\":" + std::to_string(trend.from) + ",\"to\":" + std::to_string(trend.to) +
         ",\"bucket_ms\":" + std::to_string(b) + ",\"source\":\"" + source + "\"";
  AppendTrend(trend, out);
  if (events_) events_->appendSeries(chamber, trend.from, trend.to, out);
  else out += ",\"steps\":[],\"alarms\":[]";
  out += ",\"csv\":";
  AppendJsonString(CsvLink(name, trend.from, trend.to), out);
  out += '}';
  response.contentType = kJson;
}

/* Fills trend from memory, and from the CSV file before what memory
 * holds; *source says from where. False with *error when the file could
 * not be read, with it empty when too many read it now. */
bool Pages::readTrend(int chamber, Trend &trend, const char **source, std::string *error) const {
  const int64_t split = history_.fill(chamber, trend, WallMs());
  if (split <= trend.from || settings_.csvPath.isEmpty()) {
    trend.finish();
    return true;
  }
  *source = split >= trend.to ? "csv" : "both";
  ReaderPlace place(readers_);
  CsvWindowReader reader;
  if (!place.held || !reader.open(settings_.csvPath.toStdString(), error)) return false;
  CsvWindow w;
  AppendNameField(names_[static_cast<size_t>(chamber)].c_str(), w.chamberField);
  w.from = trend.from;
  w.to = split;
  w.disorderMs = settings_.disorderMs;
  if (!reader.read(w, [&](const char *line, size_t n, int64_t t) { AddCsvRow(line, n, t, trend); return true; }, error))
    return false;
  trend.endOutage(split);
  trend.finish();
  return true;
}

void Pages::csv(const HttpRequest &request, HttpResponse &response) const {
  const auto query = ParseQuery(request.query);
  int chamber = 0;
  Window w;
  if (!chamberOf(query, &chamber, response) || !WindowOf(query, &w, response)) return;
  if (settings_.csvPath.isEmpty()) return Fail(response, 404, "this monitor keeps no CSV file");
  auto place = std::make_shared<ReaderPlace>(readers_);
  auto reader = std::make_shared<CsvWindowReader>();
  std::string error;
  if (!place->held) return Fail(response, 503, "the CSV file is being read for others");
  if (!reader->open(settings_.csvPath.toStdString(), &error)) return Fail(response, 500, error);
  CsvWindow window;
  AppendNameField(names_[static_cast<size_t>(chamber)].c_str(), window.chamberField);
  window.from = w.from;
  window.to = w.to;
  window.disorderMs = settings_.disorderMs;
  response.contentType = "text/csv; charset=utf-8";
  response.stream = [place, reader, window](const HttpWrite &write) { StreamRows(*reader, window, write); };
}

}  // namespace monitor
