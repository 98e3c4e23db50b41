# A release's Linux layout: the Debian packages (cpack -G DEB) and the
# tarball (cmake --install --component tarball, tools/release).
#
# Packages, one pair per model so that two models install side by side:
#   wxr7305-tq16          /usr/bin/wxr7305-tq16 (update-alternatives gives a
#                         plain wxr7305), man page, udev text and rule, the
#                         firmware as /usr/share/wxr7305/firmware/tq16.bin
#   wxr7305-upgrade-tq16  the dialog in /usr/lib/wxr7305-upgrade-tq16 (its
#                         file name is its caption), WXR7305_Upgrade_Tool-TQ16
#                         on PATH, desktop entry and icon; needs the first at
#                         the same version, so that both always move together
# Their dependencies come from dpkg-shlibdeps (a cross build names them in its
# toolchain file), their timestamps from SOURCE_DATE_EPOCH. The station
# service's package, the same for every model, is station/build-deb's.

set(WXR7305_PACKAGE_MAINTAINER "WXR7305 vendor <support@wxr7305.example>" CACHE STRING
    "Maintainer field of the Debian packages: Name <mail>")
# A newer firmware of the same tool sorts after the older one; the model is in the name.
set(WXR7305_DEBIAN_VERSION "${PROJECT_VERSION}+v${WXR7305_FIRMWARE_VERSION}")
set(label ${WXR7305_FIRMWARE_LABEL})
set(cli_package ${WXR7305_CLI_PACKAGE})
set(dialog_package ${WXR7305_PACKAGE_NAME})
set(cli_program "wxr7305-${WXR7305_FIRMWARE_LABEL_LOWER}")
set(dialog_program "WXR7305_Upgrade_Tool-${label}")
set(rules_name "70-wxr7305-${WXR7305_FIRMWARE_LABEL_LOWER}.rules")
# What udev-rule --install writes: never the package's rule's name.
set(local_rule "70-wxr7305-${WXR7305_FIRMWARE_LABEL_LOWER}-local.rules")
set(out ${CMAKE_CURRENT_BINARY_DIR})
set(has_dialog FALSE)
if(TARGET ${WXR7305_GUI_TARGET})
  set(has_dialog TRUE)
endif()

# Man pages, one per installed name: hand-written templates (man/) with the
# lists of the command line's --help spliced in at build time (make-page).
set(cli_runner $<TARGET_FILE:wxr7305>)
if(CMAKE_CROSSCOMPILING_EMULATOR)
  list(JOIN CMAKE_CROSSCOMPILING_EMULATOR "\" \"" emulator)
  file(GENERATE OUTPUT ${out}/run-wxr7305
       CONTENT "#!/bin/sh\nexec \"${emulator}\" \"$<TARGET_FILE:wxr7305>\" \"$@\"\n")
  set(cli_runner ${out}/run-wxr7305)
endif()
string(TIMESTAMP WXR7305_MAN_DATE "%Y-%m-%d" UTC)  # SOURCE_DATE_EPOCH's day in a release
string(REPLACE "\\" "\\e" MAN_FIRMWARE_SUMMARY "${WXR7305_FIRMWARE_SUMMARY}")  # troff's escape
set(man_pages_deb "")
set(man_pages_tarball "")
# wxr_man_page(TEMPLATE NAME VARIANT [--help of the command line]): man/NAME.1 of
# the package ("deb") or the tarball, from the MAN_* variables of the caller.
function(wxr_man_page template name variant)
  string(TOUPPER "${MAN_PROGRAM}" MAN_TITLE)
  set(page ${out}/man-${variant}/${name}.1)
  configure_file(${CMAKE_CURRENT_SOURCE_DIR}/man/${template}.1.in ${page}.in @ONLY)
  set(runner "")
  set(depends ${page}.in ${CMAKE_CURRENT_SOURCE_DIR}/man/make-page ${CMAKE_CURRENT_SOURCE_DIR}/man/help-to-man.awk)
  if(ARGN)
    set(runner ${cli_runner})
    list(APPEND depends wxr7305)
  endif()
  add_custom_command(OUTPUT ${page}
    COMMAND chmod 755 ${cli_runner}
    COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/man/make-page ${page}.in ${page} ${runner}
    DEPENDS ${depends} VERBATIM)
  set(man_pages_${variant} ${man_pages_${variant}} ${page} PARENT_SCOPE)
endfunction()

set(rules_path /usr/lib/udev/rules.d/${rules_name})
set(station_unit /lib/systemd/system/wxr7305-station@.service)
set(man_station ".TP\n.I ${station_unit}\n(package wxr7305\\-station) the station service:\n\
.B wxr7305\\-station@NAME\nruns\n.B wxr7305 upgrade \\-\\-watch\nwith the options of\n.IR /etc/wxr7305/NAME.conf .\n\
.TP\n.I /var/log/wxr7305/NAME.jsonl\nthat station's log, as\n.B \\-\\-log\nwrites it: a start record before each unit's first write and a result record when its visit\n\
ends; a start without its result means the write was cut off: write that unit again\n")
set(MAN_PROGRAM ${cli_program})
set(MAN_ALTERNATIVE "Installed from its package it is also reachable as\n.BR wxr7305 :\n\
the model with the highest model number when several are installed, unless\n\
.B update\\-alternatives \\-\\-config wxr7305\npicked another.")
if(WXR7305_UDEV_RULES)
  set(man_rule "the rule the package ${cli_package} installs for the vendor's USB ids: the logged-in user and the\n\
group wxr7305 (the station service's) may write to those devices.\n.B Warning:\n\
a file of the same name in\n.I /etc/udev/rules.d\nreplaces it, and the station service then reaches no device;\n\
.B udev\\-rule \\-\\-install\nwrites\n.I /etc/udev/rules.d/${local_rule}\ninstead, which is read beside it.")
else()
  set(man_rule "where\n.B ${cli_program} udev\\-rule \\-\\-install\nwrites a rule for the devices attached\n\
(this release names no USB ids, so its package installs none)")
  set(rules_path /etc/udev/rules.d/${local_rule})
endif()
set(MAN_FILES ".TP\n.I /usr/share/wxr7305/firmware/${WXR7305_FIRMWARE_LABEL_LOWER}.bin\n\
the firmware this program carries, for\n.B \\-\\-image\non a station that writes several models\n\
.TP\n.I ${rules_path}\n${man_rule}\n.TP\n.I /usr/share/doc/${cli_package}/udev-access.txt\n\
how to let users reach the devices\n${man_station}")
set(MAN_EXAMPLES ".TP\n.B systemctl enable \\-\\-now wxr7305\\-station@default\n\
a station service with the options of\n.I /etc/wxr7305/default.conf\n(package wxr7305\\-station)")
set(MAN_SEE_ALSO "")
if(has_dialog)
  set(MAN_SEE_ALSO ".BR ${dialog_program} (1),\n")
endif()
string(APPEND MAN_SEE_ALSO ".BR update\\-alternatives (1),\n.BR systemctl (1),\n.BR udev (7),\n.BR udevadm (8)")
wxr_man_page(wxr7305 ${cli_program} deb --help)

set(MAN_PROGRAM wxr7305)
set(MAN_ALTERNATIVE "Run it from the folder it was unpacked in, as\n.BR ./wxr7305 .")
set(MAN_FILES ".TP\n.I udev-access.txt\n(in the program's folder) how to let users reach the devices\n\
.TP\n.I /etc/udev/rules.d/${local_rule}\nwhat\n.B ./wxr7305 udev\\-rule \\-\\-install\n\
writes: a rule that lets the logged-in user reach the devices attached and those of the vendor's USB ids")
if(WXR7305_UDEV_RULES)
  string(APPEND MAN_FILES "\n.TP\n.I ${local_rule}\n(in the program's folder) that rule for the vendor's USB ids, to copy there instead")
endif()
set(MAN_EXAMPLES "")
set(MAN_SEE_ALSO ".BR udev (7),\n.BR udevadm (8)")
wxr_man_page(wxr7305 wxr7305 tarball --help)

if(has_dialog)
  set(MAN_FILES ".TP\n.I /usr/share/applications/${dialog_package}.desktop\nthe desktop entry\n\
.TP\n.I /usr/lib/${dialog_package}/${WXR7305_GUI_TARGET}\nthe program itself\n\
.TP\n.I ${rules_path}\n${man_rule}\n.TP\n.I /usr/share/doc/${cli_package}/udev-access.txt\n\
how to let users reach the device")
  set(MAN_PROGRAM ${dialog_program})
  set(MAN_CLI ${cli_program})
  wxr_man_page(WXR7305_Upgrade_Tool ${dialog_program} deb)
  set(MAN_FILES ".TP\n.I udev-access.txt\n(in the program's folder) how to let users reach the device")
  set(MAN_PROGRAM ${WXR7305_GUI_TARGET})
  set(MAN_CLI wxr7305)
  wxr_man_page(WXR7305_Upgrade_Tool ${WXR7305_GUI_TARGET} tarball)
endif()

# What lintian expects beside every package: copyright and changelog.
string(TIMESTAMP WXR7305_CHANGELOG_DATE "%a, %d %b %Y %H:%M:%S +0000" UTC)
set(gzipped "")
foreach(package IN ITEMS ${cli_package} ${dialog_package})
  set(WXR7305_CHANGELOG_PACKAGE ${package})
  configure_file(changelog.in ${out}/changelog-${package}/changelog @ONLY)
  list(APPEND gzipped ${out}/changelog-${package}/changelog)
endforeach()
set(gzipped_files "")
foreach(file IN LISTS gzipped man_pages_deb)
  add_custom_command(OUTPUT ${file}.gz COMMAND gzip -9nkf ${file} DEPENDS ${file} VERBATIM)
  list(APPEND gzipped_files ${file}.gz)
endforeach()

# The command-line package.
set(cli_doc share/doc/${cli_package})
install(PROGRAMS $<TARGET_FILE:wxr7305> DESTINATION bin RENAME ${cli_program} COMPONENT cli)
install(FILES ${out}/man-deb/${cli_program}.1.gz DESTINATION share/man/man1 COMPONENT cli)
set(WXR7305_CLI_COMMAND ${cli_program})
configure_file(udev-access.txt.in ${out}/deb/udev-access.txt @ONLY)
install(FILES copyright ${out}/deb/udev-access.txt ${out}/changelog-${cli_package}/changelog.gz
        DESTINATION ${cli_doc} COMPONENT cli)
# The firmware as a file too, so that one station writes several models (--image).
install(FILES ${WXR7305_FIRMWARE} DESTINATION share/wxr7305/firmware
        RENAME ${WXR7305_FIRMWARE_LABEL_LOWER}.bin COMPONENT cli)
if(WXR7305_UDEV_RULES)
  # The package's rule also gives the devices to the group wxr7305 (postinst),
  # in which the station service runs.
  file(READ ${WXR7305_UDEV_RULES} rules)
  string(REPLACE "TAG+=\"uaccess\"" "GROUP=\"wxr7305\", MODE=\"0660\", TAG+=\"uaccess\"" rules "${rules}")
  file(WRITE ${out}/deb/${rules_name}.new "${rules}")
  configure_file(${out}/deb/${rules_name}.new ${out}/deb/${rules_name} COPYONLY)
  # lib, not the multiarch library folder: udev reads /usr/lib/udev/rules.d.
  install(FILES ${out}/deb/${rules_name} DESTINATION lib/udev/rules.d COMPONENT cli)
endif()
# A plain wxr7305 on PATH: in automatic mode the model with the highest model
# number, whatever the order they were installed in; update-alternatives
# --config picks another for good.
math(EXPR WXR7305_ALTERNATIVE_PRIORITY "1000 + ${WXR7305_FIRMWARE_MODEL}")
foreach(script postinst prerm)
  configure_file(${script}.in ${out}/deb/${script} @ONLY)
endforeach()

# The dialog package.
if(has_dialog)
  set(dialog_dir lib/${dialog_package})
  install(TARGETS ${WXR7305_GUI_TARGET} RUNTIME DESTINATION ${dialog_dir} COMPONENT dialog)
  file(MAKE_DIRECTORY ${out}/deb)
  file(CREATE_LINK ../${dialog_dir}/${WXR7305_GUI_TARGET} ${out}/deb/${dialog_program} SYMBOLIC)
  install(FILES ${out}/deb/${dialog_program} DESTINATION bin COMPONENT dialog)
  install(FILES ${out}/man-deb/${dialog_program}.1.gz DESTINATION share/man/man1 COMPONENT dialog)
  wxr_desktop_entry(${out}/deb/${dialog_package}.desktop ${dialog_program} false
                    "WXR7305 Upgrade Tool ${label} v${WXR7305_FIRMWARE_VERSION}" ${dialog_package})
  install(FILES ${out}/deb/${dialog_package}.desktop DESTINATION share/applications COMPONENT dialog)
  install(FILES ${PROJECT_SOURCE_DIR}/res/wxr7305.png DESTINATION share/icons/hicolor/256x256/apps
          RENAME ${dialog_package}.png COMPONENT dialog)
  install(FILES copyright ${out}/changelog-${dialog_package}/changelog.gz
          DESTINATION share/doc/${dialog_package} COMPONENT dialog)
endif()

# The tarball: everything in one folder, the command line run from there.
set(WXR7305_CLI_COMMAND ./wxr7305)
configure_file(udev-access.txt.in ${out}/tarball/udev-access.txt @ONLY)
set(WXR7305_TARBALL_DIALOG "")
set(tarball_programs $<TARGET_FILE:wxr7305>)
if(has_dialog)
  set(WXR7305_TARBALL_DIALOG "
WXR7305_Upgrade_Tool    the dialog: attach the device, start ./WXR7305_Upgrade_Tool,
                        press \"Check and Upgrade\". It needs @WXR7305_QT_NEEDS@
                        (Debian, Ubuntu: libqt6widgets6) and a desktop.")
  list(APPEND tarball_programs $<TARGET_FILE:${WXR7305_GUI_TARGET}>)
endif()
set(WXR7305_TARBALL_RULES "")
if(WXR7305_UDEV_RULES)
  set(WXR7305_TARBALL_RULES "
${local_rule}
                        the rule for the vendor's USB ids: copy it into
                        /etc/udev/rules.d instead of running
                        ./wxr7305 udev-rule --install, which writes it there")
endif()
# What the programs need of the system is read from them once built.
set(WXR7305_TARBALL_ARCH ${CMAKE_SYSTEM_PROCESSOR})
set(WXR7305_RUNTIME_NEEDS "@WXR7305_RUNTIME_NEEDS@")
set(WXR7305_QT_NEEDS "@WXR7305_QT_NEEDS@")
configure_file(README.tarball.in ${out}/tarball/README.in @ONLY)
list(JOIN tarball_programs "|" tarball_programs)
add_custom_command(OUTPUT ${out}/tarball/README
  COMMAND ${CMAKE_COMMAND} -DREADELF=${CMAKE_READELF} "-DPROGRAMS=${tarball_programs}"
          -DTEMPLATE=${out}/tarball/README.in -DOUT=${out}/tarball/README
          -P ${CMAKE_CURRENT_SOURCE_DIR}/runtime-needs.cmake
  DEPENDS ${out}/tarball/README.in ${CMAKE_CURRENT_SOURCE_DIR}/runtime-needs.cmake wxr7305
          $<$<BOOL:${has_dialog}>:${WXR7305_GUI_TARGET}> VERBATIM)
add_custom_target(wxr_release_files ALL DEPENDS ${gzipped_files} ${man_pages_tarball} ${out}/tarball/README)
configure_file(copyright ${out}/tarball/LICENSE COPYONLY)
install(PROGRAMS $<TARGET_FILE:wxr7305> DESTINATION . COMPONENT tarball)
install(FILES ${out}/tarball/README ${out}/tarball/LICENSE ${out}/tarball/udev-access.txt
        DESTINATION . COMPONENT tarball)
install(FILES ${man_pages_tarball} DESTINATION man/man1 COMPONENT tarball)
if(WXR7305_UDEV_RULES)
  install(FILES ${WXR7305_UDEV_RULES} DESTINATION . RENAME ${local_rule} COMPONENT tarball)
endif()
if(has_dialog)
  install(TARGETS ${WXR7305_GUI_TARGET} RUNTIME DESTINATION . COMPONENT tarball)
endif()

set(arch ${WXR7305_DEBIAN_ARCH})
if(NOT arch)
  execute_process(COMMAND dpkg --print-architecture OUTPUT_VARIABLE arch
                  OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
endif()
if(arch STREQUAL "")
  set(arch ${CMAKE_SYSTEM_PROCESSOR})
endif()

# Texts from the firmware's info block go into the package as they are.
set(CPACK_VERBATIM_VARIABLES ON)
set(CPACK_GENERATOR DEB)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL cli)
set(CPACK_PACKAGE_NAME ${cli_package})
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "${WXR7305_PACKAGE_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${WXR7305_PACKAGE_MAINTAINER}")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_PACKAGE_VERSION "${WXR7305_DEBIAN_VERSION}")
set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE ${arch})
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
if(CMAKE_CROSSCOMPILING)
  # dpkg-shlibdeps knows only the build machine's libraries.
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS OFF)
  set(CPACK_DEBIAN_CLI_PACKAGE_DEPENDS "${WXR7305_CROSS_DEPENDS}")
else()
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
endif()

set(CPACK_DEBIAN_CLI_PACKAGE_NAME ${cli_package})
set(CPACK_DEBIAN_CLI_FILE_NAME "${WXR7305_CLI_RELEASE_NAME}_${arch}.deb")
set(CPACK_DEBIAN_CLI_DESCRIPTION "WXR7305 firmware upgrade, ${label} v${WXR7305_FIRMWARE_VERSION}, command line
Writes the firmware it carries into attached WXR7305 devices over USB HID:
the command line ${cli_program}, also reachable as wxr7305.
Firmware: ${WXR7305_FIRMWARE_SUMMARY}.")
# The single-package releases before the model went into the name.
set(CPACK_DEBIAN_CLI_PACKAGE_CONFLICTS "wxr7305-upgrade")
# What the station service (package wxr7305-station) runs: any model's command line.
set(CPACK_DEBIAN_CLI_PACKAGE_PROVIDES "wxr7305")
set(CPACK_DEBIAN_CLI_PACKAGE_CONTROL_EXTRA "${out}/deb/postinst;${out}/deb/prerm")
if(has_dialog)
  list(APPEND CPACK_COMPONENTS_ALL dialog)
  set(CPACK_DEBIAN_DIALOG_PACKAGE_NAME ${dialog_package})
  set(CPACK_DEBIAN_DIALOG_FILE_NAME "${WXR7305_RELEASE_NAME}_${arch}.deb")
  set(CPACK_DEBIAN_DIALOG_PACKAGE_DEPENDS "${cli_package} (= ${WXR7305_DEBIAN_VERSION})")
  set(CPACK_DEBIAN_DIALOG_DESCRIPTION "WXR7305 firmware upgrade, ${label} v${WXR7305_FIRMWARE_VERSION}, dialog
Writes the firmware it carries into an attached WXR7305 device over USB HID:
the dialog ${dialog_program}, with a desktop entry.
Firmware: ${WXR7305_FIRMWARE_SUMMARY}.")
endif()
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR}/packages)
include(CPack)
