# `cmake --install`: both libraries (with their SONAME links), the public headers, the zok program,
# a CMake package (zok::kernel, zok::core) and a pkg-config file. Nothing in the installed tree
# names the build or install directory: the program and the kernel library find the core library
# relative to themselves, the package files relative to their own place.
include(CMakePackageConfigHelpers)

set(ZOK_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/zok)
file(RELATIVE_PATH zok_bin_to_lib /${CMAKE_INSTALL_BINDIR} /${CMAKE_INSTALL_LIBDIR})
set_target_properties(zok_kernel PROPERTIES INSTALL_RPATH "$ORIGIN")
set_target_properties(zok PROPERTIES INSTALL_RPATH "$ORIGIN/${zok_bin_to_lib}")

install(TARGETS zok_core zok_kernel EXPORT zokTargets
        LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT runtime NAMELINK_COMPONENT dev
        INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(TARGETS zok RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT runtime)
install(DIRECTORY ${PROJECT_SOURCE_DIR}/include/zok DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}
        COMPONENT dev)

install(EXPORT zokTargets NAMESPACE zok:: DESTINATION ${ZOK_CMAKE_DIR} COMPONENT dev)
configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/zokConfig.cmake.in
                              ${PROJECT_BINARY_DIR}/zokConfig.cmake INSTALL_DESTINATION ${ZOK_CMAKE_DIR})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/zokConfigVersion.cmake
                                 COMPATIBILITY SameMinorVersion)
install(FILES ${PROJECT_BINARY_DIR}/zokConfig.cmake ${PROJECT_BINARY_DIR}/zokConfigVersion.cmake
        DESTINATION ${ZOK_CMAKE_DIR} COMPONENT dev)

# pkg-config: the prefix is found from the .pc file's own directory.
file(RELATIVE_PATH zok_pc_to_prefix /${CMAKE_INSTALL_LIBDIR}/pkgconfig /)
string(REGEX REPLACE "/$" "" zok_pc_to_prefix "${zok_pc_to_prefix}")
configure_file(${PROJECT_SOURCE_DIR}/cmake/zok.pc.in ${PROJECT_BINARY_DIR}/zok.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/zok.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig COMPONENT dev)
