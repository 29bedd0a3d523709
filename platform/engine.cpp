/*
 * engine.cpp -- the engine of the user-interface library: creating the
 * QApplication (only when a display can really be opened, since Qt aborts
 * the process when its platform plugin cannot connect; display_probe.cpp
 * tells), the callback table, the table of loaded panels, event dispatch
 * and the guard that keeps callbacks out of library calls,
 * RunUserInterface and QuitUserInterface, timer suspension and the wait
 * cursor.
 *
 * Exports InitRuntimeEngine, RegisterCallbacks, RunUserInterface,
 * QuitUserInterface, SetWaitCursor, GetWaitCursor, SuspendTimerCallbacks,
 * ResumeTimerCallbacks and the Ui* helpers of uicore.h.
 */
#include "uicore.h"
#include "tcp.h"

#include <QApplication>
#include <QCursor>
#include <QEventLoop>
#include <QTimer>

#include <cstring>
#include <map>
#include <memory>

namespace {

/* QApplication keeps references to argc and argv for its whole life. */
int g_argc = 0;
std::vector<char *> g_argv;
char g_defaultName[] = "quenta-ascii";

bool g_ready = false;
std::vector<std::pair<std::string, CtrlCallbackPtr>> g_callbacks;
std::map<int, std::unique_ptr<UiPanel>> g_panels;
int g_nextHandle = 1;
int g_callDepth = 0;
std::vector<QEventLoop *> g_loops;
bool g_quitPending = false;
int g_quitCode = 0;
bool g_timersSuspended = false;
bool g_waitCursor = false;

/* Copies the argument vector (or a default one) into storage that lives
 * as long as the QApplication. */
void KeepArguments(char *argv[])
{
    g_argv.clear();
    for (int i = 0; argv && argv[i]; i++)
        g_argv.push_back(argv[i]);
    if (g_argv.empty())
        g_argv.push_back(g_defaultName);
    g_argc = static_cast<int>(g_argv.size());
    g_argv.push_back(nullptr);
}

}  // namespace

/* ---- Engine. ---- */

int InitRuntimeEngine(void *module, char *argv[], int reserved)
{
    (void)module;
    (void)reserved;
    if (g_ready)
        return 1;
    if (QCoreApplication::instance()) {
        g_ready = qobject_cast<QApplication *>(QCoreApplication::instance()) != nullptr;
    } else {
        if (!UiDisplayUsable(argv))
            return 0;
        KeepArguments(argv);
        new QApplication(g_argc, g_argv.data());
        QApplication::setQuitOnLastWindowClosed(false);
        g_ready = true;
    }
    if (g_ready)
        TcpSetWaitHook(UiShowPending);
    return g_ready ? 1 : 0;
}

int RegisterCallbacks(const CallbackEntry *table, int count)
{
    if (!table || count < 0)
        return UIE_INVALID_VALUE;
    for (int i = 0; i < count; i++)
        if (!table[i].name)
            return UIE_INVALID_VALUE;
    g_callbacks.clear();
    for (int i = 0; i < count; i++)
        g_callbacks.emplace_back(table[i].name, table[i].function);
    return 0;
}

/* ---- Event loop. ---- */

int RunUserInterface(void)
{
    if (!g_ready)
        return UIE_NOT_INITIALIZED;
    if (g_quitPending) {
        g_quitPending = false;
        return g_quitCode;
    }
    QEventLoop loop;
    g_loops.push_back(&loop);
    const int code = loop.exec();
    g_loops.pop_back();
    return code;
}

int QuitUserInterface(int returnCode)
{
    if (!g_ready)
        return UIE_NOT_INITIALIZED;
    if (g_loops.empty()) {
        g_quitPending = true;
        g_quitCode = returnCode;
    } else {
        g_loops.back()->exit(returnCode);
    }
    return 0;
}

/* ---- Cursor and timers. ---- */

int SetWaitCursor(int on)
{
    UiCall call;
    if (!g_ready)
        return UIE_NOT_INITIALIZED;
    if (on && !g_waitCursor)
        QApplication::setOverrideCursor(QCursor(Qt::WaitCursor));
    else if (!on && g_waitCursor)
        QApplication::restoreOverrideCursor();
    g_waitCursor = on != 0;
    if (on)
        UiPaintNow();
    else
        UiFlushDisplay();
    return 0;
}

int GetWaitCursor(void)
{
    return g_waitCursor ? 1 : 0;
}

/* Applies fn to every timer control of every loaded panel. */
template <typename Fn> void ForEachTimer(Fn fn)
{
    for (auto &entry : g_panels)
        for (UiControl &c : entry.second->controls)
            if (c.timer)
                fn(&c);
}

int SuspendTimerCallbacks(void)
{
    if (!g_ready)
        return UIE_NOT_INITIALIZED;
    g_timersSuspended = true;
    ForEachTimer(UiApplyTimer);
    return 0;
}

int ResumeTimerCallbacks(void)
{
    if (!g_ready)
        return UIE_NOT_INITIALIZED;
    if (g_timersSuspended) {
        g_timersSuspended = false;
        ForEachTimer(UiApplyTimer);
    }
    return 0;
}

void UiApplyTimer(UiControl *c)
{
    if (c->desc.enabled && !g_timersSuspended) {
        if (!c->timer->isActive())
            c->timer->start();
    } else {
        c->timer->stop();
    }
}

/* ---- Library internals (uicore.h). ---- */

UiCall::UiCall()
{
    g_callDepth++;
}

UiCall::~UiCall()
{
    g_callDepth--;
}

bool UiInCall(void)
{
    return g_callDepth > 0;
}

bool UiReady(void)
{
    return g_ready;
}

int UiAddPanel(UiPanel *panel)
{
    panel->handle = g_nextHandle++;
    g_panels[panel->handle].reset(panel);
    return panel->handle;
}

std::vector<UiPanel *> UiPanels(void)
{
    std::vector<UiPanel *> panels;
    for (auto &entry : g_panels)
        panels.push_back(entry.second.get());
    return panels;
}

UiPanel *UiFindPanel(int handle)
{
    auto it = g_panels.find(handle);
    return it == g_panels.end() ? nullptr : it->second.get();
}

int UiGetPanel(int handle, UiPanel **p)
{
    if (!g_ready)
        return UIE_NOT_INITIALIZED;
    *p = UiFindPanel(handle);
    return *p ? 0 : UIE_INVALID_PANEL;
}

void UiRemovePanel(int handle)
{
    g_panels.erase(handle);
}

std::vector<int> UiChildPanels(int handle)
{
    std::vector<int> children;
    for (auto &entry : g_panels)
        if (entry.second->parent == handle)
            children.push_back(entry.first);
    return children;
}

int UiFindControl(int panel, int control, UiControl **c)
{
    UiPanel *found;
    const int rc = UiGetPanel(panel, &found);
    if (rc != 0)
        return rc;
    if (control < 2 || control - 2 >= static_cast<int>(found->controls.size()))
        return UIE_INVALID_CONTROL;
    *c = &found->controls[static_cast<size_t>(control - 2)];
    return 0;
}

bool UiLookupCallback(const std::string &name, CtrlCallbackPtr *fn)
{
    for (const auto &entry : g_callbacks) {
        if (entry.first == name) {
            *fn = entry.second;
            return true;
        }
    }
    return false;
}

int UiDispatch(int panel, int control, int event, int data1, int data2)
{
    if (g_callDepth > 0) {
        QTimer::singleShot(0, qApp, [=] { UiDispatch(panel, control, event, data1, data2); });
        return 0;
    }
    UiControl *c;
    if (UiFindControl(panel, control, &c) != 0 || !c->callback)
        return 0;
    return c->callback(panel, control, event, nullptr, data1, data2);
}

void UiCopyOut(const std::string &text, size_t bound, char *dest)
{
    const size_t n = text.size() < bound ? text.size() : bound;
    memcpy(dest, text.data(), n);
    dest[n] = '\0';
}

QByteArray UiCutText(const char *value, size_t bound)
{
    return QByteArray(value, static_cast<qsizetype>(strnlen(value, bound)));
}
