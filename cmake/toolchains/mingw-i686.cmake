# 32-bit Windows (PE32), the shipped images.
set(ZOV_MINGW_ARCH i686)
include(${CMAKE_CURRENT_LIST_DIR}/mingw.cmake)
