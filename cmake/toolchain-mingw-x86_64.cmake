# Cross-compilation to 64-bit Windows with mingw-w64: the same product, for
# machines whose Wine runs only 64-bit Windows programs.
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(TOOLCHAIN_PREFIX x86_64-w64-mingw32)
set(TSDLM_DEPS_VARIABLE TSDLM_MINGW_DEPS_X86_64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
