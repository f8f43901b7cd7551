# Post-link step of a module that carries its own debug information: the module is linked
# with DWARF, then tools/debuginfo_embed.py writes the "QEL"/"EXCEPT" resource from the
# module's symbols and line table, keeps the DWARF copy as <name>.debug.dll, strips the
# module and appends the resource as a new last section (no code moves; the tool checks).
find_package(Python3 REQUIRED COMPONENTS Interpreter)
set(QX_DEBUGINFO_TOOL ${CMAKE_CURRENT_LIST_DIR}/debuginfo_embed.py)

function(qx_embed_debuginfo target)
  # A changed tool relinks the module, so that the post-link step runs again.
  set_property(TARGET ${target} APPEND PROPERTY LINK_DEPENDS ${QX_DEBUGINFO_TOOL})
  add_custom_command(TARGET ${target} POST_BUILD
    COMMAND ${Python3_EXECUTABLE} ${QX_DEBUGINFO_TOOL} $<TARGET_FILE:${target}>
            --debug-copy $<TARGET_FILE_DIR:${target}>/$<TARGET_FILE_BASE_NAME:${target}>.debug.dll
    COMMENT "Embedding debug information into ${target}"
    VERBATIM)
endfunction()
