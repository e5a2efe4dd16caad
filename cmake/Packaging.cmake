# What the system and the desktop expect beside the executables (manual
# pages, shell completions, the MIME type, AppStream metadata, the Debian
# documentation), and the Debian package: cmake --build build --target package
#
# The package holds exactly what `cmake --install` puts under /usr, so dpkg
# owns every file; its only maintainer script cleans up after the versions
# whose installer hooks wrote outside dpkg (packaging/debian/preinst).
include(GNUInstallDirs)
set(packaging_dir ${PROJECT_SOURCE_DIR}/packaging)
set(packaging_out ${CMAKE_BINARY_DIR}/packaging)
file(MAKE_DIRECTORY ${packaging_out})

# Compressed as Debian wants them: best compression, no name or time inside,
# so the same sources give the same bytes.
function(keshlor_gzip_file source output)
  get_filename_component(name ${output} NAME_WLE)
  set(copy ${packaging_out}/${name})
  add_custom_command(
    OUTPUT ${output}
    COMMAND ${CMAKE_COMMAND} -E copy ${source} ${copy}
    COMMAND gzip -9nf ${copy}
    DEPENDS ${source}
    VERBATIM)
endfunction()

set(ksr_manual ${packaging_out}/ksr.1.gz)
keshlor_gzip_file(${packaging_dir}/man/ksr.1 ${ksr_manual})
set(compressed_files ${ksr_manual})
install(FILES ${ksr_manual} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${packaging_dir}/completions/ksr.bash
  DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions RENAME ksr)
install(FILES ${packaging_dir}/completions/_ksr
  DESTINATION ${CMAKE_INSTALL_DATADIR}/zsh/vendor-completions)
install(FILES ${packaging_dir}/completions/ksr.fish
  DESTINATION ${CMAKE_INSTALL_DATADIR}/fish/vendor_completions.d)

if(NOT KESHLOR_WIDGETS OR NOT TARGET KeshlorSetup)
  add_custom_target(keshlor_compressed_files ALL DEPENDS ${compressed_files})
  return()
endif()

set(keshlor_manual ${packaging_out}/keshlor.1.gz)
keshlor_gzip_file(${packaging_dir}/man/keshlor.1 ${keshlor_manual})
set(debian_changelog ${packaging_out}/changelog.Debian.gz)
keshlor_gzip_file(${packaging_dir}/debian/changelog ${debian_changelog})
list(APPEND compressed_files ${keshlor_manual} ${debian_changelog})
add_custom_target(keshlor_compressed_files ALL DEPENDS ${compressed_files})

install(FILES ${keshlor_manual} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
# So that file managers open containers with Keshlor.
install(FILES ${packaging_dir}/keshlor-mime.xml
  DESTINATION ${CMAKE_INSTALL_DATADIR}/mime/packages RENAME keshlor.xml)
install(FILES ${packaging_dir}/org.keshlor.Keshlor.metainfo.xml
  DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
install(FILES ${packaging_dir}/debian/copyright ${debian_changelog}
  DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/keshlor)

# The version is the changelog's latest entry: upstream version and
# Debian revision.
file(STRINGS ${packaging_dir}/debian/changelog changelog_head LIMIT_COUNT 1)
if(NOT changelog_head MATCHES "^keshlor \\(([^-)]+)-([^)]+)\\)")
  message(FATAL_ERROR "packaging/debian/changelog: no version in '${changelog_head}'")
endif()
set(CPACK_PACKAGE_VERSION ${CMAKE_MATCH_1})
set(CPACK_DEBIAN_PACKAGE_RELEASE ${CMAKE_MATCH_2})
if(NOT CPACK_PACKAGE_VERSION STREQUAL PROJECT_VERSION)
  message(FATAL_ERROR "packaging/debian/changelog names ${CPACK_PACKAGE_VERSION}, "
                      "project() ${PROJECT_VERSION}: add a changelog entry")
endif()
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${packaging_dir}/debian/changelog)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME keshlor)
set(CPACK_PACKAGE_VENDOR TQ)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "password-based file encryption")
set(CPACK_PACKAGE_DESCRIPTION [[
Keshlor encrypts files under a password into .ksr containers and decrypts
them again. It lists a folder's files, encrypts or decrypts one or all of
them, and can wipe the plain file after encryption. The package holds the
program, its terminal front end ksr, and keshlor-setup, which installs
Keshlor for one user in ~/.local without root.]])
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "TQ <keshlor@tq.invalid>")
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "shared-mime-info")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${packaging_dir}/debian/preinst)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
