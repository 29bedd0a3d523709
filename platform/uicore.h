/*
 * uicore.h -- what the parts of the user-interface library share inside
 * the library: the table of loaded panels and their controls, the
 * registered callbacks, event dispatch and the guard that keeps callbacks
 * out of library calls. Not for the program: it sees platform.h only.
 *
 *   engine.cpp     start-up, callback table, panel table, dispatch, call
 *                  guard, event loop, timers, wait cursor
 *   display_probe.cpp  whether a display can be opened
 *   onscreen.cpp   painting and flushing to the display before a blocking call
 *   panel.cpp      loading, showing and discarding panels; panel attributes
 *   controls.cpp   building each kind of control and wiring its events
 *   ctrlvalues.cpp values and attributes of controls, the keyboard focus
 *   lists.cpp      the items of list controls through one interface (lists.h)
 *   widgets.cpp    the panel window, LED, toggle button, ring slide, text
 *                  message, Latin-1 validator
 */
#ifndef QUENTA_UICORE_H
#define QUENTA_UICORE_H

#include "lists.h"
#include "panelfile.h"
#include "platform.h"

#include <QByteArray>

#include <memory>
#include <string>
#include <vector>

class QTimer;
class QWidget;

struct UiControl {
    ControlDesc desc;                    /* as loaded; values live in the widget */
    CtrlCallbackPtr callback = nullptr;
    QWidget *widget = nullptr;           /* NULL for a timer */
    QWidget *label = nullptr;            /* a label shown apart, or NULL */
    QTimer *timer = nullptr;             /* timers only */
    std::unique_ptr<ItemList> items;     /* rings, ring slides, list boxes; else NULL */
};

struct UiPanel {
    int handle = 0;
    int parent = 0;                      /* parent handle, 0 for top level */
    int number = 0;                      /* panel number in its file */
    std::string constant;
    int closeControl = 0;
    std::string title;                   /* as last set; shown by UiShowTitles */
    QWidget *window = nullptr;
    std::vector<UiControl> controls;     /* control ID = place + 2 */
};

/* Marks a library call for its lifetime: events raised meanwhile (focus
 * moved by SetActiveCtrl, a panel hidden by DiscardPanel) reach their
 * callbacks later, from the event loop, never from inside the call. */
class UiCall {
public:
    UiCall();
    ~UiCall();
    UiCall(const UiCall &) = delete;
    UiCall &operator=(const UiCall &) = delete;
};

/* Returns true while a library call is in progress. */
bool UiInCall(void);

/* argv: the process's argument vector (-platform, -display are looked at).
 * Returns true when Qt can start a platform plugin of the ones it would try
 * without aborting, as far as can be told beforehand (display_probe.cpp). */
bool UiDisplayUsable(char *argv[]);

/* Returns true once InitRuntimeEngine has succeeded. */
bool UiReady(void);

/* Panel table. UiAddPanel takes ownership and returns the new handle. */
int UiAddPanel(UiPanel *panel);
UiPanel *UiFindPanel(int handle);
std::vector<UiPanel *> UiPanels(void);
/* Sets *p to the panel of handle; returns 0, UIE_NOT_INITIALIZED or
 * UIE_INVALID_PANEL. */
int UiGetPanel(int handle, UiPanel **p);
void UiRemovePanel(int handle);
std::vector<int> UiChildPanels(int handle);

/* Looks up panel and control; returns 0 and sets *c, or
 * UIE_NOT_INITIALIZED, UIE_INVALID_PANEL or UIE_INVALID_CONTROL. */
int UiFindControl(int panel, int control, UiControl **c);

/* name: a callback name from a panel file. Returns true and sets *fn when
 * the registered table holds it. */
bool UiLookupCallback(const std::string &name, CtrlCallbackPtr *fn);

/* Calls the callback of control of panel with event, looked up anew by
 * handle, so a discarded panel receives nothing. Inside a library call the
 * event is posted to the event loop instead. Returns the callback's result,
 * 0 when there is none or the event was posted. */
int UiDispatch(int panel, int control, int event, int data1, int data2);

/* Starts or stops c's QTimer as its enabled flag and the global suspension
 * say. */
void UiApplyTimer(UiControl *c);

/* Builds the widgets of control id of p inside p->window (controls.cpp). */
void UiBuildControl(UiPanel *p, int id);

/* Sends the requests Qt has queued for the display server (a title, a
 * cursor) now, without running the event loop (onscreen.cpp). */
void UiFlushDisplay(void);

/* Paints every window on the screen now and flushes: for the moment before
 * the program blocks. A panel shown a moment ago is waited for until the
 * window system shows it (within bounds); a window that has been on the
 * screen and is off it now (minimised, unmapped) is not. Runs no callback. */
void UiPaintNow(void);

/* Titles: a title set is kept in its panel and sent to the display server
 * when the program next waits (UiPaintNow, UiShowPending) or returns to the
 * event loop, whichever comes first (onscreen.cpp). UiTitleSet schedules
 * the return to the event loop; UiShowTitles gives every window whose
 * shown title differs its panel's title; UiShowPending does that and
 * flushes, before a call waits for the network. */
void UiTitleSet(void);
void UiShowTitles(void);
void UiShowPending(void);

/* Copies text into dest, cut to bound bytes, and adds the NUL. */
void UiCopyOut(const std::string &text, size_t bound, char *dest);

/* The bytes of value, at most bound of them (value need not be terminated
 * beyond that). */
QByteArray UiCutText(const char *value, size_t bound);

#endif
