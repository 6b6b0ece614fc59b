# install() rules and the exported CMake package: after
#   cmake --install build --prefix /opt/lineharvest
# another project uses
#   find_package(lineharvest REQUIRED)
#   target_link_libraries(app PRIVATE lineharvest::core coordsift::core lineharvest::linematch)
# The prefix may be moved or copied elsewhere afterwards: the exported
# targets name their files relative to it, and OpenCV (for the matcher) is
# found again on the consumer's machine by lineharvestConfig.cmake.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(LH_PACKAGE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/lineharvest)

install(DIRECTORY include/ DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(TARGETS lineharvest_core coordsift_core
        EXPORT lineharvestTargets
        ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
        INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(EXPORT lineharvestTargets NAMESPACE lineharvest_internal:: DESTINATION ${LH_PACKAGE_DIR})

# The line matcher, where it is built: its own export set, which the package
# loads only when the consumer's machine has the OpenCV modules it links.
set(LH_PACKAGE_HAS_MATCHER OFF)
if(TARGET linematch)
  set(LH_PACKAGE_HAS_MATCHER ON)
  install(DIRECTORY matcher/include/ DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
  install(TARGETS linematch
          EXPORT lineharvestMatcherTargets
          ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
          INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
  install(EXPORT lineharvestMatcherTargets NAMESPACE lineharvest_internal:: DESTINATION ${LH_PACKAGE_DIR})
  install(FILES cmake/LineharvestOpenCV.cmake DESTINATION ${LH_PACKAGE_DIR})
endif()

configure_package_config_file(cmake/lineharvestConfig.cmake.in
  ${CMAKE_CURRENT_BINARY_DIR}/lineharvestConfig.cmake
  INSTALL_DESTINATION ${LH_PACKAGE_DIR})
write_basic_package_version_file(${CMAKE_CURRENT_BINARY_DIR}/lineharvestConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/lineharvestConfig.cmake
              ${CMAKE_CURRENT_BINARY_DIR}/lineharvestConfigVersion.cmake
        DESTINATION ${LH_PACKAGE_DIR})

if(LH_BUILD_MEX)
  install(DIRECTORY ${MEX_OUTPUT_DIR}/ DESTINATION ${CMAKE_INSTALL_LIBDIR}/lineharvest/mex)
endif()
