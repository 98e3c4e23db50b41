# The Debian package of a release (cpack -G DEB): named and described after
# the embedded firmware, its dependencies found from the programs by
# dpkg-shlibdeps, its timestamps SOURCE_DATE_EPOCH.

if(NOT TARGET ${WXR7305_GUI_TARGET})
  message(FATAL_ERROR "WXR7305_RELEASE: the package needs the Qt 6 dialog (qt6-base-dev)")
endif()

set(WXR7305_PACKAGE_MAINTAINER "WXR7305 vendor <support@wxr7305.example>" CACHE STRING
    "Maintainer field of the Debian package")
string(TOLOWER "${WXR7305_FIRMWARE_LABEL}" label)
# A newer firmware of the same tool sorts after the older one.
set(WXR7305_DEBIAN_VERSION "${PROJECT_VERSION}+${label}.v${WXR7305_FIRMWARE_VERSION}")

# What lintian expects beside every package: copyright and changelog.
string(TIMESTAMP WXR7305_CHANGELOG_DATE "%a, %d %b %Y %H:%M:%S +0000" UTC)
configure_file(changelog.in ${CMAKE_CURRENT_BINARY_DIR}/changelog @ONLY)
add_custom_command(OUTPUT ${CMAKE_CURRENT_BINARY_DIR}/changelog.gz
  COMMAND gzip -9nkf ${CMAKE_CURRENT_BINARY_DIR}/changelog
  DEPENDS ${CMAKE_CURRENT_BINARY_DIR}/changelog VERBATIM)
add_custom_target(wxr_debian_changelog ALL DEPENDS ${CMAKE_CURRENT_BINARY_DIR}/changelog.gz)
install(FILES copyright ${CMAKE_CURRENT_BINARY_DIR}/changelog.gz DESTINATION ${CMAKE_INSTALL_DOCDIR})

execute_process(COMMAND dpkg --print-architecture OUTPUT_VARIABLE arch
                OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
if(arch STREQUAL "")
  set(arch ${CMAKE_SYSTEM_PROCESSOR})
endif()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME ${WXR7305_PACKAGE_NAME})
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "${WXR7305_PACKAGE_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "WXR7305 firmware upgrade, ${WXR7305_FIRMWARE_LABEL} v${WXR7305_FIRMWARE_VERSION}")
set(CPACK_PACKAGE_DESCRIPTION "Writes the firmware it carries into an attached WXR7305 device over
USB HID: the dialog WXR7305_Upgrade_Tool and the command line wxr7305.
Firmware: ${WXR7305_FIRMWARE_SUMMARY}.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME "${WXR7305_RELEASE_NAME}_${arch}.deb")
set(CPACK_DEBIAN_PACKAGE_VERSION "${WXR7305_DEBIAN_VERSION}")
set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE ${arch})
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR}/packages)
include(CPack)
