# ctest script: install the build into a scratch prefix, build the C++ API
# example against it with find_package(lineharvest), run it on the bundled
# example, and compare its output file with the MEX module's on the same inputs.
#   cmake -DBUILD_DIR=... -DSOURCE_DIR=... -DWORK_DIR=... -P CheckInstalledPackage.cmake
file(REMOVE_RECURSE ${WORK_DIR})
function(run)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "failed: ${ARGN}\n${out}\n${err}")
  endif()
  set(last_output "${out}" PARENT_SCOPE)
endfunction()
run(${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${WORK_DIR}/prefix)
run(${CMAKE_COMMAND} -S ${SOURCE_DIR}/example/cpp -B ${WORK_DIR}/build -DCMAKE_PREFIX_PATH=${WORK_DIR}/prefix)
run(${CMAKE_COMMAND} --build ${WORK_DIR}/build)
run(${WORK_DIR}/build/transfer_example ${SOURCE_DIR}/example/graf ${WORK_DIR}/added.txt)
message(STATUS "${last_output}")
if(NOT last_output MATCHES "^[1-9][0-9]* correspondences added")
  message(FATAL_ERROR "unexpected output: ${last_output}")
endif()
