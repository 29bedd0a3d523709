/*
 * ui_events_test.cpp -- the operator's side of the library: the real
 * widgets of the tests' own main panel (ui_test.uir) driven with QTest, checking which
 * callbacks see which events in which order (key press before commit,
 * commits only for the operator's actions, none from inside a library
 * call), the limits of the command field, the bounds of every text handed
 * out, the timer, popups, the event loop and the wait cursor.
 */
#include "platform.h"
#include "platform_qt.h"
#include "ui_test_panel.h"
#include "ui_test_support.h"

#include <QAbstractButton>
#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QSlider>
#include <QTest>
#include <QThread>
#include <QTimer>

#include <gtest/gtest.h>

#include <cstring>

namespace {

const int kWaitMs = 10000; /* for what must come: generous, a loaded machine is slow */

class Events : public ::testing::Test {
protected:
    static void SetUpTestSuite() { StartEngine(); }

    void SetUp() override
    {
        ASSERT_EQ(0, RegisterRecorders());
        panel_ = LoadPanel(0, UI_TEST_PANEL_FILE, PANEL);
        ASSERT_GT(panel_, 0);
        ASSERT_EQ(0, DisplayPanel(panel_));
        ASSERT_TRUE(QTest::qWaitForWindowActive(GetPanelWidget(panel_), kWaitMs));
        /* The panel's own timer would add ticks to every trace. */
        ASSERT_EQ(0, SetCtrlAttribute(panel_, SCANNER, ATTR_ENABLED, 0));
        Recorded().clear();
        Hooks().clear();
        KeyPressResult() = 0;
    }

    void TearDown() override
    {
        DiscardPanel(panel_);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        Hooks().clear();
    }

    template <typename W> W *Widget(int control)
    {
        W *w = qobject_cast<W *>(GetCtrlWidget(panel_, control));
        EXPECT_NE(nullptr, w) << "control " << control;
        return w;
    }

    /* Puts the keyboard focus on control as an operator's click would. */
    void Focus(int control)
    {
        QWidget *w = GetCtrlWidget(panel_, control);
        w->setFocus(Qt::MouseFocusReason);
        ASSERT_TRUE(w->hasFocus()) << "control " << control;
    }

    std::string Text(int control)
    {
        char buf[PLATFORM_LABEL_SIZE];
        EXPECT_EQ(0, GetCtrlVal(panel_, control, buf));
        return buf;
    }

    int panel_ = 0;
};

/* ---- Keys and commits. ---- */

TEST_F(Events, EnterInCommandFieldGivesKeyPressThenCommit)
{
    struct Case {
        Qt::Key key;
        Qt::KeyboardModifiers modifiers;
    } cases[] = {{Qt::Key_Return, Qt::NoModifier}, {Qt::Key_Enter, Qt::KeypadModifier}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.key);
        Recorded().clear();
        Focus(SEND_STRING);
        QTest::keyClick(Widget<QLineEdit>(SEND_STRING), c.key, c.modifiers);
        EXPECT_EQ("SENDEN:7:1280 SENDEN:1:0", EventTrace());
        ASSERT_EQ(2u, Recorded().size());
        EXPECT_EQ(panel_, Recorded()[0].panel);
        EXPECT_EQ(SEND_STRING, Recorded()[1].control);
    }
}

TEST_F(Events, KeyPressCarriesTheKeyCodeAndCanSwallowTheKey)
{
    struct Case {
        Qt::Key key;
        const char *text;
        int code;
    } cases[] = {
        {Qt::Key_A, "a", 'a'},
        {Qt::Key_Udiaeresis, "\xc3\xbc", 0xFC},
        {Qt::Key_Tab, "\t", VAL_TAB_VKEY},
        {Qt::Key_Backspace, "\x08", VAL_BACKSPACE_VKEY},
        {Qt::Key_F5, "", 0x10000 + Qt::Key_F5},
    };
    QLineEdit *edit = Widget<QLineEdit>(IP);
    Focus(IP);
    KeyPressResult() = 1;
    for (const Case &c : cases) {
        SCOPED_TRACE(c.text);
        Recorded().clear();
        QKeyEvent press(QEvent::KeyPress, c.key, Qt::NoModifier, QString::fromUtf8(c.text));
        QApplication::sendEvent(edit, &press);
        ASSERT_EQ(1u, Recorded().size());
        EXPECT_EQ(EVENT_KEYPRESS, Recorded()[0].event);
        EXPECT_EQ(c.code, Recorded()[0].data1);
    }
    EXPECT_EQ("127.0.0.1", Text(IP));
    KeyPressResult() = 0;
    QTest::keyClick(edit, Qt::Key_End);
    QTest::keyClick(edit, Qt::Key_5);
    EXPECT_EQ("127.0.0.15", Text(IP));
}

TEST_F(Events, EscAndClickAndWindowCloseCommitQuit)
{
    Focus(SEND_STRING);
    QTest::keyClick(Widget<QLineEdit>(SEND_STRING), Qt::Key_Escape);
    EXPECT_EQ("SENDEN:7:1792 QUIT:1:0", EventTrace()) << "the focused control hears the key first";
    KeyPressResult() = 1;
    QTest::keyClick(Widget<QLineEdit>(SEND_STRING), Qt::Key_Escape);
    EXPECT_EQ(1, CountEvents("QUIT", EVENT_COMMIT)) << "a swallowed key operates no shortcut";
    KeyPressResult() = 0;
    Focus(ZEICHEN_GESENDET);
    QTest::keyClick(Widget<QListWidget>(ZEICHEN_GESENDET), Qt::Key_Escape);
    EXPECT_EQ(2, CountEvents("QUIT", EVENT_COMMIT));
    QTest::mouseClick(Widget<QAbstractButton>(ESC_BUTTON), Qt::LeftButton);
    EXPECT_EQ(3, CountEvents("QUIT", EVENT_COMMIT));
    EXPECT_FALSE(GetPanelWidget(panel_)->close());
    EXPECT_EQ(4, CountEvents("QUIT", EVENT_COMMIT));
    EXPECT_TRUE(GetPanelWidget(panel_)->isVisible());
    EXPECT_EQ(4, CountEvents("QUIT", EVENT_COMMIT) + CountEvents("SENDEN", EVENT_COMMIT)) << EventTrace();
}

TEST_F(Events, RingCommitsOnTheOperatorsChoiceOnly)
{
    char value[PLATFORM_STRING_SIZE];
    EXPECT_EQ(0, SetCtrlVal(panel_, AUSWAHL, "T"));
    EXPECT_EQ(0, SetCtrlIndex(panel_, AUSWAHL, 3));
    EXPECT_EQ(UIE_INVALID_VALUE, SetCtrlVal(panel_, AUSWAHL, "no such command"));
    EXPECT_EQ("", EventTrace());
    EXPECT_EQ(0, GetCtrlVal(panel_, AUSWAHL, value));
    EXPECT_STREQ("A0", value);
    Focus(AUSWAHL);
    QTest::keyClick(Widget<QComboBox>(AUSWAHL), Qt::Key_Down);
    EXPECT_EQ("COMMAND:7:" + std::to_string(0x10000 + Qt::Key_Down) + " COMMAND:1:0", EventTrace());
    EXPECT_EQ(0, GetCtrlVal(panel_, AUSWAHL, value));
    EXPECT_STREQ("Aa", value);
}

TEST_F(Events, ButtonsOptionsAndNumericCommitOnTheOperatorsChange)
{
    QTest::mouseClick(Widget<QAbstractButton>(TOGGLEBUTTON), Qt::LeftButton);
    QTest::mouseClick(Widget<QAbstractButton>(CLOSE_CONN), Qt::LeftButton);
    EXPECT_EQ("ON_OFF:1:0 ChangeCloseConnection:1:0", EventTrace());
    int on = -1;
    EXPECT_EQ(0, GetCtrlVal(panel_, TOGGLEBUTTON, &on));
    EXPECT_EQ(0, on);
    EXPECT_EQ(0, GetCtrlVal(panel_, CLOSE_CONN, &on));
    EXPECT_EQ(1, on);
    Recorded().clear();
    EXPECT_EQ(0, SetCtrlVal(panel_, TOGGLEBUTTON, 1));
    EXPECT_EQ(0, SetCtrlVal(panel_, SCANNING, 700.0));
    EXPECT_EQ("", EventTrace());
    double seconds = 0;
    EXPECT_EQ(0, GetCtrlVal(panel_, SCANNING, &seconds));
    EXPECT_DOUBLE_EQ(600.0, seconds);
    QDoubleSpinBox *spin = Widget<QDoubleSpinBox>(SCANNING);
    Focus(SCANNING);
    QTest::keyClick(spin, Qt::Key_Down);
    EXPECT_EQ(0, GetCtrlVal(panel_, SCANNING, &seconds));
    EXPECT_DOUBLE_EQ(599.0, seconds);
    EXPECT_EQ(1, CountEvents("ChangeScanning", EVENT_COMMIT));
    spin->selectAll();
    QTest::keyClicks(spin, "12");
    EXPECT_EQ(1, CountEvents("ChangeScanning", EVENT_COMMIT)) << "no commit while typing";
    Focus(SEND_STRING);
    EXPECT_EQ(2, CountEvents("ChangeScanning", EVENT_COMMIT)) << "commit on leaving";
    EXPECT_EQ(0, GetCtrlVal(panel_, SCANNING, &seconds));
    EXPECT_DOUBLE_EQ(12.0, seconds);
}

TEST_F(Events, LeavingAStringFieldCommitsOnlyAfterAChange)
{
    QLineEdit *ip = Widget<QLineEdit>(IP);
    Focus(IP);
    Focus(SEND_STRING);
    EXPECT_EQ(0, CountEvents("IPinput", EVENT_COMMIT)) << "left unchanged";
    Focus(IP);
    QTest::keyClick(ip, Qt::Key_End);
    QTest::keyClick(ip, Qt::Key_2);
    EXPECT_EQ(0, CountEvents("IPinput", EVENT_COMMIT));
    Focus(SEND_STRING);
    EXPECT_EQ(1, CountEvents("IPinput", EVENT_COMMIT)) << "left after typing";
    Focus(IP);
    Focus(SEND_STRING);
    EXPECT_EQ(1, CountEvents("IPinput", EVENT_COMMIT)) << "left again, unchanged";
    Focus(IP);
    QTest::keyClick(ip, Qt::Key_Return);
    Focus(SEND_STRING);
    EXPECT_EQ(2, CountEvents("IPinput", EVENT_COMMIT)) << "Enter commits, leaving then does not";
    Focus(IP);
    EXPECT_EQ(0, SetCtrlVal(panel_, IP, "10.1.1.1"));
    Focus(SEND_STRING);
    EXPECT_EQ(2, CountEvents("IPinput", EVENT_COMMIT)) << "a program's change is no change by the operator";
}

TEST_F(Events, ListBoxCommitsOnDoubleClickAndEnter)
{
    QListWidget *list = Widget<QListWidget>(ZEICHEN_GESENDET);
    Focus(ZEICHEN_GESENDET);
    list->setCurrentRow(-1);
    QTest::keyClick(list, Qt::Key_Return);
    EXPECT_EQ("FullText:7:1280", EventTrace()) << "Enter with no current item";
    for (const char *line : {"first", "second", "third"})
        ASSERT_EQ(0, InsertListItem(panel_, ZEICHEN_GESENDET, 0, line, 0));
    /* A real double-click (press, release, double-click) and a lone
     * double-click event, as some tools synthesize it. */
    for (bool lone : {false, true}) {
        SCOPED_TRACE(lone ? "lone double-click" : "press, release, double-click");
        ASSERT_EQ(0, SetCtrlIndex(panel_, ZEICHEN_GESENDET, 0));
        Recorded().clear();
        const QPoint second = list->visualItemRect(list->item(1)).center();
        if (!lone)
            QTest::mouseClick(list->viewport(), Qt::LeftButton, Qt::NoModifier, second);
        QTest::mouseDClick(list->viewport(), Qt::LeftButton, Qt::NoModifier, second);
        ASSERT_EQ("FullText:1:0", EventTrace());
        EXPECT_EQ(ZEICHEN_GESENDET, Recorded().back().control);
        int index = -1;
        EXPECT_EQ(0, GetCtrlIndex(panel_, ZEICHEN_GESENDET, &index));
        EXPECT_EQ(1, index);
    }
    Recorded().clear();
    QTest::mouseDClick(list->viewport(), Qt::LeftButton, Qt::NoModifier, QPoint(5, list->viewport()->height() - 3));
    EXPECT_EQ("", EventTrace()) << "double-click below the items";
    Recorded().clear();
    ASSERT_EQ(0, SetCtrlIndex(panel_, ZEICHEN_GESENDET, 2));
    QTest::keyClick(list, Qt::Key_Return);
    EXPECT_EQ("FullText:7:1280 FullText:1:0", EventTrace());
}

TEST_F(Events, NoCallbackRunsInsideALibraryCall)
{
    QLineEdit *ip = Widget<QLineEdit>(IP);
    Focus(IP);
    QTest::keyClick(ip, Qt::Key_End);
    QTest::keyClick(ip, Qt::Key_3);
    Recorded().clear();
    ASSERT_EQ(0, SetActiveCtrl(panel_, SEND_STRING));
    EXPECT_EQ(SEND_STRING, GetActiveCtrl(panel_));
    EXPECT_EQ("", EventTrace()) << "the commit of leaving IP waits for the event loop";
    QCoreApplication::processEvents();
    EXPECT_EQ("IPinput:1:0", EventTrace());
}

/* ---- What the command field accepts. ---- */

/* Types each character of utf8 as one key (QTest::keyClicks knows ASCII
 * only). */
void TypeText(QWidget *w, const char *utf8)
{
    for (QChar c : QString::fromUtf8(utf8))
        QTest::sendKeyEvent(QTest::Click, w, Qt::Key_unknown, QString(c), Qt::NoModifier);
}

TEST_F(Events, CommandFieldRefusesThe512thAndNonLatin1Characters)
{
    QLineEdit *edit = Widget<QLineEdit>(SEND_STRING);
    Focus(SEND_STRING);
    const std::string full(511, 'x');
    ASSERT_EQ(0, SetCtrlVal(panel_, SEND_STRING, full.c_str()));
    QTest::keyClick(edit, Qt::Key_End);
    QTest::keyClick(edit, Qt::Key_Y);
    EXPECT_EQ(full, Text(SEND_STRING));
    ASSERT_EQ(0, SetCtrlVal(panel_, SEND_STRING, "A"));
    QTest::keyClick(edit, Qt::Key_End);
    TypeText(edit, "\xe2\x82\xac\xce\xa9");   /* euro sign, omega */
    EXPECT_EQ("A", Text(SEND_STRING));
    TypeText(edit, "\xc3\xbc\xc2\xb0");        /* u umlaut, degree */
    EXPECT_EQ(Latin1("Aü°"), Text(SEND_STRING));
    QApplication::clipboard()->setText(QString::fromUtf8("B\xe2\x82\xac"));
    edit->paste();
    EXPECT_EQ(Latin1("Aü°"), Text(SEND_STRING)) << "a paste outside Latin-1 is refused whole";
    const std::string tooLong(600, 'z');
    ASSERT_EQ(0, SetCtrlVal(panel_, SEND_STRING, tooLong.c_str()));
    EXPECT_EQ(std::string(511, 'z'), Text(SEND_STRING));
}

/* ---- Bounds of the texts handed out. ---- */

#define GUARD_SIZE 64
#define GUARD_BYTE '\xa5'

struct BoundCase {
    const char *name;
    int control;
    size_t bound;                                    /* longest text handed out */
    std::function<int(int panel, const char *text)> store;
    std::function<int(int panel, char *out)> fetch;
};

TEST_F(Events, TextsHandedOutNeverPassTheirBound)
{
    const int popup = LoadPanel(panel_, UI_TEST_PANEL_FILE, TXTPANEL);
    ASSERT_GT(popup, 0);
    const BoundCase cases[] = {
        {"command field", SEND_STRING, 511,
         [](int p, const char *t) { return SetCtrlVal(p, SEND_STRING, t); },
         [](int p, char *o) { return GetCtrlVal(p, SEND_STRING, o); }},
        {"address field", IP, 30, [](int p, const char *t) { return SetCtrlVal(p, IP, t); },
         [](int p, char *o) { return GetCtrlVal(p, IP, o); }},
        {"list label", ZEICHEN_EMPFANGEN, PLATFORM_LABEL_SIZE - 1,
         [](int p, const char *t) { return InsertListItem(p, ZEICHEN_EMPFANGEN, 0, t, 0); },
         [](int p, char *o) { return GetLabelFromIndex(p, ZEICHEN_EMPFANGEN, 0, o); }},
        {"panel title", 0, PLATFORM_TITLE_SIZE - 1,
         [](int p, const char *t) { return SetPanelAttribute(p, ATTR_TITLE, t); },
         [](int p, char *o) { return GetPanelAttribute(p, ATTR_TITLE, o); }},
        {"text box", TEXTBOX, PLATFORM_LABEL_SIZE - 1,
         [popup](int, const char *t) { return ResetTextBox(popup, TEXTBOX, t); },
         [popup](int, char *o) { return GetCtrlVal(popup, TEXTBOX, o); }},
    };
    for (const BoundCase &c : cases) {
        SCOPED_TRACE(c.name);
        const std::string text(c.bound + 500, 'k');
        ASSERT_EQ(0, c.store(panel_, text.c_str()));
        std::vector<char> buf(c.bound + 1 + GUARD_SIZE, GUARD_BYTE);
        ASSERT_EQ(0, c.fetch(panel_, buf.data()));
        EXPECT_EQ(c.bound, strlen(buf.data()));
        for (size_t i = c.bound + 1; i < buf.size(); i++)
            ASSERT_EQ(GUARD_BYTE, buf[i]) << "byte " << i << " past the buffer was written";
    }
    EXPECT_EQ(0, DiscardPanel(popup));
}

/* ---- Timer. ---- */

/* Ticks come at the interval: five take at least four intervals after the
 * first, however late a loaded machine delivers them. */
TEST_F(Events, TimerTicksAtItsIntervalAndStopsWhenSuspended)
{
    const int intervalMs = 100;
    const int ticks = 5;
    ASSERT_EQ(0, SetCtrlAttribute(panel_, SCANNER, ATTR_INTERVAL, intervalMs / 1000.0));
    QElapsedTimer clock;
    qint64 firstAt = -1;
    Hooks()["TIMER"] = [&](int, int, int) {
        if (firstAt < 0)
            firstAt = clock.elapsed();
    };
    clock.start();
    ASSERT_EQ(0, SetCtrlAttribute(panel_, SCANNER, ATTR_ENABLED, 1));
    ASSERT_TRUE(QTest::qWaitFor([&] { return CountEvents("TIMER", EVENT_TIMER_TICK) >= ticks; }, kWaitMs));
    EXPECT_GE(firstAt, intervalMs - 10) << "the first tick comes after one interval";
    EXPECT_GE(clock.elapsed() - firstAt, (ticks - 1) * intervalMs - 10) << "ticks came faster than the interval";
    ASSERT_EQ(0, SuspendTimerCallbacks());
    Recorded().clear();
    QTest::qWait(400);
    EXPECT_EQ(0, CountEvents("TIMER", EVENT_TIMER_TICK)) << "suspended";
    ASSERT_EQ(0, ResumeTimerCallbacks());
    EXPECT_TRUE(QTest::qWaitFor([] { return CountEvents("TIMER", EVENT_TIMER_TICK) >= 1; }, kWaitMs))
        << "resumed";
    ASSERT_EQ(0, SetCtrlAttribute(panel_, SCANNER, ATTR_ENABLED, 0));
    Recorded().clear();
    QTest::qWait(300);
    EXPECT_EQ(0, CountEvents("TIMER", EVENT_TIMER_TICK)) << "disabled";
}

TEST_F(Events, MissedTicksAreNotQueued)
{
    ASSERT_EQ(0, SetCtrlAttribute(panel_, SCANNER, ATTR_INTERVAL, 0.05));
    QElapsedTimer clock;
    qint64 wokeAt = -1;
    int soonAfter = 0;   /* ticks within 40 ms after the long one */
    Hooks()["TIMER"] = [&](int, int, int) {
        if (wokeAt < 0) {
            QThread::msleep(600);   /* twelve intervals */
            wokeAt = clock.elapsed();
        } else if (clock.elapsed() - wokeAt < 40) {
            soonAfter++;
        }
    };
    clock.start();
    ASSERT_EQ(0, SetCtrlAttribute(panel_, SCANNER, ATTR_ENABLED, 1));
    EXPECT_TRUE(QTest::qWaitFor([] { return CountEvents("TIMER", EVENT_TIMER_TICK) >= 3; }, kWaitMs))
        << "ticking went on";
    ASSERT_GE(wokeAt, 0);
    EXPECT_LE(soonAfter, 1) << "the missed ticks came in a burst";
    ASSERT_EQ(0, SetCtrlAttribute(panel_, SCANNER, ATTR_ENABLED, 0));
}

/* ---- Popup, event loop, wait cursor. ---- */

TEST_F(Events, PopupIsModalAndItsCallbackMayDiscardIt)
{
    for (int round = 0; round < 2; round++) {
        SCOPED_TRACE(round == 0 ? "Enter in the text box" : "window closed");
        const int popup = LoadPanel(panel_, UI_TEST_PANEL_FILE, TXTPANEL);
        ASSERT_GT(popup, 0);
        ASSERT_EQ(0, InstallPopup(popup));
        ASSERT_EQ(0, ResetTextBox(popup, TEXTBOX, "A0 25.0 30.0"));
        QWidget *window = GetPanelWidget(popup);
        EXPECT_TRUE(window->isVisible());
        EXPECT_EQ(window, QApplication::activeModalWidget());
        Hooks()["CloseText"] = [](int p, int, int event) {
            if (event == EVENT_COMMIT) {
                EXPECT_EQ(0, DiscardPanel(p));
            }
        };
        Recorded().clear();
        if (round == 0)
            QTest::keyClick(GetCtrlWidget(popup, TEXTBOX), Qt::Key_Return);
        else
            window->close();
        EXPECT_EQ(round == 0 ? "CloseText:7:1280 CloseText:1:0" : "CloseText:1:0", EventTrace());
        EXPECT_EQ(UIE_INVALID_PANEL, DisplayPanel(popup));
        EXPECT_FALSE(window->isVisible());
        EXPECT_EQ(nullptr, QApplication::activeModalWidget());
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
}

TEST_F(Events, RunUserInterfaceReturnsTheCodeGivenToQuit)
{
    EXPECT_EQ(0, QuitUserInterface(5));
    EXPECT_EQ(5, RunUserInterface()) << "a quit before the loop ends it at once";
    Hooks()["QUIT"] = [](int, int, int event) {
        if (event == EVENT_COMMIT)
            QuitUserInterface(0);
    };
    QTimer::singleShot(20, [this] {
        QTest::keyClick(GetCtrlWidget(panel_, SEND_STRING), Qt::Key_Escape);
    });
    QElapsedTimer clock;
    clock.start();
    EXPECT_EQ(0, RunUserInterface());
    EXPECT_LT(clock.elapsed(), 5000);
    EXPECT_EQ(1, CountEvents("QUIT", EVENT_COMMIT));
}

TEST_F(Events, WaitCursorOnAndOff)
{
    EXPECT_EQ(0, SetWaitCursor(1));
    ASSERT_NE(nullptr, QApplication::overrideCursor());
    EXPECT_EQ(Qt::WaitCursor, QApplication::overrideCursor()->shape());
    EXPECT_EQ(1, GetWaitCursor());
    EXPECT_EQ(0, SetWaitCursor(1));
    EXPECT_EQ(0, SetWaitCursor(0));
    EXPECT_EQ(nullptr, QApplication::overrideCursor()) << "one off undoes any number of ons";
    EXPECT_EQ(0, GetWaitCursor());
    EXPECT_EQ("", EventTrace());
}

}  // namespace
