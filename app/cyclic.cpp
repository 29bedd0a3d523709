/* cyclic.cpp -- being written. */
