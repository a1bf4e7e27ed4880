# Cross-compilation to 32-bit Windows with mingw-w64: the shipped build.
set(CMAKE_SYSTEM_PROCESSOR i686)
set(TOOLCHAIN_PREFIX i686-w64-mingw32)
set(TSDLM_DEPS_VARIABLE TSDLM_MINGW_DEPS_I686)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
