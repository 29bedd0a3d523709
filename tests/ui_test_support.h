/*
 * ui_test_support.h -- what the user-interface tests share: the engine
 * started once on Qt's offscreen platform, the program's ten callback
 * names bound to recorders that log every event they receive (and may run
 * a hook, e.g. one that discards a panel), and a few text helpers.
 */
#ifndef QUENTA_UI_TEST_SUPPORT_H
#define QUENTA_UI_TEST_SUPPORT_H

#include "platform.h"

#include <QByteArray>
#include <QString>

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <string>
#include <vector>

struct RecordedEvent {
    std::string callback;
    int panel;
    int control;
    int event;
    int data1;
};

inline std::vector<RecordedEvent> &Recorded()
{
    static std::vector<RecordedEvent> events;
    return events;
}

/* Result the recorders give for key press events (nonzero swallows). */
inline int &KeyPressResult()
{
    static int result = 0;
    return result;
}

/* Per callback name, something to do after recording (e.g. Discard). */
inline std::map<std::string, std::function<void(int panel, int control, int event)>> &Hooks()
{
    static std::map<std::string, std::function<void(int, int, int)>> hooks;
    return hooks;
}

inline const char *const kCallbackNames[10] = {"COMMAND",  "ChangeCloseConnection", "ChangeScanning",
                                               "CloseText", "FullText", "IPinput", "ON_OFF",
                                               "QUIT",      "SENDEN",   "TIMER"};

template <int N> int RecordingCallback(int panel, int control, int event, void *, int data1, int)
{
    Recorded().push_back({kCallbackNames[N], panel, control, event, data1});
    auto hook = Hooks().find(kCallbackNames[N]);
    if (hook != Hooks().end())
        hook->second(panel, control, event);
    return event == EVENT_KEYPRESS ? KeyPressResult() : 0;
}

/* Registers the ten names; skip (by index) leaves one out. */
inline int RegisterRecorders(int skip = -1)
{
    const CtrlCallbackPtr fns[10] = {RecordingCallback<0>, RecordingCallback<1>, RecordingCallback<2>,
                                     RecordingCallback<3>, RecordingCallback<4>, RecordingCallback<5>,
                                     RecordingCallback<6>, RecordingCallback<7>, RecordingCallback<8>,
                                     RecordingCallback<9>};
    std::vector<CallbackEntry> table;
    for (int i = 0; i < 10; i++)
        if (i != skip)
            table.push_back({kCallbackNames[i], fns[i]});
    return RegisterCallbacks(table.data(), static_cast<int>(table.size()));
}

/* Starts the engine once for the test program. */
inline void StartEngine()
{
    static char name[] = "ui_test";
    static char *argv[] = {name, nullptr};
    ASSERT_EQ(1, InitRuntimeEngine(nullptr, argv, 0));
    ASSERT_EQ(0, RegisterRecorders());
}

/* A test whose panels are discarded after it; Load() keeps track. */
class PanelFiles : public ::testing::Test {
protected:
    static void SetUpTestSuite() { StartEngine(); }
    void SetUp() override { ASSERT_EQ(0, RegisterRecorders()); }
    void TearDown() override
    {
        for (int h : loaded_)
            DiscardPanel(h);
    }
    int Load(const char *file, int number, int parent = 0)
    {
        const int h = LoadPanel(parent, file, number);
        if (h > 0)
            loaded_.push_back(h);
        return h;
    }
    std::vector<int> loaded_;
};

/* The Latin-1 bytes of a UTF-8 text written in a test source. */
inline std::string Latin1(const char *utf8)
{
    return QString::fromUtf8(utf8).toLatin1().toStdString();
}

/* The text value of control, or "error N" when GetCtrlVal refuses. */
inline std::string TextValue(int panel, int control)
{
    char buf[PLATFORM_LABEL_SIZE];
    const int rc = GetCtrlVal(panel, control, buf);
    return rc ? "error " + std::to_string(rc) : std::string(buf);
}

/* Events recorded for callback with event code event. */
inline int CountEvents(const std::string &callback, int event)
{
    int n = 0;
    for (const RecordedEvent &e : Recorded())
        n += e.callback == callback && e.event == event;
    return n;
}

/* "SENDEN:7:1280 SENDEN:1:0" -- the recorded events, for comparisons. */
inline std::string EventTrace()
{
    std::string out;
    for (const RecordedEvent &e : Recorded())
        out += (out.empty() ? "" : " ") + e.callback + ":" + std::to_string(e.event) + ":" +
               std::to_string(e.data1);
    return out;
}

#endif
