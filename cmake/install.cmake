# Install rules: the library, its header, the host kit, the sample data, the
# CMake package and the pkg-config files. Relocatable: every path is relative
# to the prefix given at install time.
include(CMakePackageConfigHelpers)

set(TS_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/tesselsim)
set(TS_PKGCONFIG_DIR ${CMAKE_INSTALL_LIBDIR}/pkgconfig)

install(TARGETS tesselsim EXPORT tesselsimTargets
        LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} NAMELINK_COMPONENT Development COMPONENT Runtime)
install(FILES ${PROJECT_SOURCE_DIR}/include/tesselsim/tesselsim.h
        DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/tesselsim COMPONENT Development)
install(TARGETS tesselsim_hostkit EXPORT tesselsimTargets
        ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT Development)
install(FILES ${TS_HOSTKIT_HEADERS} DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/tesselsim/hostkit
        COMPONENT Development)
install(FILES ${PROJECT_SOURCE_DIR}/data/elements.json ${PROJECT_SOURCE_DIR}/data/diseases.json
        DESTINATION ${CMAKE_INSTALL_DATADIR}/tesselsim COMPONENT Runtime)
install(FILES ${PROJECT_SOURCE_DIR}/README.md ${PROJECT_SOURCE_DIR}/CHANGELOG.md
        DESTINATION ${CMAKE_INSTALL_DOCDIR} COMPONENT Development)
install(DIRECTORY ${PROJECT_SOURCE_DIR}/examples/ DESTINATION ${CMAKE_INSTALL_DOCDIR}/examples
        COMPONENT Development)

install(EXPORT tesselsimTargets NAMESPACE tesselsim:: DESTINATION ${TS_CMAKE_DIR} COMPONENT Development)
configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/tesselsimConfig.cmake.in
                              ${PROJECT_BINARY_DIR}/tesselsimConfig.cmake INSTALL_DESTINATION ${TS_CMAKE_DIR}
                              PATH_VARS CMAKE_INSTALL_DATADIR)
# 0.x releases promise nothing across minor versions.
write_basic_package_version_file(${PROJECT_BINARY_DIR}/tesselsimConfigVersion.cmake
                                 COMPATIBILITY SameMinorVersion)
install(FILES ${PROJECT_BINARY_DIR}/tesselsimConfig.cmake ${PROJECT_BINARY_DIR}/tesselsimConfigVersion.cmake
        DESTINATION ${TS_CMAKE_DIR} COMPONENT Development)

# pkg-config files find their prefix from where they are installed.
file(RELATIVE_PATH TS_PC_TO_PREFIX /prefix/${TS_PKGCONFIG_DIR} /prefix)
string(REGEX REPLACE "/$" "" TS_PC_TO_PREFIX "${TS_PC_TO_PREFIX}")
foreach(pc tesselsim tesselsim-hostkit)
  configure_file(${PROJECT_SOURCE_DIR}/cmake/${pc}.pc.in ${PROJECT_BINARY_DIR}/${pc}.pc @ONLY)
  install(FILES ${PROJECT_BINARY_DIR}/${pc}.pc DESTINATION ${TS_PKGCONFIG_DIR} COMPONENT Development)
endforeach()
