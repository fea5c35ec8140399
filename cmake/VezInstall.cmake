# Installs the libraries, their headers, a CMake package (find_package(VEZiru0), targets vez::...) and a
# pkg-config file.
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
configure_file(${PROJECT_SOURCE_DIR}/cmake/veziru.pc.in ${PROJECT_BINARY_DIR}/veziru.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/veziru.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
