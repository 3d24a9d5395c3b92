# 64-bit Windows (x86-64), the saver that ships.
set(GLIDESCAPE_MINGW_ARCH x86_64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-common.cmake)
