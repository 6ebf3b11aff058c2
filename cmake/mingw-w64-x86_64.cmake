# Cross build for 64-bit Windows with mingw-w64 (posix thread model, which
# std::thread and GoogleTest need). Test programs run under wine.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(ZEL_MINGW_PREFIX x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${ZEL_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${ZEL_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${ZEL_MINGW_PREFIX}-windres)

# Look for libraries and packages of the target only, so that the host's
# GoogleTest is not picked up (tests/ then builds it from source).
set(CMAKE_FIND_ROOT_PATH /usr/${ZEL_MINGW_PREFIX})
# A Qt built for the target lives outside that root: ZEL_QT_MINGW names its
# folder (cache variable or environment), which then becomes a root as well.
if(NOT ZEL_QT_MINGW AND DEFINED ENV{ZEL_QT_MINGW})
  set(ZEL_QT_MINGW "$ENV{ZEL_QT_MINGW}")
endif()
if(ZEL_QT_MINGW)
  list(APPEND CMAKE_FIND_ROOT_PATH "${ZEL_QT_MINGW}")
  list(APPEND CMAKE_PREFIX_PATH "${ZEL_QT_MINGW}")
endif()
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES ZEL_QT_MINGW)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Self-contained executables: no libgcc, libstdc++ or winpthread DLLs to find under wine.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

find_program(ZEL_WINE wine)
if(ZEL_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${ZEL_WINE})
endif()
