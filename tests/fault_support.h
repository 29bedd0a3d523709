/*
 * fault_support.h -- what the fault suite and the soak test share: the
 * engine for the test program, the program's state as a test sees it, the
 * operator's triggers of a send, and a recorder of every line a history
 * list takes in (the list itself keeps only 12).
 */
#ifndef QUENTA_FAULT_SUPPORT_H
#define QUENTA_FAULT_SUPPORT_H

#include <gtest/gtest.h>

#include <QMetaObject>

#include <functional>
#include <string>
#include <vector>

class QListWidget;

/* Starts the run-time engine before the first test. */
class EngineEnvironment : public ::testing::Environment {
public:
    void SetUp() override;
};

/* What sets a send going: Enter in the command field, a timer tick, or a
 * commit of the address field (which connects but sends nothing). */
enum class Trigger { Enter, Tick, AddressCommit };

void Fire(Trigger how);

int IntVal(int control);                 /* an int control of the main panel, -1 on failure */
std::string Title();                      /* the main panel's title */
QListWidget *ListWidget(int list);        /* the widget of a history list */
std::vector<std::string> Lines(int list); /* its lines as Latin-1, newest first */
std::string Hex(const std::string &bytes); /* "0x%02X " for every byte */

/*
 * Sees every line that the program inserts into a history list, at the
 * moment it goes in, in Latin-1. Keeps the lines (oldest first) unless
 * given a function to hand each one to instead.
 */
class Recorder {
public:
    explicit Recorder(int list, std::function<void(const std::string &)> take = nullptr);
    ~Recorder();
    Recorder(const Recorder &) = delete;
    Recorder &operator=(const Recorder &) = delete;

    size_t count = 0;                 /* lines inserted so far */
    size_t longest = 0;               /* length of the longest of them */
    std::vector<std::string> lines;   /* kept lines, oldest first */
    std::string joined() const;       /* the kept lines, one after the other */

private:
    QMetaObject::Connection connection_;
    std::function<void(const std::string &)> take_;
};

#endif
