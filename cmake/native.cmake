# The native Linux build: the code that includes no Windows header, its tests
# under the sanitizers, and the fuzz targets.
set(SANITIZE "address,undefined" CACHE STRING "Sanitizers for the native build")

add_compile_options(-fsanitize=${SANITIZE} -fno-omit-frame-pointer -fno-sanitize-recover=all -g)
add_link_options(-fsanitize=${SANITIZE})

add_library(webcorvane_pure STATIC)
target_include_directories(webcorvane_pure PUBLIC ${CMAKE_SOURCE_DIR})
target_compile_options(webcorvane_pure PRIVATE ${PROJECT_WARNINGS})
include(${CMAKE_SOURCE_DIR}/cmake/pure_sources.cmake)
target_sources(webcorvane_pure PRIVATE ${PURE_SOURCES})

find_package(Threads REQUIRED)
add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)

add_subdirectory(tests/native)
if(CMAKE_CXX_COMPILER_ID STREQUAL "Clang" AND SANITIZE MATCHES "address")
    add_subdirectory(fuzz)
endif()
