/*
 * ui_panels_test.cpp -- LoadPanel on the tests' own panel file and on
 * broken ones: the codes with which it refuses a file, a panel number, a
 * callback that is not registered or a parent; handles never reused; a
 * discarded panel taking its children along.
 */
#include "platform.h"
#include "ui_test_panel.h"
#include "ui_test_support.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cstring>

namespace {

/* ---- LoadPanel refusing files, panel numbers, callbacks and parents. ---- */

/* A small valid panel file; tests break it in one place at a time. */
const char *kGoodFile = R"({"format": "quenta-panels", "version": 1, "panels": [
  {"number": 5, "constant": "SMALL", "title": "Small", "size": [200, 100], "controls": [
    {"constant": "FIELD", "kind": "string", "callback": "SENDEN", "rect": [10, 30, 180, 24], "value": "x"}
  ]}]})";

struct LoadCase {
    const char *name;
    std::string content;   /* written to a temporary file; "" for no file */
    int number;
    int expected;          /* > 0: any handle */
};

std::string Replace(std::string s, const char *from, const char *to)
{
    s.replace(s.find(from), strlen(from), to);
    return s;
}

TEST_F(PanelFiles, LoadPanelRefusesBadFilesWithTheirCodes)
{
    const LoadCase cases[] = {
        {"good file, absolute path", kGoodFile, 5, 1},
        {"missing file", "", 5, UIE_FILE_NOT_FOUND},
        {"empty file", " ", 5, UIE_FILE_MALFORMED},
        {"not JSON", "panels: 5", 5, UIE_FILE_MALFORMED},
        {"cut short", std::string(kGoodFile).substr(0, 120), 5, UIE_FILE_MALFORMED},
        {"number as text", Replace(kGoodFile, "\"number\": 5", "\"number\": \"5\""), 5, UIE_FILE_MALFORMED},
        {"rect as text", Replace(kGoodFile, "[10, 30, 180, 24]", "\"10 30 180 24\""), 5, UIE_FILE_MALFORMED},
        {"value as number", Replace(kGoodFile, "\"value\": \"x\"", "\"value\": 7"), 5, UIE_FILE_MALFORMED},
        {"panel number missing", Replace(kGoodFile, "\"number\": 5, ", ""), 5, UIE_FILE_MALFORMED},
        {"field twice", Replace(kGoodFile, "\"value\": \"x\"", "\"value\": \"x\", \"value\": \"y\""), 5,
         UIE_FILE_MALFORMED},
        {"no such panel", kGoodFile, 7, UIE_PANEL_NOT_FOUND},
        {"callback not registered", Replace(kGoodFile, "SENDEN", "NOT_REGISTERED"), 5,
         UIE_CALLBACK_NOT_FOUND},
    };
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    for (const LoadCase &c : cases) {
        SCOPED_TRACE(c.name);
        const QString path = dir.filePath(QStringLiteral("case.uir"));
        QFile::remove(path);
        if (!c.content.empty()) {
            QFile file(path);
            ASSERT_TRUE(file.open(QIODevice::WriteOnly));
            file.write(c.content.data(), static_cast<qint64>(c.content.size()));
        }
        const int h = Load(QFile::encodeName(path).constData(), c.number);
        if (c.expected > 0)
            EXPECT_GT(h, 0);
        else
            EXPECT_EQ(c.expected, h);
    }
}

TEST_F(PanelFiles, LoadPanelRefusesNamesParentsAndUnboundCallbacks)
{
    EXPECT_EQ(UIE_FILE_NOT_FOUND, Load("no-such-file.uir", PANEL));
    EXPECT_EQ(UIE_FILE_NOT_FOUND, Load("", PANEL));
    EXPECT_EQ(UIE_FILE_NOT_FOUND, Load(nullptr, PANEL));
    EXPECT_EQ(UIE_FILE_NOT_FOUND, Load(QFile::encodeName(QDir::tempPath()).constData(), PANEL));
    EXPECT_EQ(UIE_PANEL_NOT_FOUND, Load(UI_TEST_PANEL_FILE, 4));
    EXPECT_EQ(UIE_PANEL_NOT_FOUND, Load(UI_TEST_PANEL_FILE, 0));
    EXPECT_EQ(UIE_INVALID_PANEL, Load(UI_TEST_PANEL_FILE, TXTPANEL, 999999));
    /* Each of the program's callbacks left out in turn: the panel naming it
     * can no longer be loaded. */
    for (int skip = 0; skip < 10; skip++) {
        SCOPED_TRACE(kCallbackNames[skip]);
        ASSERT_EQ(0, RegisterRecorders(skip));
        const bool onPopup = strcmp(kCallbackNames[skip], "CloseText") == 0;
        EXPECT_EQ(UIE_CALLBACK_NOT_FOUND, Load(UI_TEST_PANEL_FILE, onPopup ? TXTPANEL : PANEL));
        EXPECT_GT(Load(UI_TEST_PANEL_FILE, onPopup ? PANEL : TXTPANEL), 0);
    }
    const CallbackEntry noName[] = {{nullptr, nullptr}};
    EXPECT_EQ(UIE_INVALID_VALUE, RegisterCallbacks(noName, 1));
    EXPECT_EQ(UIE_INVALID_VALUE, RegisterCallbacks(nullptr, 0));
}

TEST_F(PanelFiles, HandlesAreNeverReusedAndDiscardTakesTheChildren)
{
    const int main = LoadPanel(0, UI_TEST_PANEL_FILE, PANEL);
    const int popup = LoadPanel(main, UI_TEST_PANEL_FILE, TXTPANEL);
    ASSERT_GT(main, 0);
    ASSERT_GT(popup, main);
    EXPECT_EQ(0, DiscardPanel(main));
    for (int gone : {main, popup}) {
        EXPECT_EQ(UIE_INVALID_PANEL, DisplayPanel(gone));
        EXPECT_EQ(UIE_INVALID_PANEL, DiscardPanel(gone));
        EXPECT_EQ(UIE_INVALID_PANEL, SetCtrlVal(gone, 2, "x"));
    }
    const int again = Load(UI_TEST_PANEL_FILE, PANEL);
    EXPECT_GT(again, popup);
}

}  // namespace
