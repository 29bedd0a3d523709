/* display.cpp -- being written. */
