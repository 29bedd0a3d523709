# Tests of the monitor's pages in headless browsers (tests/pages_browser_test.py):
# the built quenta-monitor runs a profile on a fleet of the built simulator
# from 127.0.82.1, pages on 127.0.86.1:8080; Chromium, and Firefox (in a
# network namespace of its own) where firefox-esr and unshare are there.
if(QUENTA_PROTOCOL_ONLY OR NOT englishUI)
  return()
endif()

add_test(NAME pages_browser_test
  COMMAND python3 ${CMAKE_CURRENT_SOURCE_DIR}/pages_browser_test.py --bin $<TARGET_FILE_DIR:quenta-monitor>)
set_tests_properties(pages_browser_test PROPERTIES TIMEOUT 300 LABELS monitor RESOURCE_LOCK pages_http)

find_program(QUENTA_FIREFOX firefox-esr)
find_program(QUENTA_UNSHARE unshare)
if(QUENTA_FIREFOX AND QUENTA_UNSHARE)
  add_test(NAME pages_browser_firefox_test
    COMMAND python3 ${CMAKE_CURRENT_SOURCE_DIR}/pages_browser_test.py --bin $<TARGET_FILE_DIR:quenta-monitor> --browser firefox)
  set_tests_properties(pages_browser_firefox_test PROPERTIES TIMEOUT 300 LABELS monitor RESOURCE_LOCK pages_http)
endif()
