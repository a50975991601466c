# Runs the generator into OUTPUT and compares every file it writes with the one in SOURCE.
file(REMOVE_RECURSE "${OUTPUT}")
execute_process(COMMAND "${GENERATOR}" "${OUTPUT}" RESULT_VARIABLE status)
if(NOT status EQUAL 0)
    message(FATAL_ERROR "generator failed: ${status}")
endif()

file(GLOB_RECURSE generated RELATIVE "${OUTPUT}" "${OUTPUT}/*")
list(LENGTH generated count)
if(count EQUAL 0)
    message(FATAL_ERROR "generator wrote nothing")
endif()

set(stale "")
foreach(relative ${generated})
    execute_process(COMMAND ${CMAKE_COMMAND} -E compare_files
                            "${OUTPUT}/${relative}" "${SOURCE}/${relative}"
                    RESULT_VARIABLE differs OUTPUT_QUIET ERROR_QUIET)
    if(NOT differs EQUAL 0)
        list(APPEND stale "${relative}")
    endif()
endforeach()

if(stale)
    string(REPLACE ";" "\n  " stale "${stale}")
    message(FATAL_ERROR "committed files differ from the generator's output "
                        "(run the xmlgen_update target):\n  ${stale}")
endif()
message(STATUS "${count} generated files match")
