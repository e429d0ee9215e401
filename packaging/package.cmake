# The Debian package tessaro-app: CPack's DEB generator over the install rules
# of the whole tree, so whatever `cmake --install` installs is packaged, with no
# list of files here. This file adds the package's own files (AppStream
# metadata, copyright, Debian changelog, maintainer scripts) and the package
# fields; the programs, desktop entries, icons, man pages and the udev rule are
# installed by the folders they belong to. scripts/package.sh builds it.

set(VESK3_PACKAGING_DIR ${CMAKE_CURRENT_LIST_DIR})
set(VESK3_PACKAGE_NAME tessaro-app)
set(VESK3_METAINFO org.example.Tessaro_App.metainfo.xml)

# The AppStream entry describes the window for the real device.
if(TARGET Tessaro_App)
  install(FILES ${VESK3_PACKAGING_DIR}/${VESK3_METAINFO} DESTINATION share/metainfo)
endif()

set(VESK3_CHANGELOG_GZ ${PROJECT_BINARY_DIR}/packaging/changelog.Debian.gz)
add_custom_command(
  OUTPUT ${VESK3_CHANGELOG_GZ}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${PROJECT_BINARY_DIR}/packaging
  COMMAND ${CMAKE_COMMAND} -E copy ${VESK3_PACKAGING_DIR}/changelog
          ${PROJECT_BINARY_DIR}/packaging/changelog.Debian
  COMMAND ${VESK3_GZIP} -9nf ${PROJECT_BINARY_DIR}/packaging/changelog.Debian
  DEPENDS ${VESK3_PACKAGING_DIR}/changelog
  COMMENT "Compressing changelog.Debian"
  VERBATIM)
add_custom_target(debian_changelog ALL DEPENDS ${VESK3_CHANGELOG_GZ})
install(FILES ${VESK3_PACKAGING_DIR}/copyright ${VESK3_CHANGELOG_GZ}
        DESTINATION share/doc/${VESK3_PACKAGE_NAME})

# Folders in the package are 0755 whatever the umask of the build: mkdir()
# applies the umask to every folder the install creates, so a script fixes
# them in CPack's staging folder before it packs (files get 0644 and programs
# 0755 from install() itself).
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ
    GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(CPACK_PRE_BUILD_SCRIPTS ${VESK3_PACKAGING_DIR}/directory_permissions.cmake)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME ${VESK3_PACKAGE_NAME})
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "Tessaro_App maintainers")
set(CPACK_PACKAGE_CONTACT
    "Tessaro_App maintainers <maintainers@users.noreply.c-seed-a581c05e.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "front panel of the Vesk-3 hand controller")
set(CPACK_PACKAGE_DESCRIPTION
    "Tessaro_App finds the Vesk-3 hand controller behind its FT230X USB bridge,\n"
    "mirrors its 240 x 320 display live, sends Esc, Enter and the arrow keys to\n"
    "it, shows its device information, copies the mirror to the clipboard and\n"
    "presses its hardware Esc key. A udev rule lets the logged-in user open the\n"
    "bridge without root.\n"
    "\n"
    "Tessaro_App_sim is the same window on a simulated hand controller, so every\n"
    "feature can be tried without the hardware.")
string(JOIN "" CPACK_PACKAGE_DESCRIPTION ${CPACK_PACKAGE_DESCRIPTION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
# An install rule with an absolute destination would land outside the package
# (and on the building machine): refuse it. See VESK3_UDEV_RULES_DIR.
set(CPACK_ERROR_ON_ABSOLUTE_INSTALL_DESTINATION ON)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://example.org/tessaro-app/")
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The Python package is interpreted code: shlibdeps cannot see what it needs.
if(TARGET _vesk3)
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "python3, python3-numpy")
endif()
set(CPACK_DEBIAN_COMPRESSION_TYPE xz)
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${VESK3_PACKAGING_DIR}/postinst ${VESK3_PACKAGING_DIR}/postrm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

include(CPack)
