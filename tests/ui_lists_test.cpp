/*
 * ui_lists_test.cpp -- the three list kinds (ring with numbers, ring slide,
 * list box) of the panel LISTS of ui_test.uir through the same list
 * operations: the items each kind holds afterwards, and which of them is
 * current, since every kind moves its current item in its own way when
 * items come and go. Also the values of the kinds that are no list.
 */
#include "platform.h"
#include "platform_qt.h"
#include "ui_test_panel.h"
#include "ui_test_support.h"

#include <gtest/gtest.h>

#include <QAbstractItemModel>
#include <QComboBox>
#include <QListWidget>
#include <QWidget>

#include <cmath>
#include <functional>
#include <string>

namespace {

/* The labels of list, '|' between, the current one in brackets. */
std::string Items(int panel, int list)
{
    int n = -1, current = -2;
    if (GetNumListItems(panel, list, &n) != 0 || GetCtrlIndex(panel, list, &current) != 0)
        return "error";
    std::string text;
    for (int i = 0; i < n; i++) {
        char label[PLATFORM_LABEL_SIZE];
        if (GetLabelFromIndex(panel, list, i, label) != 0)
            return "error";
        text += (i ? "|" : "") + (i == current ? "[" + std::string(label) + "]" : std::string(label));
    }
    return text;
}

/* The panel of lists, loaded for each test. */
class Lists : public PanelFiles {
protected:
    void SetUp() override
    {
        PanelFiles::SetUp();
        panel_ = Load(UI_TEST_PANEL_FILE, LISTS);
        ASSERT_GT(panel_, 0) << GetUILErrorString(panel_);
    }
    int panel_ = 0;
};

TEST_F(Lists, EachKindKeepsItsItemsAndMovesItsCurrentItem)
{
    struct Step {
        const char *name;
        std::function<int(int panel, int list)> call;
        int result;
        const char *ring, *slide, *list;   /* Items() of each kind afterwards */
    } steps[] = {
        {"as loaded", [](int, int) { return 0; }, 0, "p|[q]|r", "p|[q]|r", "p|[q]|r"},
        {"insert above the current", [](int p, int l) { return InsertListItem(p, l, 0, "a", 10); }, 0,
         "a|p|[q]|r", "a|p|[q]|r", "a|p|[q]|r"},
        {"append", [](int p, int l) { return InsertListItem(p, l, -1, "b", 20); }, 0,
         "a|p|[q]|r|b", "a|p|[q]|r|b", "a|p|[q]|r|b"},
        {"select by value", [](int p, int l) { return SetCtrlVal(p, l, 3.0); }, 0,
         "a|p|q|[r]|b", "a|p|q|[r]|b", "a|p|q|[r]|b"},
        {"no item holds 2.5", [](int p, int l) { return SetCtrlVal(p, l, 2.5); }, UIE_INVALID_VALUE,
         "a|p|q|[r]|b", "a|p|q|[r]|b", "a|p|q|[r]|b"},
        {"delete the current", [](int p, int l) { return DeleteListItem(p, l, 3, 1); }, 0,
         "a|p|q|[b]", "a|p|q|[b]", "a|p|q|[b]"},
        {"delete the last", [](int p, int l) { return DeleteListItem(p, l, 3, 1); }, 0,
         "a|p|[q]", "a|p|[q]", "a|p|[q]"},
        {"delete two above the current", [](int p, int l) { return DeleteListItem(p, l, 0, 2); }, 0,
         "[q]", "[q]", "[q]"},
        {"delete everything", [](int p, int l) { return DeleteListItem(p, l, 0, -1); }, 0, "", "", ""},
        {"insert into an empty list", [](int p, int l) { return InsertListItem(p, l, 0, "z", 7); }, 0,
         "[z]", "[z]", "z"},
        {"insert a second", [](int p, int l) { return InsertListItem(p, l, 1, "y", 8); }, 0,
         "[z]|y", "[z]|y", "z|y"},
        {"select the second", [](int p, int l) { return SetCtrlIndex(p, l, 1); }, 0,
         "z|[y]", "z|[y]", "z|[y]"},
        {"select past the end", [](int p, int l) { return SetCtrlIndex(p, l, 2); }, UIE_INVALID_INDEX,
         "z|[y]", "z|[y]", "z|[y]"},
    };
    const int lists[] = {RING, SLIDE, LIST};
    for (const Step &s : steps) {
        SCOPED_TRACE(s.name);
        const char *expected[] = {s.ring, s.slide, s.list};
        for (int k = 0; k < 3; k++) {
            SCOPED_TRACE(k == 0 ? "ring" : k == 1 ? "ring slide" : "list box");
            EXPECT_EQ(s.result, s.call(panel_, lists[k]));
            EXPECT_EQ(expected[k], Items(panel_, lists[k]));
        }
    }
    for (int list : lists) {
        int value = -1;
        double current = -1;
        EXPECT_EQ(0, GetValueFromIndex(panel_, list, 1, &value));
        EXPECT_EQ(8, value);
        EXPECT_EQ(0, GetCtrlVal(panel_, list, &current));
        EXPECT_EQ(8.0, current);
    }
}

/* The model behind a list control's widget. */
QAbstractItemModel *ModelOf(int panel, int list)
{
    QWidget *w = GetCtrlWidget(panel, list);
    if (QComboBox *ring = qobject_cast<QComboBox *>(w))
        return ring->model();
    if (QListWidget *box = qobject_cast<QListWidget *>(w))
        return box->model();
    return w ? w->findChild<QAbstractItemModel *>() : nullptr;
}

/* Whoever watches a list's model (a view, a delegate, a test) sees a new
 * row with its label and value already in it. */
TEST_F(Lists, ANewItemIsWholeWhenItsRowAppears)
{
    for (int list : {RING, SLIDE, LIST}) {
        SCOPED_TRACE(list);
        QAbstractItemModel *model = ModelOf(panel_, list);
        ASSERT_NE(model, nullptr);
        std::string seen;
        QObject::connect(model, &QAbstractItemModel::rowsInserted, model,
                         [&seen, model](const QModelIndex &, int first, int) {
                             const QModelIndex row = model->index(first, 0);
                             seen = row.data(Qt::DisplayRole).toString().toStdString() + "=" +
                                    row.data(Qt::UserRole).toString().toStdString();
                         });
        EXPECT_EQ(0, InsertListItem(panel_, list, 1, "new line", 42));
        EXPECT_EQ("new line=42", seen);
    }
}

TEST_F(Lists, KindsThatAreNoListHoldTheirValue)
{
    const std::string longText(PLATFORM_LABEL_SIZE + 10, 'x');
    char text[PLATFORM_LABEL_SIZE];
    double number = -1;

    EXPECT_EQ(0, GetCtrlVal(panel_, MESSAGE, text));
    EXPECT_STREQ("hello", text);
    EXPECT_EQ(0, SetCtrlVal(panel_, MESSAGE, longText.c_str()));
    EXPECT_EQ(0, GetCtrlVal(panel_, MESSAGE, text));
    EXPECT_EQ(std::string(PLATFORM_LABEL_SIZE - 1, 'x'), text);

    static const struct {
        int control;
        double set, read;
    } numbers[] = {
        {LAMP, 0.5, 1}, {LAMP, 0, 0}, {SWITCH, -3, 1}, {NUMBER, 2.5, 2.5}, {NUMBER, 9, 5},
    };
    for (const auto &c : numbers) {
        SCOPED_TRACE(std::to_string(c.control) + " set to " + std::to_string(c.set));
        EXPECT_EQ(0, SetCtrlVal(panel_, c.control, c.set));
        EXPECT_EQ(0, GetCtrlVal(panel_, c.control, &number));
        EXPECT_EQ(c.read, number);
    }
    EXPECT_EQ(UIE_INVALID_VALUE, SetCtrlVal(panel_, NUMBER, NAN));
    EXPECT_EQ(UIE_TYPE_MISMATCH, SetCtrlVal(panel_, MESSAGE, 1));
    EXPECT_EQ(UIE_TYPE_MISMATCH, GetCtrlVal(panel_, LAMP, text));
}

}  // namespace
