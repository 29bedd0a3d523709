/*
 * pages_test.cpp -- the monitor's trends (/api/v1/series) against the
 * simulator: the buckets it answers from memory, from the CSV file and
 * from both are the ones the CSV rows of the window give, and the outages
 * the rows show are in them. Two monitors one after the other on one CSV
 * file: the first one's rows are older than the second one's memory. The
 * chamber on 127.0.80.30, the pages on 127.0.80.2 port 9464.
 */
#include <gtest/gtest.h>

#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <array>
#include <cmath>
#include <map>

#include "monitor_support.h"

namespace {

constexpr int kWaitMs = 30000;
enum Column { kTime, kChamber, kOutcome = 4, kName = 7, kChannel, kNumber };
using Rows = std::vector<std::vector<std::string>>;

int64_t TimeOf(const std::vector<std::string> &row) {
  return QDateTime::fromString(QString::fromStdString(row[kTime]), Qt::ISODateWithMs).toMSecsSinceEpoch();
}

Rows ReadRows(const QString &csv) {
  bool whole = false;
  return ReadCsvRows(csv, &whole);
}

/* The first row from index from on that is (or, with failed, that is
 * neither answered nor skipped) answered; rows.size() when none is. */
size_t Next(const Rows &rows, size_t from, bool failed) {
  for (size_t i = from; i < rows.size(); i++)
    if ((rows[i][kOutcome] == "answered") != failed && rows[i][kOutcome] != "skipped") return i;
  return rows.size();
}

/* Waits for 3 s more of polls (ten rows each). */
void AwaitPolls(const QString &csv) {
  const size_t polled = ReadRows(csv).size() + 150;
  EXPECT_TRUE(WaitFor([&] { return ReadRows(csv).size() >= polled; }, kWaitMs));
}

/* After 3 s of polls, takes the chamber down and up again, has it set
 * setValue, and waits for 3 s of polls: the outage the CSV file shows,
 * from the first result that failed to the next one answered. */
QJsonArray Outage(Child &sim, const QString &csv, const char *setValue) {
  AwaitPolls(csv);
  Rows rows;
  const size_t before = ReadRows(csv).size();
  EXPECT_TRUE(sim.control("down 1"));
  EXPECT_TRUE(WaitFor([&] { rows = ReadRows(csv); return Next(rows, before, true) < rows.size(); }, kWaitMs));
  EXPECT_TRUE(sim.control("up 1"));
  EXPECT_TRUE(WaitFor([&] { rows = ReadRows(csv); return Next(rows, Next(rows, before, true), false) < rows.size(); }, kWaitMs));
  EXPECT_EQ(RunMonitor({"send", "127.0.80.30", setValue}).code, 0);
  AwaitPolls(csv);
  const size_t failed = Next(rows, before, true);
  return QJsonArray{static_cast<double>(TimeOf(rows[failed])), static_cast<double>(TimeOf(rows[Next(rows, failed, false)]))};
}

/* What the answer's buckets hold when made from the CSV rows of its
 * window: its members t and channels. */
QJsonObject FromRows(const Rows &rows, const QJsonObject &answer) {
  const int64_t from = answer["from"].toInteger(), to = answer["to"].toInteger(), b = answer["bucket_ms"].toInteger();
  std::map<int64_t, std::map<int, std::array<double, 3>>> buckets;  /* start, channel: min, max, set */
  for (const auto &r : rows) {
    const int64_t t = TimeOf(r);
    const bool isSet = r[kName] == "set";
    if (r[kOutcome] != "answered" || t < from || t >= to || (!isSet && r[kName] != "actual")) continue;
    const double v = QByteArray::fromStdString(r[kNumber]).toDouble();
    auto &c = buckets[from + (t - from) / b * b].try_emplace(r[kChannel][0] - '0', std::array<double, 3>{NAN, NAN, NAN}).first->second;
    if (isSet) c[2] = v;
    else c = {std::isnan(c[0]) ? v : std::min(c[0], v), std::isnan(c[1]) ? v : std::max(c[1], v), c[2]};
  }
  QJsonArray t;
  QJsonObject channels;
  for (int k = 0; k < 5; k++) {
    QJsonArray columns[3];
    for (const auto &bucket : buckets)
      for (int m = 0; m < 3; m++) columns[m].append(bucket.second.at(k)[m]);
    channels[QString::number(k)] = QJsonObject{{"min", columns[0]}, {"max", columns[1]}, {"set", columns[2]}};
  }
  for (const auto &bucket : buckets) t.append(static_cast<double>(bucket.first));
  return QJsonObject{{"t", t}, {"channels", channels}};
}

QJsonObject Series(int64_t from, int64_t to) {
  QByteArray path = QStringLiteral("/api/v1/series?chamber=127.0.80.30:1080&from=%1&to=%2").arg(from).arg(to).toLatin1();
  return QJsonDocument::fromJson(HttpGet("127.0.80.2", 9464, path.constData())).object();
}

/* Two monitors polling every 0.2 s, one after the other, each seeing an
 * outage and a new set value; then windows of the first one's rows (the
 * file), of the second one's (memory) and of both. */
TEST(PagesSeries, BucketsAreThoseOfTheCsvRowsFromMemoryTheFileOrBoth) {
  QTemporaryDir dir;
  const QString csv = dir.filePath("room.csv");
  Child sim, first, second;
  ASSERT_TRUE(sim.startSim("127.0.80.30", {"--noise", "2"}));
  const QStringList args{"127.0.80.30", "--every", "0.2", "--timeout", "0.5", "--csv", csv, "--metrics", "127.0.80.2:9464"};
  ASSERT_TRUE(first.startMonitor(args));
  const QJsonArray gone = Outage(sim, csv, "a0 030.0");
  ASSERT_EQ(first.terminate(), 0) << first.errors().toStdString();
  const size_t firstRows = ReadRows(csv).size();
  ASSERT_TRUE(second.startMonitor(args));
  ASSERT_TRUE(WaitFor([&] { return ReadRows(csv).size() > firstRows; }, kWaitMs));
  const QJsonArray again = Outage(sim, csv, "a0 025.0");
  const Rows before = ReadRows(csv);
  const int64_t start = TimeOf(before.front()), last = TimeOf(before[firstRows - 1]), next = TimeOf(before[firstRows]);
  const int64_t end = QDateTime::currentMSecsSinceEpoch();
  ASSERT_TRUE(WaitFor([&] { return TimeOf(ReadRows(csv).back()) > end + 2000; }, kWaitMs)) << "every row of the windows is in the file";
  struct Case {
    int64_t from, to;
    const char *source;
    std::vector<QJsonArray> outages;
  } cases[] = {{start, last + 1, "csv", {gone}}, {next + 1000, end, "memory", {again}}, {start, end, "both", {gone, again}}};
  const Rows rows = ReadRows(csv);
  for (const Case &c : cases) {
    SCOPED_TRACE(c.source);
    const QJsonObject answer = Series(c.from, c.to), expected = FromRows(rows, answer);
    EXPECT_EQ(answer["source"].toString(), c.source);
    EXPECT_GE(answer["t"].toArray().size(), 5);
    EXPECT_EQ(answer["t"], expected["t"]);
    EXPECT_EQ(answer["channels"], expected["channels"]);
    for (const QJsonArray &outage : c.outages) EXPECT_TRUE(answer["outages"].toArray().contains(outage));
  }
  EXPECT_EQ(second.terminate(), 0) << second.errors().toStdString();
}

}  // namespace
