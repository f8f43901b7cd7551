# Helpers every folder's CMakeLists uses.

# Registers one ctest entry per test program; each Wine start costs about a second.
function(qx_add_test name)
  add_test(NAME ${name} COMMAND ${name})
  set_tests_properties(${name} PROPERTIES TIMEOUT 300)
endfunction()

# A GoogleTest program and its ctest entry:
#   qx_add_gtest(name SOURCES a.cpp ... [LIBS lib ...] [DEPENDS target ...] [OWN_MAIN])
# OWN_MAIN links gtest without gtest_main, for programs with a main of their own (child
# process modes). Windows programs get the static runtime, like the module itself. Every
# test program gets the shared test helpers (tests/support).
function(qx_add_gtest name)
  cmake_parse_arguments(ARG "OWN_MAIN" "" "SOURCES;LIBS;DEPENDS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  if(ARG_OWN_MAIN)
    target_link_libraries(${name} PRIVATE ${ARG_LIBS} qx_test_support gtest)
  else()
    target_link_libraries(${name} PRIVATE ${ARG_LIBS} qx_test_support gtest_main)
  endif()
  if(WIN32)
    target_link_options(${name} PRIVATE ${QX_STATIC_RUNTIME})
  endif()
  if(ARG_DEPENDS)
    add_dependencies(${name} ${ARG_DEPENDS})
  endif()
  qx_add_test(${name})
endfunction()

# zlib for a library: mingw's static libz.a on Windows (the module may not import
# zlib1.dll), the system's zlib elsewhere.
function(qx_link_zlib target)
  if(WIN32)
    target_link_libraries(${target} PUBLIC /usr/i686-w64-mingw32/lib/libz.a)
  else()
    find_package(ZLIB REQUIRED)
    target_link_libraries(${target} PUBLIC ZLIB::ZLIB)
  endif()
endfunction()

# The first of the system interpreter and the configured one that runs `check` (Python
# code, e.g. "import PIL") without error, in `out`; empty when neither does. Debian's
# python3-* modules belong to the system interpreter even where another Python is first on
# the PATH.
function(qx_python_with out check)
  find_package(Python3 COMPONENTS Interpreter QUIET)
  set(found "")
  foreach(candidate /usr/bin/python3 ${Python3_EXECUTABLE})
    if(found STREQUAL "" AND EXISTS "${candidate}")
      execute_process(COMMAND ${candidate} -c "${check}" RESULT_VARIABLE result
                      OUTPUT_QUIET ERROR_QUIET)
      if(result EQUAL 0)
        set(found ${candidate})
      endif()
    endif()
  endforeach()
  set(${out} "${found}" PARENT_SCOPE)
endfunction()

# A test whose peer (a program or library it runs against) is missing on this machine. The
# test keeps its ctest entry, which reports the missing peer and counts as skipped; under CI
# (CI=true) every peer must be there, so configuring fails at once and, should the build
# folder have been configured elsewhere, the entry fails when run.
#   qx_add_missing_peer_test(name "what is missing")
function(qx_add_missing_peer_test name what)
  set(hint "${what} not found: scripts/setup.sh installs it")
  if("$ENV{CI}" STREQUAL "true")
    message(FATAL_ERROR "${name}: ${hint} (CI runs every test)")
  endif()
  message(WARNING "${name} is skipped: ${hint}")
  add_test(NAME ${name}
           COMMAND sh ${PROJECT_SOURCE_DIR}/cmake/missing_peer.sh "${name}" "${hint}")
  set_tests_properties(${name} PROPERTIES SKIP_RETURN_CODE 77)
endfunction()

# What tests/udf/check_pe_tables.py is told of the image it reads: a PE32+ image for x86-64
# in the 64-bit build, a 32-bit x86 image otherwise.
if(WIN32 AND CMAKE_SIZEOF_VOID_P EQUAL 8)
  set(QX_PE_IMAGE_OPTION --x86-64)
else()
  set(QX_PE_IMAGE_OPTION "")
endif()
