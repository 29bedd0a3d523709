/*
 * server.h -- the chamber's TCP side: accepts clients, reads their
 * commands, answers through Respond(), and misbehaves on demand.
 *
 * Exports class Server; the misbehaviours are faults.h's Faults. Several
 * clients may be connected at once; all of them talk to one Chamber. The
 * faults may change at any time and apply from the next command on; the
 * server may stop listening and listen again (a chamber that goes down and
 * comes back). It runs on the Qt event loop of the thread that creates it.
 */
#ifndef QUENTA_SIM_SERVER_H
#define QUENTA_SIM_SERVER_H

#include <QHostAddress>
#include <QObject>
#include <QSocketNotifier>
#include <QTimer>
#include <memory>

#include "chamber.h"
#include "faults.h"

namespace sim {

class Server : public QObject {
 public:
  /* verbose: log connections, commands and answers on standard output;
   * label: empty, or what starts each client's name in the log (the
   * chamber's address in a fleet). */
  Server(Chamber &chamber, const Faults &faults, bool verbose,
         const QByteArray &label = QByteArray(), QObject *parent = nullptr);

  /* Returns false, with errorString() telling why, when the address and
   * port cannot be bound. */
  bool listen(const QHostAddress &address, quint16 port);
  QString errorString() const { return error_; }
  quint16 port() const { return port_; }  /* where it listens or listened */
  bool isListening() const { return listener_ >= 0; }

  /* down() stops listening, so that connects are refused, and resets every
   * connection (RST); up() listens again where listen() last did. up() returns
   * false, with errorString() telling why, when that cannot be bound. */
  void down();
  bool up();
  ~Server() override;

  const Faults &faults() const { return faults_; }
  void setFaults(const Faults &faults) { faults_ = faults; }

 private:
  void accept();
  void acceptFailed(int error);
  void closeListener();

  Chamber &chamber_;
  Faults faults_;
  bool verbose_;
  QByteArray label_;
  QHostAddress address_;
  quint16 port_ = 0;
  int listener_ = -1;  /* the listening socket */
  std::unique_ptr<QSocketNotifier> incoming_;
  QTimer retry_;
  QString error_;
};

}  // namespace sim

#endif
