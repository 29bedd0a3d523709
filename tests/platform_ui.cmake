# The user-interface library: the panel-file parser without a display,
# panels as loaded, the operator's events on Qt's offscreen platform, the
# engine's start without a display, values and the list kinds.
if(QUENTA_PROTOCOL_ONLY)
  return()
endif()

quenta_test(panel_file_test QT TIMEOUT 60 LABELS platform
  SOURCES panel_file_test.cpp
  LIBS quenta_platform)

quenta_test(ui_panels_test QT TIMEOUT 60 LABELS platform
  SOURCES ui_panels_test.cpp
  LIBS quenta_platform)

quenta_test(ui_events_test QT TIMEOUT 120 LABELS platform
  SOURCES ui_events_test.cpp
  LIBS quenta_platform Qt6::Test)

quenta_test(ui_nodisplay_test TIMEOUT 60 LABELS platform
  SOURCES ui_nodisplay_test.cpp
  LIBS quenta_platform)

quenta_test(ui_values_test QT TIMEOUT 60 LABELS platform
  SOURCES ui_values_test.cpp
  LIBS quenta_platform)

# They load the tests' own panel file, ui_test.uir, not the program's.
quenta_test(ui_lists_test QT TIMEOUT 60 LABELS platform
  SOURCES ui_lists_test.cpp
  LIBS quenta_platform)

foreach(t ui_panels_test ui_events_test ui_nodisplay_test ui_values_test ui_lists_test)
  target_compile_definitions(${t} PRIVATE QUENTA_TEST_DIR="${CMAKE_CURRENT_SOURCE_DIR}")
endforeach()
