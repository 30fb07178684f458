# Every test program is registered through snaplark_add_test. Native ones run
# directly; Windows ones run under Wine in a throwaway prefix inside this build
# tree, with their own HOME and an Xvfb display that lives for one ctest run.
if(WIN32)
  if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    set(SNAPLARK_TREE win64)
  else()
    set(SNAPLARK_TREE win32)
  endif()
elseif(SNAPLARK_SANITIZE)
  set(SNAPLARK_TREE asan)
elseif(SNAPLARK_SANITIZE_THREAD)
  set(SNAPLARK_TREE tsan)
else()
  set(SNAPLARK_TREE host)
endif()

set(SNAPLARK_WINE_DIR ${CMAKE_BINARY_DIR}/wine)
set(SNAPLARK_WINE_ENV ${PROJECT_SOURCE_DIR}/scripts/wine-env.sh)

if(WIN32)
  # Some Linux kernels refuse 32-bit code altogether, and Wine with them. The
  # 32-bit tree's fixture first starts a tiny program of that tree; where it
  # cannot run, every Wine test of the tree ends as skipped (exit code 77),
  # with the reason in its output. The 64-bit tree runs the same tests there.
  add_executable(wine_probe ${CMAKE_CURRENT_LIST_DIR}/wine_probe.cpp)
  if(SNAPLARK_TREE STREQUAL win32)
    set(SNAPLARK_WINE_PROBE $<TARGET_FILE:wine_probe>)
    set(SNAPLARK_SKIP_CODE 77)
  endif()
  add_test(NAME ${SNAPLARK_TREE}_wine_up
           COMMAND ${SNAPLARK_WINE_ENV} start ${SNAPLARK_WINE_DIR} ${SNAPLARK_WINE_PROBE})
  if(SNAPLARK_WINE_PROBE)
    # The answer "cannot" skips every test without starting its program.
    add_test(NAME ${SNAPLARK_TREE}_wine_probe_told_no_skips
             COMMAND bash -c [[SNAPLARK_ASSUME_NO_32BIT=1 "$0" probe "$1" "$2" && "$0" run "$1" "$2"; echo "run: exit $?"]]
                     ${SNAPLARK_WINE_ENV} ${SNAPLARK_WINE_DIR}-told-no ${SNAPLARK_WINE_PROBE})
    set_tests_properties(${SNAPLARK_TREE}_wine_probe_told_no_skips PROPERTIES
      PASS_REGULAR_EXPRESSION "cannot run here [(]SNAPLARK_ASSUME_NO_32BIT is set[)]
Skipped: [^
]*
run: exit 77"
      FAIL_REGULAR_EXPRESSION "program ran")
  endif()
  add_test(NAME ${SNAPLARK_TREE}_wine_down COMMAND ${SNAPLARK_WINE_ENV} stop ${SNAPLARK_WINE_DIR})
  set_tests_properties(${SNAPLARK_TREE}_wine_up PROPERTIES FIXTURES_SETUP ${SNAPLARK_TREE}_wine TIMEOUT 180)
  set_tests_properties(${SNAPLARK_TREE}_wine_down PROPERTIES FIXTURES_CLEANUP ${SNAPLARK_TREE}_wine)
endif()

# snaplark_add_test(<target> [ARGS ...]) registers one test program.
function(snaplark_add_test target)
  cmake_parse_arguments(PARSE_ARGV 1 T "" "TIMEOUT" "ARGS")
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 300)
  endif()
  set(name ${SNAPLARK_TREE}_${target})
  if(WIN32)
    add_test(NAME ${name}
             COMMAND ${SNAPLARK_WINE_ENV} run ${SNAPLARK_WINE_DIR} $<TARGET_FILE:${target}> ${T_ARGS})
    set_tests_properties(${name} PROPERTIES FIXTURES_REQUIRED ${SNAPLARK_TREE}_wine)
    if(SNAPLARK_SKIP_CODE)
      set_tests_properties(${name} PROPERTIES SKIP_RETURN_CODE ${SNAPLARK_SKIP_CODE})
    endif()
  else()
    add_test(NAME ${name} COMMAND ${target} ${T_ARGS})
  endif()
  set_tests_properties(${name} PROPERTIES TIMEOUT ${T_TIMEOUT})
endfunction()

# The native tree's ctest also runs the sibling trees that have been built,
# so that one ctest command covers native, sanitizer and both Windows builds.
option(SNAPLARK_RUN_SIBLING_TREES "Let this tree's ctest run the other presets' tests" OFF)
if(SNAPLARK_RUN_SIBLING_TREES)
  set(siblings_file ${CMAKE_BINARY_DIR}/sibling-trees.cmake)
  file(WRITE ${siblings_file} "")
  foreach(tree host-asan host-tsan windows windows64)
    set(dir ${PROJECT_SOURCE_DIR}/build/${tree})
    file(APPEND ${siblings_file}
         "if(EXISTS \"${dir}/CTestTestfile.cmake\")\n  subdirs(\"${dir}\")\nendif()\n")
  endforeach()
  set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES ${siblings_file})
endif()
