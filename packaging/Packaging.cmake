# The Debian packages, two from one build:
#   kestrix-server  the plug-in, the ProFTPD module, the command line, the
#                   migration utility without a window, the daily timer, the
#                   database template; nothing of Qt's GUI, for a headless host
#   kestrix         the desktop program and what only it uses
#   cmake --build build --target package
#     ->  build/kestrix-server_<version>_amd64.deb, build/kestrix_<version>_amd64.deb
# Files go where Debian's file system layout puts them; the programs find
# them there through the layout configured in KESTRIX_INSTALL_*_DIR.
set(KESTRIX_PACKAGING_DIR ${PROJECT_SOURCE_DIR}/packaging)
set(KESTRIX_PACKAGING_OUT ${PROJECT_BINARY_DIR}/packaging)
file(MAKE_DIRECTORY ${KESTRIX_PACKAGING_OUT})
# The Debian revision of this packaging of the version.
set(KESTRIX_DEBIAN_REVISION 1)
set(KESTRIX_PACKAGE_VERSION ${PROJECT_VERSION}-${KESTRIX_DEBIAN_REVISION})
# The last version of the single package that had everything under
# /opt/kestrix: files move from it to kestrix-server.
set(KESTRIX_SPLIT_VERSION 2.1.7-1~)

# install() wants destinations relative to the packaging prefix /.
foreach(dir BIN LIB DATA)
  string(REGEX REPLACE "^/" "" KESTRIX_PKG_${dir} "${KESTRIX_INSTALL_${dir}_DIR}")
endforeach()
set(KESTRIX_PKG_SERVER_DOC usr/share/doc/kestrix-server)
set(KESTRIX_PKG_DESKTOP_DOC usr/share/doc/kestrix)

# Installed programs find the system's libraries only, never the build tree.
set(KESTRIX_PACKAGED_TARGETS Tavix update Quellin kestrix migration_v4 migration_batch)
if(TARGET mod_quellin)
  list(APPEND KESTRIX_PACKAGED_TARGETS mod_quellin)
endif()
set_target_properties(${KESTRIX_PACKAGED_TARGETS} PROPERTIES INSTALL_RPATH "")
# Relocations resolved at start and then read-only, as Debian builds its own.
foreach(target ${KESTRIX_PACKAGED_TARGETS})
  target_link_options(${target} PRIVATE -Wl,-z,relro -Wl,-z,now)
endforeach()

# ---- kestrix-server ----
install(TARGETS kestrix RUNTIME DESTINATION ${KESTRIX_PKG_BIN} COMPONENT server)
install(TARGETS Quellin LIBRARY DESTINATION ${KESTRIX_PKG_LIB} COMPONENT server)
install(TARGETS migration_batch RUNTIME DESTINATION ${KESTRIX_PKG_LIB} COMPONENT server)
install(TARGETS quellind RUNTIME DESTINATION ${KESTRIX_PKG_LIB} COMPONENT server)
install(FILES ${KESTRIX_TEMPLATE_DB} DESTINATION ${KESTRIX_PKG_DATA} COMPONENT server)
install(FILES ${KESTRIX_PACKAGING_DIR}/kestrix-apply-dates.service
              ${KESTRIX_PACKAGING_DIR}/kestrix-apply-dates.timer
              ${KESTRIX_PACKAGING_DIR}/quellind.service
        DESTINATION lib/systemd/system COMPONENT server)

# ProFTPD serves the accounts: its module, and a configuration that is all
# comments until the administrator enables it (a conffile, kept on upgrade).
set(KESTRIX_SERVER_CONTROL ${KESTRIX_PACKAGING_DIR}/server/postinst
    ${KESTRIX_PACKAGING_DIR}/server/prerm ${KESTRIX_PACKAGING_DIR}/server/postrm)
if(TARGET mod_quellin)
  install(TARGETS mod_quellin LIBRARY DESTINATION usr/lib/proftpd COMPONENT server)
  install(FILES ${KESTRIX_PACKAGING_DIR}/proftpd/kestrix.conf DESTINATION etc/proftpd/conf.d
          COMPONENT server)
  file(WRITE ${KESTRIX_PACKAGING_OUT}/conffiles "/etc/proftpd/conf.d/kestrix.conf\n")
  list(APPEND KESTRIX_SERVER_CONTROL ${KESTRIX_PACKAGING_OUT}/conffiles)
else()
  message(WARNING "mod_quellin is not built (no proftpd-dev): the package goes without it")
endif()

# The command line's generated manual page and completions, when its
# directory defines them (there or in this scope).
foreach(var KESTRIX_CLI_MANPAGE KESTRIX_CLI_COMPLETION_BASH KESTRIX_CLI_COMPLETION_ZSH
            KESTRIX_CLI_COMPLETION_FISH)
  if(NOT DEFINED ${var})
    get_directory_property(_cli_value DIRECTORY ${PROJECT_SOURCE_DIR}/cli DEFINITION ${var})
    if(_cli_value)
      set(${var} ${_cli_value})
    endif()
  endif()
endforeach()
if(DEFINED KESTRIX_CLI_COMPLETION_BASH)
  install(FILES ${KESTRIX_CLI_COMPLETION_BASH} DESTINATION usr/share/bash-completion/completions
          RENAME kestrix COMPONENT server)
endif()
if(DEFINED KESTRIX_CLI_COMPLETION_ZSH)
  install(FILES ${KESTRIX_CLI_COMPLETION_ZSH} DESTINATION usr/share/zsh/vendor-completions
          RENAME _kestrix COMPONENT server)
endif()
if(DEFINED KESTRIX_CLI_COMPLETION_FISH)
  install(FILES ${KESTRIX_CLI_COMPLETION_FISH} DESTINATION usr/share/fish/vendor_completions.d
          RENAME kestrix.fish COMPONENT server)
endif()

# ---- kestrix ----
install(TARGETS Tavix RUNTIME DESTINATION ${KESTRIX_PKG_BIN} COMPONENT desktop)
# The updater and the window build of the migration utility: private programs.
install(TARGETS update RUNTIME DESTINATION ${KESTRIX_PKG_LIB} COMPONENT desktop)
install(TARGETS migration_v4 RUNTIME DESTINATION ${KESTRIX_PKG_LIB} COMPONENT desktop)
install(FILES ${KESTRIX_MANUAL_PDF} DESTINATION ${KESTRIX_PKG_DATA} COMPONENT desktop)

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
foreach(size ${KESTRIX_ICON_SIZES})
  install(FILES ${KESTRIX_PACKAGING_OUT}/icons/${size}x${size}/kestrix.png
          DESTINATION usr/share/icons/hicolor/${size}x${size}/apps COMPONENT desktop)
endforeach()
install(FILES ${KESTRIX_PACKAGING_DIR}/kestrix.desktop DESTINATION usr/share/applications
        COMPONENT desktop)
# Not enabled: an administrator copies it to /etc/xdg/autostart/ or
# ~/.config/autostart/ to start the program with the desktop session.
install(FILES ${KESTRIX_PACKAGING_DIR}/kestrix-autostart.desktop
        DESTINATION ${KESTRIX_PKG_DATA}/autostart RENAME kestrix.desktop COMPONENT desktop)

# ---- manual pages, copyright and changelog, compressed as Debian wants ----
# kestrix_gzip(<source> <output name>): gzip -9n of a file into the packaging
# directory; its output is added to KESTRIX_PACKAGE_FILES.
set(KESTRIX_PACKAGE_FILES ${KESTRIX_ICONS})
function(kestrix_gzip source name)
  add_custom_command(
    OUTPUT ${KESTRIX_PACKAGING_OUT}/${name}
    COMMAND sh -c "gzip -9n -c \"$1\" > \"$2.part\" && mv \"$2.part\" \"$2\"" sh ${source}
            ${KESTRIX_PACKAGING_OUT}/${name}
    DEPENDS ${source}
    COMMENT "Compressing ${name}"
    VERBATIM)
  set(KESTRIX_PACKAGE_FILES ${KESTRIX_PACKAGE_FILES} ${KESTRIX_PACKAGING_OUT}/${name} PARENT_SCOPE)
endfunction()

# The page of kestrix is generated from the command line's own table when
# the build defines it; the written one otherwise.
if(DEFINED KESTRIX_CLI_MANPAGE)
  set(KESTRIX_KESTRIX_PAGE ${KESTRIX_CLI_MANPAGE})
else()
  configure_file(${KESTRIX_PACKAGING_DIR}/kestrix.1 ${KESTRIX_PACKAGING_OUT}/kestrix.1 @ONLY)
  set(KESTRIX_KESTRIX_PAGE ${KESTRIX_PACKAGING_OUT}/kestrix.1)
endif()
kestrix_gzip(${KESTRIX_KESTRIX_PAGE} kestrix.1.gz)
foreach(page Tavix update migration)
  configure_file(${KESTRIX_PACKAGING_DIR}/man/${page}.1 ${KESTRIX_PACKAGING_OUT}/${page}.1 @ONLY)
  kestrix_gzip(${KESTRIX_PACKAGING_OUT}/${page}.1 ${page}.1.gz)
endforeach()
foreach(page mod_quellin quellind)
  configure_file(${KESTRIX_PACKAGING_DIR}/man/${page}.8 ${KESTRIX_PACKAGING_OUT}/${page}.8 @ONLY)
  kestrix_gzip(${KESTRIX_PACKAGING_OUT}/${page}.8 ${page}.8.gz)
endforeach()
configure_file(${KESTRIX_PACKAGING_DIR}/changelog ${KESTRIX_PACKAGING_OUT}/changelog.Debian @ONLY)
kestrix_gzip(${KESTRIX_PACKAGING_OUT}/changelog.Debian changelog.Debian.gz)
add_custom_target(package_files ALL DEPENDS ${KESTRIX_PACKAGE_FILES})

install(FILES ${KESTRIX_PACKAGING_OUT}/kestrix.1.gz ${KESTRIX_PACKAGING_OUT}/migration.1.gz
        DESTINATION usr/share/man/man1 COMPONENT server)
install(FILES ${KESTRIX_PACKAGING_OUT}/mod_quellin.8.gz ${KESTRIX_PACKAGING_OUT}/quellind.8.gz
        DESTINATION usr/share/man/man8 COMPONENT server)
install(FILES ${KESTRIX_PACKAGING_OUT}/Tavix.1.gz ${KESTRIX_PACKAGING_OUT}/update.1.gz
        DESTINATION usr/share/man/man1 COMPONENT desktop)
install(FILES ${KESTRIX_PACKAGING_DIR}/copyright ${KESTRIX_PACKAGING_OUT}/changelog.Debian.gz
        DESTINATION ${KESTRIX_PKG_SERVER_DOC} COMPONENT server)
install(FILES ${KESTRIX_PACKAGING_DIR}/copyright ${KESTRIX_PACKAGING_OUT}/changelog.Debian.gz
        DESTINATION ${KESTRIX_PKG_DESKTOP_DOC} COMPONENT desktop)

# ---- the packages ----
set(CPACK_GENERATOR DEB)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL server desktop)
set(CPACK_PACKAGE_NAME kestrix)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_DEBIAN_PACKAGE_RELEASE ${KESTRIX_DEBIAN_REVISION})
set(CPACK_PACKAGE_VENDOR "Orvane")
set(CPACK_PACKAGE_CONTACT "Kestrix maintainers <kestrix@orvane.com>")
set(CPACK_PACKAGING_INSTALL_PREFIX /)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "Kestrix maintainers <kestrix@orvane.com>")
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://www.orvane.com/servu/")
# The installed programs without their debugging information.
set(CPACK_STRIP_FILES ON)
# Libraries the programs link come from dpkg-shlibdeps; the rest is named.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

set(CPACK_DEBIAN_SERVER_PACKAGE_NAME kestrix-server)
set(CPACK_COMPONENT_SERVER_DESCRIPTION
    "FTP accounts kept in a database: plug-in, ProFTPD module, command line
Kestrix keeps the user accounts of an FTP server in a SQLite file or a
PostgreSQL database. This package holds what a host without a display
needs: the authentication plug-in Quellin.so, which answers the FTP
server's login and access questions from the database; the ProFTPD module
mod_quellin, which lets ProFTPD serve the accounts over FTP, FTPS and SFTP;
the command line kestrix, which creates, edits and deletes the accounts and
their rights; the migration utility without a window; and a daily timer that
applies the accounts' expiry and disable dates.")
# postinst makes the group kestrix with addgroup.
set(CPACK_DEBIAN_SERVER_PACKAGE_DEPENDS "adduser")
set(CPACK_DEBIAN_SERVER_PACKAGE_SUGGESTS "proftpd-core, proftpd-mod-crypto, kestrix")
# Takes over the command line, the timer, the module and its configuration
# from the single package of earlier versions.
set(CPACK_DEBIAN_SERVER_PACKAGE_REPLACES "kestrix (<< ${KESTRIX_SPLIT_VERSION})")
set(CPACK_DEBIAN_SERVER_PACKAGE_BREAKS "kestrix (<< ${KESTRIX_SPLIT_VERSION})")
set(CPACK_DEBIAN_SERVER_PACKAGE_CONTROL_EXTRA ${KESTRIX_SERVER_CONTROL})

set(CPACK_DEBIAN_DESKTOP_PACKAGE_NAME kestrix)
set(CPACK_COMPONENT_DESKTOP_DESCRIPTION
    "FTP accounts kept in a database: the desktop program
Kestrix keeps the user accounts of an FTP server in a SQLite file or a
PostgreSQL database. The desktop program Tavix creates, copies, edits and
deletes the accounts, their directory rights, limits, ratios, quotas and
blocked addresses, and applies expiry and disable dates once a day. It
comes with its manual, the migration utility with its window and the
updater.")
set(CPACK_DEBIAN_DESKTOP_PACKAGE_DEPENDS "kestrix-server (= ${KESTRIX_PACKAGE_VERSION})")
set(CPACK_DEBIAN_DESKTOP_PACKAGE_RECOMMENDS "xdg-utils, qt6-qpa-plugins")
include(CPack)
