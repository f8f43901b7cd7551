# Developer command over the debug-information map of a module file.
add_executable(map_lookup ${CMAKE_CURRENT_LIST_DIR}/map_lookup.cpp)
target_link_libraries(map_lookup PRIVATE qx_debuginfo)
if(WIN32)
  target_link_options(map_lookup PRIVATE ${QX_STATIC_RUNTIME})
endif()
