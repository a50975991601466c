# Libraries, headers, shipped data, CMake package and pkg-config file.
include(CMakePackageConfigHelpers)

install(TARGETS vorn_host vorn EXPORT vornTargets
    LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
    ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
    RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
    INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/vorn)

file(GLOB _vorn_public_headers CONFIGURE_DEPENDS
    ${PROJECT_SOURCE_DIR}/pgm/h/*.h
    ${PROJECT_SOURCE_DIR}/pgm/vorn/h/*.h
    ${PROJECT_SOURCE_DIR}/h/*.h)
install(FILES ${_vorn_public_headers} DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/vorn)

install(DIRECTORY ${PROJECT_SOURCE_DIR}/data/xml ${PROJECT_SOURCE_DIR}/data/xsd
                  ${PROJECT_SOURCE_DIR}/data/dev
        DESTINATION ${CMAKE_INSTALL_DATADIR}/vorn)

install(EXPORT vornTargets NAMESPACE vorn:: DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/vorn)
configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/vornConfig.cmake.in
    ${PROJECT_BINARY_DIR}/vornConfig.cmake
    INSTALL_DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/vorn)
write_basic_package_version_file(${PROJECT_BINARY_DIR}/vornConfigVersion.cmake
    VERSION ${PROJECT_VERSION} COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/vornConfig.cmake ${PROJECT_BINARY_DIR}/vornConfigVersion.cmake
        DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/vorn)

file(RELATIVE_PATH VORN_PREFIX_FROM_PC "${CMAKE_INSTALL_FULL_LIBDIR}/pkgconfig" "${CMAKE_INSTALL_PREFIX}")
string(REGEX REPLACE "/$" "" VORN_PREFIX_FROM_PC "${VORN_PREFIX_FROM_PC}")
if(VORN_PREFIX_FROM_PC STREQUAL "")
    set(VORN_PREFIX_FROM_PC ".")
endif()
configure_file(${PROJECT_SOURCE_DIR}/cmake/vorn.pc.in ${PROJECT_BINARY_DIR}/vorn.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/vorn.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
