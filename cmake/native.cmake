# The native Linux build: the code that includes no Windows header, its tests
# under the sanitizers, and the fuzz targets.
set(SANITIZE "address,undefined" CACHE STRING "Sanitizers for the native build")

# Empty for the benchmark build, whose figures the sanitizers would distort.
if(SANITIZE)
    add_compile_options(-fsanitize=${SANITIZE} -fno-omit-frame-pointer -fno-sanitize-recover=all -g)
    add_link_options(-fsanitize=${SANITIZE})
endif()

add_library(webcorvane_pure STATIC)
target_include_directories(webcorvane_pure PUBLIC ${CMAKE_SOURCE_DIR})
target_compile_options(webcorvane_pure PRIVATE ${PROJECT_WARNINGS})
include(${CMAKE_SOURCE_DIR}/cmake/pure_sources.cmake)
target_sources(webcorvane_pure PRIVATE ${PURE_SOURCES})

find_package(Threads REQUIRED)
add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)

add_subdirectory(tests/native)

# The URL policy's cost per decision (scripts/bench.sh runs it from the
# "bench" preset); built in every native configuration, run by no test.
add_executable(url_policy_bench ${CMAKE_SOURCE_DIR}/tools/bench/url_policy_bench.cpp)
target_link_libraries(url_policy_bench PRIVATE webcorvane_pure)
target_compile_options(url_policy_bench PRIVATE ${PROJECT_WARNINGS})
if(CMAKE_CXX_COMPILER_ID STREQUAL "Clang" AND SANITIZE MATCHES "address")
    add_subdirectory(fuzz)
endif()
