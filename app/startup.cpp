/* startup.cpp -- being written. */
