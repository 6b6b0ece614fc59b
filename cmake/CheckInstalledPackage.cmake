# ctest script: install the build into a scratch prefix, move the prefix to
# another folder, build example/cpp against the moved prefix with
# find_package(lineharvest) and run its programs: the transfer example on
# the bundled example, and (with LINEMATCH_COMMAND) the matcher example on
# graf1 -> graf3, whose count of correspondences must be the command's.
#   cmake -DBUILD_DIR=... -DSOURCE_DIR=... -DWORK_DIR=...
#         [-DLINEMATCH_COMMAND=... -DLINEMATCH_DATA_DIR=...] -P CheckInstalledPackage.cmake
file(REMOVE_RECURSE ${WORK_DIR})
function(run)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "failed: ${ARGN}\n${out}\n${err}")
  endif()
  set(last_output "${out}" PARENT_SCOPE)
endfunction()

run(${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${WORK_DIR}/prefix)
# A relocatable package names no file by the place it was installed to, and
# its exported targets name no OpenCV library by path.
file(GLOB_RECURSE package_files ${WORK_DIR}/prefix/*.cmake)
foreach(file ${package_files})
  file(READ ${file} text)
  string(FIND "${text}" "${WORK_DIR}/prefix" at)
  if(NOT at EQUAL -1)
    message(FATAL_ERROR "${file} names the install prefix ${WORK_DIR}/prefix")
  endif()
  if(file MATCHES "Targets" AND text MATCHES "/libopencv_")
    message(FATAL_ERROR "${file} names an OpenCV library by path")
  endif()
endforeach()
file(RENAME ${WORK_DIR}/prefix ${WORK_DIR}/moved)

run(${CMAKE_COMMAND} -S ${SOURCE_DIR}/example/cpp -B ${WORK_DIR}/build -DCMAKE_PREFIX_PATH=${WORK_DIR}/moved)
run(${CMAKE_COMMAND} --build ${WORK_DIR}/build)
run(${WORK_DIR}/build/transfer_example ${SOURCE_DIR}/example/graf ${WORK_DIR}/added.txt)
message(STATUS "${last_output}")
if(NOT last_output MATCHES "^[1-9][0-9]* correspondences added")
  message(FATAL_ERROR "unexpected output: ${last_output}")
endif()

if(LINEMATCH_COMMAND)
  if(NOT EXISTS ${WORK_DIR}/build/match_example)
    message(FATAL_ERROR "the package from a build with the matcher gave no lineharvest::linematch")
  endif()
  set(image1 ${LINEMATCH_DATA_DIR}/graf1.png)
  set(image2 ${LINEMATCH_DATA_DIR}/graf3.png)
  run(${WORK_DIR}/build/match_example ${image1} ${image2})
  message(STATUS "${last_output}")
  if(NOT last_output MATCHES "^([1-9][0-9]*) segment correspondences")
    message(FATAL_ERROR "unexpected output: ${last_output}")
  endif()
  set(found ${CMAKE_MATCH_1})
  run(${LINEMATCH_COMMAND} ${image1} ${image2} ${WORK_DIR}/command --no-picture --quiet)
  file(STRINGS ${WORK_DIR}/command/matches.txt lines)
  list(LENGTH lines expected)
  if(NOT found EQUAL expected)
    message(FATAL_ERROR "match_example found ${found} correspondences, the linematch command ${expected}")
  endif()
endif()
