# The operator's view of the main panel: the toggle's look, the Tab order,
# Esc in popups and the wait cursor, in-process on Qt's offscreen platform.
if(QUENTA_PROTOCOL_ONLY)
  return()
endif()

quenta_test(operator_test QT TIMEOUT 120 LABELS platform
  SOURCES operator_test.cpp
  LIBS quenta_platform quenta_ui Qt6::Test)
