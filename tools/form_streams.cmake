# The assistant forms' component streams, written from resources/forms/*.txt at build time
# into <build>/forms/<name>.bin: the module carries them as RCDATA resources, and the
# native tests read the same bytes.
find_package(Python3 REQUIRED COMPONENTS Interpreter)
set(QX_FORM_STREAM_DIR ${CMAKE_BINARY_DIR}/forms CACHE INTERNAL "")
set(QX_FORM_STREAMS "")
foreach(form contact details scrshot)
  set(source ${PROJECT_SOURCE_DIR}/resources/forms/${form}_form.txt)
  set(stream ${QX_FORM_STREAM_DIR}/${form}_form.bin)
  add_custom_command(
    OUTPUT ${stream}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${QX_FORM_STREAM_DIR}
    COMMAND Python3::Interpreter ${CMAKE_CURRENT_LIST_DIR}/form_streams.py ${source} ${stream}
    DEPENDS ${CMAKE_CURRENT_LIST_DIR}/form_streams.py ${source}
    COMMENT "assistant form stream ${form}_form.bin")
  list(APPEND QX_FORM_STREAMS ${stream})
endforeach()
set(QX_FORM_STREAMS ${QX_FORM_STREAMS} CACHE INTERNAL "")
add_custom_target(qx_form_streams DEPENDS ${QX_FORM_STREAMS})
