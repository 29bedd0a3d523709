# The program's own panel files (ui/): read and loaded by the library, the
# one test to follow an edit of the command catalogue; and the operator's
# view of the main panel (the toggle's look, the Tab order, Esc in popups,
# the wait cursor), both on Qt's offscreen platform.
if(QUENTA_PROTOCOL_ONLY)
  return()
endif()

quenta_test(ascii_panels_test QT TIMEOUT 60 LABELS ui
  SOURCES ascii_panels_test.cpp
  LIBS quenta_platform quenta_ui)
target_compile_definitions(ascii_panels_test PRIVATE QUENTA_UI_DIR="${PROJECT_SOURCE_DIR}/ui")

quenta_test(operator_test QT TIMEOUT 120 LABELS platform
  SOURCES operator_test.cpp
  LIBS quenta_platform quenta_ui Qt6::Test)
