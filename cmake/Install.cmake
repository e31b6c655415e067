# SPDX-License-Identifier: GPL-3.0-or-later
# What `cmake --install` puts where. Included from the top-level list after
# every target exists.
#
#   bin/                                 the program, its simulated-unit build,
#                                        and the guard service's program
#   share/vornalith-control-centre/      read-only program files (help, alarm
#                                        sound; the access rule and its installer
#                                        come from data/udev)
#   share/applications/, share/icons/hicolor/, share/metainfo/
#                                        desktop menu entries, icon, AppStream data
#   <udev>/rules.d/                      the unit's access rule (data/udev)
#   <systemd>/system/, sysusers.d/, polkit-1/rules.d/, <udev>/rules.d/,
#   /etc/vornalith/                      beside the guard only: its service, its
#                                        system user, its leave to power the host
#                                        off, its group on the unit's node, and
#                                        its settings file

include(GNUInstallDirs)

set(VCC_APP_ID org.quelmark.VornalithControlCentre)
set(VCC_PROGRAM_DATA_DIR ${CMAKE_INSTALL_DATADIR}/vornalith-control-centre)

# The program looks for its read-only files in ../share/vornalith-control-centre
# from its own folder, and the access-rule install above uses that folder
# literally: other layouts install a program that plays no alarm sound and
# finds no help.
if(NOT CMAKE_INSTALL_BINDIR STREQUAL "bin" OR NOT CMAKE_INSTALL_DATADIR STREQUAL "share")
  message(WARNING "CMAKE_INSTALL_BINDIR=${CMAKE_INSTALL_BINDIR} and CMAKE_INSTALL_DATADIR="
                  "${CMAKE_INSTALL_DATADIR}: the installed program will not find its files "
                  "unless they are bin and share.")
endif()

set(_vcc_programs vornalith-control-centre)
foreach(_program vornalith-control-centre-sim vornalith-guard)
  if(TARGET ${_program})
    list(APPEND _vcc_programs ${_program})
  endif()
endforeach()
install(TARGETS ${_vcc_programs} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

install(FILES ${CMAKE_SOURCE_DIR}/data/Alarm.wav ${CMAKE_SOURCE_DIR}/data/Tessalinique.html
        DESTINATION ${VCC_PROGRAM_DATA_DIR})

# The menu entry for the simulated unit only makes sense with its program.
set(_vcc_desktop_entries ${CMAKE_SOURCE_DIR}/data/desktop/${VCC_APP_ID}.desktop)
if(TARGET vornalith-control-centre-sim)
  list(APPEND _vcc_desktop_entries ${CMAKE_SOURCE_DIR}/data/desktop/${VCC_APP_ID}.Simulated.desktop)
endif()
install(FILES ${_vcc_desktop_entries} DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)

install(FILES ${CMAKE_SOURCE_DIR}/data/icons/${VCC_APP_ID}.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
set(VCC_ICON_SIZES 16 22 24 32 48 64 128 256)
foreach(size ${VCC_ICON_SIZES})
  install(FILES ${CMAKE_SOURCE_DIR}/data/icons/${size}x${size}.png
          DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps
          RENAME ${VCC_APP_ID}.png)
endforeach()

# The software centre's hardware match names the unit of the packaged access
# rule (VCC_UNIT_USB_ID, cmake/UnitUsbId.cmake).
configure_file(${CMAKE_SOURCE_DIR}/data/metainfo/${VCC_APP_ID}.metainfo.xml.in
               ${CMAKE_BINARY_DIR}/data/metainfo/${VCC_APP_ID}.metainfo.xml @ONLY)
install(FILES ${CMAKE_BINARY_DIR}/data/metainfo/${VCC_APP_ID}.metainfo.xml
        DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)

# The guard service's system files (data/systemd, data/polkit, data/guard,
# and its udev rule from data/udev). The unit is configured whether or not the
# guard is built, so that its checks run; it is installed, with its user, its
# power-off rule, its group on the node and its settings, only beside the
# program (installed with the others above): a system user and a
# power-off grant for a program that is not there would be left for anyone
# who takes that name. Nothing enables the unit.
set(_guard_unit_in ${CMAKE_SOURCE_DIR}/data/systemd/vornalith-guard.service.in)
set(VCC_GUARD_UNIT ${CMAKE_BINARY_DIR}/data/systemd/vornalith-guard.service)
configure_file(${_guard_unit_in} ${VCC_GUARD_UNIT} @ONLY)

# systemd and polkit read these from their own folders whatever the prefix.
set(_systemd_unit_dir "")
set(_sysusers_dir "")
find_package(PkgConfig QUIET)
if(PkgConfig_FOUND)
  pkg_get_variable(_systemd_unit_dir systemd systemdsystemunitdir)
  pkg_get_variable(_sysusers_dir systemd sysusersdir)
endif()
if(NOT _systemd_unit_dir)
  set(_systemd_unit_dir /usr/lib/systemd/system)
endif()
if(NOT _sysusers_dir)
  set(_sysusers_dir /usr/lib/sysusers.d)
endif()
set(VCC_SYSTEMD_UNIT_DIR "${_systemd_unit_dir}" CACHE PATH "Where systemd reads package system units")
set(VCC_SYSUSERS_DIR "${_sysusers_dir}" CACHE PATH "Where systemd-sysusers reads package users")
set(VCC_POLKIT_RULES_DIR /usr/share/polkit-1/rules.d CACHE PATH "Where polkit reads package rules")

# The guard reads guard.conf from its ConfigurationDirectory, which systemd
# puts under /etc whatever the prefix.
set(VCC_GUARD_CONFIG_DIR /etc/vornalith CACHE PATH "Where the guard service reads guard.conf")

if(TARGET vornalith-guard)
  # The unit names the installed program, whose prefix is known only at
  # install time (cpack and `cmake --install --prefix` choose it then).
  set(_installed_unit ${CMAKE_BINARY_DIR}/data/systemd/installed/vornalith-guard.service)
  install(CODE "
    set(CMAKE_INSTALL_FULL_BINDIR \"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}\")
    configure_file(\"${_guard_unit_in}\" \"${_installed_unit}\" @ONLY)
    file(INSTALL DESTINATION \"${VCC_SYSTEMD_UNIT_DIR}\" TYPE FILE FILES \"${_installed_unit}\")
  ")
  install(FILES ${CMAKE_SOURCE_DIR}/data/systemd/vornalith-guard.sysusers
          DESTINATION ${VCC_SYSUSERS_DIR} RENAME vornalith-guard.conf)
  install(FILES ${CMAKE_SOURCE_DIR}/data/polkit/50-vornalith-guard.rules
          DESTINATION ${VCC_POLKIT_RULES_DIR})
  install(FILES ${VCC_GUARD_UDEV_RULE} DESTINATION ${VCC_UDEV_RULES_DIR})
  install(FILES ${CMAKE_SOURCE_DIR}/data/guard/guard.conf DESTINATION ${VCC_GUARD_CONFIG_DIR})
endif()
