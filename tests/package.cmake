# The Debian package, unpacked, started and checked with lintian, appstreamcli
# and desktop-file-validate (English build with its man pages only).
if(QUENTA_PROTOCOL_ONLY OR QUENTA_SANITIZE OR NOT englishUI OR NOT QUENTA_MAN_PAGES)
  return()
endif()
add_test(NAME package_test COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/package_test.sh ${CMAKE_BINARY_DIR})
set_tests_properties(package_test PROPERTIES TIMEOUT 300 LABELS package RESOURCE_LOCK chamber-127.0.0.1)
