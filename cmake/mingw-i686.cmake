# Cross-compiles for 32-bit Windows with mingw-w64 (posix thread model) and runs the
# resulting test programs under Wine.
set(CMAKE_SYSTEM_PROCESSOR i686)
set(triple i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw_cross.cmake)

set(CMAKE_CROSSCOMPILING_EMULATOR wine)
