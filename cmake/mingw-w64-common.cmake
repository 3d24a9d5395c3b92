# Cross build for Windows with Debian's MinGW-w64; included by the
# per-architecture toolchain files, which set GLIDESCAPE_MINGW_ARCH. The
# posix-threads compilers: the core's thread pool needs std::thread (the
# saver links their thread library statically, see Windows.cmake).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR ${GLIDESCAPE_MINGW_ARCH})
set(GLIDESCAPE_MINGW_PREFIX ${GLIDESCAPE_MINGW_ARCH}-w64-mingw32)
set(CMAKE_C_COMPILER ${GLIDESCAPE_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${GLIDESCAPE_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${GLIDESCAPE_MINGW_PREFIX}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${GLIDESCAPE_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
