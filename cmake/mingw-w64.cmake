# Cross-builds for Windows x64 with MinGW-w64's posix thread model, which GCC 12's
# std::thread, std::mutex and std::future need.
#   cmake -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake -DWIN_DEPS_PREFIXES="QT;CJSON" ...
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR AMD64)

set(MINGW_TRIPLE x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${MINGW_TRIPLE}-windres)

# The prefixes of the static libraries built by tools/build-win-deps.
set(WIN_DEPS_PREFIXES "${WIN_DEPS_PREFIXES}" CACHE STRING "Install prefixes of the Windows dependencies")
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES WIN_DEPS_PREFIXES)
set(CMAKE_FIND_ROOT_PATH /usr/${MINGW_TRIPLE} ${WIN_DEPS_PREFIXES})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
