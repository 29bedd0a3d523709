/*
 * send.cpp -- the one-shot form (see send.h). It waits with the socket's
 * blocking calls: there is one chamber and nothing else to serve. The
 * output forms: hex, raw and interpreted are the test program's display
 * modes, in the language asked for, printed in the locale's encoding;
 * json is one object a line (UTF-8) with the decoded values.
 */
#include "send.h"

#include <stdio.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTcpSocket>
#include <cstring>

#include "answer_end.h"
#include "display.h"
#include "rows.h"
#include "clock.h"
#include "values.h"

namespace monitor {

namespace {

struct Answer {
  char bytes[kAnswerMax + 1];
  size_t length = 0;
  int64_t roundTripNs = 0;
};

/* The decoded values of answer a to command as a JSON array of {"name",
 * "channel", "number" or "text"}. */
QJsonArray ValuesJson(const QByteArray &command, Answer *a) {
  AnswerValues values;
  QJsonArray list;
  DecodeAnswerBody(command.constData(), static_cast<size_t>(command.size()), a->bytes, a->length, &values);
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

/* Prints one result line: the answer in the form asked for, or, in json,
 * the outcome too (answer null when none came). The interpreted sentence,
 * like the values, is that of the answer's body (see AnswerBody). */
void Print(const SendOptions &o, const QByteArray &command, Outcome outcome, Answer *a) {
  if (o.form == SendForm::Json) {
    QJsonObject line{{"command", QString::fromLatin1(command)}, {"outcome", OutcomeName(outcome)}};
    line["answer"] = a ? QJsonValue(QString::fromLatin1(a->bytes, static_cast<qsizetype>(a->length)))
                       : QJsonValue();
    if (a) line["round_trip_seconds"] = static_cast<double>(a->roundTripNs) / 1e9;
    if (a && outcome == kAnswered) line["values"] = ValuesJson(command, a);
    fputs(QJsonDocument(line).toJson(QJsonDocument::Compact).constData(), stdout);
    fputc('\n', stdout);
  } else if (a) {
    static const int kModes[] = {DISPLAY_HEX, DISPLAY_RAW, DISPLAY_INTERPRETED};
    char copy[kAnswerMax + 1];
    char line[DISPLAY_LINE_SIZE] = "";
    size_t shown = a->length;
    if (o.form == SendForm::Interpreted)
      shown = AnswerBody(command.constData(), static_cast<size_t>(command.size()), a->bytes, a->length);
    memcpy(copy, a->bytes, shown);
    copy[shown] = 0;
    DescribeAnswerIn(copy, line, kModes[static_cast<int>(o.form)], o.english ? 1 : 0);
    fprintf(stdout, "%s\n", QString::fromLatin1(line).toLocal8Bit().constData());
  }
  fflush(stdout);
}

/* Waits for the answer to the command just written. Returns kAnswered (or
 * kInvalid: not beginning with the command's letter), kTimeout or kClosed. */
Outcome Receive(QTcpSocket &socket, const SendOptions &o, const QByteArray &command, int64_t sentNs,
                Answer *a) {
  const int64_t deadline = sentNs + o.timeoutMs * kNsPerMs;
  int64_t lastByte = 0;
  a->length = 0;
  for (;;) {
    qint64 n = socket.read(a->bytes + a->length, static_cast<qint64>(kAnswerMax - a->length));
    if (n > 0 && a->length == 0) n = static_cast<qint64>(DropLineEnds(a->bytes, static_cast<size_t>(n)));
    if (n > 0) {
      a->length += static_cast<size_t>(n);
      lastByte = NowNs();
    }
    bool whole = AnswerComplete(command.constData(), static_cast<size_t>(command.size()), a->bytes, a->length);
    int64_t until = a->length > 0 ? std::min(deadline, lastByte + o.gapMs * kNsPerMs) : deadline;
    int64_t now = NowNs();
    bool open = socket.state() == QAbstractSocket::ConnectedState;
    if (whole || (a->length > 0 && (now >= until || !open))) break;
    if (!open) return kClosed;
    if (now >= deadline) return kTimeout;
    socket.waitForReadyRead(static_cast<int>((until - now + kNsPerMs - 1) / kNsPerMs));
  }
  a->bytes[a->length] = 0;
  a->roundTripNs = lastByte - sentNs;
  return a->bytes[0] == command[0] ? kAnswered : kInvalid;
}

}  // namespace

int RunSend(const SendOptions &o) {
  QTcpSocket socket;
  QString where = o.chamber.address();
  socket.connectToHost(o.chamber.host, o.chamber.port);
  if (!socket.waitForConnected(o.timeoutMs)) {
    bool late = socket.error() == QAbstractSocket::SocketTimeoutError;
    fprintf(stderr, "quenta-monitor: cannot connect to %s: %s\n", qPrintable(where),
            late ? "no connection within the timeout" : qPrintable(socket.errorString()));
    return kExitUnreachable;
  }
  socket.setSocketOption(QAbstractSocket::LowDelayOption, 1);
  Answer answer;
  for (const QByteArray &command : o.commands) {
    if (socket.bytesAvailable() > 0) socket.skip(socket.bytesAvailable());
    int64_t sentNs = NowNs();
    socket.write(command);
    socket.flush();
    Outcome outcome = Receive(socket, o, command, sentNs, &answer);
    bool answered = outcome == kAnswered || outcome == kInvalid;
    Print(o, command, outcome, answered ? &answer : nullptr);
    if (answered) continue;
    fprintf(stderr, "quenta-monitor: %s: %s \"%s\"\n", qPrintable(where),
            outcome == kTimeout ? "no answer within the timeout to" : "connection closed before the answer to",
            QString::fromLatin1(command).toLocal8Bit().constData());
    return outcome == kTimeout ? kExitTimeout : kExitClosed;
  }
  return kExitOk;
}

}  // namespace monitor
