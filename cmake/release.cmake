# What a user downloads and installs (make dist, make install), all of it
# named and versioned from project():
# - the Windows tree: vantrel-VERSION-win32.zip, the two programs and a
#   README.txt for Windows users, at the zip's top level;
# - the Linux tree: vantrel-cli with its manual page, bash completion and
#   the copyright and changelog files Debian expects, installed by
#   `cmake --install` and packed as vantrel-cli_VERSION_ARCH.deb.
# `cpack --config BUILD/CPackConfig.cmake` packs a tree.

set(VANTREL_MAINTAINER "Vantrel developers <vantrel@example.org>" CACHE STRING
    "Who the packages name as their maintainer")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "Vantrel developers")
set(CPACK_PACKAGE_CONTACT ${VANTREL_MAINTAINER})
set(CPACK_STRIP_FILES ON)
# Folders readable by everyone, whatever the umask of whoever packs.
set(CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS ${CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS})
set(release_files ${CMAKE_BINARY_DIR}/release)

if(WIN32)
  configure_file(${PROJECT_SOURCE_DIR}/docs/README-windows.txt.in ${release_files}/README.txt
                 @ONLY NEWLINE_STYLE CRLF)
  install(TARGETS vantrel vantrel-cli RUNTIME DESTINATION .)
  install(FILES ${release_files}/README.txt DESTINATION .)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_PACKAGE_NAME vantrel)
  set(CPACK_PACKAGE_FILE_NAME vantrel-${PROJECT_VERSION}-win32)
  set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY OFF)
else()
  include(GNUInstallDirs)
  # Debian wants the manual page and the changelog compressed by gzip -9n
  # (no name or time inside, so the same files give the same bytes).
  configure_file(${PROJECT_SOURCE_DIR}/docs/vantrel-cli.1.in ${release_files}/vantrel-cli.1 @ONLY)
  configure_file(${PROJECT_SOURCE_DIR}/docs/changelog ${release_files}/changelog COPYONLY)
  add_custom_command(
    OUTPUT ${release_files}/vantrel-cli.1.gz ${release_files}/changelog.gz
    COMMAND gzip -9nkf vantrel-cli.1 changelog
    DEPENDS ${release_files}/vantrel-cli.1 ${release_files}/changelog
    WORKING_DIRECTORY ${release_files}
    VERBATIM)
  add_custom_target(release_files ALL
                    DEPENDS ${release_files}/vantrel-cli.1.gz ${release_files}/changelog.gz)

  set(docdir ${CMAKE_INSTALL_DATAROOTDIR}/doc/vantrel-cli)
  install(TARGETS vantrel-cli RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  install(FILES ${release_files}/vantrel-cli.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  install(FILES ${PROJECT_SOURCE_DIR}/cli/completion.bash DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/bash-completion/completions
          RENAME vantrel-cli)
  install(FILES ${PROJECT_SOURCE_DIR}/docs/copyright ${release_files}/changelog.gz DESTINATION ${docdir})

  set(CPACK_GENERATOR DEB)
  set(CPACK_PACKAGE_NAME vantrel-cli)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SECTION utils)
  set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "encrypt and decrypt files with a key taken from another file")
  # The extended description: lines of at most 80 characters.
  string(JOIN "\n" CPACK_PACKAGE_DESCRIPTION
         "vantrel-cli encrypts and decrypts whole files with Vantrel's own stream"
         "cipher, byte for byte as the Vantrel program for Windows does: any file"
         "can be the key, and the output has exactly the input's length. It keeps"
         "casual eyes off a file; it is no protection against a determined"
         "attacker (see the SECURITY section of its manual page).")
endif()

include(CPack)
