# The host's manifests as the shipped build writes them
# (cmake/extension_ids.cmake): Chromium's allows our key's ID, then each
# store's ID given, each once; Firefox's our Firefox ID alone; a store ID that
# is not one stops the configuration.
#
# usage: cmake -DSCRATCH=<directory> -P host_manifests_test.cmake
cmake_minimum_required(VERSION 3.24)
include(${CMAKE_CURRENT_LIST_DIR}/../../cmake/extension_ids.cmake)

if(DEFINED ONE_CASE)
    # A child run, for a configuration that must stop.
    webcorvane_host_manifests(${SCRATCH}/bad)
    return()
endif()

set(chrome abcdefghijklmnopabcdefghijklmnop)
set(edge ponmlkjihgfedcbaponmlkjihgfedcba)
webcorvane_extension_ids()
set(ours ${CHROMIUM_EXTENSION_ID})
set(failures 0)

# case name; the stores' IDs; the IDs Chromium's manifest must allow, in order
foreach(case "none||;${ours}" "Chrome's||${chrome};${ours};${chrome}"
             "Edge's|${edge}|;${ours};${edge}" "both|${edge}|${chrome};${ours};${chrome};${edge}"
             "the same as ours||${ours};${ours}")
    string(REPLACE "|" ";" parts "${case}")
    list(GET parts 0 name)
    list(GET parts 1 WEBCORVANE_EDGE_STORE_ID)
    list(GET parts 2 WEBCORVANE_CHROME_STORE_ID)
    list(SUBLIST parts 3 -1 expected)
    set(directory ${SCRATCH}/${name})
    file(REMOVE_RECURSE ${directory})
    webcorvane_host_manifests(${directory})
    file(READ ${directory}/${NATIVE_HOST_NAME}.json chromium)
    string(JSON count LENGTH "${chromium}" allowed_origins)
    set(allowed "")
    if(count GREATER 0)
        math(EXPR last "${count} - 1")
        foreach(i RANGE ${last})
            string(JSON origin GET "${chromium}" allowed_origins ${i})
            list(APPEND allowed ${origin})
        endforeach()
    endif()
    set(wanted "")
    foreach(id ${expected})
        list(APPEND wanted "chrome-extension://${id}/")
    endforeach()
    if(NOT allowed STREQUAL wanted)
        message(SEND_ERROR "${name}: Chromium's manifest allows \"${allowed}\", not \"${wanted}\"")
        math(EXPR failures "${failures} + 1")
    endif()
    file(READ ${directory}/${NATIVE_HOST_NAME}.firefox.json firefox)
    string(JSON gecko GET "${firefox}" allowed_extensions 0)
    string(JSON geckoCount LENGTH "${firefox}" allowed_extensions)
    if(NOT gecko STREQUAL FIREFOX_EXTENSION_ID OR NOT geckoCount EQUAL 1)
        message(SEND_ERROR "${name}: Firefox's manifest allows ${geckoCount}, first \"${gecko}\"")
        math(EXPR failures "${failures} + 1")
    endif()
endforeach()

foreach(bad "ABCDEFGHIJKLMNOPABCDEFGHIJKLMNOP" "abcdefghijklmnopabcdefghijklmno" "qbcdefghijklmnopabcdefghijklmnop")
    execute_process(COMMAND ${CMAKE_COMMAND} -DONE_CASE=1 -DSCRATCH=${SCRATCH}
                            -DWEBCORVANE_CHROME_STORE_ID=${bad} -P ${CMAKE_CURRENT_LIST_FILE}
                    RESULT_VARIABLE status OUTPUT_QUIET ERROR_QUIET)
    if(status EQUAL 0)
        message(SEND_ERROR "the store ID \"${bad}\" was taken")
        math(EXPR failures "${failures} + 1")
    endif()
endforeach()
file(REMOVE_RECURSE ${SCRATCH})
if(failures GREATER 0)
    message(FATAL_ERROR "${failures} failure(s)")
endif()
message(STATUS "host manifests: each store ID given is allowed once, beside ours; none taken that is no ID")
