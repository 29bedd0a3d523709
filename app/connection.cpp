/* connection.cpp -- being written. */
