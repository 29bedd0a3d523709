/* language.cpp -- being written. */
