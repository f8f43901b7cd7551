# What both mingw-w64 toolchain files share; the including file sets `triple` and
# CMAKE_SYSTEM_PROCESSOR first. Posix thread model, tools by the triple's names.
set(CMAKE_SYSTEM_NAME Windows)

set(CMAKE_C_COMPILER   ${triple}-gcc-posix)
set(CMAKE_CXX_COMPILER ${triple}-g++-posix)
set(CMAKE_RC_COMPILER  ${triple}-windres)
set(CMAKE_AR           /usr/bin/${triple}-ar CACHE FILEPATH "")
set(CMAKE_RANLIB       /usr/bin/${triple}-ranlib CACHE FILEPATH "")
set(QX_DLLTOOL         ${triple}-dlltool)
set(QX_OBJDUMP         ${triple}-objdump)

set(CMAKE_FIND_ROOT_PATH /usr/${triple})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
