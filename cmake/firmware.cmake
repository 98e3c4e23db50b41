# Checks the firmware file to embed. Included by the configure (both the
# generated-array and the resource-script ways of embedding), and runnable on
# its own:  cmake -DWXR7305_FIRMWARE=<file> -P cmake/firmware.cmake
#
# The end report carries 16-bit lengths, so an image must fit in 65,535 bytes,
# and the tool needs the info block (marker 0C 12 03 05 at an offset of 1 or
# more, ending before the image's last byte) to name and match the device.

if(CMAKE_SCRIPT_MODE_FILE STREQUAL CMAKE_CURRENT_LIST_FILE)
  cmake_minimum_required(VERSION 3.25)
endif()

set(WXR7305_FIRMWARE_MAX_LENGTH 65535)

# Sets <out_hex> to the file's bytes as lower-case hex and <out_offset> to the
# info block's offset; stops the configure with a message when the file does not do.
function(wxr_check_firmware file out_hex out_offset)
  if(NOT EXISTS "${file}" OR IS_DIRECTORY "${file}")
    message(FATAL_ERROR "WXR7305_FIRMWARE: firmware file '${file}' does not exist")
  endif()
  file(SIZE "${file}" length)
  if(length EQUAL 0)
    message(FATAL_ERROR "WXR7305_FIRMWARE: firmware file '${file}' is empty")
  endif()
  if(length GREATER WXR7305_FIRMWARE_MAX_LENGTH)
    message(FATAL_ERROR "WXR7305_FIRMWARE: firmware file '${file}' is ${length} bytes long; "
                        "at most ${WXR7305_FIRMWARE_MAX_LENGTH} bytes can be sent")
  endif()
  file(READ "${file}" hex HEX)
  _wxr_find_info_block("${hex}" ${length} offset)
  if(offset EQUAL -1)
    message(FATAL_ERROR "WXR7305_FIRMWARE: firmware file '${file}' has no info block "
                        "(marker 0C 12 03 05 at an offset from 1 to length - 5)")
  endif()
  set(${out_hex} "${hex}" PARENT_SCOPE)
  set(${out_offset} ${offset} PARENT_SCOPE)
endfunction()

# The first marker at byte offset 1 or more; a hex match that starts in the
# middle of a byte is not one. -1 when none ends before the last byte.
function(_wxr_find_info_block hex length out_offset)
  set(${out_offset} -1 PARENT_SCOPE)
  set(from 2)
  while(TRUE)
    string(SUBSTRING "${hex}" ${from} -1 rest)
    string(FIND "${rest}" "0c120305" found)
    if(found EQUAL -1)
      return()
    endif()
    math(EXPR nibble "${from} + ${found}")
    math(EXPR odd "${nibble} % 2")
    if(NOT odd)
      break()
    endif()
    math(EXPR from "${nibble} + 1")
  endwhile()
  math(EXPR offset "${nibble} / 2")
  math(EXPR last_candidate "${length} - 5")
  if(offset LESS_EQUAL last_candidate)
    set(${out_offset} ${offset} PARENT_SCOPE)
  endif()
endfunction()

# Sets <prefix>_MODEL, _MODEL_NAME, _VERSION and _CUSTOMER from the info block
# at <offset> as the tool reads them: bytes past the image read as 0, the model
# name is the model table's row (empty from 40 on), and the customer text is
# there when both tag bytes are 0x12. Its bytes outside printable ASCII become
# '?', so that it can stand in package texts.
function(wxr_firmware_info hex offset prefix)
  _wxr_byte_at("${hex}" ${offset} 4 model)
  _wxr_byte_at("${hex}" ${offset} 5 version)
  set(model_name "")
  if(model LESS 40)
    string(LENGTH "${model}" digits)
    set(model_name "TQ${model}")
    if(digits EQUAL 1)
      set(model_name "TQ0${model}")
    endif()
  endif()
  set(customer "")
  _wxr_byte_at("${hex}" ${offset} -20 tag1)
  _wxr_byte_at("${hex}" ${offset} -19 tag2)
  if(tag1 EQUAL 18 AND tag2 EQUAL 18)
    foreach(at RANGE -16 -1)
      _wxr_byte_at("${hex}" ${offset} ${at} byte)
      if(byte EQUAL 0)
        break()
      elseif(byte LESS 32 OR byte GREATER 126 OR byte EQUAL 34 OR byte EQUAL 59 OR byte EQUAL 92)
        string(APPEND customer "?")  # also quote, semicolon and backslash: list and string syntax
      else()
        string(ASCII ${byte} char)
        string(APPEND customer "${char}")
      endif()
    endforeach()
  endif()
  foreach(field model model_name version customer)
    string(TOUPPER ${field} upper)
    set(${prefix}_${upper} "${${field}}" PARENT_SCOPE)
  endforeach()
endfunction()

# The byte at <offset> + <delta> as a decimal number; 0 outside the image.
function(_wxr_byte_at hex offset delta out)
  math(EXPR at "(${offset} + ${delta}) * 2")
  string(LENGTH "${hex}" nibbles)
  set(${out} 0 PARENT_SCOPE)
  if(at GREATER_EQUAL 0 AND at LESS nibbles)
    string(SUBSTRING "${hex}" ${at} 2 digits)
    math(EXPR value "0x${digits}")
    set(${out} ${value} PARENT_SCOPE)
  endif()
endfunction()

if(CMAKE_SCRIPT_MODE_FILE STREQUAL CMAKE_CURRENT_LIST_FILE)
  wxr_check_firmware("${WXR7305_FIRMWARE}" hex offset)
  wxr_firmware_info("${hex}" ${offset} info)
  message("${WXR7305_FIRMWARE}: info block at offset ${offset} names "
          "model ${info_MODEL} (${info_MODEL_NAME}), version ${info_VERSION}, customer '${info_CUSTOMER}'")
endif()
