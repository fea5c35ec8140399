# Installs the libraries, their headers, a CMake package (find_package(VEZiru0), targets vez::...) and a
# pkg-config file. Both packages are relocatable: the CMake files find the prefix from their own place (as CMake's
# exports always do), and veziru.pc derives it from ${pcfiledir}, so an installed tree can be moved or copied.
# The installed libraries and the vezi tool carry no debug information unless VEZ_INSTALL_DEBUG_INFO is on (a
# RelWithDebInfo build's static libraries are ten times larger with it).
include(CMakePackageConfigHelpers)

install(TARGETS ${VEZ_LIBRARY_TARGETS} veziru vez_options EXPORT VEZiru0Targets
        ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
        LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
        INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/veziru)
install(DIRECTORY ${PROJECT_SOURCE_DIR}/src/ DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/veziru
        FILES_MATCHING PATTERN "*.h" PATTERN "internal" EXCLUDE)
install(EXPORT VEZiru0Targets NAMESPACE vez:: DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/VEZiru0)
configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/VEZiru0Config.cmake.in
  ${PROJECT_BINARY_DIR}/VEZiru0Config.cmake INSTALL_DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/VEZiru0)
write_basic_package_version_file(${PROJECT_BINARY_DIR}/VEZiru0ConfigVersion.cmake COMPATIBILITY SameMinorVersion)
install(FILES ${PROJECT_BINARY_DIR}/VEZiru0Config.cmake ${PROJECT_BINARY_DIR}/VEZiru0ConfigVersion.cmake
        DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/VEZiru0)
set(vez_archives "")
foreach(target IN LISTS VEZ_LIBRARY_TARGETS)
  list(APPEND vez_archives "${CMAKE_INSTALL_LIBDIR}/$<TARGET_FILE_NAME:${target}>")
endforeach()
vez_install_strip_debug(${vez_archives})

# The prefix as seen from the folder of veziru.pc (lib/pkgconfig -> ../..).
if(IS_ABSOLUTE "${CMAKE_INSTALL_LIBDIR}")
  set(VEZ_PC_PREFIX "${CMAKE_INSTALL_PREFIX}")
else()
  file(RELATIVE_PATH vez_up "/prefix/${CMAKE_INSTALL_LIBDIR}/pkgconfig" "/prefix")
  string(REGEX REPLACE "/$" "" vez_up "${vez_up}")
  set(VEZ_PC_PREFIX "\${pcfiledir}/${vez_up}")
endif()
# A sanitizer build's libraries need the sanitizer runtimes in every program that links them.
set(VEZ_PC_EXTRA_LIBS "")
if(VEZ_SANITIZE)
  set(VEZ_PC_EXTRA_LIBS " -fsanitize=address,undefined")
endif()
configure_file(${PROJECT_SOURCE_DIR}/cmake/veziru.pc.in ${PROJECT_BINARY_DIR}/veziru.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/veziru.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
