# The Windows build: the DLL, the reference agent, the tools and the tests
# that run under Wine.
#
# What we ship (the DLL and the URL explainer) must load on Windows XP SP3
# (i686) and on Windows XP x64 / Server 2003 SP2 (x86_64). It is built by a
# sub-build of this tree, "shipped/", with the win32 thread model; the tests
# need the posix one and load the shipped binaries from there.
enable_language(RC)

# Line tables only: backtraces and addr2line keep file and line, and the
# compile takes about 40 % less than with full debug information, which the
# release strips anyway.
set(CMAKE_C_FLAGS_RELWITHDEBINFO "-O2 -g1 -DNDEBUG")
set(CMAKE_CXX_FLAGS_RELWITHDEBINFO "-O2 -g1 -DNDEBUG")

if(CMAKE_SYSTEM_PROCESSOR STREQUAL "i686")
    set(WINE_ARCH win32)
    set(WINE_STDOLE_DIR /usr/lib/i386-linux-gnu/wine/i386-windows)
    set(WIDL_ARCH_FLAG --win32)
    set(OLDEST_WINDOWS 0x0501)  # Windows XP
    set(OLDEST_SHELL 0x0603)    # XP SP3 carries at least Internet Explorer 6 SP2's shell
else()
    set(WINE_ARCH win64)
    set(WINE_STDOLE_DIR /usr/lib/x86_64-linux-gnu/wine/x86_64-windows)
    set(WIDL_ARCH_FLAG --win64)
    set(OLDEST_WINDOWS 0x0502)  # Windows XP x64 and Server 2003
    set(OLDEST_SHELL 0x0602)    # every x64 edition is Server 2003 SP1 or later
endif()
# A 32-bit type library builds the same, byte for byte, against the 64-bit
# Wine's stdole2.tlb: a machine without the 32-bit Wine (a mirror that cannot
# give it) still builds and ships the 32-bit tree.
if(NOT EXISTS ${WINE_STDOLE_DIR}/stdole2.tlb)
    set(WINE_STDOLE_DIR /usr/lib/x86_64-linux-gnu/wine/x86_64-windows)
endif()

# No declaration newer than the oldest Windows is visible to the library's
# code, in the shipped build and in the tests' build alike.
add_compile_definitions(WIN32_LEAN_AND_MEAN=1 NOMINMAX=1 _WIN32_WINNT=${OLDEST_WINDOWS}
                        WINVER=${OLDEST_WINDOWS} _WIN32_IE=${OLDEST_SHELL})

include(cmake/widl.cmake)
include(cmake/pure_sources.cmake)

# The IDs the published extension has in each store, once a release names
# them (cmake/extension_ids.cmake); checked here, so that a wrong one stops
# the configuration of either tree.
set(WEBCORVANE_CHROME_STORE_ID "" CACHE STRING "The extension's ID in the Chrome Web Store")
set(WEBCORVANE_EDGE_STORE_ID "" CACHE STRING "The extension's ID in Edge Add-ons")
include(cmake/extension_ids.cmake)
webcorvane_extension_ids()
add_subdirectory(interfaces)

# One static library per subsystem, each made of the same code the DLL is
# (unit tests link them). A subsystem compiles against a folder of links to
# itself and to the subsystems beneath it, and nothing else of the source
# tree: an include that runs back up does not build.
function(webcorvane_layer name)  # webcorvane_layer(<subsystem> <subsystems beneath>...)
    set(view ${CMAKE_BINARY_DIR}/layers/${name})
    file(REMOVE_RECURSE ${view})
    file(MAKE_DIRECTORY ${view})
    foreach(dir ${name} ${ARGN})
        file(CREATE_LINK ${CMAKE_SOURCE_DIR}/${dir} ${view}/${dir} SYMBOLIC)
    endforeach()
    add_library(webcorvane_${name} STATIC)
    target_include_directories(webcorvane_${name} PRIVATE ${view})
    target_compile_options(webcorvane_${name} PRIVATE ${PROJECT_WARNINGS})
    foreach(below ${ARGN})
        target_link_libraries(webcorvane_${name} PRIVATE webcorvane_${below})
    endforeach()
endfunction()
webcorvane_layer(common)
webcorvane_layer(handoff common)
webcorvane_layer(browser handoff common)
webcorvane_layer(server browser handoff common)
# The native messaging host, a program of its own above the hand-off.
webcorvane_layer(native_host handoff common)
target_link_libraries(webcorvane_common PUBLIC download_agent_interface ole32 oleaut32 uuid
                                               advapi32 shlwapi wininet user32)
add_subdirectory(common)
add_subdirectory(handoff)
add_subdirectory(browser)
add_subdirectory(server)

# nlohmann's JSON headers (Debian's nlohmann-json3-dev) alone, not the rest of
# the build machine's /usr/include.
set(JSON_HEADERS_VIEW ${CMAKE_BINARY_DIR}/third_party/json)
file(MAKE_DIRECTORY ${JSON_HEADERS_VIEW})
file(CREATE_LINK /usr/include/nlohmann ${JSON_HEADERS_VIEW}/nlohmann SYMBOLIC)
add_library(json_headers INTERFACE)
target_include_directories(json_headers SYSTEM INTERFACE ${JSON_HEADERS_VIEW})
add_subdirectory(native_host)

# The whole library as the tests and tools see it: every subsystem, and the
# source tree's root for their includes.
add_library(webcorvane_core INTERFACE)
target_include_directories(webcorvane_core INTERFACE ${CMAKE_SOURCE_DIR})
target_link_libraries(webcorvane_core INTERFACE webcorvane_server webcorvane_browser
                                                webcorvane_handoff webcorvane_common)

if(WEBCORVANE_SHIPPED_BUILD)
    add_library(WebCorvaneBHO SHARED server/exports.def server/version.rc)
    # Whole archive: the exports live in the server library and the .def
    # alone does not pull them in.
    target_link_libraries(WebCorvaneBHO PRIVATE "$<LINK_LIBRARY:WHOLE_ARCHIVE,webcorvane_server>")
    set_target_properties(WebCorvaneBHO PROPERTIES PREFIX "" OUTPUT_NAME WebCorvaneBHO)
    target_link_options(WebCorvaneBHO PRIVATE -Wl,--enable-stdcall-fixup -static-libgcc
                        -static-libstdc++)
    add_subdirectory(tools/url_explainer)
    return()
endif()

# Whether Wine can run this tree's programs here: a kernel without 32-bit
# support runs none of the i686 ones. Its tests are then built and not run
# (tests/CMakeLists.txt), and never count as passed.
set(WINE_RUNNABLE ON)
set(WINE_NOT_RUNNABLE_REASON "")
if(WINE_ARCH STREQUAL "win32")
    execute_process(COMMAND bash ${CMAKE_SOURCE_DIR}/scripts/wine_env.sh --probe
                    OUTPUT_VARIABLE wine_probe OUTPUT_STRIP_TRAILING_WHITESPACE)
    if(NOT wine_probe STREQUAL "yes")
        set(WINE_RUNNABLE OFF)
        string(REGEX REPLACE "^no: " "" WINE_NOT_RUNNABLE_REASON "${wine_probe}")
        message(STATUS "Wine tests of this tree will not run: ${WINE_NOT_RUNNABLE_REASON}")
    endif()
endif()

set(WINE_PREFIX ${CMAKE_BINARY_DIR}/wineprefix)
set(WINE_RUN ${CMAKE_BINARY_DIR}/wine-run)
# wine_runner(<script> <prefix>): a script that runs a program of this tree
# in that prefix.
function(wine_runner script prefix)
    set(WINE_PREFIX ${prefix})
    configure_file(${CMAKE_SOURCE_DIR}/cmake/wine-run.sh.in ${script} @ONLY
                   FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE
                                    WORLD_READ WORLD_EXECUTE)
endfunction()
wine_runner(${WINE_RUN} ${WINE_PREFIX})
set(CMAKE_CROSSCOMPILING_EMULATOR ${WINE_RUN})

# The shipped binaries, by the same toolchain with the win32 thread model.
include(ExternalProject)
set(SHIPPED_DIR ${CMAKE_BINARY_DIR}/shipped)
set(SHIPPED_DLL ${SHIPPED_DIR}/WebCorvaneBHO.dll)
set(SHIPPED_EXPLAINER ${SHIPPED_DIR}/tools/url_explainer/url_explainer.exe)
set(SHIPPED_HOST ${SHIPPED_DIR}/native_host/WebCorvaneHost.exe)
ExternalProject_Add(shipped
    SOURCE_DIR ${CMAKE_SOURCE_DIR}
    BINARY_DIR ${SHIPPED_DIR}
    CMAKE_GENERATOR ${CMAKE_GENERATOR}
    CMAKE_ARGS -DCMAKE_TOOLCHAIN_FILE=${CMAKE_TOOLCHAIN_FILE} -DMINGW_THREAD_MODEL=win32
               -DWEBCORVANE_SHIPPED_BUILD=ON -DCMAKE_BUILD_TYPE=${CMAKE_BUILD_TYPE}
               -DWEBCORVANE_CHROME_STORE_ID=${WEBCORVANE_CHROME_STORE_ID}
               -DWEBCORVANE_EDGE_STORE_ID=${WEBCORVANE_EDGE_STORE_ID}
    INSTALL_COMMAND ""
    BUILD_ALWAYS ON
    BUILD_BYPRODUCTS ${SHIPPED_DLL} ${SHIPPED_EXPLAINER} ${SHIPPED_HOST})

add_subdirectory(agent)
add_subdirectory(tools)

# GoogleTest from Debian's sources, built with this same toolchain.
set(gtest_force_shared_crt OFF CACHE BOOL "" FORCE)
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)

add_subdirectory(tests)
