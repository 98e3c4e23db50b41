# A release's Linux layout: the Debian packages (cpack -G DEB) and the
# tarball (cmake --install --component tarball, tools/release).
#
# Packages, one pair per model so that two models install side by side:
#   wxr7305-tq16          /usr/bin/wxr7305-tq16 (update-alternatives gives a
#                         plain wxr7305), man page, udev text and rule; needs
#                         only the C and C++ runtimes
#   wxr7305-upgrade-tq16  the dialog in /usr/lib/wxr7305-upgrade-tq16 (its
#                         file name is its caption), WXR7305_Upgrade_Tool-TQ16
#                         on PATH, desktop entry and icon; needs the first
# Their dependencies come from dpkg-shlibdeps (a cross build names them in its
# toolchain file), their timestamps from SOURCE_DATE_EPOCH.

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
set(out ${CMAKE_CURRENT_BINARY_DIR})
set(has_dialog FALSE)
if(TARGET ${WXR7305_GUI_TARGET})
  set(has_dialog TRUE)
endif()

# Man pages, from the programs' own --help and --version (help2man); the
# dialog's from a text of its own, through the same tool.
find_program(WXR7305_HELP2MAN help2man REQUIRED)
set(cli_runner $<TARGET_FILE:wxr7305>)
if(CMAKE_CROSSCOMPILING_EMULATOR)
  list(JOIN CMAKE_CROSSCOMPILING_EMULATOR "\" \"" emulator)
  file(GENERATE OUTPUT ${out}/run-wxr7305
       CONTENT "#!/bin/sh\nexec \"${emulator}\" \"$<TARGET_FILE:wxr7305>\" \"$@\"\n")
  set(cli_runner ${out}/run-wxr7305)
endif()
# The page's date: SOURCE_DATE_EPOCH of the configure (tools/release sets it).
set(help2man ${WXR7305_HELP2MAN} --no-info --no-discard-stderr --section 1)
if(DEFINED ENV{SOURCE_DATE_EPOCH})
  set(help2man ${CMAKE_COMMAND} -E env SOURCE_DATE_EPOCH=$ENV{SOURCE_DATE_EPOCH} ${help2man})
endif()
add_custom_command(OUTPUT ${out}/wxr7305.1
  COMMAND chmod 755 ${cli_runner}
  COMMAND ${help2man} --name "write the built-in firmware into WXR7305 devices"
          --output ${out}/wxr7305.1 ${cli_runner}
  DEPENDS wxr7305 VERBATIM)
set(man_pages ${out}/wxr7305.1)
if(has_dialog)
  file(GENERATE OUTPUT ${out}/dialog-help
       CONTENT "#!/bin/sh\n[ \"$1\" = --version ] && exec echo 'WXR7305_Upgrade_Tool ${PROJECT_VERSION}'\n\
exec cat '${CMAKE_CURRENT_SOURCE_DIR}/WXR7305_Upgrade_Tool.help'\n")
  add_custom_command(OUTPUT ${out}/WXR7305_Upgrade_Tool.1
    COMMAND chmod 755 ${out}/dialog-help
    COMMAND ${help2man} --name "the WXR7305 firmware upgrade dialog"
            --output ${out}/WXR7305_Upgrade_Tool.1 ${out}/dialog-help
    DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/WXR7305_Upgrade_Tool.help VERBATIM)
  list(APPEND man_pages ${out}/WXR7305_Upgrade_Tool.1)
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
foreach(file IN LISTS gzipped man_pages)
  add_custom_command(OUTPUT ${file}.gz COMMAND gzip -9nkf ${file} DEPENDS ${file} VERBATIM)
  list(APPEND gzipped_files ${file}.gz)
endforeach()
add_custom_target(wxr_release_files ALL DEPENDS ${gzipped_files})

# The command-line package.
set(cli_doc share/doc/${cli_package})
install(PROGRAMS $<TARGET_FILE:wxr7305> DESTINATION bin RENAME ${cli_program} COMPONENT cli)
install(FILES ${out}/wxr7305.1.gz DESTINATION share/man/man1 RENAME ${cli_program}.1.gz COMPONENT cli)
set(WXR7305_CLI_COMMAND ${cli_program})
configure_file(udev-access.txt.in ${out}/deb/udev-access.txt @ONLY)
install(FILES copyright ${out}/deb/udev-access.txt ${out}/changelog-${cli_package}/changelog.gz
        DESTINATION ${cli_doc} COMPONENT cli)
if(WXR7305_UDEV_RULES)
  # lib, not the multiarch library folder: udev reads /usr/lib/udev/rules.d.
  install(FILES ${WXR7305_UDEV_RULES} DESTINATION lib/udev/rules.d RENAME ${rules_name} COMPONENT cli)
endif()
# A plain wxr7305 on PATH: the model installed last, or the one the admin picks.
set(WXR7305_ALTERNATIVE_PRIORITY 50)
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
  install(FILES ${out}/WXR7305_Upgrade_Tool.1.gz DESTINATION share/man/man1
          RENAME ${dialog_program}.1.gz COMPONENT dialog)
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
if(has_dialog)
  set(WXR7305_TARBALL_DIALOG "
WXR7305_Upgrade_Tool    the dialog: attach the device, start ./WXR7305_Upgrade_Tool,
                        press \"Check and Upgrade\". It needs Qt 6.4 or later
                        (Debian, Ubuntu: libqt6widgets6) and a desktop.")
endif()
set(WXR7305_TARBALL_RULES "")
if(WXR7305_UDEV_RULES)
  set(WXR7305_TARBALL_RULES "
70-wxr7305.rules        the rule for the vendor's USB ids: copy it into
                        /etc/udev/rules.d instead of running udev-rule")
endif()
configure_file(README.tarball.in ${out}/tarball/README @ONLY)
configure_file(copyright ${out}/tarball/LICENSE COPYONLY)
install(PROGRAMS $<TARGET_FILE:wxr7305> DESTINATION . COMPONENT tarball)
install(FILES ${out}/tarball/README ${out}/tarball/LICENSE ${out}/tarball/udev-access.txt
        DESTINATION . COMPONENT tarball)
install(FILES ${man_pages} DESTINATION man/man1 COMPONENT tarball)
if(WXR7305_UDEV_RULES)
  install(FILES ${WXR7305_UDEV_RULES} DESTINATION . COMPONENT tarball)
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
