# Runs the generator from SOURCE into OUTPUT and compares the FILES it writes (relative paths
# separated by commas, by default the part table's) with SOURCE's copies.
if(NOT DEFINED FILES)
    set(FILES pgm/vorn/check/vorn_flash_parts.cpp,data/facts/shared_ids.md)
endif()
string(REPLACE "," ";" FILES "${FILES}")
if(NOT DEFINED TARGET)
    set(TARGET partgen_update)
endif()
file(REMOVE_RECURSE "${OUTPUT}")
execute_process(COMMAND "${GENERATOR}" "${SOURCE}" "${OUTPUT}" RESULT_VARIABLE status)
if(NOT status EQUAL 0)
    message(FATAL_ERROR "generator failed: ${status}")
endif()
foreach(relative ${FILES})
    execute_process(COMMAND ${CMAKE_COMMAND} -E compare_files "${OUTPUT}/${relative}" "${SOURCE}/${relative}"
                    RESULT_VARIABLE differs OUTPUT_QUIET ERROR_QUIET)
    if(NOT differs EQUAL 0)
        message(FATAL_ERROR "${relative} differs from what data/facts generate "
                            "(build the ${TARGET} target)")
    endif()
endforeach()
