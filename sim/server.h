/*
 * server.h -- the chamber's TCP side: accepts clients, reads their
 * commands, answers through Respond(), and misbehaves on demand.
 *
 * Exports struct Faults (the misbehaviours) and class Server. Several
 * clients may be connected at once; all of them talk to one Chamber. The
 * server runs on the Qt event loop of the thread that creates it.
 */
#ifndef QUENTA_SIM_SERVER_H
#define QUENTA_SIM_SERVER_H

#include <QHostAddress>
#include <QObject>
#include <QTcpServer>

#include "chamber.h"

namespace sim {

struct Faults {
  bool closeAfterAnswer = false;  /* close the connection after each answer */
  bool splitAnswers = false;      /* each answer in two writes, a pause between */
  int splitPauseMs = 50;
  int delayMs = 0;                /* wait this long before each answer */
  bool silent = false;            /* carry out commands, never answer */
};

class Server : public QObject {
 public:
  /* verbose: log connections, commands and answers on standard output. */
  Server(Chamber &chamber, const Faults &faults, bool verbose, QObject *parent = nullptr);

  /* Returns false, with errorString() telling why, when the address and
   * port cannot be bound. */
  bool listen(const QHostAddress &address, quint16 port);
  QString errorString() const { return server_.errorString(); }
  quint16 port() const { return server_.serverPort(); }

 private:
  void accept();

  Chamber &chamber_;
  Faults faults_;
  bool verbose_;
  QTcpServer server_;
};

}  // namespace sim

#endif
