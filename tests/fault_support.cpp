/*
 * fault_support.cpp -- the shared helpers of fault_support.h.
 */
#include "fault_support.h"

#include <stdio.h>

#include <QAbstractItemModel>
#include <QListWidget>
#include <QTest>

#include "ascii.h"
#include "ascii_module.h"
#include "platform.h"
#include "platform_qt.h"

static const size_t kHexGroupSize = 6; /* "0xHH " and its NUL */

static char programName[] = "fault_test";
static char *programArgv[] = {programName, nullptr};

void EngineEnvironment::SetUp()
{
    ASSERT_EQ(InitRuntimeEngine(nullptr, programArgv, 0), 1);
}

/* Enter goes through the command field as the operator's key would; a tick
 * and the address commit call their callbacks as the library does. */
void Fire(Trigger how)
{
    switch (how) {
    case Trigger::Enter:
        QTest::keyClick(GetCtrlWidget(mainPanel, SEND_STRING), Qt::Key_Return);
        break;
    case Trigger::Tick:
        TIMER(mainPanel, SCANNER, EVENT_TIMER_TICK, nullptr, 0, 0);
        break;
    case Trigger::AddressCommit:
        IPinput(mainPanel, IP, EVENT_COMMIT, nullptr, 0, 0);
        break;
    }
}

int IntVal(int control)
{
    int value = -1;
    GetCtrlVal(mainPanel, control, &value);
    return value;
}

std::string Title()
{
    char title[PLATFORM_TITLE_SIZE] = "";
    GetPanelAttribute(mainPanel, ATTR_TITLE, title);
    return title;
}

QListWidget *ListWidget(int list)
{
    return qobject_cast<QListWidget *>(GetCtrlWidget(mainPanel, list));
}

/* Read from the widget itself, so that a line is seen as it is shown and
 * not through the library's bounded copy. */
std::vector<std::string> Lines(int list)
{
    std::vector<std::string> lines;
    QListWidget *widget = ListWidget(list);
    for (int i = 0; widget != nullptr && i < widget->count(); i++)
        lines.push_back(widget->item(i)->text().toLatin1().toStdString());
    return lines;
}

std::string Hex(const std::string &bytes)
{
    std::string text;
    char group[kHexGroupSize];
    for (unsigned char byte : bytes) {
        snprintf(group, sizeof group, "0x%02X ", byte);
        text += group;
    }
    return text;
}

Recorder::Recorder(int list, std::function<void(const std::string &)> take) : take_(std::move(take))
{
    QListWidget *widget = ListWidget(list);
    if (widget == nullptr)
        return;
    connection_ = QObject::connect(
        widget->model(), &QAbstractItemModel::rowsInserted, widget,
        [this, widget](const QModelIndex &, int first, int last) {
            for (int row = first; row <= last; row++) {
                std::string line = widget->item(row)->text().toLatin1().toStdString();
                count++;
                longest = std::max(longest, line.size());
                if (take_)
                    take_(line);
                else
                    lines.push_back(line);
            }
        });
}

Recorder::~Recorder()
{
    QObject::disconnect(connection_);
}

std::string Recorder::joined() const
{
    std::string all;
    for (const std::string &line : lines)
        all += line;
    return all;
}
