/*
 * operator_test.cpp -- the main panel as an operator meets it, on Qt's
 * offscreen platform, in both languages: the cyclic-sending toggle must
 * look plainly different on and off (judged from its pixels, not its
 * flag), Tab must walk the controls from top left to bottom right, Esc
 * must close an open drop-down or menu without quitting, while Esc with
 * nothing open still operates Quit, and the wait cursor that precedes a
 * blocking connect must bring the panel up to date on the screen without
 * running a single callback.
 */
#include "panelfile.h"
#include "platform.h"
#include "platform_qt.h"
#include "program_panels.h"

#include <QApplication>
#include <QComboBox>
#include <QCloseEvent>
#include <QContextMenuEvent>
#include <QImage>
#include <QKeyEvent>
#include <QTest>

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

namespace {

const int kPopupWaitMs = 5000;

class Operator : public MainPanelTest {
protected:
    void TearDown() override
    {
        PanelFiles::TearDown();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }

    /* Shows the main panel, active, with its timer stopped and nothing
     * recorded yet; again, a new one in place of the last. */
    void Show()
    {
        if (shown_) {
            DiscardPanel(main_);
            QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
            main_ = Load(File(), PANEL);
            ASSERT_GT(main_, 0);
        }
        shown_ = true;
        ASSERT_EQ(0, DisplayPanel(main_));
        ASSERT_TRUE(QTest::qWaitForWindowActive(GetPanelWidget(main_)));
        ASSERT_EQ(0, SetCtrlAttribute(main_, SCANNER, ATTR_ENABLED, 0));
        Recorded().clear();
    }

    /* Presses key on the panel's window as the window system delivers a
     * key: to the window with the input focus, shortcuts tried first, a
     * popup's focus widget receiving it when one is open. */
    void Press(Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier)
    {
        QTest::keyClick(GetPanelWidget(main_)->windowHandle(), key, modifiers);
    }

    bool shown_ = false;
};

INSTANTIATE_TEST_SUITE_P(BothLanguages, Operator, ::testing::ValuesIn(kLanguageFiles), LanguageOf);

/* ---- The cyclic-sending toggle. ---- */

/* Share of the image's pixels that are clearly green: lit, as the lamp
 * of a running process is. */
double LitShare(const QImage &image)
{
    long lit = 0;
    for (int y = 0; y < image.height(); y++) {
        for (int x = 0; x < image.width(); x++) {
            const QColor c = image.pixelColor(x, y);
            lit += c.green() > c.red() + 40 && c.green() > c.blue() + 40;
        }
    }
    return static_cast<double>(lit) / (image.width() * image.height());
}

TEST_P(Operator, CyclicToggleIsLitWhenOnAndPlainWhenOff)
{
    Show();
    QWidget *toggle = GetCtrlWidget(main_, TOGGLEBUTTON);
    ASSERT_NE(nullptr, toggle);
    ASSERT_EQ(0, SetCtrlVal(main_, TOGGLEBUTTON, 1));
    const QImage on = toggle->grab().toImage();
    ASSERT_EQ(0, SetCtrlVal(main_, TOGGLEBUTTON, 0));
    const QImage off = toggle->grab().toImage();
    EXPECT_GT(LitShare(on), 0.02) << "on: too little of the button is lit to see at a glance";
    EXPECT_EQ(0.0, LitShare(off)) << "off: nothing may look lit";
    QTest::mouseClick(toggle, Qt::LeftButton);
    EXPECT_GT(LitShare(toggle->grab().toImage()), 0.02) << "turned on by a click";
}

/* ---- Tab order. ---- */

struct Placed {
    int kind;
    int x, y, width, height;
    bool indicator;
};

struct TabCase {
    const char *layout;
    std::vector<Placed> controls;   /* IDs 2, 3, ... in this order */
    std::vector<int> order;
};

TEST(TabOrder, FollowsTheWindowNotTheFile)
{
    const int S = CTRL_STRING, B = CTRL_COMMAND_BUTTON, L = CTRL_LIST_BOX, O = CTRL_BINARY_SWITCH;
    const TabCase cases[] = {
        {"a column listed bottom up",
         {{S, 10, 90, 100, 20, false}, {S, 10, 50, 100, 20, false}, {S, 10, 10, 100, 20, false}},
         {4, 3, 2}},
        {"a grid whose rows are a little uneven, read row by row",
         {{O, 10, 10, 100, 20, false}, {O, 10, 40, 100, 20, false}, {S, 200, 6, 100, 20, false},
          {S, 200, 44, 100, 20, false}},
         {2, 4, 3, 5}},
        {"a tall list beside a stack: the list, then the stack read down",
         {{O, 200, 60, 100, 20, false}, {O, 200, 10, 100, 20, false}, {L, 10, 10, 100, 100, false}},
         {4, 3, 2}},
        {"a wide field over a split row",
         {{B, 10, 100, 50, 20, false}, {B, 100, 100, 50, 20, false}, {S, 10, 10, 300, 20, false}},
         {4, 2, 3}},
        {"lamps, frames, timers and read-only texts take no focus",
         {{CTRL_LED, 0, 0, 20, 20, false}, {CTRL_DECORATION, 0, 0, 500, 500, false},
          {CTRL_TIMER, 0, 0, 0, 0, false}, {CTRL_TEXT_MSG, 5, 5, 50, 20, false},
          {CTRL_TEXT_BOX, 5, 50, 50, 50, true}, {CTRL_TEXT_BOX, 100, 50, 50, 50, false}},
         {7}},
    };
    for (const TabCase &c : cases) {
        SCOPED_TRACE(c.layout);
        PanelDesc panel;
        for (const Placed &p : c.controls) {
            ControlDesc d;
            d.kind = p.kind;
            d.x = p.x;
            d.y = p.y;
            d.width = p.width;
            d.height = p.height;
            d.indicator = p.indicator;
            panel.controls.push_back(d);
        }
        EXPECT_EQ(c.order, TabOrder(panel));
    }
}

TEST_P(Operator, TabWalksTheControlsFromTopLeftToBottomRight)
{
    const std::vector<int> cycle = {AUSWAHL, SEND_STRING, ZEICHEN_GESENDET, ZEICHEN_EMPFANGEN,
                                    RINGSLIDE, CLOSE_CONN, RESEND, UNCONNECTED_SEND,
                                    IP, SCANNING, TOGGLEBUTTON, ESC_BUTTON};
    Show();
    ASSERT_EQ(0, SetActiveCtrl(main_, AUSWAHL));
    QCoreApplication::processEvents();
    std::vector<int> forward{GetActiveCtrl(main_)};
    for (size_t i = 0; i < cycle.size(); i++) {
        Press(Qt::Key_Tab);
        forward.push_back(GetActiveCtrl(main_));
    }
    std::vector<int> expected = cycle;
    expected.push_back(AUSWAHL);
    EXPECT_EQ(expected, forward) << "Tab, from the catalogue round to it again";

    std::vector<int> backward;
    for (size_t i = 0; i < cycle.size(); i++) {
        Press(Qt::Key_Backtab, Qt::ShiftModifier);
        backward.push_back(GetActiveCtrl(main_));
    }
    expected.assign(cycle.rbegin(), cycle.rend());
    EXPECT_EQ(expected, backward) << "Shift+Tab, the same way back";
}

/* ---- Esc. ---- */

struct PopupCase {
    const char *popup;
    int control;                            /* where the focus is */
    std::function<void(QWidget *)> open;    /* opens the popup on that control */
};

/* Esc with nothing open operates Quit; then a popup is opened and Esc
 * must close it and nothing else. (The offscreen platform does not give
 * the panel back its activation after a popup, so the order is fixed.) */
TEST_P(Operator, EscClosesAnOpenPopupOnly)
{
    const PopupCase cases[] = {
        {"the catalogue's list", AUSWAHL, [](QWidget *w) { static_cast<QComboBox *>(w)->showPopup(); }},
        {"the command field's context menu", SEND_STRING,
         [](QWidget *w) {
             QContextMenuEvent request(QContextMenuEvent::Keyboard, QPoint(5, 5), w->mapToGlobal(QPoint(5, 5)));
             QApplication::sendEvent(w, &request);
         }},
    };
    for (const PopupCase &c : cases) {
        SCOPED_TRACE(c.popup);
        Show();
        QWidget *control = GetCtrlWidget(main_, c.control);
        control->setFocus(Qt::MouseFocusReason);
        Press(Qt::Key_Escape);
        EXPECT_EQ(1, CountEvents("QUIT", EVENT_COMMIT)) << "with nothing open Esc quits";

        c.open(control);
        ASSERT_TRUE(QTest::qWaitFor([] { return QApplication::activePopupWidget() != nullptr; }, kPopupWaitMs));
        Press(Qt::Key_Escape);
        EXPECT_TRUE(QTest::qWaitFor([] { return QApplication::activePopupWidget() == nullptr; }, kPopupWaitMs))
            << "the popup closes";
        QCoreApplication::processEvents();
        EXPECT_EQ(1, CountEvents("QUIT", EVENT_COMMIT)) << EventTrace();
        EXPECT_EQ("A0", TextValue(main_, AUSWAHL)) << "Esc picks nothing";
    }
}

/* ---- Before a blocking call. ---- */

/* Counts the paint events of the widget it watches. */
class PaintCounter : public QObject {
public:
    int paints = 0;

protected:
    bool eventFilter(QObject *, QEvent *event) override
    {
        paints += event->type() == QEvent::Paint;
        return false;
    }
};

TEST_P(Operator, WaitCursorPaintsThePanelAndRunsNoCallback)
{
    Show();
    QWidget *field = GetCtrlWidget(main_, SEND_STRING);
    PaintCounter counter;
    field->installEventFilter(&counter);
    ASSERT_EQ(0, SetCtrlVal(main_, SEND_STRING, "T"));
    /* What an operator does while the program is about to block: Enter in
     * the command field, and closing the window. */
    QCoreApplication::postEvent(field, new QKeyEvent(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier, "\r"));
    QCoreApplication::postEvent(GetPanelWidget(main_), new QCloseEvent);

    ASSERT_EQ(0, SetWaitCursor(1));
    EXPECT_GE(counter.paints, 1) << "the changed field was not painted before the blocking call";
    EXPECT_EQ("", EventTrace()) << "a callback ran inside the library call";
    ASSERT_EQ(0, SetWaitCursor(0));
    EXPECT_EQ("", EventTrace());

    QCoreApplication::processEvents();
    EXPECT_EQ("SENDEN:7:1280 SENDEN:1:0 QUIT:1:0", EventTrace()) << "the events waited for the event loop";
    field->removeEventFilter(&counter);
}

}  // namespace
