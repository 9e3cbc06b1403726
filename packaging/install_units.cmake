# SPDX-License-Identifier: MIT
# Run by `cmake --install` (and cpack): writes the systemd units for the
# prefix of this install and installs them into the system unit folder.
# Given: HOROLAN_BINDIR (relative or absolute), HOROLAN_SYSTEMD_UNITDIR
# (systemd's own folder, used for the prefix /usr; may be empty),
# HOROLAN_UNIT_SOURCES, HOROLAN_UNIT_STAGING, HOROLAN_DEFAULT_CONFIG (the
# system configuration file's text).
if(IS_ABSOLUTE "${HOROLAN_BINDIR}")
  set(HOROLAN_INSTALLED_BINDIR "${HOROLAN_BINDIR}")
else()
  set(HOROLAN_INSTALLED_BINDIR "${CMAKE_INSTALL_PREFIX}/${HOROLAN_BINDIR}")
endif()
# The service's condition (installed by the top CMakeLists.txt).
set(HOROLAN_INSTALLED_LIBEXECDIR "${CMAKE_INSTALL_PREFIX}/libexec/horolan")
if(CMAKE_INSTALL_PREFIX STREQUAL "/usr" AND HOROLAN_SYSTEMD_UNITDIR)
  set(unit_dir "${HOROLAN_SYSTEMD_UNITDIR}")
else()
  set(unit_dir "${CMAKE_INSTALL_PREFIX}/lib/systemd/system")
endif()
foreach(unit horolan-sync.service horolan-sync.timer)
  configure_file("${HOROLAN_UNIT_SOURCES}/${unit}" "${HOROLAN_UNIT_STAGING}/${unit}" @ONLY)
endforeach()
# The first sync after boot: the same sandboxed service, once per boot before
# time-sync.target, authenticated (NTS) and allowed a step of any size, since
# a device whose clock died may be years off. The time floor and the
# certificate dates still bound what it takes (README, "First sync after boot").
file(READ "${HOROLAN_UNIT_STAGING}/horolan-sync.service" boot)
string(REPLACE "Set the system clock from one time server" "First clock synchronisation after boot, authenticated"
       boot "${boot}")
string(REPLACE "After=network-online.target\n" "After=network-online.target\nBefore=time-sync.target\nWants=time-sync.target\n"
       boot "${boot}")
string(REPLACE "horolan --silent --sntp\n" "horolan --silent --nts --max-step=any\n" boot "${boot}")
file(WRITE "${HOROLAN_UNIT_STAGING}/horolan-boot-sync.service" "${boot}\n[Install]\nWantedBy=multi-user.target\n")
file(INSTALL "${HOROLAN_UNIT_STAGING}/horolan-sync.service" "${HOROLAN_UNIT_STAGING}/horolan-sync.timer"
     "${HOROLAN_UNIT_STAGING}/horolan-boot-sync.service"
     DESTINATION "${unit_dir}" FILE_PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)

# The system configuration file where the installed program looks for it
# (app/config_files.h): PREFIX/etc/horolan, /etc/horolan for the prefix /usr.
if(CMAKE_INSTALL_PREFIX STREQUAL "/usr" OR CMAKE_INSTALL_PREFIX STREQUAL "/")
  set(config_dir "/etc/horolan")
else()
  set(config_dir "${CMAKE_INSTALL_PREFIX}/etc/horolan")
endif()
file(INSTALL "${HOROLAN_DEFAULT_CONFIG}" DESTINATION "${config_dir}"
     FILE_PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
