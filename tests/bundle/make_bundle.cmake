# cmake -DCONTENTS=<contents.cmake> -P make_bundle.cmake: writes the Windows test bundle (the test
# programs and their fixtures under tests\, as they lie in the build's tests folder, and
# run-tests.cmd) and a zip of it beside the folder. CONTENTS comes from tests/CMakeLists.txt.
include("${CONTENTS}")

file(REMOVE_RECURSE "${BUNDLE}")
foreach(file IN LISTS FILES)
  file(RELATIVE_PATH relative "${TESTS_DIR}" "${file}")
  if(relative MATCHES "^\\.\\./" OR NOT EXISTS "${file}")
    message(FATAL_ERROR "test bundle: ${file} is not in ${TESTS_DIR}")
  endif()
  get_filename_component(destination "${BUNDLE}/tests/${relative}" DIRECTORY)
  file(COPY "${file}" DESTINATION "${destination}")
endforeach()

# cmd reads the script in the console's code page and treats ^ & < > | % specially: the
# reasons keep to plain text.
set(SKIP_LINES "")
foreach(program IN LISTS SKIPPED)
  string(REGEX REPLACE "[^A-Za-z0-9 ,.:;/_+=()'-]+" " " reason "${SKIP_${program}}")
  string(APPEND SKIP_LINES "echo skipped ${program}: ${reason}\r\n")
endforeach()
list(LENGTH SKIPPED SKIP_COUNT)
set(RUN_LINES "")
foreach(program IN LISTS PROGRAMS)
  string(APPEND RUN_LINES "call :run ${program}\r\n")
endforeach()
file(READ "${RUN_TESTS_TEMPLATE}" template)
string(REPLACE "\r\n" "\n" template "${template}")
string(REPLACE "\n" "\r\n" template "${template}")
string(CONFIGURE "${template}" script @ONLY)
file(WRITE "${BUNDLE}/run-tests.cmd" "${script}")

get_filename_component(parent "${BUNDLE}" DIRECTORY)
get_filename_component(name "${BUNDLE}" NAME)
file(REMOVE "${BUNDLE}.zip")
execute_process(COMMAND "${CMAKE_COMMAND}" -E tar cf "${BUNDLE}.zip" --format=zip "${name}"
                WORKING_DIRECTORY "${parent}" RESULT_VARIABLE failed)
if(failed)
  message(FATAL_ERROR "test bundle: cannot write ${BUNDLE}.zip")
endif()
list(LENGTH PROGRAMS count)
message(STATUS "Test bundle: ${count} programs, ${SKIP_COUNT} skipped, in ${BUNDLE} and ${BUNDLE}.zip")
