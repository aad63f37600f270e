# Fails when a text of the interface has no finished translation in a .ts file.
#   cmake -DLRELEASE=<lrelease> -DTS=<file.ts> -DQM=<out.qm> -P check_translations.cmake
# With -DLUPDATE=<lupdate> -DROOT=<source root> -DSOURCES=<dir;dir...> the texts the sources hold now are merged first
# into a copy of the .ts (beside QM), so a new tr() text nobody translated fails too; the
# checked-in file is left as it is.
cmake_minimum_required(VERSION 3.25)
foreach(var LRELEASE TS QM)
  if(NOT DEFINED ${var})
    message(FATAL_ERROR "check_translations: ${var} is not set")
  endif()
endforeach()

set(ts "${TS}")
get_filename_component(work "${QM}" DIRECTORY)
file(MAKE_DIRECTORY "${work}")
if(DEFINED LUPDATE)
  get_filename_component(name "${TS}" NAME)
  set(ts "${work}/${name}")
  file(COPY_FILE "${TS}" "${ts}")
  # The includes are found from the sources' root, as the build finds them, so a class's context
  # is its qualified name.
  execute_process(COMMAND "${LUPDATE}" -silent -I "${ROOT}" -extensions cpp,h -locations none ${SOURCES} -ts "${ts}"
                  RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "lupdate failed (${rc}):\n${out}${err}")
  endif()
endif()

execute_process(COMMAND "${LRELEASE}" "${ts}" -qm "${QM}"
                RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "lrelease failed (${rc}):\n${out}${err}")
endif()
set(problems "")
if(out MATCHES "([0-9]+) unfinished" AND NOT CMAKE_MATCH_1 EQUAL 0)
  string(APPEND problems "${CMAKE_MATCH_1} unfinished translation(s)\n")
endif()
if(out MATCHES "Ignored ([0-9]+) untranslated")
  string(APPEND problems "${CMAKE_MATCH_1} untranslated source text(s)\n")
endif()
if(problems)
  # Name them, so the fix does not start with a search.
  file(READ "${ts}" xml)
  string(REGEX MATCHALL "<source>[^<]*</source>[ \t\r\n]*(<comment>[^<]*</comment>[ \t\r\n]*)?<translation type=\"unfinished\""
         missing "${xml}")
  set(names "")
  foreach(m IN LISTS missing)
    string(REGEX REPLACE "^<source>([^<]*)</source>.*" "  \\1" m "${m}")
    string(APPEND names "${m}\n")
  endforeach()
  message(FATAL_ERROR "${TS}:\n${problems}${names}")
endif()
