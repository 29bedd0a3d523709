/*
 * onscreen.cpp -- putting what the panels show on the screen now, without
 * running the event loop, for the moments before the program blocks (a
 * connect of up to 3 s under the wait cursor): every shown panel painted
 * and committed, a new title and the cursor sent to the display server.
 *
 * Qt paints a window only once the window system has reported it exposed,
 * and sends its requests when the event loop runs; neither happens while
 * the program blocks. So, per window system:
 *
 *   X11      the requests are flushed; a window the X server has not yet
 *            made viewable (a window manager maps it a little later) is
 *            waited for, at most kMapWaitMs, by asking the server.
 *   Wayland  the requests are flushed and the compositor's replies read,
 *            until it has configured a new window (at most kRoundTrips
 *            round trips); reading them only queues Qt's own events.
 *
 * and then each window is painted at once (QWidget::repaint) and the
 * requests flushed again. Only a panel shown a moment ago is waited for,
 * and once: a window that has been on the screen and is off it now will
 * not come back by itself, and waiting for it would hold up every blocking
 * call and the timer's ticks with them. A minimised window (Qt's state,
 * which also follows a window manager's iconic state) is skipped; another
 * window off the screen (unmapped by the window manager) is asked about
 * without waiting, in case it has just come back. No callback runs
 * meanwhile: events that arise are queued for the event loop as before. The client libraries are
 * loaded at run time, as Qt's plugins load them.
 *
 * A title set goes to the display server only when the program waits or
 * returns to the event loop. A tick that sets "Scanning" and puts the old
 * title back without ever waiting (its connection open, the chamber's
 * buffer free) thus changes nothing on the screen: on X11 each title sent
 * is two properties changed and two events back, the larger part of what
 * an idle cycle would cost, for a title no one could see.
 *
 * Exports UiFlushDisplay, UiPaintNow, UiTitleSet, UiShowTitles and
 * UiShowPending (uicore.h).
 */
#include "uicore.h"
#include "widgets.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QThread>
#include <QTimer>
#include <QWidget>
#include <QWindow>
#include <QtGui/qguiapplication_platform.h>
#include <qpa/qplatformnativeinterface.h>
#include <qpa/qplatformwindow.h>

#include <dlfcn.h>
#include <stdlib.h>

#if QT_CONFIG(xcb)
#include <xcb/xcb.h>
#endif

namespace {

const int kMapWaitMs = 1000;    /* longest wait for a window manager to map a window */
const int kMapPollMs = 5;
const int kRoundTrips = 5;      /* a compositor configures a window within one or two */
const int kFrameMs = 17;        /* one frame at 60 Hz */
const int kFirstFrames = 3;

/* A function of a client library that Qt's platform plugin has loaded
 * already, or NULL. */
template <typename Fn> Fn ClientFunction(const char *library, const char *name)
{
    void *lib = dlopen(library, RTLD_NOW | RTLD_NOLOAD);
    if (!lib)
        return nullptr;
    Fn fn = reinterpret_cast<Fn>(dlsym(lib, name));
    dlclose(lib);   /* Qt's plugin keeps the library loaded */
    return fn;
}

const char kXcb[] = "libxcb.so.1";
const char kWayland[] = "libwayland-client.so.0";

/* Calls the client-library function name(handle): xcb_flush,
 * wl_display_flush or wl_display_roundtrip. Returns its result, or -1 when
 * the library is not loaded. */
int CallClient(const char *library, const char *name, void *handle)
{
    using Fn = int (*)(void *);
    Fn fn = ClientFunction<Fn>(library, name);
    return fn ? fn(handle) : -1;
}

/* Qt's X11 connection, or NULL on another window system. */
void *XcbConnection()
{
#if QT_CONFIG(xcb)
    if (auto *x11 = qApp->nativeInterface<QNativeInterface::QX11Application>())
        return x11->connection();
#endif
    return nullptr;
}

/* Qt's Wayland display, or NULL on another window system. */
void *WaylandDisplay()
{
    if (QGuiApplication::platformName().startsWith(QLatin1String("wayland")))
        return QGuiApplication::platformNativeInterface()->nativeResourceForIntegration("wl_display");
    return nullptr;
}

#if QT_CONFIG(xcb)
/* True once the X server shows w's window (its map state is viewable). */
bool XcbViewable(void *conn, QWidget *w)
{
    using Request = xcb_get_window_attributes_cookie_t (*)(xcb_connection_t *, xcb_window_t);
    using Reply = xcb_get_window_attributes_reply_t *(*)(xcb_connection_t *, xcb_get_window_attributes_cookie_t,
                                                         xcb_generic_error_t **);
    auto request = ClientFunction<Request>(kXcb, "xcb_get_window_attributes");
    auto reply = ClientFunction<Reply>(kXcb, "xcb_get_window_attributes_reply");
    if (!request || !reply)
        return false;
    xcb_connection_t *c = static_cast<xcb_connection_t *>(conn);
    xcb_get_window_attributes_reply_t *attributes = reply(c, request(c, static_cast<xcb_window_t>(w->winId())), nullptr);
    const bool viewable = attributes && attributes->map_state == XCB_MAP_STATE_VIEWABLE;
    free(attributes);
    return viewable;
}
#endif

/* Asks the window system whether it shows w; with wait, waits until it
 * does, within the bounds above. Returns true when it does. */
bool WindowShown(QWidget *w, bool wait)
{
#if QT_CONFIG(xcb)
    if (void *conn = XcbConnection()) {
        QElapsedTimer waited;
        waited.start();
        while (wait && !XcbViewable(conn, w) && waited.elapsed() < kMapWaitMs)
            QThread::msleep(kMapPollMs);
        return XcbViewable(conn, w);
    }
#endif
    QPlatformWindow *pw = w->windowHandle() ? w->windowHandle()->handle() : nullptr;
    if (void *display = WaylandDisplay()) {
        for (int i = 0; wait && pw && !pw->isExposed() && i < kRoundTrips; i++)
            if (CallClient(kWayland, "wl_display_roundtrip", display) < 0)
                break;
    }
    return pw && pw->isExposed();
}

/* After a window's first picture a Wayland compositor tells, with its
 * next frame, whether the pointer is inside; only then can the window's
 * cursor (the wait cursor, set already) be sent. Reads its replies for a
 * few frames' time. Nothing to do on X11, where the cursor belongs to the
 * window. */
void AwaitFirstFrame()
{
    void *display = WaylandDisplay();
    for (int i = 0; display && i < kFirstFrames; i++) {
        QThread::msleep(kFrameMs);
        if (CallClient(kWayland, "wl_display_roundtrip", display) < 0)
            return;
    }
    UiFlushDisplay();
}

}  // namespace

void UiFlushDisplay(void)
{
    if (void *conn = XcbConnection())
        CallClient(kXcb, "xcb_flush", conn);
    else if (void *display = WaylandDisplay())
        CallClient(kWayland, "wl_display_flush", display);
}

void UiTitleSet(void)
{
    static bool scheduled = false;
    if (scheduled)
        return;
    scheduled = true;
    QTimer::singleShot(0, QCoreApplication::instance(), [] {
        scheduled = false;
        UiShowTitles();
    });
}

void UiShowTitles(void)
{
    for (UiPanel *p : UiPanels()) {
        const QString title = QString::fromLatin1(p->title.data(), static_cast<qsizetype>(p->title.size()));
        if (p->window->windowTitle() != title)
            p->window->setWindowTitle(title);
    }
}

void UiShowPending(void)
{
    UiShowTitles();
    UiFlushDisplay();
}

void UiPaintNow(void)
{
    bool fresh = false;
    UiShowPending();
    for (QWidget *w : QApplication::topLevelWidgets()) {
        if (!w->isVisible() || w->isMinimized())
            continue;
        PanelWindow *panel = qobject_cast<PanelWindow *>(w);
        const bool justShown = panel && panel->takeAwaitingScreen();
        if (!w->testAttribute(Qt::WA_Mapped) && WindowShown(w, justShown)) {
            /* Shown: Qt would learn it from the event loop, and paint. */
            w->setAttribute(Qt::WA_Mapped);
            fresh = true;
        }
        /* What the event loop would do next: paint what is out of date. */
        QEvent update(QEvent::UpdateRequest);
        QCoreApplication::sendEvent(w, &update);
    }
    UiFlushDisplay();
    if (fresh)
        AwaitFirstFrame();
}
