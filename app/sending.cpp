/* sending.cpp -- being written. */
