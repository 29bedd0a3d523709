# The list kinds through one set of list operations, and the values of the
# other kinds, on a small panel file the test writes itself.
if(QUENTA_PROTOCOL_ONLY)
  return()
endif()

quenta_test(ui_lists_test QT TIMEOUT 60 LABELS platform
  SOURCES ui_lists_test.cpp
  LIBS quenta_platform)
