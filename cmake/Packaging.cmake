# The Debian package: cmake --build build --target package
#
# Laid out for the installer hooks: the program goes in under its installer
# name ("Temp"), and the maintainer scripts run keshlor-setup, which records
# the three paths and calls KeshlorSetup's exports; the hooks close running
# copies, move the program to /usr/bin ("App") and write its launcher
# ("AppLink"). A plain `cmake --install` puts everything straight in place.
if(NOT KESHLOR_WIDGETS OR NOT TARGET KeshlorSetup)
  return()
endif()
include(GNUInstallDirs)

# So that file managers open containers with Keshlor.
install(FILES packaging/keshlor-mime.xml
  DESTINATION ${CMAKE_INSTALL_DATADIR}/mime/packages RENAME keshlor.xml)

set(KESHLOR_PACKAGE_PREFIX /usr)
set(keshlor_private_dir lib/keshlor)
set(KESHLOR_DATA_DIR ${KESHLOR_PACKAGE_PREFIX}/share)
set(KESHLOR_INSTALL_DIR ${KESHLOR_PACKAGE_PREFIX}/bin)
set(KESHLOR_SETUP_DRIVER ${KESHLOR_PACKAGE_PREFIX}/${keshlor_private_dir}/keshlor-setup)
set(KESHLOR_TEMP_PATH ${KESHLOR_PACKAGE_PREFIX}/${keshlor_private_dir}/keshlor)
set(KESHLOR_APP_PATH ${KESHLOR_INSTALL_DIR}/keshlor)
set(KESHLOR_APPLINK_PATH ${KESHLOR_DATA_DIR}/applications/org.keshlor.Keshlor.desktop)

# Only in the package (a component of its own, left out of a plain install).
install(TARGETS keshlor keshlor-setup KeshlorSetup
  RUNTIME DESTINATION ${keshlor_private_dir} COMPONENT package EXCLUDE_FROM_ALL
  LIBRARY DESTINATION ${keshlor_private_dir} COMPONENT package EXCLUDE_FROM_ALL)
# The launcher's folder, which a system without a desktop may lack.
install(DIRECTORY DESTINATION ${CMAKE_INSTALL_DATADIR}/applications
  COMPONENT package EXCLUDE_FROM_ALL)

set(keshlor_scripts)
foreach(script preinst postinst prerm postrm)
  configure_file(packaging/debian/${script}.in ${CMAKE_BINARY_DIR}/packaging/${script} @ONLY
    FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE
                     WORLD_READ WORLD_EXECUTE)
  list(APPEND keshlor_scripts ${CMAKE_BINARY_DIR}/packaging/${script})
endforeach()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME keshlor)
set(CPACK_PACKAGE_VENDOR TQ)
# The program's own version, as its About box shows it.
set(CPACK_PACKAGE_VERSION 2.13.0.1)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "password-based file encryption")
set(CPACK_PACKAGE_DESCRIPTION [[
Keshlor encrypts files under a password into .ksr containers and decrypts
them again. It lists a folder's files, encrypts or decrypts one or all of
them, and can wipe the plain file after encryption. The package holds the
program, its terminal front end ksr, and the installer hooks, which close a
running Keshlor before it is replaced or removed.]])
set(CPACK_PACKAGING_INSTALL_PREFIX ${KESHLOR_PACKAGE_PREFIX})
set(CPACK_INSTALL_CMAKE_PROJECTS
  "${CMAKE_BINARY_DIR};Keshlor;Unspecified;/"
  "${CMAKE_BINARY_DIR};Keshlor;package;/")
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "TQ <keshlor@tq.invalid>")
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "shared-mime-info, desktop-file-utils")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${keshlor_scripts})
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
