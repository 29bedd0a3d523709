/*
 * engine.cpp -- the engine of the user-interface library: creating the
 * QApplication (only when a display can really be opened, since Qt aborts
 * the process when its platform plugin cannot connect), the callback table,
 * the table of loaded panels, event dispatch, RunUserInterface and
 * QuitUserInterface, timer suspension and the wait cursor.
 *
 * Exports InitRuntimeEngine, RegisterCallbacks, RunUserInterface,
 * QuitUserInterface, SetWaitCursor, GetWaitCursor, SuspendTimerCallbacks,
 * ResumeTimerCallbacks and the Ui* helpers of uicore.h.
 */
#include "uicore.h"

#include <QApplication>
#include <QCursor>
#include <QDir>
#include <QEventLoop>
#include <QLibraryInfo>
#include <QTimer>
#include <QtGui/qguiapplication_platform.h>

#include <dlfcn.h>

#include <cstdlib>
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

/* Returns the value that follows option (e.g. "-platform") in argv, or
 * NULL. Qt accepts the option with one or two dashes. */
const char *ArgValue(char *argv[], const char *option)
{
    for (int i = 1; argv && argv[0] && argv[i] && argv[i + 1]; i++)
        if (strcmp(argv[i], option) == 0 || (argv[i][0] == '-' && strcmp(argv[i] + 1, option) == 0))
            return argv[i + 1];
    return nullptr;
}

/* The platform plugins Qt will try, in order, without their ":options". */
QStringList CandidatePlatforms(char *argv[])
{
    QString wanted = QString::fromLocal8Bit(qgetenv("QT_QPA_PLATFORM"));
    if (const char *arg = ArgValue(argv, "-platform"))
        wanted = QString::fromLocal8Bit(arg);
    if (wanted.isEmpty()) {
        wanted = QStringLiteral("xcb");
        const QByteArray desktop = qgetenv("XDG_CURRENT_DESKTOP").toLower();
        if (qgetenv("XDG_SESSION_TYPE") == "wayland" && !desktop.contains("gnome"))
            wanted = QStringLiteral("wayland;xcb");
    }
    QStringList names;
    for (const QString &entry : wanted.split(QLatin1Char(';'), Qt::SkipEmptyParts))
        names << entry.section(QLatin1Char(':'), 0, 0);
    return names;
}

/* True when a plugin file for platform name is installed. */
bool PluginExists(const QString &name)
{
    QStringList dirs{QLibraryInfo::path(QLibraryInfo::PluginsPath) + QStringLiteral("/platforms")};
    for (const QString &d : QString::fromLocal8Bit(qgetenv("QT_PLUGIN_PATH")).split(QLatin1Char(':'), Qt::SkipEmptyParts))
        dirs << d + QStringLiteral("/platforms");
    const QString own = QString::fromLocal8Bit(qgetenv("QT_QPA_PLATFORM_PLUGIN_PATH"));
    if (!own.isEmpty())
        dirs << own;
    for (const QString &d : dirs)
        if (!QDir(d).entryList({QStringLiteral("libq") + name + QStringLiteral("*.so")}, QDir::Files).isEmpty())
            return true;
    return false;
}

/* True when an X server answers at display (NULL: $DISPLAY). Uses the
 * same client library as Qt's xcb plugin, loaded at run time so the build
 * does not depend on its headers. */
bool XDisplayReachable(const char *display)
{
    using Connect = void *(*)(const char *, int *);
    using HasError = int (*)(void *);
    using Disconnect = void (*)(void *);
    void *lib = dlopen("libxcb.so.1", RTLD_NOW | RTLD_LOCAL);
    if (!lib)
        return false;
    auto connect = reinterpret_cast<Connect>(dlsym(lib, "xcb_connect"));
    auto hasError = reinterpret_cast<HasError>(dlsym(lib, "xcb_connection_has_error"));
    auto disconnect = reinterpret_cast<Disconnect>(dlsym(lib, "xcb_disconnect"));
    bool ok = false;
    if (connect && hasError && disconnect) {
        void *conn = connect(display, nullptr);
        ok = conn && hasError(conn) == 0;
        if (conn)
            disconnect(conn);
    }
    dlclose(lib);
    return ok;
}

/* True when a Wayland compositor answers where Qt's plugin will look:
 * $WAYLAND_DISPLAY, or "wayland-0" when that is not set, in
 * $XDG_RUNTIME_DIR. A socket handed down in $WAYLAND_SOCKET can be used
 * once only, so it is taken on trust. Uses the client library of Qt's
 * Wayland plugin, loaded at run time. */
bool WaylandDisplayReachable()
{
    if (!qgetenv("WAYLAND_SOCKET").isEmpty())
        return true;
    using Connect = void *(*)(const char *);
    using Disconnect = void (*)(void *);
    void *lib = dlopen("libwayland-client.so.0", RTLD_NOW | RTLD_LOCAL);
    if (!lib)
        return false;
    auto connect = reinterpret_cast<Connect>(dlsym(lib, "wl_display_connect"));
    auto disconnect = reinterpret_cast<Disconnect>(dlsym(lib, "wl_display_disconnect"));
    void *display = connect && disconnect ? connect(nullptr) : nullptr;
    if (display)
        disconnect(display);
    dlclose(lib);
    return display != nullptr;
}

/* True when Qt can start platform name without aborting, as far as can be
 * told beforehand: its plugin exists and, for X11 and Wayland, a server
 * answers. */
bool PlatformUsable(const QString &name, char *argv[])
{
    if (!PluginExists(name))
        return false;
    if (name == QLatin1String("xcb")) {
        const char *display = ArgValue(argv, "-display");
        if (!display)
            display = getenv("DISPLAY");
        return display && *display && XDisplayReachable(display);
    }
    if (name.startsWith(QLatin1String("wayland")))
        return WaylandDisplayReachable();
    return true;
}

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
        return g_ready ? 1 : 0;
    }
    bool usable = false;
    for (const QString &name : CandidatePlatforms(argv))
        usable = usable || PlatformUsable(name, argv);
    if (!usable)
        return 0;
    KeepArguments(argv);
    new QApplication(g_argc, g_argv.data());
    QApplication::setQuitOnLastWindowClosed(false);
    g_ready = true;
    return 1;
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

int UiFindControl(int panel, int control, UiPanel **p, UiControl **c)
{
    const int found = UiGetPanel(panel, p);
    if (found != 0)
        return found;
    if (control < 2 || control - 2 >= static_cast<int>((*p)->controls.size()))
        return UIE_INVALID_CONTROL;
    *c = &(*p)->controls[static_cast<size_t>(control - 2)];
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
    UiPanel *p;
    UiControl *c;
    if (UiFindControl(panel, control, &p, &c) != 0 || !c->callback)
        return 0;
    return c->callback(panel, control, event, nullptr, data1, data2);
}

void UiCopyOut(const std::string &text, size_t bound, char *dest)
{
    const size_t n = text.size() < bound ? text.size() : bound;
    memcpy(dest, text.data(), n);
    dest[n] = '\0';
}
