# Version, installation and packages: a Debian package for the native build, a zip with
# the programs for Windows.

# Only the one file that holds the version is rebuilt when it changes.
set_source_files_properties(${CMAKE_SOURCE_DIR}/app/version.cpp PROPERTIES
  COMPILE_DEFINITIONS "TAPSTER_VERSION=\"${PROJECT_VERSION}\"")

if(WIN32)
  # One folder that runs as it is unpacked.
  set(TAPSTER_BIN_DIR .)
  set(TAPSTER_DOC_DIR .)
else()
  include(GNUInstallDirs)
  set(TAPSTER_BIN_DIR ${CMAKE_INSTALL_BINDIR})
  set(TAPSTER_DOC_DIR ${CMAKE_INSTALL_DATADIR}/doc/tapster)
  if(TARGET manual)
    install(FILES ${CMAKE_BINARY_DIR}/tapster.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  endif()
endif()
install(TARGETS tapster RUNTIME DESTINATION ${TAPSTER_BIN_DIR})
# The sibling program may be added after this file is read: look for it at the very end.
function(tapster_install_frontwin)
  if(TARGET frontwin)
    install(TARGETS frontwin RUNTIME DESTINATION ${TAPSTER_BIN_DIR})
  endif()
endfunction()
cmake_language(DEFER DIRECTORY ${CMAKE_SOURCE_DIR} CALL tapster_install_frontwin)
install(FILES ${CMAKE_SOURCE_DIR}/README.md DESTINATION ${TAPSTER_DOC_DIR})

# Packaging needs only the shipped programs, not every test program of the build.
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY ON)

set(CPACK_PACKAGE_NAME tapster)
set(CPACK_PACKAGE_VENDOR "Tapster")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "Keyboard and mouse simulation into the windows of other programs")
set(CPACK_PACKAGE_CONTACT "Tapster developers <tapster@localhost>")
set(CPACK_RESOURCE_FILE_README ${CMAKE_SOURCE_DIR}/README.md)
# Programs ship without debug data or symbol tables; their function names for fault reports
# are embedded (cmake/EmbedSymbols.cmake), and the debug files stay beside the build.
set(CPACK_STRIP_FILES ON)
if(WIN32)
  set(CPACK_GENERATOR ZIP)
  if(CMAKE_SIZEOF_VOID_P EQUAL 4)
    set(_arch win32)
  else()
    set(_arch win64)
  endif()
  set(CPACK_PACKAGE_FILE_NAME tapster-${PROJECT_VERSION}-${_arch})
  set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY OFF)
else()
  set(CPACK_GENERATOR DEB)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SECTION utils)
  set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
      "Each argument is one command: a window to find by title or class, a key or\n mouse button to press or a text to type, and coordinates for the mouse.")
  # The libraries the programs link (X11, XTest, Wayland, xkbcommon, the C and C++ runtimes)
  # become Depends.
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
endif()
include(CPack)
