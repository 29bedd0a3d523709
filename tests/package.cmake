# The Debian package, unpacked and started (English build only).
if(QUENTA_PROTOCOL_ONLY OR QUENTA_SANITIZE OR NOT englishUI)
  return()
endif()
add_test(NAME package_test COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/package_test.sh ${CMAKE_BINARY_DIR})
set_tests_properties(package_test PROPERTIES TIMEOUT 300 LABELS package RESOURCE_LOCK chamber-127.0.0.1)
