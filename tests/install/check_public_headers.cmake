# Compiles a file that includes both umbrella headers and lists every header it reads: each must
# be one of the project's or the C++ standard library's (with the C library beneath it), so that
# a host needs no other library's development files.
# Inputs: COMPILER, SOURCE_DIR, WORK_DIR.
set(probe "${WORK_DIR}/public_headers_probe.cpp")
file(WRITE "${probe}" "#include \"vorn.h\"\n#include \"pgm_host.h\"\nint main() { return 0; }\n")
execute_process(
    COMMAND "${COMPILER}" -std=c++17 -M
            "-I${SOURCE_DIR}/pgm/vorn/h" "-I${SOURCE_DIR}/pgm/h" "-I${SOURCE_DIR}/h" "${probe}"
    OUTPUT_VARIABLE deps ERROR_VARIABLE errors RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
    message(FATAL_ERROR "the public headers do not compile on their own:\n${errors}")
endif()
string(REGEX REPLACE "\\\\\n" " " deps "${deps}")
string(REGEX REPLACE "^[^:]*:" "" deps "${deps}")
separate_arguments(deps UNIX_COMMAND "${deps}")
set(foreign "")
foreach(dep ${deps})
    get_filename_component(dep "${dep}" REALPATH)
    if(dep STREQUAL "${probe}" OR dep MATCHES "^${SOURCE_DIR}/(pgm/vorn/h|pgm/h|h)/")
        continue()
    endif()
    # libstdc++ and the C library it stands on; nothing in a folder of another library.
    if(dep MATCHES "/c\\+\\+/" OR dep MATCHES "^/usr/include/[^/]+\\.h$"
       OR dep MATCHES "^/usr/include/[a-z0-9_]+-linux-gnu/(bits|sys|gnu|asm)/"
       OR dep MATCHES "^/usr/include/(linux|asm-generic)/" OR dep MATCHES "^/usr/lib/gcc/")
        continue()
    endif()
    list(APPEND foreign "${dep}")
endforeach()
if(foreign)
    list(JOIN foreign "\n  " foreign)
    message(FATAL_ERROR "the public headers read headers of other libraries:\n  ${foreign}")
endif()
