# Installs the build tree into a prefix, moves the prefix elsewhere, and uses the moved copy as
# a packager's user would: the installed tool, a find_package(vorn) consumer, a pkg-config
# consumer and a program that links libvorn alone. Then takes the data away and expects a plain
# "no database" line from the tool.
# Inputs: BUILD_DIR, SOURCE_DIR (this directory), WORK_DIR, GENERATOR, SANITIZE (optional),
# PROJECT_SOURCE (the source tree, which the installed files must not name).
foreach(var BUILD_DIR SOURCE_DIR WORK_DIR GENERATOR PROJECT_SOURCE)
    if(NOT DEFINED ${var})
        message(FATAL_ERROR "${var} is not set")
    endif()
endforeach()

file(REMOVE_RECURSE "${WORK_DIR}")
file(MAKE_DIRECTORY "${WORK_DIR}/home" "${WORK_DIR}/moved" "${WORK_DIR}/custom")

function(run what expect_rc)
    execute_process(COMMAND ${ARGN}
        WORKING_DIRECTORY "${WORK_DIR}/home"
        RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
    if(NOT rc EQUAL expect_rc)
        message(FATAL_ERROR "${what}: status ${rc}, expected ${expect_rc}:\n${out}\n${err}")
    endif()
    set(last_output "${out}" PARENT_SCOPE)
    set(last_error "${err}" PARENT_SCOPE)
endfunction()
function(expect_match text regex what)
    if(NOT text MATCHES "${regex}")
        message(FATAL_ERROR "${what}: no match for ${regex} in:\n${text}")
    endif()
endfunction()

run("install" 0 ${CMAKE_COMMAND} --install "${BUILD_DIR}" --prefix "${WORK_DIR}/first")
file(RENAME "${WORK_DIR}/first" "${WORK_DIR}/moved/prefix")
set(prefix "${WORK_DIR}/moved/prefix")
file(GLOB pc_file "${prefix}/lib*/pkgconfig/vorn.pc" "${prefix}/lib/*/pkgconfig/vorn.pc")
file(GLOB lib_vorn "${prefix}/lib*/libvorn.so" "${prefix}/lib/*/libvorn.so")
if(NOT pc_file OR NOT lib_vorn)
    message(FATAL_ERROR "the install lacks vorn.pc or libvorn.so")
endif()
get_filename_component(libdir "${lib_vorn}" DIRECTORY)

# Nothing installed may lead back to the source or build tree for its data or its libraries
# (debug information naming the sources is harmless): the copy must stand alone.
file(GLOB_RECURSE installed LIST_DIRECTORIES false "${prefix}/*")
foreach(file ${installed})
    file(STRINGS "${file}" hits REGEX "${PROJECT_SOURCE}/data|${BUILD_DIR}/share")
    if(hits)
        message(FATAL_ERROR "${file} names the source tree's data: ${hits}")
    endif()
endforeach()
foreach(binary "${lib_vorn}" "${prefix}/bin/vorn")
    execute_process(COMMAND readelf -d "${binary}" OUTPUT_VARIABLE dynamic)
    if(dynamic MATCHES "R(UN)?PATH[^\n]*${BUILD_DIR}")
        message(FATAL_ERROR "${binary} looks for libraries in the build tree:\n${dynamic}")
    endif()
    if(NOT dynamic MATCHES "RUNPATH[^\n]*\\$ORIGIN")
        message(FATAL_ERROR "${binary} has no $ORIGIN-relative RUNPATH:\n${dynamic}")
    endif()
endforeach()

# Nothing of the user's own configuration, no variable pointing at any data.
set(env ${CMAKE_COMMAND} -E env --unset=VORN_PROGRAMMER_DIR
    "HOME=${WORK_DIR}/home" "XDG_CONFIG_HOME=${WORK_DIR}/xdg"
    "VORN_INI=${WORK_DIR}/vorn.ini" "VORN_USER_INI=${WORK_DIR}/user.ini")

run("vorn info" 0 ${env} "${prefix}/bin/vorn" --custom-dir "${WORK_DIR}/custom" info --json)
expect_match("${last_output}" "\"programmer_dir\": \"${prefix}/share/vorn/\"" "vorn info")
run("vorn list" 0 ${env} "${prefix}/bin/vorn" --custom-dir "${WORK_DIR}/custom" list --all)
expect_match("${last_output}" "MT25QL128 +0x20 0xBA 0x18" "vorn list")

set(sanitize_flags "")
if(SANITIZE)
    # An instrumented library needs an instrumented program.
    set(sanitize_flags -fsanitize=address,undefined)
endif()
string(REPLACE ";" " " sanitize_text "${sanitize_flags}")

run("configuring the find_package consumer" 0 ${CMAKE_COMMAND} -S "${SOURCE_DIR}"
    -B "${WORK_DIR}/build" -G "${GENERATOR}" "-DCMAKE_PREFIX_PATH=${prefix}" -DCMAKE_CXX_STANDARD=11
    "-DCMAKE_CXX_FLAGS=${sanitize_text} -pedantic-errors" "-DCMAKE_EXE_LINKER_FLAGS=${sanitize_text}")
run("building the find_package consumer" 0 ${CMAKE_COMMAND} --build "${WORK_DIR}/build")
run("running the find_package consumer" 0 ${env} "${WORK_DIR}/build/vorn_consumer" MT25QL128)
expect_match("${last_output}" "device MT25QL128 id 0x20 0xBA 0x18 density 128Mb bytes 16777216"
             "find_package consumer")
expect_match("${last_output}" "programmer ${prefix}/share/vorn/" "find_package consumer")

execute_process(COMMAND ${CMAKE_COMMAND} -E env "PKG_CONFIG_PATH=${libdir}/pkgconfig"
                        pkg-config --cflags --libs vorn
                OUTPUT_VARIABLE pc_flags RESULT_VARIABLE rc OUTPUT_STRIP_TRAILING_WHITESPACE)
if(NOT rc EQUAL 0)
    message(FATAL_ERROR "pkg-config does not know vorn")
endif()
separate_arguments(pc_flags UNIX_COMMAND "${pc_flags}")
# Its own standard first, as a build's flags usually come; vorn.pc's -std=c++17 follows.
run("building the pkg-config consumer" 0 c++ -std=c++11 -pedantic-errors ${sanitize_flags}
    "${SOURCE_DIR}/main.cpp" -o "${WORK_DIR}/pc_consumer" ${pc_flags})
run("running the pkg-config consumer" 0 ${env} "${WORK_DIR}/pc_consumer" MT25QL128)
expect_match("${last_output}" "programmer ${prefix}/share/vorn/" "pkg-config consumer")

# A program that names libvorn alone still starts: libvorn finds libvorn_host beside it.
run("building a program linked with libvorn alone" 0 c++ -std=c++17 ${sanitize_flags}
    "-I${prefix}/include/vorn" "${SOURCE_DIR}/version.cpp" -o "${WORK_DIR}/version_only" -L "${libdir}" -lvorn
    "-Wl,-rpath,${libdir}")
run("running the program linked with libvorn alone" 0 ${env} "${WORK_DIR}/version_only")
expect_match("${last_output}" "^[0-9]+\\.[0-9]+\\.[0-9]+" "libvorn alone")

# Without its data the tool says where it looked, in one line, and is no internal error.
file(REMOVE_RECURSE "${prefix}/share/vorn")
run("vorn list without data" 3 ${env} "${prefix}/bin/vorn" --custom-dir "${WORK_DIR}/custom" list)
expect_match("${last_error}" "^vorn: no flash database in ${prefix}/share/vorn/ [^\n]*VORN_PROGRAMMER_DIR\n$"
             "vorn without data")
if(last_error MATCHES "Internal Error")
    message(FATAL_ERROR "vorn without data reports an internal error:\n${last_error}")
endif()
message(STATUS "install moved, tool, find_package, pkg-config and libvorn-alone consumers: ok")
