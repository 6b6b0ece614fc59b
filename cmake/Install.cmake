# install() rules and the exported CMake package: after
#   cmake --install build --prefix /opt/lineharvest
# another project uses
#   find_package(lineharvest REQUIRED)
#   target_link_libraries(app PRIVATE lineharvest::core coordsift::core)
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

install(DIRECTORY include/ DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(TARGETS lineharvest_core coordsift_core
        EXPORT lineharvestTargets
        ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
        INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(EXPORT lineharvestTargets NAMESPACE lineharvest_internal::
        DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/lineharvest)

configure_package_config_file(cmake/lineharvestConfig.cmake.in
  ${CMAKE_CURRENT_BINARY_DIR}/lineharvestConfig.cmake
  INSTALL_DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/lineharvest)
write_basic_package_version_file(${CMAKE_CURRENT_BINARY_DIR}/lineharvestConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/lineharvestConfig.cmake
              ${CMAKE_CURRENT_BINARY_DIR}/lineharvestConfigVersion.cmake
        DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/lineharvest)

if(LH_BUILD_MEX)
  install(DIRECTORY ${MEX_OUTPUT_DIR}/ DESTINATION ${CMAKE_INSTALL_LIBDIR}/lineharvest/mex)
endif()
