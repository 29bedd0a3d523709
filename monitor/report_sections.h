/*
 * report_sections.h -- the parts of a run's report (report.h): its HTML
 * sections, the steps' tolerances and the trends as JSON. For report.cpp.
 */
#ifndef QUENTA_MONITOR_REPORT_SECTIONS_H
#define QUENTA_MONITOR_REPORT_SECTIONS_H

#include <QByteArray>
#include <QJsonArray>
#include <QJsonObject>
#include <QString>
#include <string>
#include <vector>

#include "profile.h"
#include "run_record.h"

namespace monitor {

constexpr size_t kTrendPoints = 680;  /* a plot's width in CSS pixels, within A4's margins */

struct ReportData {
  const Profile &profile;
  const QByteArray &profileText;
  const RunFigures &figures;
  QString csvName;                    /* the CSV file's name, for the check */
};

/* Appends text with &, <, > and " escaped. */
void AppendHtml(const QString &text, std::string &out);

void AppendOverview(const ReportData &d, std::string &out);
void AppendTolerances(const ReportData &d, std::string &out);
void AppendIntegrity(const ReportData &d, std::string &out);
void AppendProfileText(const ReportData &d, std::string &out);
/* One chamber: its steps' table, then a section per step with its plots. */
void AppendChamber(const ReportData &d, size_t chamber, std::string &out);

/* Each step's band, limit and actions, by step number. */
QJsonArray TolerancesJson(const Profile &profile);
/* Every plot's points, by the id of its element in the chamber sections. */
QJsonObject TrendsJson(const ReportData &d);

}  // namespace monitor

#endif
