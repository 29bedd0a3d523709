/*
 * ui_values_test.cpp -- the program's side of the controls: what
 * SetCtrlVal does to each kind (clamping, selecting by value, cutting,
 * refusing the wrong type), the attributes a program may read and set, and
 * the list operations with their index rules. None of it may raise an
 * event.
 */
#include "platform.h"
#include "ui_test_panel.h"
#include "ui_test_support.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>

namespace {

class Values : public ::testing::Test {
protected:
    static void SetUpTestSuite() { StartEngine(); }
    void SetUp() override
    {
        ASSERT_EQ(0, RegisterRecorders());
        Fresh();
    }
    void TearDown() override
    {
        DiscardPanel(panel_);
        EXPECT_EQ("", EventTrace()) << "a program's change raised an event";
    }
    /* A newly loaded main panel with its popup, for the next case. */
    void Fresh()
    {
        if (panel_ > 0)
            TearDown();
        panel_ = LoadPanel(0, UI_TEST_PANEL_FILE, PANEL);
        popup_ = LoadPanel(panel_, UI_TEST_PANEL_FILE, TXTPANEL);
        ASSERT_GT(popup_, 0);
        Recorded().clear();
    }
    int panel_ = 0;
    int popup_ = 0;
};

struct ValueCase {
    const char *name;
    std::function<int(int panel, int popup)> change;   /* the call under test */
    int result;                                         /* its expected result */
    std::function<std::string(int panel, int popup)> read;
    std::string expected;                               /* what read gives after */
};

std::string Number(int panel, int control)
{
    double v = -1;
    const int rc = GetCtrlVal(panel, control, &v);
    return rc ? "error " + std::to_string(rc) : std::to_string(v);
}

std::string Index(int panel, int control)
{
    int index = -9;
    const int rc = GetCtrlIndex(panel, control, &index);
    return rc ? "error " + std::to_string(rc) : std::to_string(index);
}

TEST_F(Values, SetCtrlValFollowsEachKind)
{
    const ValueCase cases[] = {
        {"toggle takes any nonzero as on", [](int p, int) { return SetCtrlVal(p, TOGGLEBUTTON, 5); }, 0,
         [](int p, int) { return Number(p, TOGGLEBUTTON); }, std::to_string(1.0)},
        {"option off", [](int p, int) { return SetCtrlVal(p, RESEND, 0); }, 0,
         [](int p, int) { return Number(p, RESEND); }, std::to_string(0.0)},
        {"LED on", [](int p, int) { return SetCtrlVal(p, LED, 1); }, 0,
         [](int p, int) { return Number(p, LED); }, std::to_string(1.0)},
        {"numeric clamps below", [](int p, int) { return SetCtrlVal(p, SCANNING, 0.2); }, 0,
         [](int p, int) { return Number(p, SCANNING); }, std::to_string(1.0)},
        {"numeric from an int", [](int p, int) { return SetCtrlVal(p, SCANNING, 42); }, 0,
         [](int p, int) { return Number(p, SCANNING); }, std::to_string(42.0)},
        {"ring slide by value", [](int p, int) { return SetCtrlVal(p, RINGSLIDE, 2); }, 0,
         [](int p, int) { return Index(p, RINGSLIDE); }, "2"},
        {"ring slide, no such value", [](int p, int) { return SetCtrlVal(p, RINGSLIDE, 7); }, UIE_INVALID_VALUE,
         [](int p, int) { return Index(p, RINGSLIDE); }, "1"},
        {"ring by value, first holding it", [](int p, int) { return SetCtrlVal(p, AUSWAHL, "Aa"); }, 0,
         [](int p, int) { return Index(p, AUSWAHL); }, "4"},
        {"ring by value with blanks", [](int p, int) { return SetCtrlVal(p, AUSWAHL, "g0 -80.0 190.0"); }, 0,
         [](int p, int) { return Index(p, AUSWAHL); }, "5"},
        {"ring, value not a command", [](int p, int) { return SetCtrlVal(p, AUSWAHL, "A0 "); }, UIE_INVALID_VALUE,
         [](int p, int) { return TextValue(p, AUSWAHL); }, "A0"},
        {"string cut to its length", [](int p, int) { return SetCtrlVal(p, IP, "192.168.100.200.1.2.3.4.5.6.7.8"); }, 0,
         [](int p, int) { return TextValue(p, IP); }, "192.168.100.200.1.2.3.4.5.6.7."},
        {"string keeps Latin-1 bytes", [](int p, int) { return SetCtrlVal(p, SEND_STRING, "t\xfc\xb0"); }, 0,
         [](int p, int) { return TextValue(p, SEND_STRING); }, "t\xfc\xb0"},
        {"text box replaced whole", [](int, int q) { ResetTextBox(q, TEXTBOX, "old"); return SetCtrlVal(q, TEXTBOX, "new"); }, 0,
         [](int, int q) { return TextValue(q, TEXTBOX); }, "new"},
        {"button has no value", [](int p, int) { return SetCtrlVal(p, ESC_BUTTON, 1); }, UIE_TYPE_MISMATCH,
         [](int p, int) { return TextValue(p, SEND_STRING); }, "A0"},
        {"string takes no number", [](int p, int) { return SetCtrlVal(p, SEND_STRING, 1); }, UIE_TYPE_MISMATCH,
         [](int p, int) { return TextValue(p, SEND_STRING); }, "A0"},
        {"LED takes no text", [](int p, int) { return SetCtrlVal(p, LED, "1"); }, UIE_TYPE_MISMATCH,
         [](int p, int) { return Number(p, LED); }, std::to_string(0.0)},
        {"text ring read as number", [](int, int) { return 0; }, 0,
         [](int p, int) { return Number(p, AUSWAHL); }, "error " + std::to_string(UIE_TYPE_MISMATCH)},
        {"a control past the panel's", [](int p, int) { return SetCtrlVal(p, NO_SUCH_CONTROL, 1); }, UIE_INVALID_CONTROL,
         [](int p, int) { return Number(p, 1); }, "error " + std::to_string(UIE_INVALID_CONTROL)},
    };
    for (const ValueCase &c : cases) {
        SCOPED_TRACE(c.name);
        Fresh();
        EXPECT_EQ(c.result, c.change(panel_, popup_));
        EXPECT_EQ(c.expected, c.read(panel_, popup_));
    }
}

TEST_F(Values, AttributesReadAndSet)
{
    struct Case {
        const char *name;
        int control;
        int attribute;
        double set;       /* NAN: read only */
        int setResult;
        double read;      /* expected afterwards; NAN: reading fails with readResult */
        int readResult;
    } cases[] = {
        {"timer interval", SCANNER, ATTR_INTERVAL, 5.0, 0, 5.0, 0},
        {"timer interval 0", SCANNER, ATTR_INTERVAL, 0.0, UIE_INVALID_VALUE, 2.0, 0},
        {"timer disabled", SCANNER, ATTR_ENABLED, 0, 0, 0, 0},
        {"string length", IP, ATTR_MAX_ENTRY_LENGTH, 15, 0, 15, 0},
        {"string length 512", SEND_STRING, ATTR_MAX_ENTRY_LENGTH, 512, UIE_INVALID_VALUE, 511, 0},
        {"numeric minimum", SCANNING, ATTR_MIN_VALUE, 2, 0, 2, 0},
        {"numeric minimum over maximum", SCANNING, ATTR_MIN_VALUE, 601, UIE_INVALID_VALUE, 1, 0},
        {"numeric increment 0", SCANNING, ATTR_INCR_VALUE, 0, UIE_INVALID_VALUE, 1, 0},
        {"dimmed", SEND_STRING, ATTR_DIMMED, 1, 0, 1, 0},
        {"kind is read only", LED, ATTR_CTRL_KIND, 3, UIE_INVALID_ATTRIBUTE, CTRL_LED, 0},
        {"interval of a string", IP, ATTR_INTERVAL, 1, UIE_INVALID_ATTRIBUTE, NAN, UIE_INVALID_ATTRIBUTE},
        {"label is a text", IP, ATTR_LABEL_TEXT, 1, UIE_TYPE_MISMATCH, NAN, UIE_TYPE_MISMATCH},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        Fresh();
        EXPECT_EQ(c.setResult, SetCtrlAttribute(panel_, c.control, c.attribute, c.set));
        double v = -1;
        EXPECT_EQ(c.readResult, GetCtrlAttribute(panel_, c.control, c.attribute, &v));
        if (!std::isnan(c.read)) {
            EXPECT_DOUBLE_EQ(c.read, v);
        }
    }
    char text[PLATFORM_LABEL_SIZE];
    EXPECT_EQ(UIE_TYPE_MISMATCH, GetCtrlAttribute(panel_, SCANNER, ATTR_INTERVAL, text));
    EXPECT_EQ(UIE_INVALID_ATTRIBUTE, GetPanelAttribute(panel_, ATTR_INTERVAL, text));
    EXPECT_EQ(UIE_INVALID_ATTRIBUTE, SetPanelAttribute(panel_, ATTR_CONSTANT_NAME, "X"));
}

TEST_F(Values, ListOperationsAndTheirIndexRules)
{
    const int list = ZEICHEN_EMPFANGEN;
    struct Step {
        const char *name;
        std::function<int(int p)> call;
        int result;
        const char *labels;   /* the list's labels afterwards, '|' between */
    } steps[] = {
        {"append with -1", [&](int p) { return InsertListItem(p, list, -1, "b", 20); }, 0, "b"},
        {"insert at the top", [&](int p) { return InsertListItem(p, list, 0, "a", 10); }, 0, "a|b"},
        {"append at the count", [&](int p) { return InsertListItem(p, list, 2, "d", 40); }, 0, "a|b|d"},
        {"insert in between", [&](int p) { return InsertListItem(p, list, 2, "c", 30); }, 0, "a|b|c|d"},
        {"insert past the count", [&](int p) { return InsertListItem(p, list, 5, "x", 0); }, UIE_INVALID_INDEX, "a|b|c|d"},
        {"insert below -1", [&](int p) { return InsertListItem(p, list, -2, "x", 0); }, UIE_INVALID_INDEX, "a|b|c|d"},
        {"select by value", [&](int p) { return SetCtrlVal(p, list, 30); }, 0, "a|b|c|d"},
        {"delete two", [&](int p) { return DeleteListItem(p, list, 1, 2); }, 0, "a|d"},
        {"delete more than left", [&](int p) { return DeleteListItem(p, list, 1, 5); }, 0, "a"},
        {"delete past the end", [&](int p) { return DeleteListItem(p, list, 1, 1); }, UIE_INVALID_INDEX, "a"},
        {"select past the end", [&](int p) { return SetCtrlIndex(p, list, 1); }, UIE_INVALID_INDEX, "a"},
        {"insert into a text ring", [&](int p) { return InsertListItem(p, AUSWAHL, 0, "x", 1); }, UIE_TYPE_MISMATCH, "a"},
        {"list of a string field", [&](int p) { return DeleteListItem(p, IP, 0, 1); }, UIE_TYPE_MISMATCH, "a"},
        {"delete to the end", [&](int p) { return DeleteListItem(p, list, 0, -1); }, 0, ""},
    };
    for (const Step &s : steps) {
        SCOPED_TRACE(s.name);
        EXPECT_EQ(s.result, s.call(panel_));
        int n = -1;
        ASSERT_EQ(0, GetNumListItems(panel_, list, &n));
        std::string labels;
        for (int i = 0; i < n; i++) {
            char label[PLATFORM_LABEL_SIZE];
            ASSERT_EQ(0, GetLabelFromIndex(panel_, list, i, label));
            labels += (i ? "|" : "") + std::string(label);
        }
        EXPECT_EQ(s.labels, labels);
    }
    int index = 0;
    EXPECT_EQ(0, GetCtrlIndex(panel_, list, &index));
    EXPECT_EQ(-1, index) << "an empty list has no current item";
    double value = 0;
    EXPECT_EQ(UIE_INVALID_INDEX, GetCtrlVal(panel_, list, &value));
}

}  // namespace
