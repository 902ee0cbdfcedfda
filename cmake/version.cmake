# Writes the program's version text into OUTPUT (a C++ source) at every build: the
# project's version, followed by the git description when SOURCE_DIR is a git checkout
# of its own ("0.1.0 (git 5d3c2a1-dirty)"). The file is rewritten only when the text
# changes, so an unchanged checkout rebuilds nothing.
#
#   cmake -DSOURCE_DIR=... -DOUTPUT=... -DPROJECT_VERSION=... -P cmake/version.cmake
set(text "${PROJECT_VERSION}")
find_program(GIT_PROGRAM git)
if(GIT_PROGRAM AND (EXISTS "${SOURCE_DIR}/.git"))
  # Builds run beside the developer's own git commands: never take the index lock.
  set(ENV{GIT_OPTIONAL_LOCKS} 0)
  # A source tree unpacked inside another checkout must not take that one's description.
  execute_process(COMMAND "${GIT_PROGRAM}" -C "${SOURCE_DIR}" rev-parse --show-toplevel
                  OUTPUT_VARIABLE top OUTPUT_STRIP_TRAILING_WHITESPACE
                  RESULT_VARIABLE topResult ERROR_QUIET)
  if(topResult EQUAL 0)
    file(REAL_PATH "${top}" top)
    file(REAL_PATH "${SOURCE_DIR}" source)
  endif()
  if(topResult EQUAL 0 AND top STREQUAL source)
    execute_process(COMMAND "${GIT_PROGRAM}" -C "${SOURCE_DIR}" describe --tags --always --dirty
                    OUTPUT_VARIABLE described OUTPUT_STRIP_TRAILING_WHITESPACE
                    RESULT_VARIABLE describeResult ERROR_QUIET)
    if(describeResult EQUAL 0 AND NOT described STREQUAL "")
      string(APPEND text " (git ${described})")
    endif()
  endif()
endif()
set(KESTROVA_VERSION_TEXT "${text}")
configure_file("${CMAKE_CURRENT_LIST_DIR}/version.cpp.in" "${OUTPUT}" @ONLY)
