# A 64-bit build of the same sources, for testing on machines that run no
# 32-bit program.
set(VELMORA_MINGW_ARCH x86_64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-common.cmake)
