# widl_generate(<idl> HEADER <h> [IID <c>] [TLB <tlb>]): runs widl once per
# output (it ignores -o when several outputs are asked for together).
set(WIDL ${MINGW_WIDL})
set(WIDL_INCLUDE ${CMAKE_SOURCE_DIR}/interfaces)

function(widl_generate idl)
    cmake_parse_arguments(ARG "" "HEADER;IID;TLB" "" ${ARGN})
    get_filename_component(idl_abs ${idl} ABSOLUTE)
    set(common ${WIDL_ARCH_FLAG} -I${WIDL_INCLUDE} -L${WINE_STDOLE_DIR})
    if(ARG_HEADER)
        add_custom_command(OUTPUT ${ARG_HEADER}
                           COMMAND ${WIDL} ${common} -h -o ${ARG_HEADER} ${idl_abs}
                           DEPENDS ${idl_abs} VERBATIM)
    endif()
    if(ARG_IID)
        add_custom_command(OUTPUT ${ARG_IID}
                           COMMAND ${WIDL} ${common} -u -o ${ARG_IID} ${idl_abs}
                           DEPENDS ${idl_abs} VERBATIM)
    endif()
    if(ARG_TLB)
        add_custom_command(OUTPUT ${ARG_TLB}
                           COMMAND ${WIDL} ${common} -t -o ${ARG_TLB} ${idl_abs}
                           DEPENDS ${idl_abs} VERBATIM)
    endif()
endfunction()
