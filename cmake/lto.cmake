# Link-time optimisation of the programs in native GCC release builds.  The
# reader's calls for every record (the next slot, the empty-slot test, the
# record's end, the dump writer's encoding) cross source files; inlined
# across them, pagrove runs about a third fewer instructions per record.
# The test programs' own code, heavy with GoogleTest macros, is compiled
# to machine code as before (cmake/test_build.cmake); their links optimise
# only the libraries' code, a few seconds each, so the tests run the code
# the programs ship.
option(GANDREL_LTO "Link-time optimisation of the programs (GCC, native release builds)" ON)
set(GANDREL_LTO_ACTIVE OFF)
if(GANDREL_LTO AND CMAKE_CXX_COMPILER_ID STREQUAL "GNU" AND NOT WIN32
   AND NOT GANDREL_SANITIZE AND NOT GANDREL_FUZZ AND CMAKE_BUILD_TYPE STREQUAL "Release")
  add_compile_options(-flto=auto)
  add_link_options(-flto=auto)
  # The archives need the intermediate form's symbol table for the LTO link.
  set(CMAKE_AR ${CMAKE_CXX_COMPILER_AR})
  set(CMAKE_RANLIB ${CMAKE_CXX_COMPILER_RANLIB})
  set(GANDREL_LTO_ACTIVE ON)
endif()

# gandrel_no_lto(TARGET...): the targets' own sources compiled to machine code.
function(gandrel_no_lto)
  if(NOT GANDREL_LTO_ACTIVE)
    return()
  endif()
  foreach(t ${ARGN})
    if(TARGET ${t})
      get_target_property(kind ${t} TYPE)
      if(NOT kind STREQUAL "UTILITY" AND NOT kind STREQUAL "INTERFACE_LIBRARY")
        target_compile_options(${t} PRIVATE -fno-lto)
      endif()
    endif()
  endforeach()
endfunction()
