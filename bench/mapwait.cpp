/*
 * mapwait.cpp -- measures how long a program takes from exec to its first
 * top-level window being mapped on the X display in $DISPLAY.
 *
 * It watches the root window for MapNotify before it starts the program, so
 * no map can be missed, and takes the time with the monotonic clock just
 * before fork. Windows that bypass the window manager (menus, tooltips) do
 * not count. The program is left running; it is killed only on failure.
 *
 * Usage: mapwait [--timeout-ms N] -- program [argument...]
 * Prints "<pid> <milliseconds>" on standard output and exits 0; exits 1
 * after a message on standard error when the display cannot be opened, the
 * program cannot start, ends, or maps nothing within the timeout (default
 * 20000 ms); 2 for bad usage.
 */
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

/* Takes the events that have arrived. Returns 1 when one of them maps a
 * top-level window that is not override-redirect, 0 otherwise. */
int TakeEvents(xcb_connection_t *x, xcb_window_t root)
{
    int mapped = 0;
    while (xcb_generic_event_t *e = xcb_poll_for_event(x)) {
        if ((e->response_type & 0x7f) == XCB_MAP_NOTIFY) {
            xcb_map_notify_event_t *m = (xcb_map_notify_event_t *)e;
            if (m->event == root && !m->override_redirect)
                mapped = 1;
        }
        free(e);
    }
    return mapped;
}

/*
 * Waits for the map of a top-level window of any client until deadlineNs.
 * Returns 1 on a map, 0 on timeout, -1 when pid ended or the display
 * connection broke.
 */
int WaitForMap(xcb_connection_t *x, xcb_window_t root, pid_t pid, long long deadlineNs)
{
    struct pollfd p;

    while (NowNs() < deadlineNs) {
        if (TakeEvents(x, root))
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

/* Reads "[--timeout-ms N] --" from argv. Returns the index of the program
 * name, or 0 for bad usage; sets *timeoutMs. */
int ParseArguments(int argc, char *argv[], int *timeoutMs)
{
    int i = 1;
    *timeoutMs = kDefaultTimeoutMs;
    if (i + 1 < argc && strcmp(argv[i], "--timeout-ms") == 0) {
        *timeoutMs = atoi(argv[i + 1]);
        i += 2;
    }
    if (i >= argc || strcmp(argv[i], "--") != 0 || i + 1 >= argc || *timeoutMs <= 0)
        return 0;
    return i + 1;
}

}  // namespace

int main(int argc, char *argv[])
{
    int timeoutMs;
    int program = ParseArguments(argc, argv, &timeoutMs);
    xcb_window_t root;

    if (program == 0) {
        fprintf(stderr, "usage: mapwait [--timeout-ms N] -- program [argument...]\n");
        return 2;
    }
    xcb_connection_t *x = WatchRoot(&root);
    if (!x)
        return 1;
    const long long startNs = NowNs();
    const pid_t pid = Start(argv + program);
    if (pid < 0) {
        fprintf(stderr, "mapwait: cannot fork: %s\n", strerror(errno));
        return 1;
    }
    const int result = WaitForMap(x, root, pid, startNs + (long long)timeoutMs * 1000000LL);
    const long long mappedNs = NowNs();
    xcb_disconnect(x);
    if (result != 1) {
        fprintf(stderr, "mapwait: %s mapped no window (%s)\n", argv[program],
                result == 0 ? "timed out" : "it ended or the display went away");
        kill(pid, SIGKILL);
        return 1;
    }
    printf("%d %.3f\n", (int)pid, (double)(mappedNs - startNs) / 1e6);
    return 0;
}
