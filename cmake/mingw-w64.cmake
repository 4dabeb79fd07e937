# Cross-building zu for 64-bit Windows with Debian's mingw-w64 (the posix thread
# model, which std::thread needs). ZU_WINDOWS_DEPS names the folder the libraries
# were built into (scripts/windows.sh); it is searched before the compiler's own.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(ZU_MINGW x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${ZU_MINGW}-gcc-posix)
set(CMAKE_CXX_COMPILER ${ZU_MINGW}-g++-posix)
set(CMAKE_RC_COMPILER ${ZU_MINGW}-windres)

# try_compile projects read this file again: hand the folder on to them.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES ZU_WINDOWS_DEPS)
set(CMAKE_FIND_ROOT_PATH /usr/${ZU_MINGW} ${ZU_WINDOWS_DEPS})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Everything links statically, the C and C++ runtimes too: the program and each
# test are one file that needs nothing beside it.
set(CMAKE_EXE_LINKER_FLAGS_INIT -static)
if(ZU_WINDOWS_DEPS)
  set(ENV{PKG_CONFIG_LIBDIR} ${ZU_WINDOWS_DEPS}/lib/pkgconfig)
  set(PKG_CONFIG_ARGN --static)
endif()

# Programs built here run under Wine (tests/windows/wine.sh keeps a private prefix).
get_filename_component(ZU_SOURCE_ROOT ${CMAKE_CURRENT_LIST_DIR}/.. ABSOLUTE)
set(CMAKE_CROSSCOMPILING_EMULATOR ${ZU_SOURCE_ROOT}/tests/windows/wine.sh)
