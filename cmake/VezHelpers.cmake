# Helpers that declare the project's targets in one way.

# Compile options shared by every target of the project.
add_library(vez_options INTERFACE)
target_compile_options(vez_options INTERFACE -Wall -Wextra -Wpedantic $<$<BOOL:${VEZ_WERROR}>:-Werror>)
# Checked element access of the standard containers and std::array (operator[], front, back) in every build but
# Release: an index out of range stops the program with a message instead of reading or writing beside the data.
# Release builds, which the benchmarks use, keep unchecked access.
target_compile_definitions(vez_options INTERFACE $<$<NOT:$<CONFIG:Release>>:_GLIBCXX_ASSERTIONS>)
if(VEZ_SANITIZE)
  target_compile_options(vez_options INTERFACE -fsanitize=address,undefined -fno-omit-frame-pointer
                                               -fno-sanitize-recover=undefined)
  target_link_options(vez_options INTERFACE -fsanitize=address,undefined)
endif()

set(VEZ_LIBRARY_TARGETS "" CACHE INTERNAL "library targets of the project")

# vez_library(NAME SOURCES files... DEPS targets...)
# Declares the library target vez_NAME (alias vez::NAME) whose headers are included as "NAME/Header.h".
function(vez_library name)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPS;PRIVATE_DEPS" ${ARGN})
  set(target vez_${name})
  add_library(${target} ${ARG_SOURCES})
  add_library(vez::${name} ALIAS ${target})
  target_include_directories(${target} PUBLIC
    $<BUILD_INTERFACE:${PROJECT_SOURCE_DIR}/src>
    $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}/veziru>)
  target_link_libraries(${target} PUBLIC ${ARG_DEPS} PRIVATE vez_options ${ARG_PRIVATE_DEPS})
  set_target_properties(${target} PROPERTIES EXPORT_NAME ${name} OUTPUT_NAME veziru_${name})
  set(VEZ_LIBRARY_TARGETS ${VEZ_LIBRARY_TARGETS} ${target} CACHE INTERNAL "library targets of the project")
endfunction()

# vez_test(NAME SOURCES files... DEPS targets...)
# One GoogleTest executable; its cases are registered with CTest one by one.
function(vez_test name)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_DEPS} vez_options GTest::gtest GTest::gmock GTest::gtest_main)
  target_compile_definitions(${name} PRIVATE
    VEZ_TEST_DATA_DIR="${PROJECT_SOURCE_DIR}/tests/data"
    VEZ_BINARY_DIR="${PROJECT_BINARY_DIR}")
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR}/tests)
  # Test code is thin glue around the library, which keeps the build type's optimisation; optimising the test
  # code itself took more than half of a build's compile time and makes its failures harder to step through.
  target_compile_options(${name} PRIVATE -O0)
  gtest_discover_tests(${name} DISCOVERY_TIMEOUT 120 PROPERTIES TIMEOUT 300)
endfunction()

option(VEZ_INSTALL_DEBUG_INFO "Keep the debug information in the installed libraries and programs" OFF)

# vez_install_strip_debug(RELATIVE_PATH...): at install time, removes the debug information from installed files.
function(vez_install_strip_debug)
  if(VEZ_INSTALL_DEBUG_INFO OR NOT CMAKE_STRIP)
    return()
  endif()
  foreach(file IN LISTS ARGN)
    install(CODE "execute_process(COMMAND \"${CMAKE_STRIP}\" --strip-debug \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${file}\"
                                  RESULT_VARIABLE vez_rc)
                  if(NOT vez_rc EQUAL 0)
                    message(FATAL_ERROR \"stripping ${file} failed\")
                  endif()")
  endforeach()
endfunction()
