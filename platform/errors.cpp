/*
 * errors.cpp -- one plain sentence for each error code of the library:
 * GetUILErrorString() for the user-interface codes (the TCP client codes
 * have theirs in tcp.cpp). Unknown codes get a sentence too, never NULL.
 */
#include "platform.h"

/* code: a UIE_* value. Returns a static sentence. */
const char *GetUILErrorString(int code)
{
    switch (code) {
    case UIE_NOT_INITIALIZED: return "The user interface has not been initialised.";
    case UIE_INVALID_PANEL: return "The panel handle is not valid.";
    case UIE_INVALID_CONTROL: return "The panel has no control with that ID.";
    case UIE_TYPE_MISMATCH: return "The value does not match the control's data type.";
    case UIE_INVALID_INDEX: return "The list has no item at that index.";
    case UIE_INVALID_ATTRIBUTE: return "The attribute does not apply to this panel or control.";
    case UIE_INVALID_VALUE: return "The value is not valid for this control.";
    case UIE_FILE_NOT_FOUND: return "The panel file could not be found or read.";
    case UIE_FILE_MALFORMED: return "The panel file is not a valid panel file.";
    case UIE_PANEL_NOT_FOUND: return "The panel file holds no panel with that number.";
    case UIE_CALLBACK_NOT_FOUND: return "The panel file names a callback the program did not register.";
    default: return code >= 0 ? "No error." : "Unknown user-interface error.";
    }
}
