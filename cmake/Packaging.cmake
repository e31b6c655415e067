# SPDX-License-Identifier: GPL-3.0-or-later
# The Debian package, built by `cpack -G DEB` in a configured and built tree.
# It holds exactly what `cmake --install` puts under /usr and, with the guard
# service, its settings under /etc (cmake/Install.cmake and data/udev), plus
# the copyright and changelog files every Debian package carries. Included
# from the top-level list after cmake/Install.cmake.

set(VCC_PACKAGE_MAINTAINER "Quelmark <packaging@quelmark.example>"
    CACHE STRING "Maintainer named in the Debian package (\"Name <address>\")")

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME vornalith-control-centre)
set(CPACK_PACKAGE_VENDOR Quelmark)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT ${VCC_PACKAGE_MAINTAINER})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES TRUE)
# Directories the install step creates get the usual modes whatever the
# builder's umask.
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

set(CPACK_DEBIAN_PACKAGE_NAME ${CPACK_PACKAGE_NAME})
set(CPACK_DEBIAN_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER ${VCC_PACKAGE_MAINTAINER})
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
"control centre for Vornalith phase-change CPU cooling units
The desktop control centre of a Vornalith phase-change CPU cooling unit
connected over USB. It polls the unit every three seconds, shows its
temperatures, fans and state, acts on the unit's warnings and arms an
emergency power-off on a critical temperature or a hard fault. It drives
the unit's front-panel text, sets fan modes, and keeps operation and error
logs.

A udev rule gives the user logged in at the seat access to the unit, so the
program needs no root rights. The package also holds a build of the program
that runs on a simulated unit, to try it out without the hardware.")
if(TARGET vornalith-guard)
  string(APPEND CPACK_DEBIAN_PACKAGE_DESCRIPTION "

The guard service vornalith-guard, off until the administrator enables
it, watches the unit from boot while no one is logged in and hands it over
to a control centre that starts.")
endif()
# Library dependencies come from the executables themselves.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Qt loads its SQLite driver as a plugin, which no executable links: without
# it the history would only ever live in memory. libcanberra plays through
# PulseAudio or PipeWire only with its pulse backend; without it the alarm is
# silent on most desktops.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libqt6sql6-sqlite, libcanberra-pulse")
# udev applies the access rule; xdg-open shows the logs; a mail transport
# agent's sendmail sends the error report; qt6-wayland runs it on Wayland.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "udev, xdg-utils, qt6-wayland")
if(TARGET vornalith-guard)
  # polkitd reads the rule that lets the guard power the host off.
  string(APPEND CPACK_DEBIAN_PACKAGE_RECOMMENDS ", polkitd")
endif()
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "default-mta | mail-transport-agent")

set(VCC_DEBIAN_DIR ${CMAKE_BINARY_DIR}/debian)
set(VCC_DEBIAN_WITH_GUARD no)
if(TARGET vornalith-guard)
  set(VCC_DEBIAN_WITH_GUARD yes)
endif()
set(VCC_DEBIAN_SCRIPTS postinst postrm)
if(TARGET vornalith-guard)
  list(APPEND VCC_DEBIAN_SCRIPTS prerm)
endif()
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA)
foreach(_script ${VCC_DEBIAN_SCRIPTS})
  configure_file(${CMAKE_SOURCE_DIR}/data/debian/${_script}.in ${VCC_DEBIAN_DIR}/${_script} @ONLY)
  list(APPEND CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${VCC_DEBIAN_DIR}/${_script})
endforeach()
# The guard's settings are the administrator's once installed: dpkg keeps
# their changes on an upgrade and takes them only on a purge.
file(REMOVE ${VCC_DEBIAN_DIR}/conffiles)
if(TARGET vornalith-guard)
  file(WRITE ${VCC_DEBIAN_DIR}/conffiles "${VCC_GUARD_CONFIG_DIR}/guard.conf\n")
  list(APPEND CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${VCC_DEBIAN_DIR}/conffiles)
endif()
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION TRUE)

# Debian's own documentation files go into the package only, not into every
# source install: a script run by cpack's install step adds them. The
# changelog is compressed the way Debian wants it: best compression, no name
# or time stamp inside.
string(TIMESTAMP VCC_CHANGELOG_DATE "%a, %d %b %Y %H:%M:%S +0000" UTC)
configure_file(${CMAKE_SOURCE_DIR}/data/debian/changelog.in ${VCC_DEBIAN_DIR}/changelog @ONLY)
find_program(VCC_GZIP gzip REQUIRED)
execute_process(COMMAND ${VCC_GZIP} -9 -n -c ${VCC_DEBIAN_DIR}/changelog
                OUTPUT_FILE ${VCC_DEBIAN_DIR}/changelog.Debian.gz
                COMMAND_ERROR_IS_FATAL ANY)
configure_file(${CMAKE_SOURCE_DIR}/data/debian/install-docs.cmake.in
               ${VCC_DEBIAN_DIR}/install-docs.cmake @ONLY)
set(CPACK_INSTALL_SCRIPTS ${VCC_DEBIAN_DIR}/install-docs.cmake)

set(CPACK_SOURCE_IGNORE_FILES "/\\\\.git/" "/build[^/]*/" "/\\\\.cache/")

include(CPack)
