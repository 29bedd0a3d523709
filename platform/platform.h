/*
 * platform.h -- the run-time services the program is written against: panels
 * loaded from panel files, controls addressed by panel handle and control ID,
 * timers, the event loop, and one-conversation TCP client support.
 *
 * This header is the whole contract. The implementation sits on Qt 6 Widgets
 * (user interface) and POSIX sockets driven by the Qt event loop (TCP, whose
 * part of the contract is tcp.h, included here); no Qt type appears here.
 * Every operation must be called on the thread that called
 * InitRuntimeEngine. Negative results mean failure throughout; the codes are
 * the UIE_* constants below and the TCPE_* constants of tcp.h.
 *
 * Texts cross this interface as single-byte Latin-1 strings; conversion to
 * and from Qt strings happens inside the library only.
 */
#ifndef QUENTA_PLATFORM_H
#define QUENTA_PLATFORM_H

#include <stddef.h>

#include "tcp.h"

/* ---- Sizes: every text the library hands back fits one of these. ---- */
#define PLATFORM_STRING_SIZE 512   /* value of a string field or ring item, with NUL */
#define PLATFORM_LABEL_SIZE 2560   /* list item label, text box text, with NUL */
#define PLATFORM_TITLE_SIZE 128    /* panel title, with NUL */
#define PLATFORM_NAME_SIZE 64      /* constant or callback name, with NUL */

/* ---- Events delivered to control callbacks. ---- */
#define EVENT_COMMIT 1
#define EVENT_KEYPRESS 7      /* eventData1: key code (see VAL_*_VKEY) */
#define EVENT_TIMER_TICK 15

/* Key codes of EVENT_KEYPRESS: a printable key gives its Latin-1 code,
 * these keys give the codes below, any other key gives 0x10000 + its Qt code. */
#define VAL_ENTER_VKEY 1280
#define VAL_ESC_VKEY 1792
#define VAL_TAB_VKEY 1024
#define VAL_BACKSPACE_VKEY 768

/* ---- Attributes (Get/SetCtrlAttribute, Get/SetPanelAttribute). ---- */
#define ATTR_TITLE 573              /* panel: text */
#define ATTR_INTERVAL 1270          /* timer: double, seconds */
#define ATTR_ENABLED 1271           /* timer: int 0/1 */
#define ATTR_CONSTANT_NAME 2001     /* panel or control: text, e.g. "SEND_STRING" */
#define ATTR_CALLBACK_NAME 2002     /* control: text, "" when none */
#define ATTR_CTRL_KIND 2003         /* control: int, one of CTRL_* */
#define ATTR_LABEL_TEXT 2004        /* control: text (may hold '\n') */
#define ATTR_MAX_ENTRY_LENGTH 2005  /* string field: int */
#define ATTR_MIN_VALUE 2006         /* numeric: double */
#define ATTR_MAX_VALUE 2007         /* numeric: double */
#define ATTR_INCR_VALUE 2008        /* numeric: double */
#define ATTR_SHORTCUT_KEY 2009      /* command button: int key code, 0 when none */
#define ATTR_DIMMED 2010            /* control: int 0/1, 1 = takes no input */
#define ATTR_NUM_CTRLS 2011         /* panel: int, number of controls (IDs 2..n+1) */
#define ATTR_PANEL_NUMBER 2012      /* panel: int, its number in the panel file */
#define ATTR_PARENT_PANEL 2013      /* panel: int, parent handle, 0 for top level */
#define ATTR_CLOSE_CTRL 2014        /* panel: int, control committed on window close, 0 none */

/* Control kinds (ATTR_CTRL_KIND) and their value types. */
#define CTRL_TOGGLE_BUTTON 1   /* int 0/1 */
#define CTRL_COMMAND_BUTTON 2  /* no value */
#define CTRL_RING 3            /* value of the current item: string or int */
#define CTRL_STRING 4          /* string */
#define CTRL_LED 5             /* int 0/1, indicator */
#define CTRL_TIMER 6           /* no value, never visible */
#define CTRL_DECORATION 7      /* no value */
#define CTRL_NUMERIC 8         /* double */
#define CTRL_RING_SLIDE 9      /* value of the current item: int */
#define CTRL_LIST_BOX 10       /* value of the current item: int */
#define CTRL_BINARY_SWITCH 11  /* boolean option, int 0/1 */
#define CTRL_TEXT_BOX 12       /* string (multi-line) */
#define CTRL_TEXT_MSG 13       /* string, indicator */

/* ---- User-interface error codes. ---- */
#define UIE_NOT_INITIALIZED -1
#define UIE_INVALID_PANEL -2
#define UIE_INVALID_CONTROL -3
#define UIE_TYPE_MISMATCH -4
#define UIE_INVALID_INDEX -5
#define UIE_INVALID_ATTRIBUTE -6
#define UIE_INVALID_VALUE -7
#define UIE_FILE_NOT_FOUND -10
#define UIE_FILE_MALFORMED -11
#define UIE_PANEL_NOT_FOUND -12
#define UIE_CALLBACK_NOT_FOUND -13

typedef int (*CtrlCallbackPtr)(int panel, int control, int event, void *callbackData,
                               int eventData1, int eventData2);

typedef struct {
    const char *name;          /* as the panel file names it, e.g. "SENDEN" */
    CtrlCallbackPtr function;
} CallbackEntry;

/* ---- Engine. ----
 * InitRuntimeEngine: makes sure the engine exists for this process; module and
 *   reserved are unused (pass NULL and 0). argv is the process's argument
 *   vector. Returns 1 when ready (at once on a second call), 0 on failure,
 *   e.g. when no display can be opened; it never aborts the process.
 * RegisterCallbacks: copies a table of (name, function) pairs; LoadPanel binds
 *   the callback names of a panel file through the last table registered.
 *   Returns 0, or UIE_INVALID_VALUE for a NULL table or a NULL name. */
int InitRuntimeEngine(void *module, char *argv[], int reserved);
int RegisterCallbacks(const CallbackEntry *table, int count);

/* ---- Panels. ----
 * LoadPanel: reads the panel file (a relative name is found in the directory
 *   of the executable) and builds panel panelNumber, hidden, as a top-level
 *   window (parent 0) or a child of parentPanel. Returns a handle > 0, or
 *   UIE_FILE_NOT_FOUND, UIE_FILE_MALFORMED, UIE_PANEL_NOT_FOUND,
 *   UIE_CALLBACK_NOT_FOUND (a callback name missing from the table),
 *   UIE_INVALID_PANEL (bad parent) or UIE_NOT_INITIALIZED. Never aborts.
 *   Control IDs are the control's place in the file's list plus 1 (2, 3, ...).
 * DisplayPanel shows a panel; InstallPopup shows it as a modal window (the
 *   other panels take no input until it is discarded) and returns at once;
 *   DiscardPanel removes the panel with its child panels; the handle is then
 *   invalid.
 * RunUserInterface dispatches events to callbacks until QuitUserInterface is
 *   called (from a callback, or before: then it returns at once) and returns
 *   the code given to QuitUserInterface.
 * Closing a panel's window with the window manager commits the panel's close
 *   control (ATTR_CLOSE_CTRL) when it has one, and is ignored otherwise.
 * A child panel is a window of its own, kept above its parent. */
int LoadPanel(int parentPanel, const char *fileName, int panelNumber);
int DisplayPanel(int panel);
int InstallPopup(int panel);
int DiscardPanel(int panel);
int RunUserInterface(void);
int QuitUserInterface(int returnCode);
int GetPanelAttribute(int panel, int attribute, char *value);
int GetPanelAttribute(int panel, int attribute, int *value);
int SetPanelAttribute(int panel, int attribute, const char *value);

/* ---- Controls. ----
 * Values follow the control's kind (see CTRL_*); numbers convert between int
 *   and double, a string never converts to a number or back (UIE_TYPE_MISMATCH).
 * GetCtrlVal(char *) copies the value with its NUL. Its length never exceeds
 *   the control's bound: ATTR_MAX_ENTRY_LENGTH for a string field (at most
 *   PLATFORM_STRING_SIZE - 1), PLATFORM_STRING_SIZE - 1 for a ring's values,
 *   PLATFORM_LABEL_SIZE - 1 for a text box or text message. A buffer of
 *   bound + 1 bytes is therefore always enough.
 * SetCtrlVal never raises an event. A string longer than the control's bound
 *   is cut to it; a text box gets the string as its whole text; a ring, ring
 *   slide or list box selects its first item holding the value, or returns
 *   UIE_INVALID_VALUE and keeps its item; a numeric clamps to its range.
 * Control callbacks are called only from the event loop (RunUserInterface or
 *   a Qt event loop), never from inside a library call. Commit (1): a click
 *   or the shortcut key of a button; a click of a toggle or option; a ring or
 *   ring slide choice made by the operator; a numeric changed by its arrows,
 *   the wheel or Enter, or left after typing; Enter in a string field, or
 *   leaving it after its text was changed; a double-click on a list box
 *   item (which becomes the current item) or Enter on a list box with a
 *   current item; Enter in a text box. Key press (7): each key pressed in a
 *   control, before the control acts on it, a panel's shortcut key
 *   included; a callback result other than 0 swallows the key (and keeps a
 *   shortcut from operating). Timer tick (15): once per interval while the
 *   timer is enabled and timer callbacks are not suspended; missed ticks are
 *   not queued.
 * GetActiveCtrl returns the control that has the keyboard focus, or 0. */
int GetCtrlVal(int panel, int control, int *value);
int GetCtrlVal(int panel, int control, double *value);
int GetCtrlVal(int panel, int control, char *value);
int SetCtrlVal(int panel, int control, int value);
int SetCtrlVal(int panel, int control, double value);
int SetCtrlVal(int panel, int control, const char *value);
int GetCtrlAttribute(int panel, int control, int attribute, int *value);
int GetCtrlAttribute(int panel, int control, int attribute, double *value);
int GetCtrlAttribute(int panel, int control, int attribute, char *value);
int SetCtrlAttribute(int panel, int control, int attribute, int value);
int SetCtrlAttribute(int panel, int control, int attribute, double value);
int SetActiveCtrl(int panel, int control);
int GetActiveCtrl(int panel);

/* ---- Lists: list boxes, rings and ring slides. ----
 * Index 0 is the top. InsertListItem inserts before index (index -1 or the
 *   count appends), cutting the label to PLATFORM_LABEL_SIZE - 1 bytes;
 *   DeleteListItem deletes count items from index (count -1: to the end).
 * GetCtrlIndex gives -1 when the list has no current item; GetLabelFromIndex
 *   copies at most PLATFORM_LABEL_SIZE bytes with the NUL and returns
 *   UIE_INVALID_INDEX (buffer untouched) for an index out of range.
 *   GetValueFromIndex(char *) copies at most PLATFORM_STRING_SIZE bytes.
 * ResetTextBox replaces the whole text of a text box (cut to
 *   PLATFORM_LABEL_SIZE - 1 bytes). */
int GetNumListItems(int panel, int control, int *count);
int InsertListItem(int panel, int control, int index, const char *label, int value);
int DeleteListItem(int panel, int control, int index, int count);
int SetCtrlIndex(int panel, int control, int index);
int GetCtrlIndex(int panel, int control, int *index);
int GetLabelFromIndex(int panel, int control, int index, char *label);
int GetValueFromIndex(int panel, int control, int index, int *value);
int GetValueFromIndex(int panel, int control, int index, char *value);
int ResetTextBox(int panel, int control, const char *text);

/* ---- Cursor and timers. ----
 * SetWaitCursor(1) shows the wait cursor over the whole application until
 *   SetWaitCursor(0) (one call ends any number of SetWaitCursor(1)); the
 *   change shows at once, without running the event loop. As it comes
 *   before a blocking call, SetWaitCursor(1) also puts every shown panel on
 *   the screen as it stands (a panel shown a moment ago is waited for and
 *   painted); no callback runs meanwhile.
 * Suspend/ResumeTimerCallbacks stop and restart the ticks of every timer
 *   control; resuming starts a fresh interval. */
int SetWaitCursor(int on);
int GetWaitCursor(void);
int SuspendTimerCallbacks(void);
int ResumeTimerCallbacks(void);

/* ---- A plain sentence for an error code (never NULL). ---- */
const char *GetUILErrorString(int code);

#endif
