/*
 * map_helper.cpp -- an X client for mapwait's test that maps its windows on
 * cue: with "override" first a window that bypasses the window manager (as
 * a menu or a splash does), then, delay milliseconds later, an ordinary
 * top-level window, which has no background and so shows nothing until,
 * with "paint", paint-delay milliseconds later still, it is filled; then it
 * waits to be killed (at most 30 s).
 * Usage: map_helper <delay-ms> [override] [paint <paint-delay-ms>].
 * Exits 1 without a display.
 */
#include <xcb/xcb.h>

#include <stdlib.h>
#include <string.h>
#include <unistd.h>

namespace {

const unsigned kLingerSeconds = 30;

/* Creates and maps a 200 x 100 window at the root of screen, bypassing the
 * window manager when overrideRedirect is set. Returns the window. */
xcb_window_t MapWindow(xcb_connection_t *x, xcb_screen_t *screen, bool overrideRedirect)
{
    const xcb_window_t w = xcb_generate_id(x);
    const uint32_t values[] = {overrideRedirect ? 1u : 0u};
    xcb_create_window(x, XCB_COPY_FROM_PARENT, w, screen->root, 10, 10, 200, 100, 0,
                      XCB_WINDOW_CLASS_INPUT_OUTPUT, screen->root_visual, XCB_CW_OVERRIDE_REDIRECT, values);
    xcb_map_window(x, w);
    xcb_flush(x);
    return w;
}

/* Fills window w of screen white. */
void Paint(xcb_connection_t *x, xcb_screen_t *screen, xcb_window_t w)
{
    const xcb_gcontext_t gc = xcb_generate_id(x);
    const uint32_t values[] = {screen->white_pixel};
    const xcb_rectangle_t all = {0, 0, 200, 100};
    xcb_create_gc(x, gc, w, XCB_GC_FOREGROUND, values);
    xcb_poly_fill_rectangle(x, w, gc, 1, &all);
    xcb_flush(x);
}

}  // namespace

int main(int argc, char *argv[])
{
    const int delayMs = argc > 1 ? atoi(argv[1]) : 0;
    bool withOverride = false;
    int paintMs = -1;
    for (int i = 2; i < argc; i++) {
        if (strcmp(argv[i], "override") == 0)
            withOverride = true;
        else if (strcmp(argv[i], "paint") == 0 && i + 1 < argc)
            paintMs = atoi(argv[++i]);
    }
    xcb_connection_t *x = xcb_connect(NULL, NULL);

    if (xcb_connection_has_error(x))
        return 1;
    xcb_screen_t *screen = xcb_setup_roots_iterator(xcb_get_setup(x)).data;
    if (withOverride)
        MapWindow(x, screen, true);
    usleep(static_cast<useconds_t>(delayMs) * 1000);
    const xcb_window_t w = MapWindow(x, screen, false);
    if (paintMs >= 0) {
        usleep(static_cast<useconds_t>(paintMs) * 1000);
        Paint(x, screen, w);
    }
    sleep(kLingerSeconds);
    xcb_disconnect(x);
    return 0;
}
