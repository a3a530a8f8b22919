# Cross-compiles for 32-bit Windows with MinGW-w64. The -posix compilers give
# std::thread and std::mutex (GoogleTest needs them); -static keeps the C, C++
# and threads runtimes inside each binary so that only system DLLs are imported.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(MINGW_TRIPLE i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
