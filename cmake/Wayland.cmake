# The Wayland backend's libraries and the client glue of the wlroots protocols it speaks,
# generated from third_party/wlr-protocols at build time.
find_package(PkgConfig REQUIRED)
pkg_check_modules(TAPSTER_WAYLAND REQUIRED IMPORTED_TARGET wayland-client xkbcommon)
find_program(WAYLAND_SCANNER wayland-scanner REQUIRED)

set(_wl_out ${CMAKE_BINARY_DIR}/wlr-protocols)
set(_wl_sources)
foreach(proto virtual-keyboard-unstable-v1 wlr-virtual-pointer-unstable-v1
              wlr-foreign-toplevel-management-unstable-v1)
  set(_xml ${CMAKE_SOURCE_DIR}/third_party/wlr-protocols/${proto}.xml)
  add_custom_command(
    OUTPUT ${_wl_out}/${proto}-client-protocol.h ${_wl_out}/${proto}-protocol.c
    COMMAND ${CMAKE_COMMAND} -E make_directory ${_wl_out}
    COMMAND ${WAYLAND_SCANNER} client-header ${_xml} ${_wl_out}/${proto}-client-protocol.h
    COMMAND ${WAYLAND_SCANNER} private-code ${_xml} ${_wl_out}/${proto}-protocol.c
    DEPENDS ${_xml} VERBATIM)
  list(APPEND _wl_sources ${_wl_out}/${proto}-protocol.c ${_wl_out}/${proto}-client-protocol.h)
endforeach()
add_library(tapster_wlr_protocols STATIC ${_wl_sources})
target_include_directories(tapster_wlr_protocols PUBLIC ${_wl_out})
target_link_libraries(tapster_wlr_protocols PUBLIC PkgConfig::TAPSTER_WAYLAND)
set_target_properties(tapster_wlr_protocols PROPERTIES POSITION_INDEPENDENT_CODE ON)
