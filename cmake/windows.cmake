# The Windows build: the DLL, the reference agent, the tools and the tests
# that run under Wine.
enable_language(RC)

if(CMAKE_SYSTEM_PROCESSOR STREQUAL "i686")
    set(WINE_ARCH win32)
    set(WINE_STDOLE_DIR /usr/lib/i386-linux-gnu/wine/i386-windows)
    set(WIDL_ARCH_FLAG --win32)
else()
    set(WINE_ARCH win64)
    set(WINE_STDOLE_DIR /usr/lib/x86_64-linux-gnu/wine/x86_64-windows)
    set(WIDL_ARCH_FLAG --win64)
endif()

set(WINE_PREFIX ${CMAKE_BINARY_DIR}/wineprefix)
set(WINE_RUN ${CMAKE_BINARY_DIR}/wine-run)
configure_file(${CMAKE_SOURCE_DIR}/cmake/wine-run.sh.in ${WINE_RUN} @ONLY
               FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE
                                WORLD_READ WORLD_EXECUTE)
set(CMAKE_CROSSCOMPILING_EMULATOR ${WINE_RUN})

add_compile_definitions(WIN32_LEAN_AND_MEAN=1 NOMINMAX=1 _WIN32_WINNT=0x0501 WINVER=0x0501
                        _WIN32_IE=0x0600)

include(cmake/widl.cmake)
include(cmake/pure_sources.cmake)
add_subdirectory(interfaces)

# Everything of the library but its module-definition file and resource, so
# that unit tests link the same code the DLL is made of.
add_library(webcorvane_core STATIC)
target_include_directories(webcorvane_core PUBLIC ${CMAKE_SOURCE_DIR})
target_compile_options(webcorvane_core PRIVATE ${PROJECT_WARNINGS})
target_link_libraries(webcorvane_core PUBLIC download_agent_interface ole32 oleaut32 uuid
                                             advapi32 shlwapi wininet user32)
add_subdirectory(common)
add_subdirectory(handoff)
add_subdirectory(browser)
add_subdirectory(server)

add_library(WebCorvaneBHO SHARED server/exports.def server/version.rc)
# Whole archive: the exports live in the core library and the .def alone
# does not pull them in.
target_link_libraries(WebCorvaneBHO PRIVATE "$<LINK_LIBRARY:WHOLE_ARCHIVE,webcorvane_core>")
set_target_properties(WebCorvaneBHO PROPERTIES PREFIX "" OUTPUT_NAME WebCorvaneBHO)
target_link_options(WebCorvaneBHO PRIVATE -Wl,--enable-stdcall-fixup -static-libgcc
                    -static-libstdc++)

add_subdirectory(agent)
add_subdirectory(tools)

# GoogleTest from Debian's sources, built with this same toolchain.
set(gtest_force_shared_crt OFF CACHE BOOL "" FORCE)
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)

add_subdirectory(tests)
