# Runs the generator from SOURCE into OUTPUT and compares what it writes with SOURCE's copies.
file(REMOVE_RECURSE "${OUTPUT}")
execute_process(COMMAND "${GENERATOR}" "${SOURCE}" "${OUTPUT}" RESULT_VARIABLE status)
if(NOT status EQUAL 0)
    message(FATAL_ERROR "generator failed: ${status}")
endif()
foreach(relative pgm/vorn/vorn_flash_parts.cpp data/facts/shared_ids.md)
    execute_process(COMMAND ${CMAKE_COMMAND} -E compare_files "${OUTPUT}/${relative}" "${SOURCE}/${relative}"
                    RESULT_VARIABLE differs OUTPUT_QUIET ERROR_QUIET)
    if(NOT differs EQUAL 0)
        message(FATAL_ERROR "${relative} differs from what data/facts generate "
                            "(build the partgen_update target)")
    endif()
endforeach()
