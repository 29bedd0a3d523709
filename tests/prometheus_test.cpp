/*
 * prometheus_test.cpp -- the monitor with the tools a lab runs beside it:
 * a real Prometheus server scraping a running monitor that polls a
 * simulated chamber, queried over its HTTP API; the scrape configurations
 * and alert rules of docs/monitoring checked by promtool; and the Grafana
 * dashboard there, whose queries may name only metrics the monitor serves
 * and must give data from that real server. Addresses 127.0.40.40 to
 * 127.0.40.59; Prometheus listens on port 19090, never on 9090.
 */
#include <gtest/gtest.h>
#include <signal.h>

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkProxy>
#include <QNetworkReply>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <set>

#include "monitor_support.h"

namespace {

constexpr int kWaitMs = 60000;  /* bound of every wait for a condition */

QString MonitoringFile(const char *name) {
  return QStringLiteral(QUENTA_SOURCE_DIR "/docs/monitoring/") + name;
}

QByteArray ReadAll(const QString &path) {
  QFile file(path);
  return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

/* The metric names a /metrics text serves: each family of a "# TYPE"
 * line, and for a histogram its _bucket, _sum and _count series. */
std::set<std::string> ServedNames(const QByteArray &text) {
  std::set<std::string> names;
  for (const QByteArray &line : text.split('\n')) {
    QList<QByteArray> words = line.split(' ');
    if (words.size() != 4 || words[0] != "#" || words[1] != "TYPE") continue;
    std::string name = words[2].toStdString();
    names.insert(name);
    if (words[3] == "histogram")
      for (const char *suffix : {"_bucket", "_sum", "_count"}) names.insert(name + suffix);
  }
  return names;
}

/* Every quenta_... name that a dashboard or rules file mentions. */
std::set<std::string> NamesIn(const QByteArray &text) {
  static const QRegularExpression name(QStringLiteral("\\bquenta_[a-z0-9_]+"));
  std::set<std::string> names;
  for (const QRegularExpressionMatch &m : name.globalMatch(QString::fromUtf8(text)))
    names.insert(m.captured().toStdString());
  return names;
}

void CollectExpressions(const QJsonValue &value, QStringList *out) {
  if (value.isArray()) {
    for (const QJsonValue &v : value.toArray()) CollectExpressions(v, out);
  } else if (value.isObject()) {
    QJsonObject o = value.toObject();
    for (auto it = o.begin(); it != o.end(); ++it) {
      if (it.key() == "expr" && it.value().isString()) out->append(it.value().toString());
      else CollectExpressions(it.value(), out);
    }
  }
}

/* The PromQL of every panel of the dashboard, its Grafana variables set
 * as a lab's Grafana sets them: all chambers, a rate window of 10 s. */
QStringList DashboardQueries() {
  QStringList expressions;
  CollectExpressions(QJsonDocument::fromJson(ReadAll(MonitoringFile("quenta-dashboard.json"))).object(),
                     &expressions);
  for (QString &e : expressions) e.replace("$__rate_interval", "10s").replace("$chamber", ".+");
  return expressions;
}

/* The alert rules' expressions, from their "expr:" lines. */
QStringList AlertQueries() {
  QStringList expressions;
  for (const QByteArray &line : ReadAll(MonitoringFile("quenta-alerts.yml")).split('\n'))
    if (line.trimmed().startsWith("expr:")) expressions << QString::fromUtf8(line.trimmed().mid(5).trimmed());
  return expressions;
}

/* GET url; the body, and *status the HTTP status (0 without a reply). */
QByteArray Fetch(const QUrl &url, int *status) {
  EnsureApp();
  QNetworkAccessManager manager;
  manager.setProxy(QNetworkProxy::NoProxy);
  QNetworkReply *reply = manager.get(QNetworkRequest(url));
  WaitFor([&] { return reply->isFinished(); }, kWaitMs);
  *status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
  QByteArray body = reply->readAll();
  reply->deleteLater();
  return body;
}

/* A Prometheus server of its own, with a temporary configuration and
 * data directory, scraping one target every second. */
class PrometheusServer {
 public:
  bool start(const QString &listen, const QString &target) {
    QString config = dir_.filePath("prometheus.yml");
    QByteArray text = "global:\n  scrape_interval: 1s\n  evaluation_interval: 1s\n"
                      "scrape_configs:\n  - job_name: quenta-monitor\n    scrape_timeout: 900ms\n"
                      "    static_configs:\n      - targets: [\"" + target.toUtf8() + "\"]\n";
    if (!WriteFile(config, text)) return false;
    listen_ = listen;
    process_.setProcessChannelMode(QProcess::MergedChannels);
    process_.start("prometheus", {"--config.file=" + config, "--storage.tsdb.path=" + dir_.filePath("data"),
                                  "--web.listen-address=" + listen});
    if (!process_.waitForStarted(kWaitMs)) return false;
    int status = 0;
    return WaitFor([&] {
      Fetch(QUrl("http://" + listen + "/-/ready"), &status);
      return status == 200 || process_.state() == QProcess::NotRunning;
    }, kWaitMs) && status == 200;
  }

  /* The result of an instant query: "status" and "data"."result". */
  QJsonObject query(const QString &expression) {
    QUrl url("http://" + listen_ + "/api/v1/query");
    /* Every byte but the unreserved ones encoded: a "+" left as it is
     * would reach Prometheus as a blank. */
    url.setQuery("query=" + QString::fromLatin1(QUrl::toPercentEncoding(expression)));
    int status = 0;
    return QJsonDocument::fromJson(Fetch(url, &status)).object();
  }

  /* SIGTERM, then waits; the exit code, -1 when it did not end by itself. */
  int stop() {
    process_.terminate();
    if (!WaitFor([&] { return process_.state() == QProcess::NotRunning; }, kWaitMs)) {
      process_.kill();
      process_.waitForFinished(kWaitMs);
      return -1;
    }
    return process_.exitStatus() == QProcess::NormalExit ? process_.exitCode() : -1;
  }

  QByteArray log() { return process_.readAll(); }

  ~PrometheusServer() {
    if (process_.state() != QProcess::NotRunning) stop();
  }

 private:
  QTemporaryDir dir_;
  QProcess process_;
  QString listen_;
};

/* The one sample's value of a query's result as text, "" when there is
 * not exactly one. */
QString OnlyValue(const QJsonObject &reply) {
  QJsonArray result = reply["data"].toObject()["result"].toArray();
  if (result.size() != 1) return QString();
  return result[0].toObject()["value"].toArray()[1].toString();
}

TEST(PrometheusFiles, ScrapeConfigurationsAndAlertRulesPassPromtool) {
  struct Case {
    const char *what, *file;
  } cases[] = {
      {"config", "prometheus.yml"},
      {"config", "prometheus-shards.yml"},
      {"config", "prometheus-federation.yml"},
      {"rules", "quenta-alerts.yml"},
      {"rules", "quenta-alerts.test.yml"},
      {"rules", "quenta-run-alerts.yml"},
      {"rules", "quenta-run-alerts.test.yml"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.file);
    QProcess promtool;
    promtool.setWorkingDirectory(MonitoringFile(""));
    promtool.setProcessChannelMode(QProcess::MergedChannels);
    promtool.start("promtool", {QString(c.file).endsWith(".test.yml") ? "test" : "check", c.what, c.file});
    ASSERT_TRUE(promtool.waitForStarted(kWaitMs)) << "promtool is missing: scripts/install-deps.sh test installs it";
    ASSERT_TRUE(promtool.waitForFinished(kWaitMs));
    QByteArray out = promtool.readAll();
    EXPECT_EQ(promtool.exitCode(), 0) << out.toStdString();
    EXPECT_TRUE(out.contains("SUCCESS")) << out.toStdString();
  }
}

TEST(PrometheusFiles, DashboardAndAlertsNameOnlyMetricsTheMonitorServes) {
  QTemporaryDir dir;
  Child sim, mon;
  ASSERT_TRUE(sim.startSim("127.0.40.40", {}));
  ASSERT_TRUE(mon.startMonitor({"127.0.40.40", "127.0.40.41", "--commands", "Aa,P", "--every", "0.2", "--csv",
                                dir.filePath("run.csv"), "--metrics", "127.0.40.40:9464"}));
  QByteArray text;
  ASSERT_TRUE(WaitFor([&] {
    text = HttpGet("127.0.40.40", 9464, "/metrics");
    return MetricValue(text, "quenta_chamber_answers_total{chamber=\"127.0.40.40:1080\"}") >= 2;
  }, kWaitMs)) << text.toStdString();
  EXPECT_EQ(mon.terminate(), 0);
  std::set<std::string> served = ServedNames(text);
  ASSERT_GE(served.size(), 20u) << text.toStdString();

  /* A counter of the CSV writer on its way in, which the rules use already:
   * drop it here once the monitor serves it. */
  const std::string kComing = "quenta_monitor_csv_rows_dropped_total";
  struct Case {
    const char *file;
    size_t least;  /* names it must mention at least */
  } cases[] = {{"quenta-dashboard.json", 14}, {"quenta-alerts.yml", 5}};
  for (const Case &c : cases) {
    SCOPED_TRACE(c.file);
    std::set<std::string> named = NamesIn(ReadAll(MonitoringFile(c.file)));
    EXPECT_GE(named.size(), c.least);
    for (const std::string &name : named)
      EXPECT_TRUE(served.count(name) == 1 || name == kComing) << name << " is not served";
  }
  QStringList queries = DashboardQueries();
  EXPECT_GE(queries.size(), 20);
  for (const QString &q : queries) EXPECT_FALSE(NamesIn(q.toUtf8()).empty()) << q.toStdString();
}

/* Prometheus scrapes a monitor polling a chamber whose temperature is
 * pinned at -12.5 and one that is not there: the query API gives the
 * value the chamber answered and the CSV holds, the missing chamber
 * down, and data for every query of the dashboard. */
TEST(Prometheus, ScrapesTheMonitorAndGivesTheChambersValues) {
  QTemporaryDir dir;
  QString csv = dir.filePath("run.csv");
  Child sim, mon;
  ASSERT_TRUE(sim.startSim("127.0.40.50", {}));
  RunResult pin = RunMonitor({"send", "127.0.40.50", "u0 999.9", "d0 999.9", "a0 -12.5"});
  ASSERT_EQ(pin.code, 0) << pin.err.toStdString();
  ASSERT_TRUE(mon.startMonitor({"127.0.40.50", "127.0.40.52", "--commands", "Aa,P", "--every", "0.5", "--timeout", "0.5", "--csv", csv,
                                "--metrics", "127.0.40.51:9464"}));
  PrometheusServer prometheus;
  ASSERT_TRUE(prometheus.start("127.0.40.53:19090", "127.0.40.51:9464")) << prometheus.log().toStdString();

  const QString temperature = "quenta_chamber_actual_value{chamber=\"127.0.40.50:1080\",channel=\"0\"}";
  ASSERT_TRUE(WaitFor([&] { return OnlyValue(prometheus.query(temperature)) == "-12.5"; }, kWaitMs))
      << QJsonDocument(prometheus.query(temperature)).toJson().toStdString();
  ASSERT_TRUE(WaitFor([&] {
    return OnlyValue(prometheus.query("quenta_chamber_up{chamber=\"127.0.40.52:1080\"}")) == "0";
  }, kWaitMs));
  EXPECT_TRUE(sim.output().contains(">> A0 -12.5 -12.5 A1")) << "the chamber answered the pinned value";

  QStringList empty;  /* the dashboard's queries without data yet */
  WaitFor([&] {
    empty.clear();
    for (const QString &q : DashboardQueries()) {
      QJsonObject reply = prometheus.query(q);
      if (reply["status"] != "success" || reply["data"].toObject()["result"].toArray().isEmpty()) empty << q;
    }
    return empty.isEmpty();
  }, kWaitMs);
  EXPECT_TRUE(empty.isEmpty()) << "no data for:\n" << empty.join('\n').toStdString();
  for (const QString &q : AlertQueries()) {
    SCOPED_TRACE(q.toStdString());
    EXPECT_EQ(prometheus.query(q)["status"], "success");
  }
  EXPECT_EQ(mon.terminate(), 0) << mon.errors().toStdString();
  EXPECT_EQ(prometheus.stop(), 0) << prometheus.log().toStdString();

  bool whole = false;
  int temperatures = 0;
  for (const auto &r : ReadCsvRows(csv, &whole)) {
    if (r[1] != "127.0.40.50:1080" || r[7] != "actual" || r[8] != "0") continue;
    temperatures++;
    EXPECT_EQ(r[9], "-12.5");
  }
  EXPECT_TRUE(whole);
  EXPECT_GT(temperatures, 0);
}

}  // namespace
