# What a release (tools/release) needs of the configure: the name that the
# downloads carry, taken from the embedded firmware's info block, and with
# WXR7305_RELEASE=ON programs that come out byte for byte the same from any
# build directory (SOURCE_DATE_EPOCH set by the caller).

option(WXR7305_RELEASE "Build programs for a release: stripped, reproducible, Debian package layout" OFF)

include(${CMAKE_CURRENT_LIST_DIR}/firmware.cmake)
wxr_check_firmware("${WXR7305_FIRMWARE}" _wxr_hex _wxr_offset)
wxr_firmware_info("${_wxr_hex}" ${_wxr_offset} WXR7305_FIRMWARE)
unset(_wxr_hex)

# A model byte without a row in the model table still needs a name in files.
set(WXR7305_FIRMWARE_LABEL "${WXR7305_FIRMWARE_MODEL_NAME}")
if(WXR7305_FIRMWARE_LABEL STREQUAL "")
  set(WXR7305_FIRMWARE_LABEL "model${WXR7305_FIRMWARE_MODEL}")
endif()
string(TOLOWER "${WXR7305_FIRMWARE_LABEL}" WXR7305_FIRMWARE_LABEL_LOWER)
# One package pair per model, so that the releases of two models install side
# by side: wxr7305-tq16 (the command line, no Qt) and wxr7305-upgrade-tq16
# (the dialog, which needs the first).
set(WXR7305_CLI_PACKAGE "wxr7305-${WXR7305_FIRMWARE_LABEL_LOWER}")
set(WXR7305_PACKAGE_NAME "wxr7305-upgrade-${WXR7305_FIRMWARE_LABEL_LOWER}")
# The names of the downloads, e.g. wxr7305-upgrade-TQ16-v57_1.0.0.1 (dialog
# and command line) and wxr7305-TQ16-v57_1.0.0.1 (the command line alone);
# tools/release reads them from the build tree.
set(WXR7305_RELEASE_NAME
    "wxr7305-upgrade-${WXR7305_FIRMWARE_LABEL}-v${WXR7305_FIRMWARE_VERSION}_${PROJECT_VERSION}")
set(WXR7305_CLI_RELEASE_NAME
    "wxr7305-${WXR7305_FIRMWARE_LABEL}-v${WXR7305_FIRMWARE_VERSION}_${PROJECT_VERSION}")
# What tools/release needs to know of this build, as shell assignments (every
# value is letters, digits, dots and dashes: the label comes from the model
# table or is "model<N>").
file(WRITE ${CMAKE_BINARY_DIR}/release-vars.sh
  "release_name=${WXR7305_RELEASE_NAME}\ncli_release_name=${WXR7305_CLI_RELEASE_NAME}\n"
  "tool_version=${PROJECT_VERSION}\nfirmware_label=${WXR7305_FIRMWARE_LABEL}\n"
  "firmware_version=${WXR7305_FIRMWARE_VERSION}\ncli_package=${WXR7305_CLI_PACKAGE}\n"
  "dialog_package=${WXR7305_PACKAGE_NAME}\n")

# The dialog names itself after its desktop entry, so that docks tie its window
# to the entry: the package's entry in a release, the plain one otherwise.
if(WXR7305_RELEASE)
  set(WXR7305_DESKTOP_ID "${WXR7305_PACKAGE_NAME}")
else()
  set(WXR7305_DESKTOP_ID "wxr7305")
endif()

# Who publishes the programs: the Windows version block's CompanyName and
# LegalCopyright, and the installer's manufacturer.
set(WXR7305_VENDOR "the WXR7305 device vendor" CACHE STRING "Publisher named in the Windows version block")
string(TIMESTAMP WXR7305_COPYRIGHT_YEAR "%Y" UTC)  # SOURCE_DATE_EPOCH's year in a release

set(WXR7305_FIRMWARE_SUMMARY "model ${WXR7305_FIRMWARE_LABEL}, version ${WXR7305_FIRMWARE_VERSION}")
if(NOT WXR7305_FIRMWARE_CUSTOMER STREQUAL "")
  string(APPEND WXR7305_FIRMWARE_SUMMARY ", customer ${WXR7305_FIRMWARE_CUSTOMER}")
endif()

if(NOT WXR7305_RELEASE)
  return()
endif()

if(CMAKE_CXX_COMPILER_ID MATCHES "GNU|Clang")
  # No build paths in the programs; the build tree often lies inside the
  # source tree, and the later map wins for its longer paths.
  add_compile_options(-ffile-prefix-map=${CMAKE_SOURCE_DIR}=. -ffile-prefix-map=${CMAKE_BINARY_DIR}=.)
  add_link_options(-s)
endif()
if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU" AND NOT WIN32)
  # Debian's hardening flags (dpkg-buildflags with hardening=+all): stack
  # protector, fortified libc calls, read-only relocations bound at start.
  add_compile_options(-fstack-protector-strong -fstack-clash-protection -D_FORTIFY_SOURCE=2
                      -Wformat -Werror=format-security)
  if(CMAKE_SYSTEM_PROCESSOR MATCHES "x86_64|AMD64")
    # Our objects get endbr64 and the IBT/SHSTK note; the programs do not, as
    # Debian 12's C library start files (Scrt1.o, crti.o, crtn.o) lack it and
    # the linker keeps only what every input has.
    add_compile_options(-fcf-protection)
  endif()
  add_link_options(-pie -Wl,-z,relro -Wl,-z,now)
  set(CMAKE_POSITION_INDEPENDENT_CODE ON)
  # The compiler's and C library's start files carry a .comment naming their
  # build; the programs do not need it.
  string(APPEND CMAKE_CXX_LINK_EXECUTABLE " && \"${CMAKE_OBJCOPY}\" --remove-section=.comment <TARGET>")
endif()
if(WIN32 AND CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
  # A stack protector in the .exe files too: mingw-w64's GCC links its libssp
  # (statically, seeded by the system's random generator) by itself.
  add_compile_options(-fstack-protector-strong)
  # On the link line too: that is where the driver adds libssp.
  add_link_options(-fstack-protector-strong)
endif()
if(WIN32)
  # The PE header's link time would differ on every build. Address space
  # randomisation (64-bit) and no execution from data pages.
  add_link_options(-Wl,--no-insert-timestamp -Wl,--dynamicbase -Wl,--nxcompat -Wl,--high-entropy-va)
  # What the .zip holds, for tools/release: the programs, a short readme and the licence.
  configure_file(${PROJECT_SOURCE_DIR}/dist/windows/README.txt.in ${CMAKE_BINARY_DIR}/README.txt
                 @ONLY NEWLINE_STYLE CRLF)
  configure_file(${PROJECT_SOURCE_DIR}/dist/linux/copyright ${CMAKE_BINARY_DIR}/LICENSE.txt @ONLY NEWLINE_STYLE CRLF)
  file(GENERATE OUTPUT ${CMAKE_BINARY_DIR}/release-files.txt
       CONTENT "$<TARGET_FILE:WXR7305_Upgrade_Tool>\n$<TARGET_FILE:wxr7305>\n${CMAKE_BINARY_DIR}/README.txt\n\
${CMAKE_BINARY_DIR}/LICENSE.txt\n")
endif()

