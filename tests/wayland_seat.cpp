/*
 * wayland_seat.cpp -- a weston module for tests: the headless backend has
 * no seat at all (no keyboard, no pointer), so a test could neither type
 * into a client nor see its cursor. Loaded with
 * --modules=<path>/wayland_seat.so, this module adds a seat "test" with a
 * keyboard and a pointer, and takes orders from a FIFO that it makes at
 * $XDG_RUNTIME_DIR/seat-input, one order a line:
 *
 *   key <code>       press and release the key with that evdev code
 *   move <x> <y>     put the pointer there (global coordinates)
 *
 * The events go through weston's own input path, so the client sees them
 * exactly as it would see an operator's keyboard and mouse: on the surface
 * that has the focus, after the compositor's focus rules.
 */
#include <libweston/libweston.h>
#include <weston.h>

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

/* libweston exports these for its backends without installing their
 * header; the declarations are those of weston 10. */
extern "C" {
void weston_seat_init(struct weston_seat *seat, struct weston_compositor *ec, const char *name);
int weston_seat_init_keyboard(struct weston_seat *seat, struct xkb_keymap *keymap);
int weston_seat_init_pointer(struct weston_seat *seat);
void notify_key(struct weston_seat *seat, const struct timespec *time, uint32_t key,
                enum wl_keyboard_key_state state, enum weston_key_state_update update);
void notify_motion_absolute(struct weston_seat *seat, const struct timespec *time, double x,
                            double y);
void notify_pointer_frame(struct weston_seat *seat);
}

namespace {

const size_t kLineSize = 128;   /* longest order, with its newline */
const size_t kPathSize = 4096;

struct TestSeat {
    struct weston_seat seat;
    int fifo = -1;
    int keepOpen = -1;          /* our own writer: the FIFO never reads as closed */
    char pending[kLineSize];
    size_t used = 0;
};

TestSeat g_seat;

/* Carries out one order (without its newline); unknown orders are logged
 * and ignored. */
void Obey(const char *order)
{
    struct timespec now;
    weston_compositor_get_time(&now);
    unsigned code;
    double x, y;
    if (sscanf(order, "key %u", &code) == 1) {
        notify_key(&g_seat.seat, &now, code, WL_KEYBOARD_KEY_STATE_PRESSED, STATE_UPDATE_AUTOMATIC);
        notify_key(&g_seat.seat, &now, code, WL_KEYBOARD_KEY_STATE_RELEASED, STATE_UPDATE_AUTOMATIC);
    } else if (sscanf(order, "move %lf %lf", &x, &y) == 2) {
        notify_motion_absolute(&g_seat.seat, &now, x, y);
        notify_pointer_frame(&g_seat.seat);
    } else {
        weston_log("seat-input: unknown order \"%s\"\n", order);
    }
}

/* The FIFO is readable: collect bytes, obey each whole line. A line longer
 * than kLineSize is dropped whole. */
int OnReadable(int fd, uint32_t, void *)
{
    char bytes[kLineSize];
    ssize_t n;
    while ((n = read(fd, bytes, sizeof bytes)) > 0) {
        for (ssize_t i = 0; i < n; i++) {
            if (bytes[i] == '\n') {
                g_seat.pending[g_seat.used < kLineSize ? g_seat.used : kLineSize - 1] = '\0';
                if (g_seat.used < kLineSize)
                    Obey(g_seat.pending);
                g_seat.used = 0;
            } else if (g_seat.used < kLineSize) {
                g_seat.pending[g_seat.used++] = bytes[i];
            }
        }
    }
    return 0;
}

}  // namespace

extern "C" WL_EXPORT int wet_module_init(struct weston_compositor *compositor, int *, char *[])
{
    const char *dir = getenv("XDG_RUNTIME_DIR");
    char path[kPathSize];
    if (!dir || snprintf(path, sizeof path, "%s/seat-input", dir) >= static_cast<int>(sizeof path)) {
        weston_log("seat-input: XDG_RUNTIME_DIR is not set or too long\n");
        return -1;
    }
    if (mkfifo(path, 0600) != 0 && errno != EEXIST) {
        weston_log("seat-input: cannot make %s: %s\n", path, strerror(errno));
        return -1;
    }
    g_seat.fifo = open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    g_seat.keepOpen = open(path, O_WRONLY | O_NONBLOCK | O_CLOEXEC);
    if (g_seat.fifo < 0 || g_seat.keepOpen < 0) {
        weston_log("seat-input: cannot open %s: %s\n", path, strerror(errno));
        return -1;
    }
    weston_seat_init(&g_seat.seat, compositor, "test");
    weston_seat_init_pointer(&g_seat.seat);
    weston_seat_init_keyboard(&g_seat.seat, nullptr);
    wl_event_loop_add_fd(wl_display_get_event_loop(compositor->wl_display), g_seat.fifo,
                         WL_EVENT_READABLE, OnReadable, nullptr);
    weston_log("seat-input: seat \"test\" takes orders from %s\n", path);
    return 0;
}
