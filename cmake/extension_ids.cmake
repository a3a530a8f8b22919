# The IDs our extension has, from the one place each is set, and the host's
# manifests that allow them:
#   common/identifiers.h    the host's name, the ID our manifest's "key" gives
#                           (loaded unpacked) and the Firefox ID
#   WEBCORVANE_CHROME_STORE_ID, WEBCORVANE_EDGE_STORE_ID
#                           the IDs the Chrome Web Store and Edge Add-ons gave
#                           the published item (each store its own), empty
#                           until a release names them (scripts/release.sh
#                           passes them on from its environment)
# A browser reads only the first manifest it finds, so Chromium's manifest
# allows every one of them: an item installed from either store finds the
# host and is let in.

# Sets NATIVE_HOST_NAME, CHROMIUM_EXTENSION_ID, FIREFOX_EXTENSION_ID, the
# store IDs as given, CHROMIUM_EXTENSION_IDS (ours, then each store's given,
# each once) and CHROMIUM_ALLOWED_ORIGINS (those as a JSON array's items) in
# the caller's scope. Anything that is not an ID stops the configuration.
function(webcorvane_extension_ids)
    set(identifiers ${CMAKE_CURRENT_FUNCTION_LIST_DIR}/../common/identifiers.h)
    foreach(pair kNativeHostName:NATIVE_HOST_NAME kChromiumExtensionId:CHROMIUM_EXTENSION_ID
                 kFirefoxExtensionId:FIREFOX_EXTENSION_ID)
        string(REPLACE ":" ";" pair ${pair})
        list(GET pair 0 constant)
        list(GET pair 1 variable)
        file(STRINGS ${identifiers} line REGEX "${constant}\\[\\] = ")
        string(REGEX REPLACE ".*= \"([^\"]+)\".*" "\\1" value "${line}")
        set(${variable} "${value}")
    endforeach()
    string(LENGTH "${CHROMIUM_EXTENSION_ID}" length)
    if(NOT NATIVE_HOST_NAME MATCHES "^[a-z0-9_.]+$" OR NOT CHROMIUM_EXTENSION_ID MATCHES "^[a-p]+$"
       OR NOT length EQUAL 32 OR NOT FIREFOX_EXTENSION_ID MATCHES "^[a-z0-9.-]+@[a-z0-9.-]+$")
        message(FATAL_ERROR "common/identifiers.h: the host's name or an extension's ID not found")
    endif()
    set(ids ${CHROMIUM_EXTENSION_ID})
    foreach(store WEBCORVANE_CHROME_STORE_ID WEBCORVANE_EDGE_STORE_ID)
        if(NOT "${${store}}" STREQUAL "")
            string(LENGTH "${${store}}" length)
            if(NOT "${${store}}" MATCHES "^[a-p]+$" OR NOT length EQUAL 32)
                message(FATAL_ERROR "${store} \"${${store}}\" is no extension ID (32 letters a to p)")
            endif()
            list(APPEND ids ${${store}})
        endif()
    endforeach()
    list(REMOVE_DUPLICATES ids)
    set(origins "")
    foreach(id ${ids})
        if(origins)
            string(APPEND origins ", ")
        endif()
        string(APPEND origins "\"chrome-extension://${id}/\"")
    endforeach()
    foreach(variable NATIVE_HOST_NAME CHROMIUM_EXTENSION_ID FIREFOX_EXTENSION_ID)
        set(${variable} "${${variable}}" PARENT_SCOPE)
    endforeach()
    set(CHROMIUM_EXTENSION_IDS "${ids}" PARENT_SCOPE)
    set(CHROMIUM_ALLOWED_ORIGINS "${origins}" PARENT_SCOPE)
endfunction()

# Writes Chromium's and Firefox's host manifests into `directory`, named for
# the host.
function(webcorvane_host_manifests directory)
    webcorvane_extension_ids()
    set(templates ${CMAKE_CURRENT_FUNCTION_LIST_DIR}/../native_host)
    configure_file(${templates}/host_manifest.json.in ${directory}/${NATIVE_HOST_NAME}.json @ONLY)
    configure_file(${templates}/host_manifest_firefox.json.in
                   ${directory}/${NATIVE_HOST_NAME}.firefox.json @ONLY)
endfunction()
