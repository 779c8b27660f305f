# Install rules of the menu entry, the icon, the metadata, the manual page and
# the set-up of an installed console, and the Debian package (scripts/package).
# The program and its libraries go to VARDEL_INSTALL_DIR whatever the prefix;
# the rest under CMAKE_INSTALL_PREFIX (/usr in the package).

include(GNUInstallDirs)
set(package_src ${PROJECT_SOURCE_DIR}/deploy/package)
set(package_dir ${CMAKE_BINARY_DIR}/package)
file(MAKE_DIRECTORY ${package_dir})

foreach(f vardel.1 vardel-mib2ini.1 changelog)
  execute_process(COMMAND gzip -9n -c ${package_src}/${f} OUTPUT_FILE ${package_dir}/${f}.gz COMMAND_ERROR_IS_FATAL ANY)
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${package_src}/${f})
endforeach()
file(CREATE_LINK ${VARDEL_INSTALL_DIR}/vardel ${package_dir}/vardel SYMBOLIC)
file(CREATE_LINK ${VARDEL_INSTALL_DIR}/vardel-mib2ini ${package_dir}/vardel-mib2ini SYMBOLIC)
set(VARDEL_SYSCTL_FILE ${CMAKE_INSTALL_PREFIX}/lib/sysctl.d/60-vardel.conf)
configure_file(${package_src}/postinst.in ${package_dir}/postinst @ONLY
  FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

install(FILES ${package_dir}/vardel ${package_dir}/vardel-mib2ini DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${package_src}/vardel.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${package_src}/vardel.png DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/48x48/apps)
install(FILES ${package_src}/vardel.svg DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
install(FILES ${package_src}/com.orvane.vardel.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
install(FILES ${package_dir}/vardel.1.gz ${package_dir}/vardel-mib2ini.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${package_src}/copyright ${package_dir}/changelog.gz DESTINATION ${CMAKE_INSTALL_DOCDIR})
# Room for a trap storm in the console's receive buffer, from boot on.
install(FILES ${PROJECT_SOURCE_DIR}/deploy/sysctl.d/60-vardel.conf DESTINATION lib/sysctl.d)

# Installed straight onto this machine (no DESTDIR), the console is set up as
# the package's postinst sets it up: group, shared files, capabilities.
install(CODE "if(\"\$ENV{DESTDIR}\" STREQUAL \"\")
    execute_process(COMMAND sh ${package_dir}/postinst configure COMMAND_ERROR_IS_FATAL ANY)
  endif()")

if(NOT VARDEL_PACKAGE)
  return()
endif()
install(FILES ${package_src}/lintian-overrides DESTINATION ${CMAKE_INSTALL_DATADIR}/lintian/overrides RENAME vardel)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME vardel)
set(CPACK_PACKAGE_VENDOR Orvane)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX ${CMAKE_INSTALL_PREFIX})
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "Orvane <vardel@orvane.example>")
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${VARDEL_INSTALL_DIR})
# The platform plugins of Qt are loaded at run time: no library dependency names them.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libcap2-bin, adduser, qt6-qpa-plugins, qt6-wayland")
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "alert console for a network of managed servers
Vardel receives the SNMP traps that the agents of the managed servers send,
classifies each through trap-definition files into an alert, pops it up on top
of every window, sounds it and logs it. It polls every server, shows its SNMP
and network status, and raises an alert when a server goes down or comes back.
The server list can be shared with other consoles through a management server.
.
The console's users share its files in /var/opt/vardel; they are members of
group vardel.")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${package_dir}/postinst ${package_src}/postrm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_STRIP_FILES ON)
include(CPack)
