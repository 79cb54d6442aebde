# Install layout and the Debian package. Everything lives in one folder, /opt/velmora by
# default, because the server finds its settings, networks and database beside its binary.
# The samples are installed under share/ only: the package's postinst copies them into place
# when the operator has no such file yet, so no install or upgrade overwrites an operator's
# settings or networks.
set(VELMORA_HOME /opt/velmora CACHE PATH
  "The server's folder on the target system: the package's prefix, named by the unit")
if(CMAKE_INSTALL_PREFIX_INITIALIZED_TO_DEFAULT)
  set(CMAKE_INSTALL_PREFIX ${VELMORA_HOME} CACHE PATH "Install prefix" FORCE)
endif()
option(VELMORA_INSTALL_SYSTEM_FILES
  "Also install the units, the velmora-admin link, the man pages and Debian's files under /usr" ON)

set(VELMORA_PACKAGING_DIR ${CMAKE_CURRENT_LIST_DIR})
# The copies below are made at configure time; an edit of an original configures again.
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS
  ${VELMORA_PACKAGING_DIR}/velmora.service ${VELMORA_PACKAGING_DIR}/velmora@.service
  ${VELMORA_PACKAGING_DIR}/debian/postinst ${VELMORA_PACKAGING_DIR}/debian/prerm
  ${VELMORA_PACKAGING_DIR}/debian/postrm ${VELMORA_PACKAGING_DIR}/debian/changelog.in)
set(VELMORA_DEFAULT_HOME /opt/velmora)

# The units and the maintainer scripts name the server's folder; another VELMORA_HOME gets its
# own copies. A plain "cmake --install" installs under CMAKE_INSTALL_PREFIX, which starts out as
# VELMORA_HOME; keep the two equal when the units are to be used.
set(VELMORA_UNITS velmora.service velmora@.service)
foreach(unit IN LISTS VELMORA_UNITS)
  file(READ ${VELMORA_PACKAGING_DIR}/${unit} VELMORA_UNIT)
  string(REPLACE "${VELMORA_DEFAULT_HOME}" "${VELMORA_HOME}" VELMORA_UNIT "${VELMORA_UNIT}")
  file(WRITE ${CMAKE_BINARY_DIR}/packaging/${unit} "${VELMORA_UNIT}")
endforeach()
list(TRANSFORM VELMORA_UNITS PREPEND ${CMAKE_BINARY_DIR}/packaging/ OUTPUT_VARIABLE
  VELMORA_UNIT_FILES)

# Man pages and the Debian changelog go into the package compressed, as Debian has them: gzip
# without a name or a time stamp, so that the same sources give the same package.
set(VELMORA_PACKAGE_RELEASE 1)
set(VELMORA_PACKAGE_VERSION ${PROJECT_VERSION}-${VELMORA_PACKAGE_RELEASE})
configure_file(${VELMORA_PACKAGING_DIR}/debian/changelog.in
  ${CMAKE_BINARY_DIR}/packaging/doc/changelog.Debian @ONLY)
find_program(VELMORA_GZIP gzip REQUIRED)
set(VELMORA_COMPRESSED)
foreach(source IN ITEMS ${VELMORA_PACKAGING_DIR}/man/velmora.8
    ${VELMORA_PACKAGING_DIR}/man/velmora-admin.1 ${CMAKE_BINARY_DIR}/packaging/doc/changelog.Debian)
  get_filename_component(name ${source} NAME)
  set(copy ${CMAKE_BINARY_DIR}/packaging/gz/${name})
  add_custom_command(OUTPUT ${copy}.gz
    COMMAND ${CMAKE_COMMAND} -E copy ${source} ${copy}
    COMMAND ${VELMORA_GZIP} -9nf ${copy}
    DEPENDS ${source} VERBATIM)
  list(APPEND VELMORA_COMPRESSED ${copy}.gz)
endforeach()
add_custom_target(velmora-packaging-docs ALL DEPENDS ${VELMORA_COMPRESSED})
set(VELMORA_GZ ${CMAKE_BINARY_DIR}/packaging/gz)

install(FILES ${VELMORA_PACKAGING_DIR}/sample/velmora.conf ${VELMORA_PACKAGING_DIR}/sample/sample.conf
  DESTINATION share/samples PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
install(FILES ${VELMORA_UNIT_FILES} DESTINATION share)
install(FILES ${PROJECT_SOURCE_DIR}/README.md DESTINATION share/doc)
# The README shows the console with this picture, by a path relative to itself.
install(FILES ${PROJECT_SOURCE_DIR}/docs/console.png DESTINATION share/doc/docs)
if(VELMORA_INSTALL_SYSTEM_FILES)
  install(FILES ${VELMORA_UNIT_FILES} DESTINATION /lib/systemd/system)
  file(CREATE_LINK ${VELMORA_HOME}/velmora-admin
    ${CMAKE_BINARY_DIR}/packaging/velmora-admin SYMBOLIC)
  install(FILES ${CMAKE_BINARY_DIR}/packaging/velmora-admin DESTINATION /usr/bin)
  # Where man and Debian's tools look, whatever the server's folder.
  install(FILES ${VELMORA_GZ}/velmora.8.gz DESTINATION /usr/share/man/man8)
  install(FILES ${VELMORA_GZ}/velmora-admin.1.gz DESTINATION /usr/share/man/man1)
  install(FILES ${VELMORA_PACKAGING_DIR}/debian/copyright ${VELMORA_GZ}/changelog.Debian.gz
    DESTINATION /usr/share/doc/velmora)
  install(FILES ${VELMORA_PACKAGING_DIR}/debian/lintian-overrides
    DESTINATION /usr/share/lintian/overrides RENAME velmora)
else()
  install(FILES ${VELMORA_GZ}/velmora.8.gz DESTINATION share/man/man8)
  install(FILES ${VELMORA_GZ}/velmora-admin.1.gz DESTINATION share/man/man1)
endif()

# Maintainer scripts: dpkg wants them executable, and they name the install folder too.
foreach(script postinst prerm postrm)
  file(READ ${VELMORA_PACKAGING_DIR}/debian/${script} VELMORA_SCRIPT)
  string(REPLACE "${VELMORA_DEFAULT_HOME}" "${VELMORA_HOME}" VELMORA_SCRIPT
    "${VELMORA_SCRIPT}")
  file(WRITE ${CMAKE_BINARY_DIR}/packaging/debian-staging/${script} "${VELMORA_SCRIPT}")
  file(COPY ${CMAKE_BINARY_DIR}/packaging/debian-staging/${script}
    DESTINATION ${CMAKE_BINARY_DIR}/packaging/debian
    FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE
      WORLD_READ WORLD_EXECUTE)
endforeach()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME velmora)
set(CPACK_PACKAGE_VENDOR "Velmora")
set(CPACK_PACKAGE_CONTACT "Velmora operators <operators@velmora.invalid>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "relay server for map clients of an online game")
# Lines of the long description stay within 80 columns, as Debian's tools show them.
string(CONCAT CPACK_PACKAGE_DESCRIPTION
  "Members of password-protected networks report their positions and chat; the\n"
  "server relays them to the other members and gives network administrators kick,\n"
  "ban and announce commands.\n"
  "Includes velmora-admin, the operators' command-line client, and systemd units\n"
  "for one server or several on one host.")
set(CPACK_PACKAGING_INSTALL_PREFIX ${VELMORA_HOME})
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_RELEASE ${VELMORA_PACKAGE_RELEASE})
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# useradd, for the service user.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "passwd")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
  ${CMAKE_BINARY_DIR}/packaging/debian/postinst
  ${CMAKE_BINARY_DIR}/packaging/debian/prerm
  ${CMAKE_BINARY_DIR}/packaging/debian/postrm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
