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
  add_test(NAME ${SNAPLARK_TREE}_wine_up COMMAND ${SNAPLARK_WINE_ENV} start ${SNAPLARK_WINE_DIR})
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
