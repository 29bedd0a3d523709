/*
 * list_rows_test.cpp -- how list boxes paint their rows: pixel for pixel as
 * Qt's own item delegate paints them, first from a new layout and then from
 * kept pictures; one line high and never scrolling sideways; and, counted
 * rather than timed, a repaint after a line comes in lays out that line
 * alone, on the module's real panel, where a 2,500-byte line stays whole
 * in the list although a row shows only what fits.
 */
#include <gtest/gtest.h>

#include <QApplication>
#include <QImage>
#include <QListWidget>
#include <QScrollBar>
#include <QTest>

#include <functional>
#include <string>
#include <vector>

#include "ascii.h"
#include "ascii_module.h"
#include "listrows.h"
#include "platform.h"
#include "platform_qt.h"

namespace {

char programName[] = "list_rows_test";
char *programArgv[] = {programName, nullptr};


class Engine : public ::testing::Environment {
public:
    void SetUp() override { ASSERT_EQ(InitRuntimeEngine(nullptr, programArgv, 0), 1); }
};
const ::testing::Environment *const engine = ::testing::AddGlobalTestEnvironment(new Engine);

/* Qt's own painting of a row, with the same row sizes: the yardstick. */
class QtPaint : public ListRowDelegate {
public:
    using ListRowDelegate::ListRowDelegate;
    void paint(QPainter *p, const QStyleOptionViewItem &o, const QModelIndex &i) const override
    {
        QStyledItemDelegate::paint(p, o, i);
    }
};

/* list painted by delegate, all pending layouts done first. */
QImage Painted(QListWidget *list, QAbstractItemDelegate *delegate)
{
    list->setItemDelegate(delegate);
    QCoreApplication::sendPostedEvents();
    return list->grab().toImage();
}

/* Empty when rows, list's delegate, paints list as Qt's delegate does, twice
 * over (the second time from kept pictures); else the first difference. */
std::string Difference(QListWidget *list, ListRowDelegate *rows)
{
    QtPaint qt(list);
    const QImage want = Painted(list, &qt);
    for (int pass = 1; pass <= 2; pass++) {
        const QImage got = Painted(list, rows);
        if (got.size() != want.size())
            return "paint " + std::to_string(pass) + ": the list's size differs";
        for (int y = 0; y < want.height(); y++)
            for (int x = 0; x < want.width(); x++)
                if (got.pixel(x, y) != want.pixel(x, y))
                    return "paint " + std::to_string(pass) + ": pixel (" + std::to_string(x) + ", " +
                           std::to_string(y) + ") is " + QColor(got.pixel(x, y)).name().toStdString() +
                           ", Qt paints " + QColor(want.pixel(x, y)).name().toStdString();
    }
    return "";
}

/* n characters cycling through the printable ASCII and Latin-1 letters,
 * starting at the seed-th, as Latin-1 bytes. */
std::string Varied(size_t n, int seed)
{
    static const std::string alphabet = [] {
        std::string a;
        for (int c = 0x20; c < 0x7F; c++)
            a += static_cast<char>(c);
        for (int c = 0xC0; c <= 0xFF; c++)
            a += static_cast<char>(c);
        return a;
    }();
    std::string text;
    for (size_t i = 0; i < n; i++)
        text += alphabet[(i * 7 + static_cast<size_t>(seed)) % alphabet.size()];
    return text;
}

QString Latin1(const std::string &bytes)
{
    return QString::fromLatin1(bytes.data(), static_cast<qsizetype>(bytes.size()));
}

/* A window holding one list box, 256 pixels high, painted by ours. */
struct ListWindow {
    QWidget top;
    QListWidget *list;
    ListRowDelegate *rows;

    explicit ListWindow(int width)
    {
        top.resize(width + 20, 276);
        list = new QListWidget(&top);
        list->setGeometry(10, 10, width, 256);
        list->setUniformItemSizes(true);
        rows = new ListRowDelegate(list);
        list->setItemDelegate(rows);
        top.show();
        top.activateWindow();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(&top));
    }
};

TEST(ListRows, PaintAsQtsDelegateOneLineHighNeverSideways)
{
    const std::string longest = Varied(PLATFORM_LABEL_SIZE - 1, 3);
    struct Case {
        const char *what;
        std::vector<std::string> rows;
        int current;
        bool focus;
        bool enabled;
        int width;
    } cases[] = {
        {"short lines, the first current", {"A0", "A0 022.0 025.0", "E", "P001", "xyz"}, 0, true, true, 465},
        {"long lines cut, the longest last", {Varied(2500, 0), "A0", std::string(64, 'x'), std::string(66, 'x'),
                                              std::string(68, 'W'), longest}, 1, true, true, 465},
        {"lines of other characters", {"", "two\nlines", "\nfirst empty", "tab\there", "cr\r end",
                                       "\xE4\xF6\xFC \xDF \xB5 \xA9", "\x01\x02\x7F", "last"}, 2, true, true, 465},
        {"no focus", {"A0 022.0 025.0", Varied(300, 5), "P001"}, 0, false, true, 465},
        {"disabled", {"A0 022.0 025.0", Varied(300, 5), "P001"}, 0, true, false, 465},
        {"narrow", {"A0 022.0 025.0", Varied(2500, 9), "P001", "two\nlines"}, 1, true, true, 90},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        ListWindow w(c.width);
        for (const std::string &row : c.rows)
            w.list->addItem(Latin1(row));
        w.list->setCurrentRow(c.current);
        w.list->setEnabled(c.enabled);
        if (c.focus)
            w.list->setFocus();
        EXPECT_EQ(Difference(w.list, w.rows), "");
        EXPECT_EQ(w.list->horizontalScrollBar()->maximum(), 0) << "a row shows what fits";
        const int high = w.list->visualItemRect(w.list->item(0)).height();
        for (int i = 0; i < w.list->count(); i++)
            EXPECT_EQ(w.list->visualItemRect(w.list->item(i)).height(), high) << "row " << i;
        EXPECT_LT(high, 2 * QFontMetrics(w.list->font()).height()) << "a row is one line high";
    }
}

TEST(ListRows, KeptRowsStayFewWhileEveryNewLineIsLaidOutOnce)
{
    const int lines = 100; /* three times the rows it may keep */
    ListWindow w(465);
    for (int i = 0; i < lines; i++) {
        if (w.list->count() >= HISTORY_MAX)
            delete w.list->takeItem(HISTORY_MAX - 1);
        w.list->insertItem(0, Latin1(Varied(100 + i % 50, i)));
        w.list->setCurrentRow(0);
        QCoreApplication::sendPostedEvents();
        w.list->viewport()->repaint();
        ASSERT_EQ(w.rows->layoutsMade(), i + 1) << "line " << i;
        ASSERT_LE(w.rows->rowsKept(), 2 * (HISTORY_MAX + 4)) << "line " << i;
    }
    EXPECT_EQ(Difference(w.list, w.rows), "");
}

/*
 * The module's main panel, loaded as start-up does but connected to no
 * one; its received list is empty and painted by ours.
 */
class ReceivedList : public ::testing::Test {
protected:
    QListWidget *list = nullptr;
    ListRowDelegate *rows = nullptr;

    void SetUp() override
    {
        AsciiRegisterCallbacks();
        mainPanel = LoadPanel(0, AsciiPanelFile(), PANEL);
        ASSERT_GT(mainPanel, 0) << GetUILErrorString(mainPanel);
        SuspendTimerCallbacks();
        DisplayPanel(mainPanel);
        list = qobject_cast<QListWidget *>(GetCtrlWidget(mainPanel, ZEICHEN_EMPFANGEN));
        ASSERT_NE(list, nullptr);
        rows = dynamic_cast<ListRowDelegate *>(list->itemDelegate());
        ASSERT_NE(rows, nullptr) << "list boxes paint their rows from kept layouts";
        ASSERT_TRUE(QTest::qWaitForWindowExposed(GetPanelWidget(mainPanel)));
    }

    void TearDown() override
    {
        DiscardPanel(mainPanel);
        ResumeTimerCallbacks();
    }

    /* The label at index of the received list, whole, or "(none)". */
    std::string Label(int index)
    {
        char label[PLATFORM_LABEL_SIZE] = "";
        if (GetLabelFromIndex(mainPanel, ZEICHEN_EMPFANGEN, index, label) != 0)
            return "(none)";
        return label;
    }
};

TEST_F(ReceivedList, RepaintAfterALineComesInLaysOutThatLineAlone)
{
    auto add = [](int first, int count) {
        for (int i = first; i < first + count; i++)
            AddHistoryLine(ZEICHEN_EMPFANGEN, Varied(20 + static_cast<size_t>(i), i).c_str());
    };
    struct Step {
        const char *what;
        std::function<void()> act;
        long layouts;  /* laid out by the repaint after act */
        long pictures; /* rows drawn anew by it */
    } steps[] = {
        {"twelve lines come in", [&] { add(0, HISTORY_MAX); }, HISTORY_MAX, HISTORY_MAX - 1},
        {"a thirteenth line: the top one moves down", [&] { add(100, 1); }, 1, 1},
        {"a repaint with nothing new", [] {}, 0, 0},
        {"a 2,500-character line", [] { AddHistoryLine(ZEICHEN_EMPFANGEN, Varied(ANSWER_MAX, 1).c_str()); }, 1, 1},
        {"the list made wider: every line anew", [&] { list->resize(list->width() + 40, list->height()); },
         HISTORY_MAX, HISTORY_MAX - 1},
        {"a line as one shown", [&] { add(5, 1); }, 0, 1},
        {"another line: the one it moves down shares its picture", [&] { add(200, 1); }, 1, 0},
    };
    for (const Step &s : steps) {
        SCOPED_TRACE(s.what);
        const long layouts = rows->layoutsMade(), pictures = rows->picturesMade();
        s.act();
        QCoreApplication::sendPostedEvents();
        list->viewport()->repaint();
        EXPECT_EQ(rows->layoutsMade() - layouts, s.layouts);
        EXPECT_EQ(rows->picturesMade() - pictures, s.pictures);
        EXPECT_EQ(Difference(list, rows), "");
    }
    EXPECT_EQ(Label(2), Varied(ANSWER_MAX, 1)) << "the long line, moved down, is whole in the list";
}

}  // namespace
