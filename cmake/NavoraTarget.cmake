# SPDX-License-Identifier: GPL-3.0-or-later
# Common settings for every Navora target: warnings as the project wants them.
function(navora_target_defaults target)
  target_compile_options(${target} PRIVATE -Wall -Wextra)
endfunction()

# One static library per subsystem folder. Sources are picked up from the folder so
# that adding a file never means editing a list that another change is also editing.
function(navora_add_library name)
  file(GLOB _srcs CONFIGURE_DEPENDS
       "${CMAKE_CURRENT_SOURCE_DIR}/*.cpp" "${CMAKE_CURRENT_SOURCE_DIR}/*.h")
  set(_cpp ${_srcs})
  list(FILTER _cpp INCLUDE REGEX "\\.cpp$")
  if(NOT _cpp)
    # A subsystem that has no code yet still links (as nothing).
    set(_empty "${CMAKE_CURRENT_BINARY_DIR}/${name}_empty.cpp")
    file(WRITE "${_empty}" "// generated: this library has no sources yet\n")
    list(APPEND _srcs "${_empty}")
  endif()
  add_library(${name} STATIC ${_srcs})
  target_include_directories(${name} PUBLIC "${CMAKE_CURRENT_SOURCE_DIR}/..")
  navora_target_defaults(${name})
endfunction()

# One test executable per subsystem, registered with CTest through gtest discovery.
function(navora_add_test_suite name)
  cmake_parse_arguments(ARG "" "" "LIBS" ${ARGN})
  file(GLOB _srcs CONFIGURE_DEPENDS "${CMAKE_CURRENT_SOURCE_DIR}/*.cpp" "${CMAKE_CURRENT_SOURCE_DIR}/*.h")
  set(_cpp ${_srcs})
  list(FILTER _cpp INCLUDE REGEX "\\.cpp$")
  if(NOT _cpp)
    return()  # no tests for this subsystem yet
  endif()
  add_executable(${name} ${_srcs})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} GTest::gtest GTest::gmock navora_test_main)
  target_compile_definitions(${name} PRIVATE
      NAVORA_TEST_DATA_DIR="${CMAKE_SOURCE_DIR}/tests/data"
      NAVORA_SOURCE_DIR="${CMAKE_SOURCE_DIR}"
      NAVORA_BINARY_DIR="${CMAKE_BINARY_DIR}")
  navora_target_defaults(${name})
  gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60 PROPERTIES TIMEOUT 300)
endfunction()
