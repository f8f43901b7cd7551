# The debug-information map (unit qelMapFile). The parsers are portable and build on every
# platform; the parts that ask Windows about loaded modules join them on Windows.
add_library(qx_mapfile STATIC
  ${CMAKE_CURRENT_LIST_DIR}/map_build.cpp
  ${CMAKE_CURRENT_LIST_DIR}/map_cache.cpp
  ${CMAKE_CURRENT_LIST_DIR}/map_file.cpp
  ${CMAKE_CURRENT_LIST_DIR}/map_jdbg.cpp
  ${CMAKE_CURRENT_LIST_DIR}/map_pe_file.cpp
  ${CMAKE_CURRENT_LIST_DIR}/map_qel.cpp
  ${CMAKE_CURRENT_LIST_DIR}/map_stream.cpp
  ${CMAKE_CURRENT_LIST_DIR}/map_td32.cpp
  ${CMAKE_CURRENT_LIST_DIR}/map_text.cpp
)
target_include_directories(qx_mapfile PUBLIC ${CMAKE_CURRENT_LIST_DIR})
if(WIN32)
  target_sources(qx_mapfile PRIVATE ${CMAKE_CURRENT_LIST_DIR}/map_lookup_win.cpp)
  # Start-up installs the name and line hooks the decoder owns.
  target_link_libraries(qx_mapfile PUBLIC qx_stack_decoder)
  # The DLL may not import zlib1.dll: link mingw's static zlib by its file.
  target_link_libraries(qx_mapfile PUBLIC /usr/i686-w64-mingw32/lib/libz.a)
else()
  find_package(ZLIB REQUIRED)
  target_link_libraries(qx_mapfile PUBLIC ZLIB::ZLIB)
endif()
include(${CMAKE_CURRENT_LIST_DIR}/../../tools/map_tools.cmake)
