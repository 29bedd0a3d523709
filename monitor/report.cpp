/*
 * report.cpp -- the report of a run (report.h): its journal, profile and
 * figures found and checked, then the page put together with its figures
 * as JSON and its scripts and styles inlined.
 */
#include "report.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>

#include "journal.h"
#include "report_sections.h"

namespace monitor {

namespace {

QByteArray Resource(const QString &name) {
  QFile file(name);
  return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

/* What the page inlines, read once: uPlot, and the report's own. */
struct Inlined {
  QByteArray uplotJs = Resource(":/web/uPlot.iife.min.js"), uplotCss = Resource(":/web/uPlot.min.css");
  QByteArray reportJs = Resource(":/web/report.js"), reportCss = Resource(":/web/report.css");
};

const Inlined &Files() {
  static const Inlined files;  /* made once, on whichever thread asks first */
  return files;
}

std::string HashSource(const QByteArray &text) {
  return "'sha256-" + QCryptographicHash::hash(text, QCryptographicHash::Sha256).toBase64().toStdString() + "'";
}

/* The journal's run record, which must be of the run asked for. */
bool FindRun(const std::vector<QJsonObject> &records, const ReportInput &in, const QString &journal, QJsonObject *run,
             QString *error) {
  for (const QJsonObject &r : records)
    if (r["e"] == "run") *run = r;
  if (run->isEmpty()) *error = journal + ": names no run (it has no \"run\" record)";
  else if (!in.runId.isEmpty() && (*run)["id"].toString() != in.runId)
    *error = journal + ": is the journal of run " + (*run)["id"].toString() + ", not of " + in.runId;
  return error->isEmpty();
}

/* The profile's path: the one given, else the one the run was given,
 * from here or, when it is not here, from the journal's directory. */
QString ProfilePath(const ReportInput &in, const QJsonObject &run, const QString &journal) {
  if (!in.profilePath.isEmpty()) return in.profilePath;
  const QString path = run["profile"].toString();
  if (QFileInfo(path).isAbsolute() || QFileInfo::exists(path)) return path;
  const QString beside = QFileInfo(journal).dir().filePath(path);
  return QFileInfo::exists(beside) ? beside : path;
}

/* Reads the profile at path, which must be the one the run was made with. */
bool LoadRunProfile(const QString &path, const QJsonObject &run, Profile *profile, QByteArray *text, QString *error) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) {
    *error = path + ": cannot read the run's profile: " + file.errorString() + " (give it with --profile)";
    return false;
  }
  *text = file.readAll();
  if (!ParseProfile(*text, path, profile, error)) return false;
  profile->path = path;
  if (profile->sha256 == run["sha256"].toString().toLatin1()) return true;
  *error = path + ": is not the profile of the run (its SHA-256 is " + QString::fromLatin1(profile->sha256) +
           ", the journal's " + run["sha256"].toString() + ")";
  return false;
}

/* JSON for a script element: "</" is written "<\/", so that no text in it
 * can end the element. */
void AppendJsonBlock(const char *id, const QJsonObject &object, std::string &out) {
  out += std::string("<script type=\"application/json\" id=\"") + id + "\">";
  out += QJsonDocument(object).toJson(QJsonDocument::Compact).replace("</", "<\\/").toStdString();
  out += "</script>\n";
}

void AppendHead(const QString &title, std::string &out) {
  out += "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n";
  out += "<meta http-equiv=\"Content-Security-Policy\" content=\"" + ReportContentSecurityPolicy() + "\">\n<title>";
  AppendHtml(title, out);
  out += "</title>\n<style>" + Files().uplotCss.toStdString() + "</style>\n<style>" + Files().reportCss.toStdString() +
         "</style>\n</head>\n<body>\n";
}

void AppendPage(const ReportData &d, std::string *html) {
  std::string &out = *html;
  AppendHead("Test run " + d.figures.runId, out);
  AppendOverview(d, out);
  AppendTolerances(d, out);
  AppendIntegrity(d, out);
  AppendProfileText(d, out);
  for (size_t c = 0; c < d.figures.chambers.size(); c++) AppendChamber(d, c, out);
  QJsonObject figures = RunFiguresJson(d.figures, d.profile);
  figures["tolerances"] = TolerancesJson(d.profile);
  figures["time_scale"] = d.figures.timeScale;
  figures["csv"] = d.csvName;
  AppendJsonBlock("figures", figures, out);
  AppendJsonBlock("trends", TrendsJson(d), out);
  out += "<script>" + Files().uplotJs.toStdString() + "</script>\n<script>" + Files().reportJs.toStdString() +
         "</script>\n</body>\n</html>\n";
}

}  // namespace

bool WriteReport(const ReportInput &input, std::string *html, QString *error) {
  const QString journal = input.journalPath.isEmpty() ? input.csvPath + ".journal" : input.journalPath;
  std::vector<QJsonObject> records;
  QJsonObject run;
  if (!Journal::read(journal, &records, error) || !FindRun(records, input, journal, &run, error)) return false;
  Profile profile;
  QByteArray text;
  if (!LoadRunProfile(ProfilePath(input, run, journal), run, &profile, &text, error)) return false;
  RunFigures figures;
  if (!ComputeRunFigures(input.csvPath, run["id"].toString(), profile, records, &figures, error, kTrendPoints)) return false;
  html->clear();
  AppendPage(ReportData{profile, text, figures, QFileInfo(input.csvPath).fileName()}, html);
  return true;
}

std::string ReportContentSecurityPolicy() {
  const Inlined &f = Files();
  return "default-src 'none'; script-src " + HashSource(f.uplotJs) + " " + HashSource(f.reportJs) + "; style-src " +
         HashSource(f.uplotCss) + " " + HashSource(f.reportCss) + "; base-uri 'none'; form-action 'none'";
}

}  // namespace monitor
