# Shared by the mingw-w64 toolchain files, which set CMAKE_SYSTEM_PROCESSOR,
# TOOLCHAIN_PREFIX and TSDLM_DEPS_VARIABLE first. The posix thread model
# gives std::thread. Test executables run through Wine.
set(CMAKE_SYSTEM_NAME Windows)

set(CMAKE_C_COMPILER ${TOOLCHAIN_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${TOOLCHAIN_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${TOOLCHAIN_PREFIX}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${TOOLCHAIN_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Dependencies built by scripts/setup.sh for this architecture live outside
# the clone (scripts/env.sh exports where).
if(DEFINED ENV{${TSDLM_DEPS_VARIABLE}} AND NOT "$ENV{${TSDLM_DEPS_VARIABLE}}" STREQUAL "")
  list(APPEND CMAKE_FIND_ROOT_PATH $ENV{${TSDLM_DEPS_VARIABLE}})
  list(APPEND CMAKE_PREFIX_PATH $ENV{${TSDLM_DEPS_VARIABLE}})
endif()

set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/wine-run.sh)
