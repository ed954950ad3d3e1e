# Cross-build for 64-bit Windows with Debian's mingw-w64 (g++-mingw-w64-x86-64-posix: POSIX threads, so
# std::thread works). The programs are linked statically: no MinGW runtime DLLs are needed beside the exe.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(TUBEFIT_MINGW_PREFIX x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${TUBEFIT_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${TUBEFIT_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${TUBEFIT_MINGW_PREFIX}-windres)

# Libraries come from the mingw sysroot and from the dependency cache (tools/deps-windows.sh); Eigen's
# headers are the host's, which hold no compiled code.
set(CMAKE_FIND_ROOT_PATH /usr/${TUBEFIT_MINGW_PREFIX})
if(DEFINED ENV{TUBEFIT_WIN_CACHE})
  list(APPEND CMAKE_FIND_ROOT_PATH $ENV{TUBEFIT_WIN_CACHE}/prefix)
elseif(DEFINED ENV{HOME})
  list(APPEND CMAKE_FIND_ROOT_PATH $ENV{HOME}/.cache/tubefit-win/prefix)
endif()
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE BOTH)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE BOTH)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
# Debian's wine64 package puts its loader here, off PATH.
set(CMAKE_CROSSCOMPILING_EMULATOR /usr/lib/wine/wine64)
