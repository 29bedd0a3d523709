/* main.cpp -- being written. */
