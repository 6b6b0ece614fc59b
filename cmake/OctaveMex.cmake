# Builds a MEX module for GNU Octave from plain CMake targets, with the
# include flags that mkoctfile reports. The module resolves the mx*/mex*
# symbols from the host process when Octave loads it.
if(LH_BUILD_MEX)
  find_program(MKOCTFILE mkoctfile REQUIRED)
  find_program(OCTAVE_EXECUTABLE octave-cli octave REQUIRED)
  execute_process(COMMAND ${MKOCTFILE} -p OCTINCLUDEDIR
                  OUTPUT_VARIABLE OCTAVE_INCLUDE_DIR OUTPUT_STRIP_TRAILING_WHITESPACE)
  message(STATUS "Octave headers: ${OCTAVE_INCLUDE_DIR}")
endif()

# add_octave_mex(NAME [NO_OPENCV] SOURCES... LIBRARIES ... HELP file.m)
# NO_OPENCV: the exports test also checks that the module needs no OpenCV
# library.
function(add_octave_mex name)
  cmake_parse_arguments(ARG "NO_OPENCV" "HELP" "SOURCES;LIBRARIES" ${ARGN})
  if(NOT LH_BUILD_MEX)
    return()
  endif()
  add_library(${name}_mex MODULE ${ARG_SOURCES})
  target_include_directories(${name}_mex SYSTEM PRIVATE ${OCTAVE_INCLUDE_DIR})
  target_compile_definitions(${name}_mex PRIVATE MATLAB_MEX_FILE)
  target_compile_options(${name}_mex PRIVATE -include ${CMAKE_CURRENT_FUNCTION_LIST_DIR}/mex_entry_export.h)
  target_link_libraries(${name}_mex PRIVATE ${ARG_LIBRARIES})
  target_link_options(${name}_mex PRIVATE -Wl,--version-script=${CMAKE_CURRENT_FUNCTION_LIST_DIR}/mex_exports.map)
  set_property(TARGET ${name}_mex APPEND PROPERTY LINK_DEPENDS ${CMAKE_CURRENT_FUNCTION_LIST_DIR}/mex_exports.map)
  set_target_properties(${name}_mex PROPERTIES
    PREFIX "" OUTPUT_NAME ${name} SUFFIX ".mex"
    LIBRARY_OUTPUT_DIRECTORY ${MEX_OUTPUT_DIR})
  if(ARG_HELP)
    configure_file(${ARG_HELP} ${MEX_OUTPUT_DIR}/${name}.m COPYONLY)
  endif()
  if(LH_BUILD_TESTS)
    add_test(NAME exports.${name} COMMAND ${CMAKE_COMMAND} -DNM=${CMAKE_NM} -DMEX=$<TARGET_FILE:${name}_mex>
             -DNO_OPENCV=${ARG_NO_OPENCV} -DREADELF=${CMAKE_READELF}
             -P ${CMAKE_CURRENT_FUNCTION_LIST_DIR}/CheckMexExports.cmake)
  endif()
endfunction()
