# The program's own panel files (ui/), read and loaded by the library: the
# one test to follow an edit of the command catalogue.
if(QUENTA_PROTOCOL_ONLY)
  return()
endif()

quenta_test(ascii_panels_test QT TIMEOUT 60 LABELS ui
  SOURCES ascii_panels_test.cpp
  LIBS quenta_platform quenta_ui)
target_compile_definitions(ascii_panels_test PRIVATE QUENTA_UI_DIR="${PROJECT_SOURCE_DIR}/ui")
