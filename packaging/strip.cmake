# strip.cmake -- run by CPack on the staged package tree before it packs it:
# strips every ELF file under usr/bin and usr/libexec of its symbols and of
# the .comment and .note sections, which only name the compiler, as Debian's
# own packaging does. Symbolic links and other files are left alone.
# Input: CPACK_TEMPORARY_INSTALL_DIRECTORY (the staged tree) and
# CPACK_QUENTA_STRIP (the strip program), both set by CPack.
if(NOT CPACK_QUENTA_STRIP)
  message(FATAL_ERROR "no strip program was found when the build was configured")
endif()
file(GLOB_RECURSE staged LIST_DIRECTORIES false
     ${CPACK_TEMPORARY_INSTALL_DIRECTORY}/usr/bin/*
     ${CPACK_TEMPORARY_INSTALL_DIRECTORY}/usr/libexec/*)
foreach(f IN LISTS staged)
  if(IS_SYMLINK ${f})
    continue()
  endif()
  file(READ ${f} magic LIMIT 4 HEX)
  if(NOT magic STREQUAL "7f454c46")
    continue()
  endif()
  execute_process(COMMAND ${CPACK_QUENTA_STRIP} --remove-section=.comment --remove-section=.note ${f}
                  RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "strip failed on ${f}")
  endif()
endforeach()
