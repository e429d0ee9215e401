# Man pages: each is gzipped at build time (gzip -9n: best compression, no
# name or time stamp in the header, so the same page always gives the same
# bytes) and installed into share/man/man<section>. What installs a page is the
# CMakeLists.txt of the program it describes; this file only holds the helper.
find_program(VESK3_GZIP gzip REQUIRED)

# vesk3_install_man(PAGE): PAGE is a roff file named NAME.<section>, relative
# to the calling CMakeLists.txt or absolute. Installs share/man/man<section>/NAME.<section>.gz.
function(vesk3_install_man page)
  get_filename_component(source "${page}" ABSOLUTE BASE_DIR "${CMAKE_CURRENT_SOURCE_DIR}")
  get_filename_component(name "${source}" NAME)
  if(NOT name MATCHES "\\.([1-9])$")
    message(FATAL_ERROR "vesk3_install_man: ${page} does not end in a man section (.1 to .9)")
  endif()
  set(section ${CMAKE_MATCH_1})
  set(staged "${CMAKE_CURRENT_BINARY_DIR}/man/${name}")
  add_custom_command(
    OUTPUT "${staged}.gz"
    COMMAND ${CMAKE_COMMAND} -E make_directory "${CMAKE_CURRENT_BINARY_DIR}/man"
    COMMAND ${CMAKE_COMMAND} -E copy "${source}" "${staged}"
    COMMAND ${VESK3_GZIP} -9nf "${staged}"
    DEPENDS "${source}"
    COMMENT "Compressing man page ${name}"
    VERBATIM)
  string(MAKE_C_IDENTIFIER "man_${name}" target)
  add_custom_target(${target} ALL DEPENDS "${staged}.gz")
  install(FILES "${staged}.gz" DESTINATION share/man/man${section})
endfunction()
