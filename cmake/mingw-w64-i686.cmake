# 32-bit Windows (i686), built as a compile-and-link check.
set(GLIDESCAPE_MINGW_ARCH i686)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-common.cmake)
