# What `cmake --install` puts where, and the release packages CPack makes
# from it:
#   Windows build: gandrel-VERSION-win32.zip, one folder with pagrove.exe,
#     gandrel.exe, gandrelgui.exe and its four banners, README.md,
#     LICENSE.txt and USAGE.txt (CR LF line ends);
#   native build:  gandrel-VERSION-linux-x86_64.tar.gz (bin/, share/doc/gandrel/)
#     and gandrel_VERSION_amd64.deb (/usr/bin/pagrove, /usr/bin/gandrel).
# The version is project(VERSION) in the top-level CMakeLists.txt, the one
# place it is written; scripts/package.sh builds both.

# A version resource for a console program's .exe (the wizard has its own
# .rc with its manifest).
function(gandrel_version_resource target description)
  if(NOT WIN32)
    return()
  endif()
  set(GANDREL_RC_NAME ${target})
  set(GANDREL_RC_DESCRIPTION ${description})
  set(rc ${CMAKE_BINARY_DIR}/generated/${target}_version.rc)
  configure_file(${CMAKE_SOURCE_DIR}/cmake/version.rc.in ${rc} @ONLY)
  target_sources(${target} PRIVATE ${rc})
  target_link_libraries(${target} PRIVATE gandrel_version)
endfunction()

gandrel_version_resource(pagrove "pagrove - Btrieve record salvage console program")
gandrel_version_resource(gandrel "gandrel - Btrieve record salvage, export and inspection")

include(GNUInstallDirs)
set(package_text ${CMAKE_SOURCE_DIR}/cmake/package)
if(WIN32)
  set(GANDREL_BIN_DESTINATION .)
  set(GANDREL_DOC_DESTINATION .)
  set(text_newlines DOS)
else()
  set(GANDREL_BIN_DESTINATION ${CMAKE_INSTALL_BINDIR})
  set(GANDREL_DOC_DESTINATION ${CMAKE_INSTALL_DOCDIR})
  set(text_newlines UNIX)
endif()
install(TARGETS pagrove gandrel RUNTIME DESTINATION ${GANDREL_BIN_DESTINATION})
foreach(text LICENSE.txt USAGE.txt)
  configure_file(${package_text}/${text} ${CMAKE_BINARY_DIR}/package/${text}
                 @ONLY NEWLINE_STYLE ${text_newlines})
  install(FILES ${CMAKE_BINARY_DIR}/package/${text} DESTINATION ${GANDREL_DOC_DESTINATION})
endforeach()
install(FILES ${CMAKE_SOURCE_DIR}/README.md DESTINATION ${GANDREL_DOC_DESTINATION})

set(CPACK_PACKAGE_NAME gandrel)
set(CPACK_PACKAGE_VENDOR "Gandrel")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Salvages the records of Btrieve data files")
set(CPACK_PACKAGE_DESCRIPTION
    "pagrove and gandrel read Btrieve data files directly, without the engine and without writing to them, and dump, salvage or export their records.")
set(CPACK_RESOURCE_FILE_LICENSE ${package_text}/LICENSE.txt)
set(CPACK_STRIP_FILES ON)
if(WIN32)
  set(CPACK_SYSTEM_NAME win32)
  set(CPACK_GENERATOR ZIP)
else()
  string(TOLOWER ${CMAKE_SYSTEM_NAME}-${CMAKE_SYSTEM_PROCESSOR} CPACK_SYSTEM_NAME)
  set(CPACK_GENERATOR TGZ DEB)
endif()
set(CPACK_PACKAGE_FILE_NAME gandrel-${PROJECT_VERSION}-${CPACK_SYSTEM_NAME})
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
set(CPACK_SOURCE_GENERATOR "")

# The .deb: gandrel_VERSION_ARCH.deb, the programs in /usr/bin.
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "Gandrel developers")
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libc6 (>= 2.34), libstdc++6 (>= 12), libgcc-s1")
if(GANDREL_SQLITE)
  string(APPEND CPACK_DEBIAN_PACKAGE_DEPENDS ", libsqlite3-0")
endif()
include(CPack)
