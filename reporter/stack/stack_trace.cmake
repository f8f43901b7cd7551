# The stack walker (unit qelStackTrace). The walk itself reads memory only through
# qx::StackMemory and builds on every platform; the own-process side joins on Windows.
add_library(qx_stack_trace STATIC ${CMAKE_CURRENT_LIST_DIR}/stack_trace.cpp)
target_include_directories(qx_stack_trace PUBLIC ${CMAKE_CURRENT_LIST_DIR})
target_link_libraries(qx_stack_trace PUBLIC qx_stack_decoder qx_mapfile qx_report_core)
if(WIN32)
  add_library(qx_stack_trace_win STATIC ${CMAKE_CURRENT_LIST_DIR}/stack_trace_win.cpp)
  target_link_libraries(qx_stack_trace_win PUBLIC qx_stack_trace qx_report)
endif()
