# cmake -DNM=... -DDLLTOOL=... -DSYSTEM_LIB=<lib<name>.a> -DOUTPUT=<delay lib> -P this file
#
# Makes a delay-import library with every routine of a system import library: the routine
# names come from the import library's symbols (__imp__<name>@<bytes>), the library's file
# name from dlltool's --identify, so the module's import names stay exactly as before.
execute_process(COMMAND ${DLLTOOL} --identify ${SYSTEM_LIB}
                OUTPUT_VARIABLE dll_name OUTPUT_STRIP_TRAILING_WHITESPACE RESULT_VARIABLE failed)
if(failed OR dll_name STREQUAL "")
  message(FATAL_ERROR "no library name in ${SYSTEM_LIB}")
endif()
execute_process(COMMAND ${NM} ${SYSTEM_LIB} OUTPUT_VARIABLE symbols RESULT_VARIABLE failed)
if(failed)
  message(FATAL_ERROR "${NM} ${SYSTEM_LIB} failed")
endif()
string(REGEX MATCHALL "[^\n]* I __imp__[^\n]*" imports "${symbols}")
set(names)
foreach(line IN LISTS imports)
  string(REGEX REPLACE ".* I __imp__" "" name "${line}")
  list(APPEND names "${name}")
endforeach()
list(REMOVE_DUPLICATES names)
list(SORT names)
list(LENGTH names count)
if(count EQUAL 0)
  message(FATAL_ERROR "no routines in ${SYSTEM_LIB}")
endif()
string(REPLACE ";" "\n" exports "${names}")
get_filename_component(folder ${OUTPUT} DIRECTORY)
get_filename_component(base ${OUTPUT} NAME_WE)
set(def ${folder}/${base}.def)
file(WRITE ${def} "LIBRARY \"${dll_name}\"\nEXPORTS\n${exports}\n")
execute_process(COMMAND ${DLLTOOL} --input-def ${def} --kill-at --dllname ${dll_name}
                        --output-delaylib ${OUTPUT} --temp-prefix ${base}_tmp
                RESULT_VARIABLE failed)
if(failed)
  message(FATAL_ERROR "${DLLTOOL} could not make ${OUTPUT}")
endif()
