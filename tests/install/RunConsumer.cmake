# Installs the built project into a scratch prefix, moves the installed tree to another folder (the packages must
# not depend on where they were installed), and builds examples/consumer against the moved tree twice: through the
# CMake package and through pkg-config. Also checks that the installed libraries carry no debug information and
# that the manual page is there when it was built.
# Called by CTest with -DSOURCE_DIR=... -DBINARY_DIR=... -DCXX=... -DLIBDIR=... -DMANDIR=... -DDEBUG_INFO=...
set(prefix ${BINARY_DIR}/install-test/prefix)
set(moved ${BINARY_DIR}/install-test/moved)
set(build ${BINARY_DIR}/install-test/consumer)
file(REMOVE_RECURSE ${BINARY_DIR}/install-test)

function(run what)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "${what} failed (${rc}):\n${out}${err}")
  endif()
  set(output "${out}" PARENT_SCOPE)
endfunction()

function(expect_level what program)
  run("running ${what}" ${program})
  if(NOT output MATCHES "level 45.3 dB")
    message(FATAL_ERROR "${what} did not print the expected level:\n${output}")
  endif()
endfunction()

run("install" ${CMAKE_COMMAND} --install ${BINARY_DIR} --prefix ${prefix})
file(RENAME ${prefix} ${moved})

if(NOT DEBUG_INFO)
  file(GLOB archives ${moved}/${LIBDIR}/libveziru_*.a)
  list(LENGTH archives count)
  if(count EQUAL 0)
    message(FATAL_ERROR "no libraries installed in ${moved}/${LIBDIR}")
  endif()
  foreach(archive IN LISTS archives)
    run("reading ${archive}" readelf -S --wide ${archive})
    if(output MATCHES "\\.debug_info")
      message(FATAL_ERROR "${archive} was installed with debug information")
    endif()
  endforeach()
endif()
if(EXISTS ${BINARY_DIR}/apps/vezi/vezi.1 AND NOT EXISTS ${moved}/${MANDIR}/man1/vezi.1)
  message(FATAL_ERROR "the manual page was not installed")
endif()

run("configuring the CMake consumer" ${CMAKE_COMMAND} -S ${SOURCE_DIR}/examples/consumer -B ${build}
    -DCMAKE_PREFIX_PATH=${moved})
run("building the CMake consumer" ${CMAKE_COMMAND} --build ${build})
expect_level("the CMake consumer" ${build}/consumer)

run("pkg-config" ${CMAKE_COMMAND} -E env PKG_CONFIG_PATH=${moved}/${LIBDIR}/pkgconfig
    pkg-config --cflags --libs veziru)
separate_arguments(flags UNIX_COMMAND "${output}")
run("building the pkg-config consumer" ${CXX} ${SOURCE_DIR}/examples/consumer/main.cpp ${flags}
    -o ${build}/consumer-pc)
expect_level("the pkg-config consumer" ${build}/consumer-pc)
