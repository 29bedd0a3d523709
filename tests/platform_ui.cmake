# The user-interface library and the panel files: the parser without a
# display, the panels as loaded, the operator's events on Qt's offscreen
# platform, and the engine's start without a display.
if(QUENTA_PROTOCOL_ONLY)
  return()
endif()

quenta_test(panel_file_test QT TIMEOUT 60 LABELS platform
  SOURCES panel_file_test.cpp
  LIBS quenta_platform quenta_ui)
target_compile_definitions(panel_file_test PRIVATE QUENTA_UI_DIR="${PROJECT_SOURCE_DIR}/ui")

quenta_test(ui_panels_test QT TIMEOUT 60 LABELS platform
  SOURCES ui_panels_test.cpp
  LIBS quenta_platform quenta_ui)

quenta_test(ui_events_test QT TIMEOUT 120 LABELS platform
  SOURCES ui_events_test.cpp
  LIBS quenta_platform quenta_ui Qt6::Test)

quenta_test(ui_nodisplay_test TIMEOUT 60 LABELS platform
  SOURCES ui_nodisplay_test.cpp
  LIBS quenta_platform)

quenta_test(ui_values_test QT TIMEOUT 60 LABELS platform
  SOURCES ui_values_test.cpp
  LIBS quenta_platform quenta_ui)
