# Every quoted include of a layered source must name a header of its own layer or of a layer
# beneath it: the library reaches the host only through the interfaces, so that it can be
# dropped into another host, and no layer knows the ones built on it.
# Input: SOURCE_DIR.
cmake_minimum_required(VERSION 3.20)

# A layer, then the layers beneath it that its sources may include. A header belongs to the
# layer of the longest folder that holds it; a folder that is no layer (tests/, bench/, fuzz/)
# is a layer of its own that no row allows.
set(LAYERS
    "pgm/h:"
    "h:pgm/h"
    "host:h,pgm/h"
    "pgm/vorn/h:pgm/h"
    "pgm/vorn:pgm/vorn/h,h,pgm/h"
    "tools/xmlgen:pgm/vorn/h"
    "tools/partgen:pgm/vorn/h,pgm/h"
    "tools/vorn:pgm/vorn/h,pgm/h")

set(layer_names "")
foreach(row ${LAYERS})
    string(REPLACE ":" ";" parts "${row}")
    list(GET parts 0 layer)
    list(APPEND layer_names "${layer}")
    set(beneath "")
    list(LENGTH parts count)
    if(count GREATER 1)
        list(GET parts 1 beneath)
        string(REPLACE "," ";" beneath "${beneath}")
    endif()
    set("beneath_of_${layer}" ${beneath})
endforeach()

function(layer_of path out)
    set(best "")
    set(best_length 0)
    foreach(layer ${layer_names})
        string(LENGTH "${layer}" length)
        if(path MATCHES "^${layer}/" AND length GREATER best_length)
            set(best "${layer}")
            set(best_length ${length})
        endif()
    endforeach()
    if(best STREQUAL "")
        string(REGEX REPLACE "/.*" "" best "${path}")
    endif()
    set(${out} "${best}" PARENT_SCOPE)
endfunction()

# Header names are unique in the tree, so a quoted include is known by its file name.
file(GLOB_RECURSE headers RELATIVE "${SOURCE_DIR}" "${SOURCE_DIR}/pgm/*.h" "${SOURCE_DIR}/h/*.h"
     "${SOURCE_DIR}/host/*.h" "${SOURCE_DIR}/tools/*.h" "${SOURCE_DIR}/tests/*.h"
     "${SOURCE_DIR}/bench/*.h" "${SOURCE_DIR}/fuzz/*.h")
foreach(header ${headers})
    get_filename_component(name "${header}" NAME)
    layer_of("${header}" layer)
    set("layer_of_header_${name}" "${layer}")
endforeach()

set(violations "")
foreach(layer ${layer_names})
    file(GLOB_RECURSE sources RELATIVE "${SOURCE_DIR}" "${SOURCE_DIR}/${layer}/*.h"
         "${SOURCE_DIR}/${layer}/*.cpp")
    set(own 0)
    foreach(source ${sources})
        layer_of("${source}" source_layer)
        if(NOT source_layer STREQUAL layer)
            continue()  # a deeper layer's, checked under its own row
        endif()
        math(EXPR own "${own} + 1")
        file(STRINGS "${SOURCE_DIR}/${source}" includes REGEX "^[ \t]*#[ \t]*include[ \t]*\"")
        foreach(line ${includes})
            string(REGEX REPLACE ".*\"([^\"]*)\".*" "\\1" included "${line}")
            get_filename_component(name "${included}" NAME)
            set(target "${layer_of_header_${name}}")
            if(target STREQUAL "" OR target STREQUAL layer OR target IN_LIST "beneath_of_${layer}")
                continue()
            endif()
            list(APPEND violations "${source} includes ${included}, of ${target}/")
        endforeach()
    endforeach()
    if(own EQUAL 0)
        message(FATAL_ERROR "no source found in the layer ${layer}/ under ${SOURCE_DIR}")
    endif()
endforeach()

if(violations)
    list(JOIN violations "\n  " violations)
    message(FATAL_ERROR "includes that reach a layer above or beside their own:\n  ${violations}")
endif()
