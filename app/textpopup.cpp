/* textpopup.cpp -- being written. */
