# The resource script compiled once, linked into every Windows executable
# that shows the dialog or carries the firmware (wxr_win32_resources).

if(NOT EXISTS "${WXR7305_FIRMWARE}")
  message(WARNING "WXR7305_FIRMWARE: '${WXR7305_FIRMWARE}' not found; no Windows resources")
  return()
endif()

# The firmware file goes in by its path; the resource compiler reads it.
set(wxr_firmware_file_h ${CMAKE_CURRENT_BINARY_DIR}/firmware_file.h)
string(REPLACE "\"" "\"\"" wxr_firmware_rc_path "${WXR7305_FIRMWARE}")
file(WRITE ${wxr_firmware_file_h}.new
  "// Generated at configure time from WXR7305_FIRMWARE.\n"
  "#define WXR7305_FIRMWARE_FILE \"${wxr_firmware_rc_path}\"\n")
configure_file(${wxr_firmware_file_h}.new ${wxr_firmware_file_h} COPYONLY)

add_library(wxr_win32_resources OBJECT wxr7305.rc)
target_include_directories(wxr_win32_resources PRIVATE
  ${CMAKE_CURRENT_BINARY_DIR} ${CMAKE_CURRENT_SOURCE_DIR} ${PROJECT_SOURCE_DIR})
set_source_files_properties(wxr7305.rc PROPERTIES OBJECT_DEPENDS
  "${WXR7305_FIRMWARE};${CMAKE_CURRENT_SOURCE_DIR}/wxr7305.ico;${CMAKE_CURRENT_SOURCE_DIR}/wxr7305.manifest;${CMAKE_CURRENT_SOURCE_DIR}/resource_ids.h;${wxr_firmware_file_h}")

# Gives <target> a version block of its own: its file name, and the model and
# version of the firmware it carries in the description and product version.
function(wxr_version_resource target)
  get_target_property(name ${target} OUTPUT_NAME)
  if(NOT name)
    set(name ${target})
  endif()
  set(WXR_VERSION_FILE "${name}.exe")
  set(firmware "${WXR7305_FIRMWARE_LABEL} v${WXR7305_FIRMWARE_VERSION}")
  set(WXR_VERSION_DESCRIPTION "${name}, firmware ${firmware}")
  set(WXR_VERSION_PRODUCT "${PROJECT_VERSION} (${firmware})")
  string(REPLACE "." "," WXR_VERSION_NUMBERS "${PROJECT_VERSION}")
  # A backslash and a quote inside an .rc string.
  string(REPLACE "\\" "\\\\" WXR_VERSION_VENDOR "${WXR7305_VENDOR}")
  string(REPLACE "\"" "\"\"" WXR_VERSION_VENDOR "${WXR_VERSION_VENDOR}")
  set(rc ${PROJECT_BINARY_DIR}/res/version_${target}.rc)
  configure_file(${PROJECT_SOURCE_DIR}/res/version.rc.in ${rc} @ONLY)
  target_sources(${target} PRIVATE ${rc})
endfunction()
