# OpenCV as imported targets, found by its headers and libraries: Debian's
# libopencv-*-dev packages ship no CMake package file. The build and the
# installed package (lineharvestConfig.cmake) both use this file, so the
# exported targets name lineharvest_opencv::<name> and never a path: the
# consumer's machine supplies the paths when it finds the package.
#
#   lineharvest_find_opencv(<name> <module>...)
# defines the INTERFACE IMPORTED target lineharvest_opencv::<name> with the
# include folder and the libraries opencv_<module>, and sets
# lineharvest_opencv_<name>_FOUND in the caller's scope. A module is found
# when its header opencv2/<module>.hpp and its library are. OPENCV_INCLUDE_DIR
# and OPENCV_LIBRARY_DIR, as cache or environment variables, name other places;
# with CMAKE_DISABLE_FIND_PACKAGE_OpenCV nothing is found.
function(lineharvest_find_opencv name)
  set(target lineharvest_opencv::${name})
  if(TARGET ${target})
    set(lineharvest_opencv_${name}_FOUND TRUE PARENT_SCOPE)
    return()
  endif()
  # The standard switch that makes a build act as if a package were not
  # installed: how a machine without OpenCV is tried on one with it.
  if(CMAKE_DISABLE_FIND_PACKAGE_OpenCV)
    set(lineharvest_opencv_${name}_FOUND FALSE PARENT_SCOPE)
    set(lineharvest_opencv_${name}_MISSING ${ARGN} PARENT_SCOPE)
    return()
  endif()
  find_path(OPENCV_INCLUDE_DIR opencv2/core.hpp HINTS ENV OPENCV_INCLUDE_DIR PATH_SUFFIXES opencv4)
  set(libraries)
  set(missing)
  foreach(module ${ARGN})
    find_library(OPENCV_${module}_LIBRARY opencv_${module}
                 HINTS ${OPENCV_LIBRARY_DIR} ENV OPENCV_LIBRARY_DIR)
    if(NOT OPENCV_INCLUDE_DIR OR NOT EXISTS ${OPENCV_INCLUDE_DIR}/opencv2/${module}.hpp
       OR NOT OPENCV_${module}_LIBRARY)
      list(APPEND missing ${module})
    else()
      list(APPEND libraries ${OPENCV_${module}_LIBRARY})
    endif()
  endforeach()
  if(missing)
    set(lineharvest_opencv_${name}_FOUND FALSE PARENT_SCOPE)
    set(lineharvest_opencv_${name}_MISSING ${missing} PARENT_SCOPE)
    return()
  endif()
  add_library(${target} INTERFACE IMPORTED)
  set_target_properties(${target} PROPERTIES
    INTERFACE_INCLUDE_DIRECTORIES ${OPENCV_INCLUDE_DIR}
    INTERFACE_LINK_LIBRARIES "${libraries}")
  set(lineharvest_opencv_${name}_FOUND TRUE PARENT_SCOPE)
endfunction()

# The modules of the two-image line matcher.
set(LINEHARVEST_MATCHER_OPENCV_MODULES line_descriptor calib3d features2d flann imgcodecs imgproc core)
