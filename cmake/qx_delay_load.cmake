# Delay-loaded system libraries of a module.
#
#   qx_delay_load(<target> <library> ...)
#
# The target binds these libraries on the first call of one of their routines instead of
# at load, so a host that never reaches that code never maps them (nor what they pull in).
# For each library a delay-import library named like the system's import library
# (lib<name>.a, every routine the system's import library names) is made in a folder of
# the target's own, and the target's linker searches that folder first: every "-l<name>"
# of its link line, its components' and the compiler's default ones, then binds through
# the delay-import library. An end marker closes the delay-import descriptors, so that
# tools/debuginfo_embed.py can point the image's delay-import directory at them.
# A failed load becomes a failed call, not an exception: see reporter/base/delay_load_win.h.
set(QX_DELAY_IMPORT_SCRIPT ${CMAKE_CURRENT_LIST_DIR}/delay_import_lib.cmake)

function(qx_delay_load target)
  set(folder ${CMAKE_BINARY_DIR}/delayload/${target})
  file(MAKE_DIRECTORY ${folder})
  set(outputs)
  foreach(library IN LISTS ARGN)
    string(TOLOWER ${library} lower)
    execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=lib${lower}.a
                    OUTPUT_VARIABLE system_lib OUTPUT_STRIP_TRAILING_WHITESPACE)
    if(NOT EXISTS "${system_lib}")
      message(FATAL_ERROR "qx_delay_load: no import library lib${lower}.a")
    endif()
    set(output ${folder}/lib${lower}.a)
    add_custom_command(OUTPUT ${output}
      COMMAND ${CMAKE_COMMAND} -DNM=${CMAKE_NM} -DDLLTOOL=${QX_DLLTOOL}
              -DSYSTEM_LIB=${system_lib} -DOUTPUT=${output} -P ${QX_DELAY_IMPORT_SCRIPT}
      DEPENDS ${QX_DELAY_IMPORT_SCRIPT} ${system_lib}
      WORKING_DIRECTORY ${folder}
      COMMENT "delay-import library for ${library}"
      VERBATIM)
    list(APPEND outputs ${output})
  endforeach()

  # 32 zero bytes sorted right after the descriptors (".text$2" in each library's head).
  set(marker_source ${folder}/delay_import_end.s)
  set(marker ${folder}/delay_import_end.obj)
  file(WRITE ${marker_source}
       "\t.section .text$2z,\"dr\"\n\t.balign 4\n\t.space 32\n")
  add_custom_command(OUTPUT ${marker}
    COMMAND ${CMAKE_C_COMPILER} -c ${marker_source} -o ${marker}
    DEPENDS ${marker_source}
    COMMENT "end of the delay-import descriptors"
    VERBATIM)
  list(APPEND outputs ${marker})

  add_custom_target(${target}_delay_imports DEPENDS ${outputs})
  add_dependencies(${target} ${target}_delay_imports)
  target_link_options(${target} PRIVATE -L${folder} ${marker})
  set_property(TARGET ${target} APPEND PROPERTY LINK_DEPENDS ${outputs})
endfunction()
