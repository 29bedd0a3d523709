/*
 * report_main.cpp -- "quenta-monitor report": the report of a run
 * (report.h) written to its file whole or not at all.
 */
#include <errno.h>
#include <stdio.h>
#include <string.h>
#include <unistd.h>

#include <QFile>

#include "report.h"
#include "run_commands.h"

namespace monitor {

namespace {

/* Writes bytes to path through a file beside it, synced, then renamed:
 * an old report stays whole until the new one is. */
QString WriteWhole(const QString &path, const std::string &bytes) {
  QFile file(path + ".part");
  if (!file.open(QIODevice::WriteOnly) || file.write(bytes.data(), static_cast<qint64>(bytes.size())) != static_cast<qint64>(bytes.size()) ||
      !file.flush() || fdatasync(file.handle()) != 0) {
    QString why = file.errorString();
    file.remove();
    return path + ": cannot write the report: " + why;
  }
  file.close();
  if (::rename(QFile::encodeName(file.fileName()).constData(), QFile::encodeName(path).constData()) != 0)
    return path + ": cannot write the report: " + QString::fromLocal8Bit(strerror(errno));
  return QString();
}

}  // namespace

int RunReport(const ReportOptions &o) {
  std::string html;
  QString error;
  if (!WriteReport(ReportInput{o.csvPath, o.runId, o.journalPath, o.profilePath}, &html, &error) ||
      !(error = WriteWhole(o.outPath, html)).isEmpty()) {
    fprintf(stderr, "quenta-monitor: %s\n", qPrintable(error));
    return kExitSetup;
  }
  fprintf(stderr, "quenta-monitor: report in %s\n", qPrintable(o.outPath));
  return kExitOk;
}

}  // namespace monitor
