# Release packages of the tool alone: a Debian package on Linux, a ZIP on the
# Windows cross build. Only the "tool" install component goes in, so the
# stand-in libraries, the simulator and the tests never reach a package.
#
#   cmake --build --preset default --target package   -> qzupgrade_<version>_<arch>.deb
#   cmake --build --preset windows --target package   -> qzupgrade-<version>-win64.zip
set(QZ_PACKAGE_COMPONENT tool)

set(CPACK_PACKAGE_NAME qzupgrade)
set(CPACK_PACKAGE_VENDOR "qzupgrade developers")
# Debian requires a contact address; replace it with the team's own
# (-DQZ_PACKAGE_MAINTAINER=...), and in packaging/changelog.
set(QZ_PACKAGE_MAINTAINER "qzupgrade developers <qzupgrade@example.org>" CACHE STRING
  "Maintainer of the Debian package: Name <address>")
set(CPACK_PACKAGE_CONTACT "${QZ_PACKAGE_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${QZ_PACKAGE_MAINTAINER}")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Programs the QZ4850 chip's flash and its mirror EEPROM")
string(CONCAT CPACK_PACKAGE_DESCRIPTION
  "qzupgrade upgrades, programs, reads out and self-tests the 32 KB flash\n"
  "of the QZ4850 chip and the I2C EEPROM that mirrors it, over the chip's\n"
  "USB Billboard device, an FT232H board or the chip maker's I2C adapter.\n"
  "The link libraries are loaded at run time and are not part of this\n"
  "package.")
set(CPACK_COMPONENTS_ALL ${QZ_PACKAGE_COMPONENT})
set(CPACK_COMPONENTS_GROUPING ALL_COMPONENTS_IN_ONE)
set(CPACK_STRIP_FILES ON)

if(WIN32)
  # The version resource and the application manifest, from the version that
  # --version prints.
  enable_language(RC)
  set(QZ_MANIFEST ${CMAKE_CURRENT_BINARY_DIR}/qzupgrade.exe.manifest)
  configure_file(${PROJECT_SOURCE_DIR}/packaging/windows/qzupgrade.exe.manifest.in ${QZ_MANIFEST} @ONLY)
  configure_file(${PROJECT_SOURCE_DIR}/packaging/windows/qzupgrade.rc.in
    ${CMAKE_CURRENT_BINARY_DIR}/qzupgrade.rc @ONLY)
  target_sources(qzupgrade PRIVATE ${CMAKE_CURRENT_BINARY_DIR}/qzupgrade.rc)
  set_property(SOURCE ${CMAKE_CURRENT_BINARY_DIR}/qzupgrade.rc APPEND PROPERTY OBJECT_DEPENDS ${QZ_MANIFEST})

  # The man page as plain text, for readers without man.
  find_program(QZ_GROFF groff REQUIRED)
  set(QZ_MAN_TEXT ${CMAKE_CURRENT_BINARY_DIR}/qzupgrade.txt)
  add_custom_command(OUTPUT ${QZ_MAN_TEXT}
    COMMAND ${QZ_GROFF} -man -Tascii -P-cbou ${PROJECT_SOURCE_DIR}/packaging/qzupgrade.1 > ${QZ_MAN_TEXT}
    DEPENDS ${PROJECT_SOURCE_DIR}/packaging/qzupgrade.1
    VERBATIM)
  add_custom_target(qzupgrade_man_text ALL DEPENDS ${QZ_MAN_TEXT})

  install(TARGETS qzupgrade RUNTIME DESTINATION . COMPONENT ${QZ_PACKAGE_COMPONENT})
  install(FILES ${PROJECT_SOURCE_DIR}/README.md ${QZ_MAN_TEXT} DESTINATION . COMPONENT ${QZ_PACKAGE_COMPONENT})
  install(FILES ${PROJECT_SOURCE_DIR}/packaging/copyright DESTINATION . RENAME LICENSE.txt
    COMPONENT ${QZ_PACKAGE_COMPONENT})

  set(CPACK_GENERATOR ZIP)
  set(CPACK_ARCHIVE_COMPONENT_INSTALL ON)
  set(CPACK_PACKAGE_FILE_NAME qzupgrade-${PROJECT_VERSION}-win64)
  set(CPACK_ARCHIVE_FILE_NAME ${CPACK_PACKAGE_FILE_NAME})
  # The files sit at the top of the archive: Windows' "Extract All" already
  # makes a folder named after it.
  set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY OFF)
else()
  find_program(QZ_GZIP gzip REQUIRED)
  set(QZ_MAN_PAGE ${CMAKE_CURRENT_BINARY_DIR}/qzupgrade.1.gz)
  # -n: no name or time stamp, so the same page gives the same bytes.
  add_custom_command(OUTPUT ${QZ_MAN_PAGE}
    COMMAND ${QZ_GZIP} -9 -n -c ${PROJECT_SOURCE_DIR}/packaging/qzupgrade.1 > ${QZ_MAN_PAGE}
    DEPENDS ${PROJECT_SOURCE_DIR}/packaging/qzupgrade.1
    VERBATIM)
  set(QZ_CHANGELOG ${CMAKE_CURRENT_BINARY_DIR}/changelog.gz)
  add_custom_command(OUTPUT ${QZ_CHANGELOG}
    COMMAND ${QZ_GZIP} -9 -n -c ${PROJECT_SOURCE_DIR}/packaging/changelog > ${QZ_CHANGELOG}
    DEPENDS ${PROJECT_SOURCE_DIR}/packaging/changelog
    VERBATIM)
  add_custom_target(qzupgrade_package_docs ALL DEPENDS ${QZ_MAN_PAGE} ${QZ_CHANGELOG})

  install(TARGETS qzupgrade RUNTIME DESTINATION bin COMPONENT ${QZ_PACKAGE_COMPONENT})
  install(FILES ${QZ_MAN_PAGE} DESTINATION share/man/man1 COMPONENT ${QZ_PACKAGE_COMPONENT})
  # USB access for the plugdev group and the user at the seat, and completion.
  install(FILES ${PROJECT_SOURCE_DIR}/packaging/60-qzupgrade.rules DESTINATION lib/udev/rules.d
    COMPONENT ${QZ_PACKAGE_COMPONENT})
  install(FILES ${PROJECT_SOURCE_DIR}/packaging/qzupgrade.bash-completion
    DESTINATION share/bash-completion/completions RENAME qzupgrade COMPONENT ${QZ_PACKAGE_COMPONENT})
  install(FILES ${PROJECT_SOURCE_DIR}/packaging/copyright ${QZ_CHANGELOG} DESTINATION share/doc/qzupgrade
    COMPONENT ${QZ_PACKAGE_COMPONENT})

  set(CPACK_GENERATOR DEB)
  set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
  set(CPACK_DEB_COMPONENT_INSTALL ON)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
  set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
  # The FT232H link's library where FTDI's D2XX is not installed.
  set(CPACK_DEBIAN_PACKAGE_SUGGESTS libftdi1-2)
  # The tool links only the C and C++ runtimes; the link libraries are opened
  # with dlopen and so are no dependency. dpkg-shlibdeps (and CPack's use of
  # "file") name the runtime versions; without them the packages are named
  # bare.
  find_program(QZ_DPKG_SHLIBDEPS dpkg-shlibdeps)
  find_program(QZ_FILE file)
  if(QZ_DPKG_SHLIBDEPS AND QZ_FILE)
    set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  else()
    set(CPACK_DEBIAN_PACKAGE_DEPENDS "libc6, libstdc++6, libgcc-s1")
  endif()
endif()

include(CPack)
