# 64-bit Windows (PE32+), the images the wine tests run.
set(ZOV_MINGW_ARCH x86_64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw.cmake)
