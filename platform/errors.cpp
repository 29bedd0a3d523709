/*
 * errors.cpp -- one plain sentence for each error code of the library:
 * GetUILErrorString() for the user-interface codes, GetTCPErrorString() for
 * the TCP client codes. Unknown codes get a sentence too, never NULL.
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

/* code: a TCPE_* value. Returns a static sentence. */
const char *GetTCPErrorString(int code)
{
    switch (code) {
    case TCPE_INVALID_HANDLE: return "The connection is not open.";
    case TCPE_TIMEOUT: return "The operation timed out.";
    case TCPE_HOST_NOT_FOUND: return "The host was not found.";
    case TCPE_CONNECT_FAILED: return "The connection was refused or could not be made.";
    case TCPE_READ_FAILED: return "Reading from the connection failed.";
    case TCPE_WRITE_FAILED: return "Writing to the connection failed.";
    case TCPE_INVALID_ARGUMENT: return "An argument is not valid.";
    case TCPE_NOT_INITIALIZED: return "The TCP support has not been initialised.";
    default: return code >= 0 ? "No error." : "Unknown TCP error.";
    }
}
