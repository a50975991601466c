# The shared libraries export their API and nothing else: no internal helper, no test seam, no
# standard-library template code. Inputs: LIBRARIES (the two .so files).
set(exported "")
foreach(lib ${LIBRARIES})
    execute_process(COMMAND nm -D --defined-only -C "${lib}" OUTPUT_VARIABLE out RESULT_VARIABLE rc)
    if(NOT rc EQUAL 0)
        message(FATAL_ERROR "nm failed on ${lib}")
    endif()
    string(APPEND exported "${out}")
endforeach()

foreach(wanted "VORN_MGR::update_db" "VORN_QSPI_MGR::VORN_QSPI_MGR" "typeinfo for VORN_QSPI_MGR"
               "PGM_COMMON_XML::parse_xml" "vtable for PGM_COMMON_XML_ELEMENT" "cfg_is_on"
               "msg_set_sink" "MSG_INTERNAL_ERROR::report" "vorn_version")
    string(FIND "${exported}" "${wanted}" at)
    if(at EQUAL -1)
        message(FATAL_ERROR "the API lacks ${wanted}")
    endif()
endforeach()

string(REGEX MATCHALL "\n[0-9a-f]+ [A-Za-z] [^\n]+" lines "\n${exported}")
foreach(line ${lines})
    string(REGEX REPLACE "^\n[0-9a-f]+ [A-Za-z] " "" symbol "${line}")
    if(NOT symbol MATCHES "^((vtable|typeinfo|typeinfo name|guard variable) for |(non-)?virtual thunk to )?(VORN_|PGM|MSG_|FIO_|MEM_INITIALIZER|cfg_|gen_|stl_toupper|msg_|vorn_)")
        message(FATAL_ERROR "exported but not API: ${symbol}")
    endif()
    if(symbol MATCHES "vorn_scan_byte_list|vorn_read_db_file|vorn_load_user_files|HOST_|pgm_common_xml_detail")
        message(FATAL_ERROR "an internal name is exported: ${symbol}")
    endif()
endforeach()
list(LENGTH lines count)
message(STATUS "${count} exported symbols, all of the API")
