# Cross-compiles the SQL functions for 64-bit Windows servers with mingw-w64 (posix thread
# model) and runs the resulting test programs under 64-bit Wine. The fault reporter reads
# 32-bit x86 code and stays out of this build.
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(triple x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw_cross.cmake)

# Debian installs the 64-bit loader beside the 32-bit one, not always on the path.
find_program(QX_WINE64 NAMES wine64 PATHS /usr/lib/wine NO_DEFAULT_PATH)
if(NOT QX_WINE64)
  find_program(QX_WINE64 NAMES wine64)
endif()
if(NOT QX_WINE64)
  set(QX_WINE64 /usr/lib/wine/wine64)
endif()
set(CMAKE_CROSSCOMPILING_EMULATOR ${QX_WINE64})
