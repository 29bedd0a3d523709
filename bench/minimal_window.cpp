/*
 * minimal_window.cpp -- the yardstick of the performance script: the
 * smallest Qt Widgets window that does the program's visible job, a ring
 * (QComboBox), a string field (QLineEdit) and two list boxes (QListWidget)
 * in a window of the main panel's size, with no panel file, no engine and no
 * network.
 *
 * Enter in the string field lists its text at the top of both lists, which
 * keep 12 lines each, and shows the number of Enters so far in the title
 * ("minimal window 17"), so that a script can tell that its key presses
 * arrived. With --cycle-ms N a timer does the same every N milliseconds.
 * The window asks for the input focus when it shows, as the program's does
 * (and as a window manager would give it), and the string field has the
 * keyboard focus, as the program's command field has, so that both blink a
 * text cursor; --ring-focus gives the keyboard focus to the ring instead.
 * Usage: minimal_window [--cycle-ms N] [--ring-focus]
 */
#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QListWidget>
#include <QTimer>
#include <QWidget>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

namespace {

const int kHistoryMax = 12;
const int kTitleSize = 64;

/* The window and the count of lines listed so far. */
struct Window {
    QWidget top;
    QComboBox *ring = nullptr;
    QLineEdit *field = nullptr;
    QListWidget *sent = nullptr;
    QListWidget *received = nullptr;
    long cycles = 0;
};

/* Puts text at the top of list and selects it; the list keeps 12 lines. */
void AddLine(QListWidget *list, const QString &text)
{
    if (list->count() >= kHistoryMax)
        delete list->takeItem(kHistoryMax - 1);
    list->insertItem(0, text);
    list->setCurrentRow(0);
}

/* One cycle: the field's text goes into both lists; the title counts. */
void Cycle(Window *w)
{
    char title[kTitleSize];

    AddLine(w->sent, w->field->text());
    AddLine(w->received, w->field->text());
    w->cycles++;
    snprintf(title, sizeof title, "minimal window %ld", w->cycles);
    w->top.setWindowTitle(QString::fromLatin1(title));
}

/* Builds the controls where the main panel has its own. */
void Build(Window *w)
{
    w->top.setWindowTitle(QStringLiteral("minimal window 0"));
    w->top.setFixedSize(960, 640);
    w->ring = new QComboBox(&w->top);
    w->ring->setGeometry(24, 38, 912, 28);
    w->ring->addItems({QStringLiteral("read clock"), QStringLiteral("read status"),
                       QStringLiteral("read actual/set value of analogue channel 0")});
    w->field = new QLineEdit(QStringLiteral("A0"), &w->top);
    w->field->setGeometry(24, 92, 912, 26);
    w->field->setMaxLength(511);
    w->sent = new QListWidget(&w->top);
    w->sent->setGeometry(10, 164, 465, 256);
    w->received = new QListWidget(&w->top);
    w->received->setGeometry(485, 164, 465, 256);
    QObject::connect(w->field, &QLineEdit::returnPressed, &w->top, [w] { Cycle(w); });
}

/* Returns the value of --cycle-ms in argv, or 0 when it is absent. */
int CycleMs(int argc, char *argv[])
{
    for (int i = 1; i + 1 < argc; i++)
        if (strcmp(argv[i], "--cycle-ms") == 0)
            return atoi(argv[i + 1]);
    return 0;
}

/* True when option is one of the arguments in argv. */
bool HasOption(int argc, char *argv[], const char *option)
{
    for (int i = 1; i < argc; i++)
        if (strcmp(argv[i], option) == 0)
            return true;
    return false;
}

}  // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    Window w;
    QTimer timer;
    const int cycleMs = CycleMs(argc, argv);

    Build(&w);
    if (HasOption(argc, argv, "--ring-focus"))
        w.ring->setFocus();
    else
        w.field->setFocus();
    w.top.show();
    w.top.activateWindow();
    if (cycleMs > 0) {
        QObject::connect(&timer, &QTimer::timeout, &w.top, [&w] { Cycle(&w); });
        timer.start(cycleMs);
    }
    return app.exec();
}
