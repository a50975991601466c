# Installs the build tree into a fresh prefix, builds the consumer against it with
# find_package(vorn), and runs the consumer and the installed tool on the installed data.
# Inputs: BUILD_DIR, SOURCE_DIR (this directory), WORK_DIR, GENERATOR, SANITIZE (optional).
foreach(var BUILD_DIR SOURCE_DIR WORK_DIR GENERATOR)
    if(NOT DEFINED ${var})
        message(FATAL_ERROR "${var} is not set")
    endif()
endforeach()

set(prefix "${WORK_DIR}/prefix")
file(REMOVE_RECURSE "${WORK_DIR}")
file(MAKE_DIRECTORY "${WORK_DIR}/home" "${WORK_DIR}/custom")

function(run_checked what)
    execute_process(COMMAND ${ARGN}
        WORKING_DIRECTORY "${WORK_DIR}/home"
        RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
    if(NOT rc EQUAL 0)
        message(FATAL_ERROR "${what} failed (${rc}):\n${out}\n${err}")
    endif()
    set(last_output "${out}" PARENT_SCOPE)
endfunction()

run_checked("install" ${CMAKE_COMMAND} --install "${BUILD_DIR}" --prefix "${prefix}")
foreach(path share/vorn/xml/pgm_flash_db_qspi.xml share/vorn/xsd/vorn_qspi.xsd
             share/vorn/dev/families.ini include/vorn/vorn.h include/vorn/pgm_host.h bin/vorn)
    if(NOT EXISTS "${prefix}/${path}")
        message(FATAL_ERROR "the install lacks ${path}")
    endif()
endforeach()
file(GLOB pc_files "${prefix}/lib*/pkgconfig/vorn.pc" "${prefix}/lib/*/pkgconfig/vorn.pc")
if(NOT pc_files)
    message(FATAL_ERROR "the install lacks vorn.pc")
endif()

set(consumer_flags "")
if(SANITIZE)
    # An instrumented library needs an instrumented program.
    set(consumer_flags "-DCMAKE_CXX_FLAGS=-fsanitize=address,undefined"
                       "-DCMAKE_EXE_LINKER_FLAGS=-fsanitize=address,undefined")
endif()
run_checked("configuring the consumer" ${CMAKE_COMMAND} -S "${SOURCE_DIR}" -B "${WORK_DIR}/build"
    -G "${GENERATOR}" "-DCMAKE_PREFIX_PATH=${prefix}" ${consumer_flags})
run_checked("building the consumer" ${CMAKE_COMMAND} --build "${WORK_DIR}/build")

# Nothing of the user's own configuration, and the installed data, not the source tree's.
set(env ${CMAKE_COMMAND} -E env
    "HOME=${WORK_DIR}/home" "XDG_CONFIG_HOME=${WORK_DIR}/xdg"
    "VORN_INI=${WORK_DIR}/vorn.ini" "VORN_USER_INI=${WORK_DIR}/user.ini"
    "VORN_PROGRAMMER_DIR=${prefix}/share/vorn/")
run_checked("running the consumer" ${env} "${WORK_DIR}/build/vorn_consumer" MT25QL128)
if(NOT last_output MATCHES "device MT25QL128 id 0x20 0xBA 0x18 density 128Mb bytes 16777216")
    message(FATAL_ERROR "unexpected consumer output:\n${last_output}")
endif()
if(NOT last_output MATCHES "programmer ${prefix}/share/vorn/")
    message(FATAL_ERROR "the consumer did not read the installed data:\n${last_output}")
endif()

run_checked("running the installed tool" ${env} "${prefix}/bin/vorn" --custom-dir
    "${WORK_DIR}/custom" show MT25QL128 --json)
if(NOT last_output MATCHES "\"id\": \"0x20 0xBA 0x18\"")
    message(FATAL_ERROR "unexpected output of the installed tool:\n${last_output}")
endif()
message(STATUS "install, find_package consumer and installed tool: ok")
