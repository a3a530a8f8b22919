# Cross-compiles for 32-bit Windows with MinGW-w64. -static keeps the C and
# C++ runtimes inside each binary so that only system DLLs are imported.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(MINGW_TRIPLE i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
