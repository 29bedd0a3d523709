/*
 * send.cpp -- the one-shot form (see send.h): a poller of one chamber,
 * polled once, and the printing of its results. The output forms: hex
 * (every byte), raw (the bytes, control bytes escaped so that an answer
 * stays one line) and interpreted (the test program's sentence of the
 * answer), in the language asked for and the locale's encoding; json is
 * one object a line (UTF-8) with the outcome and the decoded values.
 */
#include "send.h"

#include <stdio.h>

#include <QCoreApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include "answer_frame.h"
#include "display.h"
#include "poller.h"
#include "rows.h"
#include "values.h"

namespace monitor {

namespace {

/* The bytes with each control byte (0x00 to 0x1F, 0x7F to 0x9F) written as
 * "\xNN" and the backslash as "\\"; every other byte as it is (Latin-1). */
QByteArray EscapeControls(const char *bytes, size_t length) {
  QByteArray out;
  for (size_t i = 0; i < length; i++) {
    unsigned char u = static_cast<unsigned char>(bytes[i]);
    if (u == '\\') out += "\\\\";
    else if (u < 0x20 || (u >= 0x7F && u < 0xA0)) out += "\\x" + QByteArray::number(u, 16).rightJustified(2, '0');
    else out += static_cast<char>(u);
  }
  return out;
}

/* Every byte as "0x%02X " (the test program's hex mode, without its limit). */
QByteArray Hex(const char *bytes, size_t length) {
  QByteArray out;
  char group[8];
  for (size_t i = 0; i < length; i++) {
    snprintf(group, sizeof group, "0x%02X ", static_cast<unsigned char>(bytes[i]));
    out += group;
  }
  return out;
}

/* The test program's sentence of the answer's body, control bytes escaped. */
QByteArray Sentence(const CommandResult &r, bool english) {
  char body[ANSWER_MAX + 1];
  char line[DISPLAY_LINE_SIZE] = "";
  size_t end = AnswerBodyLength(r.command, r.commandLength, r.answer, r.answerLength);
  memcpy(body, r.answer, end);
  body[end] = 0;
  DescribeAnswerIn(body, line, DISPLAY_INTERPRETED, english ? 1 : 0);
  return EscapeControls(line, strlen(line));
}

/* The decoded values as a JSON array of {"name", "channel", "number" or "text"}. */
QJsonArray ValuesJson(const AnswerValues &values) {
  QJsonArray list;
  for (int i = 0; i < values.count && i < ANSWER_VALUES_MAX; i++) {
    const AnswerValue &v = values.value[i];
    QJsonObject one{{"name", QString::fromLatin1(v.name ? v.name : "")}};
    one["channel"] = v.channel ? QJsonValue(QString(QChar(static_cast<uchar>(v.channel)))) : QJsonValue();
    if (v.kind == VALUE_NUMBER) one["number"] = v.number;
    else one["text"] = QString::fromLatin1(v.text);
    list.append(one);
  }
  return list;
}

/* The json line of a result: command, outcome, answer (null without
 * bytes), round trip and values of an answer. */
QByteArray JsonLine(const CommandResult &r) {
  QJsonObject line{{"command", QString::fromLatin1(r.command, static_cast<qsizetype>(r.commandLength))},
                   {"outcome", OutcomeName(r.outcome)}};
  bool bytes = r.answerLength > 0 || r.outcome == kAnswered || r.outcome == kInvalid;
  line["answer"] = bytes ? QJsonValue(QString::fromLatin1(r.answer, static_cast<qsizetype>(r.answerLength)))
                         : QJsonValue();
  if (r.roundTripNs >= 0) line["round_trip_seconds"] = static_cast<double>(r.roundTripNs) / 1e9;
  if (r.values) line["values"] = ValuesJson(*r.values);
  return QJsonDocument(line).toJson(QJsonDocument::Compact);
}

/* Prints one result: in json every result but a skipped one; in the other
 * forms every answer that ended whole. */
void Print(const SendOptions &o, const CommandResult &r) {
  QByteArray text;
  bool whole = r.outcome == kAnswered || r.outcome == kInvalid;
  if (o.form == SendForm::Json) text = JsonLine(r);
  else if (!whole) return;
  else if (o.form == SendForm::Hex) text = Hex(r.answer, r.answerLength);
  else if (o.form == SendForm::Raw) text = EscapeControls(r.answer, r.answerLength);
  else text = Sentence(r, o.english);
  if (o.form != SendForm::Json) text = QString::fromLatin1(text).toLocal8Bit();
  fwrite(text.constData(), 1, static_cast<size_t>(text.size()), stdout);
  fputc('\n', stdout);
  fflush(stdout);
}

/* The exit code of a result that ended the poll early, with its message. */
int Failure(const SendOptions &o, const CommandResult &r) {
  QByteArray where = o.chamber.address().toUtf8();
  QByteArray command = QString::fromLatin1(r.command, static_cast<qsizetype>(r.commandLength)).toLocal8Bit();
  if (!r.sent) {
    bool late = r.outcome == kTimeout;
    fprintf(stderr, "quenta-monitor: cannot connect to %s: %s\n", where.constData(),
            late ? "no connection within the timeout" : r.reason);
    return kExitUnreachable;
  }
  if (r.outcome == kClosed) {
    fprintf(stderr, "quenta-monitor: %s: connection closed %s the answer to \"%s\"\n", where.constData(),
            r.answerLength > 0 ? "in the middle of" : "before", command.constData());
    return kExitClosed;
  }
  if (r.outcome == kIncomplete)
    fprintf(stderr, "quenta-monitor: %s: only %zu bytes of the answer to \"%s\" within the timeout\n",
            where.constData(), r.answerLength, command.constData());
  else
    fprintf(stderr, "quenta-monitor: %s: no answer within the timeout to \"%s\"\n", where.constData(),
            command.constData());
  return kExitTimeout;
}

}  // namespace

int RunSend(const SendOptions &o) {
  PollSettings settings;
  settings.commands = o.commands;
  settings.timeoutMs = o.timeoutMs;
  settings.gapMs = o.gapMs;
  settings.once = true;
  Poller poller({o.chamber}, settings);
  int code = kExitOk;
  poller.onResult = [&](const CommandResult &r) {
    if (r.outcome == kSkipped) return;
    Print(o, r);
    if (r.outcome == kInvalid && code == kExitOk) {
      fprintf(stderr, "quenta-monitor: %s: the answer to \"%s\" is not an answer to it\n",
              qPrintable(o.chamber.address()),
              QString::fromLatin1(r.command, static_cast<qsizetype>(r.commandLength)).toLocal8Bit().constData());
      code = kExitInvalid;
    } else if (r.outcome != kAnswered && r.outcome != kInvalid) {
      code = Failure(o, r);
    }
  };
  poller.onStopped = [] { QCoreApplication::exit(0); };
  poller.start();
  QCoreApplication::exec();
  return code;
}

}  // namespace monitor
