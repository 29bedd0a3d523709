/*
 * mapwait.cpp -- measures how long a program takes from exec to its first
 * top-level window being mapped on the X display in $DISPLAY.
 *
 * It watches the root window for MapNotify before it starts the program, so
 * no map can be missed, and takes the time with the monotonic clock just
 * before fork. Windows that bypass the window manager (menus, tooltips) do
 * not count. With --painted it waits on to the first drawing on the screen
 * after that map, the program's first painted frame (the X DAMAGE extension
 * reports every drawing into the root window and the windows in it; a
 * window that is mapped draws nothing by itself unless it has a background,
 * which Qt's windows have not). The program is left running; it is killed
 * only on failure.
 *
 * Usage: mapwait [--timeout-ms N] [--painted] -- program [argument...]
 * Prints "<pid> <milliseconds>" on standard output and exits 0; exits 1
 * after a message on standard error when the display cannot be opened (or
 * lacks DAMAGE, with --painted), the program cannot start, ends, or maps
 * (or paints) nothing within the timeout (default 20000 ms); 2 for bad
 * usage.
 */
#include <xcb/damage.h>
#include <xcb/xcb.h>

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

namespace {

const int kDefaultTimeoutMs = 20000;
const int kPollSliceMs = 20;

/* Nanoseconds on the monotonic clock. */
long long NowNs(void)
{
    struct timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return (long long)t.tv_sec * 1000000000LL + t.tv_nsec;
}

/*
 * Connects to $DISPLAY and asks for the creation and mapping of every child
 * of the root window. Returns the connection and sets *root, or NULL after a
 * message. The connection's socket is closed on exec.
 */
xcb_connection_t *WatchRoot(xcb_window_t *root)
{
    int screenNumber = 0;
    xcb_connection_t *x = xcb_connect(NULL, &screenNumber);
    if (xcb_connection_has_error(x)) {
        fprintf(stderr, "mapwait: cannot open the display \"%s\"\n", getenv("DISPLAY") ? getenv("DISPLAY") : "");
        xcb_disconnect(x);
        return NULL;
    }
    xcb_screen_iterator_t it = xcb_setup_roots_iterator(xcb_get_setup(x));
    for (int i = 0; i < screenNumber; i++)
        xcb_screen_next(&it);
    *root = it.data->root;
    const uint32_t mask = XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
    xcb_void_cookie_t c = xcb_change_window_attributes_checked(x, *root, XCB_CW_EVENT_MASK, &mask);
    if (xcb_generic_error_t *e = xcb_request_check(x, c)) {
        fprintf(stderr, "mapwait: cannot watch the root window (X error %d)\n", e->error_code);
        free(e);
        xcb_disconnect(x);
        return NULL;
    }
    fcntl(xcb_get_file_descriptor(x), F_SETFD, FD_CLOEXEC);
    return x;
}

/* Starts argv[0] with its arguments. Returns the child's pid, or -1. */
pid_t Start(char *argv[])
{
    pid_t pid = fork();
    if (pid == 0) {
        execvp(argv[0], argv);
        fprintf(stderr, "mapwait: cannot run %s: %s\n", argv[0], strerror(errno));
        _exit(127);
    }
    return pid;
}

/* What is waited for, and how far it got. */
struct Watch {
    xcb_window_t root = 0;
    int damageNotify = -1; /* the event code of DamageNotify; -1: the map alone */
    bool mapped = false;
    xcb_rectangle_t window = {0, 0, 0, 0}; /* where the mapped window lies */
    bool painted = false;
};

/*
 * Asks for a report of every drawing into the root window and the windows
 * in it. Returns the event code of those reports, or -1 after a message
 * when the display has no DAMAGE extension.
 */
int WatchDrawing(xcb_connection_t *x, xcb_window_t root)
{
    const xcb_query_extension_reply_t *ext = xcb_get_extension_data(x, &xcb_damage_id);
    if (!ext || !ext->present) {
        fprintf(stderr, "mapwait: the display has no DAMAGE extension\n");
        return -1;
    }
    free(xcb_damage_query_version_reply(x, xcb_damage_query_version(x, 1, 1), NULL));
    xcb_void_cookie_t c = xcb_damage_create_checked(x, xcb_generate_id(x), root,
                                                    XCB_DAMAGE_REPORT_LEVEL_RAW_RECTANGLES);
    if (xcb_generic_error_t *e = xcb_request_check(x, c)) {
        fprintf(stderr, "mapwait: cannot watch the drawing (X error %d)\n", e->error_code);
        free(e);
        return -1;
    }
    return ext->first_event + XCB_DAMAGE_NOTIFY;
}

/* Where window lies on the screen, or an empty rectangle when it is gone. */
xcb_rectangle_t Geometry(xcb_connection_t *x, xcb_window_t window)
{
    xcb_rectangle_t r = {0, 0, 0, 0};
    if (xcb_get_geometry_reply_t *g = xcb_get_geometry_reply(x, xcb_get_geometry(x, window), NULL)) {
        r = {g->x, g->y, g->width, g->height};
        free(g);
    }
    return r;
}

/* True when a and b overlap. */
bool Overlap(const xcb_rectangle_t &a, const xcb_rectangle_t &b)
{
    return a.x < b.x + b.width && b.x < a.x + a.width && a.y < b.y + b.height && b.y < a.y + a.height;
}

/* Takes the events that have arrived: the first map of a top-level window
 * that is not override-redirect, and, when drawing is watched, the first
 * drawing inside that window after it (the screen around it, where another
 * window may be going away, does not count). Returns 1 when what is waited
 * for has come, else 0. */
int TakeEvents(xcb_connection_t *x, Watch *w)
{
    while (xcb_generic_event_t *e = xcb_poll_for_event(x)) {
        const int type = e->response_type & 0x7f;
        if (type == XCB_MAP_NOTIFY && !w->mapped) {
            xcb_map_notify_event_t *m = (xcb_map_notify_event_t *)e;
            if (m->event == w->root && !m->override_redirect) {
                w->mapped = true;
                if (w->damageNotify >= 0)
                    w->window = Geometry(x, m->window);
            }
        } else if (w->mapped && type == w->damageNotify) {
            if (Overlap(((xcb_damage_notify_event_t *)e)->area, w->window))
                w->painted = true;
        }
        free(e);
    }
    return w->mapped && (w->damageNotify < 0 || w->painted);
}

/*
 * Waits for the map of a top-level window of any client (and with drawing
 * watched, for the first drawing after it) until deadlineNs. Returns 1
 * when it came, 0 on timeout, -1 when pid ended or the display connection
 * broke.
 */
int WaitForMap(xcb_connection_t *x, Watch *w, pid_t pid, long long deadlineNs)
{
    struct pollfd p;

    while (NowNs() < deadlineNs) {
        if (TakeEvents(x, w))
            return 1;
        if (xcb_connection_has_error(x) || waitpid(pid, NULL, WNOHANG) == pid)
            return -1;
        p.fd = xcb_get_file_descriptor(x);
        p.events = POLLIN;
        p.revents = 0;
        poll(&p, 1, kPollSliceMs);
    }
    return 0;
}

/* Reads "[--timeout-ms N] [--painted] --" from argv. Returns the index of
 * the program name, or 0 for bad usage; sets *timeoutMs and *painted. */
int ParseArguments(int argc, char *argv[], int *timeoutMs, bool *painted)
{
    int i = 1;
    *timeoutMs = kDefaultTimeoutMs;
    *painted = false;
    if (i + 1 < argc && strcmp(argv[i], "--timeout-ms") == 0) {
        *timeoutMs = atoi(argv[i + 1]);
        i += 2;
    }
    if (i < argc && strcmp(argv[i], "--painted") == 0) {
        *painted = true;
        i++;
    }
    if (i >= argc || strcmp(argv[i], "--") != 0 || i + 1 >= argc || *timeoutMs <= 0)
        return 0;
    return i + 1;
}

}  // namespace

int main(int argc, char *argv[])
{
    int timeoutMs;
    bool painted;
    int program = ParseArguments(argc, argv, &timeoutMs, &painted);
    Watch watch;

    if (program == 0) {
        fprintf(stderr, "usage: mapwait [--timeout-ms N] [--painted] -- program [argument...]\n");
        return 2;
    }
    xcb_connection_t *x = WatchRoot(&watch.root);
    if (!x)
        return 1;
    if (painted && (watch.damageNotify = WatchDrawing(x, watch.root)) < 0) {
        xcb_disconnect(x);
        return 1;
    }
    const long long startNs = NowNs();
    const pid_t pid = Start(argv + program);
    if (pid < 0) {
        fprintf(stderr, "mapwait: cannot fork: %s\n", strerror(errno));
        return 1;
    }
    const int result = WaitForMap(x, &watch, pid, startNs + (long long)timeoutMs * 1000000LL);
    const long long mappedNs = NowNs();
    xcb_disconnect(x);
    if (result != 1) {
        fprintf(stderr, "mapwait: %s %s (%s)\n", argv[program],
                watch.mapped ? "painted nothing after its map" : "mapped no window",
                result == 0 ? "timed out" : "it ended or the display went away");
        kill(pid, SIGKILL);
        return 1;
    }
    printf("%d %.3f\n", (int)pid, (double)(mappedNs - startNs) / 1e6);
    return 0;
}
