# The thread model of the MinGW-w64 runtime. The "posix" compilers give
# std::thread and std::mutex, which GoogleTest needs, through a POSIX threads
# runtime that imports functions Windows XP lacks (GetTickCount64); the
# "win32" compilers need no such runtime and build what we ship.
if(NOT MINGW_THREAD_MODEL)
    set(MINGW_THREAD_MODEL posix)
endif()
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES MINGW_THREAD_MODEL)

set(CMAKE_C_COMPILER ${MINGW_TRIPLE}-gcc-${MINGW_THREAD_MODEL})
set(CMAKE_CXX_COMPILER ${MINGW_TRIPLE}-g++-${MINGW_THREAD_MODEL})
set(CMAKE_RC_COMPILER ${MINGW_TRIPLE}-windres)
set(MINGW_OBJDUMP ${MINGW_TRIPLE}-objdump)
set(MINGW_WIDL ${MINGW_TRIPLE}-widl)

set(CMAKE_FIND_ROOT_PATH /usr/${MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-static")
