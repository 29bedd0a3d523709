/*
 * display_probe.cpp -- whether Qt can open a display, told before Qt is
 * asked (its platform plugin aborts the process when it cannot connect):
 * an X server or a Wayland compositor is asked whether it answers.
 * Exports UiDisplayUsable (uicore.h).
 */
#include "uicore.h"

#include <QDir>
#include <QLibraryInfo>
#include <QStringList>

#include <dlfcn.h>

#include <cstdlib>
#include <cstring>

namespace {

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

}  // namespace

bool UiDisplayUsable(char *argv[])
{
    for (const QString &name : CandidatePlatforms(argv))
        if (PlatformUsable(name, argv))
            return true;
    return false;
}
