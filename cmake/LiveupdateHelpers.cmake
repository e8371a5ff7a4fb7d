# Adds every immediate sub-folder of the current source folder that has a
# CMakeLists.txt, in the order given, then any others alphabetically. Subsystems
# come and go without editing a central list.
function(liveupdate_add_subdirs)
  set(_done "")
  foreach(_dir IN LISTS ARGN)
    if(EXISTS ${CMAKE_CURRENT_SOURCE_DIR}/${_dir}/CMakeLists.txt)
      add_subdirectory(${_dir})
      list(APPEND _done ${_dir})
    endif()
  endforeach()
  file(GLOB _children RELATIVE ${CMAKE_CURRENT_SOURCE_DIR} ${CMAKE_CURRENT_SOURCE_DIR}/*)
  list(SORT _children)
  foreach(_dir IN LISTS _children)
    if(IS_DIRECTORY ${CMAKE_CURRENT_SOURCE_DIR}/${_dir}
       AND EXISTS ${CMAKE_CURRENT_SOURCE_DIR}/${_dir}/CMakeLists.txt
       AND NOT _dir IN_LIST _done)
      add_subdirectory(${_dir})
    endif()
  endforeach()
endfunction()

# liveupdate_test(NAME <target> SOURCES ... LIBS ... LABELS ...)
# Builds a GoogleTest executable and registers each of its tests with ctest under
# the given labels (unit, integration, gui, threading).
include(GoogleTest)
find_package(GTest REQUIRED)
function(liveupdate_test)
  cmake_parse_arguments(T "" "NAME;TIMEOUT" "SOURCES;LIBS;LABELS" ${ARGN})
  add_executable(${T_NAME} ${T_SOURCES})
  target_link_libraries(${T_NAME} PRIVATE ${T_LIBS} GTest::gmock GTest::gtest GTest::gtest_main Threads::Threads)
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 120)
  endif()
  set(_serial FALSE)
  if(T_LABELS STREQUAL "gui")
    # Each run gets its own virtual X server; one at a time, since xvfb-run
    # picks its display number by looking for a free one.
    set_target_properties(${T_NAME} PROPERTIES
      CROSSCOMPILING_EMULATOR "xvfb-run;-a;-s;-screen 0 1024x768x24")
    target_compile_definitions(${T_NAME} PRIVATE
      LIVEUPDATE_TEST_ARTIFACTS="${CMAKE_BINARY_DIR}/test-artifacts")
    set(_serial TRUE)
  endif()
  # One label per test: a label list does not survive test discovery intact.
  gtest_discover_tests(${T_NAME}
    PROPERTIES LABELS "${T_LABELS}" TIMEOUT ${T_TIMEOUT} RUN_SERIAL ${_serial}
    DISCOVERY_TIMEOUT 60)
endfunction()

# liveupdate_fuzzer(NAME <target> SOURCES ... LIBS ...)
function(liveupdate_fuzzer)
  cmake_parse_arguments(F "" "NAME" "SOURCES;LIBS" ${ARGN})
  add_executable(${F_NAME} ${F_SOURCES})
  target_compile_options(${F_NAME} PRIVATE -fsanitize=fuzzer)
  target_link_options(${F_NAME} PRIVATE -fsanitize=fuzzer)
  target_link_libraries(${F_NAME} PRIVATE ${F_LIBS})
  set_property(GLOBAL APPEND PROPERTY LIVEUPDATE_FUZZERS ${F_NAME})
endfunction()

# liveupdate_test_folder(<prefix> LIBS ...)
# The tests of one folder, by file name:
#   *_test.cpp              -> <prefix>_tests              (label unit)
#   *_threading_test.cpp    -> <prefix>_threading_tests    (label threading: real threads against each other, also run under the thread sanitizer)
#   *_integration_test.cpp  -> <prefix>_integration_tests  (label integration)
#   *_gui_test.cpp          -> <prefix>_gui_tests          (label gui: run under xvfb-run, linked with GUI_LIBS too;
#                              left out when the build has no GUI)
function(liveupdate_test_folder prefix)
  cmake_parse_arguments(F "" "" "LIBS;GUI_LIBS" ${ARGN})
  file(GLOB _all CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*_test.cpp)
  file(GLOB _threading CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*_threading_test.cpp)
  file(GLOB _integration CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*_integration_test.cpp)
  file(GLOB _gui CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*_gui_test.cpp)
  set(_unit ${_all})
  if(_gui)
    list(REMOVE_ITEM _unit ${_gui})
  endif()
  if(_threading)
    list(REMOVE_ITEM _unit ${_threading})
  endif()
  if(_integration)
    list(REMOVE_ITEM _unit ${_integration})
  endif()
  if(_unit)
    liveupdate_test(NAME ${prefix}_tests SOURCES ${_unit} LIBS ${F_LIBS} test_support LABELS unit)
  endif()
  if(_threading)
    liveupdate_test(NAME ${prefix}_threading_tests SOURCES ${_threading} LIBS ${F_LIBS} test_support
      LABELS threading)
  endif()
  if(_integration)
    liveupdate_test(NAME ${prefix}_integration_tests SOURCES ${_integration} LIBS ${F_LIBS} test_support
      LABELS integration TIMEOUT 300)
  endif()
  if(_gui AND LIVEUPDATE_GUI)
    liveupdate_test(NAME ${prefix}_gui_tests SOURCES ${_gui} LIBS ${F_LIBS} ${F_GUI_LIBS} test_support
      LABELS gui TIMEOUT 300)
  endif()
endfunction()
