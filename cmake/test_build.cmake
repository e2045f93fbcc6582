# The optimisation level of the test programs, apart from the code they test.
# GANDREL_TEST_OPTIMIZE (for example -O1, or -O0 in the sanitizer build) goes
# after the build type's flags on every target under tests/ and on
# GoogleTest where the cross build compiles it: the libraries and programs
# under test keep the build type's level, while the test code, whose
# GoogleTest macros take most of the compile time, is compiled faster.
# Empty (the default): the test code is compiled like everything else.
set(GANDREL_TEST_OPTIMIZE "" CACHE STRING
    "Optimisation flags for the test programs only (e.g. -O1); empty: as the build type")

function(gandrel_targets_below dir out)
  get_property(targets DIRECTORY ${dir} PROPERTY BUILDSYSTEM_TARGETS)
  get_property(subdirs DIRECTORY ${dir} PROPERTY SUBDIRECTORIES)
  foreach(sub ${subdirs})
    gandrel_targets_below(${sub} below)
    list(APPEND targets ${below})
  endforeach()
  set(${out} ${targets} PARENT_SCOPE)
endfunction()

if(GANDREL_TESTS)
  # The test code is compiled to machine code even where the programs are
  # optimised at link time (cmake/lto.cmake).
  gandrel_targets_below(${CMAKE_SOURCE_DIR}/tests test_targets)
  gandrel_no_lto(${test_targets} gtest gandrel_test_main)
endif()

if(GANDREL_TESTS AND NOT GANDREL_TEST_OPTIMIZE STREQUAL "")
  separate_arguments(test_flags UNIX_COMMAND "${GANDREL_TEST_OPTIMIZE}")
  gandrel_targets_below(${CMAKE_SOURCE_DIR}/tests test_targets)
  foreach(t ${test_targets} gtest gandrel_test_main)
    if(TARGET ${t})
      get_target_property(kind ${t} TYPE)
      if(NOT kind STREQUAL "UTILITY" AND NOT kind STREQUAL "INTERFACE_LIBRARY")
        target_compile_options(${t} PRIVATE ${test_flags})
      endif()
    endif()
  endforeach()
endif()
