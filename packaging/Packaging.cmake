# The Debian package: everything under one program directory, since the
# program finds its plug-in, updater and manual beside itself.
#   cmake --build build --target package  ->  build/kestrix_<version>_amd64.deb
set(KESTRIX_PROGRAM_DIR opt/kestrix)
set(KESTRIX_PACKAGING_DIR ${PROJECT_SOURCE_DIR}/packaging)
set(KESTRIX_PACKAGING_OUT ${PROJECT_BINARY_DIR}/packaging)
file(MAKE_DIRECTORY ${KESTRIX_PACKAGING_OUT})

# Installed programs find the system's libraries only, never the build tree.
set_target_properties(Tavix update Quellin PROPERTIES INSTALL_RPATH "")

install(TARGETS Tavix update RUNTIME DESTINATION ${KESTRIX_PROGRAM_DIR})
install(TARGETS Quellin LIBRARY DESTINATION ${KESTRIX_PROGRAM_DIR})
install(FILES ${KESTRIX_MANUAL_PDF} DESTINATION ${KESTRIX_PROGRAM_DIR})

# Links in the command path; made here and installed as links.
file(CREATE_LINK /${KESTRIX_PROGRAM_DIR}/Tavix ${KESTRIX_PACKAGING_OUT}/Tavix SYMBOLIC)
install(FILES ${KESTRIX_PACKAGING_OUT}/Tavix DESTINATION usr/bin)

# The command line, for servers without a display.
set_target_properties(kestrix PROPERTIES INSTALL_RPATH "")
install(TARGETS kestrix RUNTIME DESTINATION ${KESTRIX_PROGRAM_DIR})
file(CREATE_LINK /${KESTRIX_PROGRAM_DIR}/kestrix ${KESTRIX_PACKAGING_OUT}/kestrix SYMBOLIC)
install(FILES ${KESTRIX_PACKAGING_OUT}/kestrix DESTINATION usr/bin)

# The migration utility for the current server generation, as "migration";
# Tools, Migration Utility writes the chosen build over it.
set_target_properties(migration_v4 PROPERTIES INSTALL_RPATH "")
install(TARGETS migration_v4 RUNTIME DESTINATION ${KESTRIX_PROGRAM_DIR})

# ProFTPD serves the accounts: its module, and a configuration that is all
# comments until the administrator enables it (a conffile, kept on upgrade).
if(TARGET mod_quellin)
  install(TARGETS mod_quellin LIBRARY DESTINATION usr/lib/proftpd)
  install(FILES ${KESTRIX_PACKAGING_DIR}/proftpd/kestrix.conf DESTINATION etc/proftpd/conf.d)
  file(WRITE ${KESTRIX_PACKAGING_OUT}/conffiles "/etc/proftpd/conf.d/kestrix.conf\n")
  set(KESTRIX_CONFFILES ${KESTRIX_PACKAGING_OUT}/conffiles)
else()
  message(WARNING "mod_quellin is not built (no proftpd-dev): the package goes without it")
endif()

# The desktop's icon, drawn from the program's own emblem.
add_executable(kestrix-icon ${KESTRIX_PACKAGING_DIR}/icon/main.cpp)
target_link_libraries(kestrix-icon PRIVATE kestrix_shell)
set(KESTRIX_ICON_SIZES 16 24 32 48 64 128 256)
set(KESTRIX_ICONS)
foreach(size ${KESTRIX_ICON_SIZES})
  list(APPEND KESTRIX_ICONS ${KESTRIX_PACKAGING_OUT}/icons/${size}x${size}/kestrix.png)
endforeach()
add_custom_command(
  OUTPUT ${KESTRIX_ICONS}
  COMMAND ${CMAKE_COMMAND} -E env QT_QPA_PLATFORM=offscreen
          $<TARGET_FILE:kestrix-icon> ${KESTRIX_PACKAGING_OUT}/icons
  DEPENDS kestrix-icon
  COMMENT "Drawing the desktop icons"
  VERBATIM)

# The manual page, with the project's version, compressed as Debian wants it.
configure_file(${KESTRIX_PACKAGING_DIR}/kestrix.1 ${KESTRIX_PACKAGING_OUT}/kestrix.1 @ONLY)
add_custom_command(
  OUTPUT ${KESTRIX_PACKAGING_OUT}/kestrix.1.gz
  COMMAND sh -c "gzip -9n -c kestrix.1 > kestrix.1.gz.part && mv kestrix.1.gz.part kestrix.1.gz"
  DEPENDS ${KESTRIX_PACKAGING_OUT}/kestrix.1
  WORKING_DIRECTORY ${KESTRIX_PACKAGING_OUT}
  COMMENT "Compressing the manual page kestrix.1"
  VERBATIM)
add_custom_target(package_files ALL DEPENDS ${KESTRIX_ICONS} ${KESTRIX_PACKAGING_OUT}/kestrix.1.gz)

foreach(size ${KESTRIX_ICON_SIZES})
  install(FILES ${KESTRIX_PACKAGING_OUT}/icons/${size}x${size}/kestrix.png
          DESTINATION usr/share/icons/hicolor/${size}x${size}/apps)
endforeach()
install(FILES ${KESTRIX_PACKAGING_OUT}/kestrix.1.gz DESTINATION usr/share/man/man1)
install(FILES ${KESTRIX_PACKAGING_DIR}/kestrix.desktop DESTINATION usr/share/applications)
# Not enabled: an administrator copies it to /etc/xdg/autostart/ or
# ~/.config/autostart/ to start the program with the desktop session.
install(FILES ${KESTRIX_PACKAGING_DIR}/kestrix-autostart.desktop
        DESTINATION usr/share/kestrix/autostart RENAME kestrix.desktop)
install(FILES ${KESTRIX_PACKAGING_DIR}/kestrix-apply-dates.service
              ${KESTRIX_PACKAGING_DIR}/kestrix-apply-dates.timer
        DESTINATION lib/systemd/system)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME kestrix)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "Orvane")
set(CPACK_PACKAGE_CONTACT "Kestrix maintainers <kestrix@orvane.com>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "administration of FTP user accounts kept in a database")
set(CPACK_PACKAGING_INSTALL_PREFIX /)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "Kestrix maintainers <kestrix@orvane.com>")
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://www.orvane.com/servu/")
# CPack puts the summary first and indents these lines.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "Kestrix keeps the user accounts of an FTP server in a SQLite file or a
PostgreSQL database. The desktop program Tavix creates, copies, edits and
deletes the accounts, their directory rights, limits, ratios, quotas and
blocked addresses, and applies expiry and disable dates once a day. The
authentication plug-in Quellin.so answers the FTP server's login and access
questions from the same database; the ProFTPD module mod_quellin lets
ProFTPD serve the accounts over FTP, FTPS and SFTP.")
# The installed programs without their debugging information.
set(CPACK_STRIP_FILES ON)
# Libraries the programs link come from dpkg-shlibdeps; the rest is named.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# postinst makes the group kestrix with addgroup.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "adduser")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "xdg-utils, qt6-qpa-plugins")
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "proftpd-core, proftpd-mod-crypto")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
    ${KESTRIX_PACKAGING_DIR}/postinst ${KESTRIX_PACKAGING_DIR}/prerm ${KESTRIX_PACKAGING_DIR}/postrm
    ${KESTRIX_CONFFILES})
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
