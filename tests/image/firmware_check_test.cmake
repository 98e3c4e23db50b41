# Runs the configure's firmware check on files it must refuse or accept.
# Arguments: CHECK_SCRIPT, DEMO_FIRMWARE, WORK_DIR.
cmake_minimum_required(VERSION 3.25)

file(REMOVE_RECURSE "${WORK_DIR}")
file(MAKE_DIRECTORY "${WORK_DIR}")
set(failures "")

# Writes the given byte values (1..255) to WORK_DIR/<name>.
function(write_bytes name)
  string(ASCII ${ARGN} bytes)
  file(WRITE "${WORK_DIR}/${name}" "${bytes}")
endfunction()

function(run_check file out_rc out_text)
  execute_process(COMMAND ${CMAKE_COMMAND} "-DWXR7305_FIRMWARE=${file}" -P "${CHECK_SCRIPT}"
                  RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  # CMake wraps long messages: compare with single spaces.
  string(REGEX REPLACE "[ \t\n]+" " " text "${out}${err}")
  set(${out_rc} ${rc} PARENT_SCOPE)
  set(${out_text} "${text}" PARENT_SCOPE)
endfunction()

function(expect_refused file pattern)
  run_check("${file}" rc text)
  if(rc EQUAL 0 OR NOT text MATCHES "${pattern}")
    set(failures "${failures}\n${file}: expected refusal matching '${pattern}', got (${rc}) ${text}" PARENT_SCOPE)
  endif()
endfunction()

function(expect_accepted file offset)
  run_check("${file}" rc text)
  if(NOT rc EQUAL 0 OR NOT text MATCHES "info block at offset ${offset}( |$)")
    set(failures "${failures}\n${file}: expected block at ${offset}, got (${rc}) ${text}" PARENT_SCOPE)
  endif()
endfunction()

set(marker 12 18 3 5)
set(x 120)  # 'x', a byte of no meaning

expect_refused("${WORK_DIR}/missing.bin" "does not exist")

file(WRITE "${WORK_DIR}/empty.bin" "")
expect_refused("${WORK_DIR}/empty.bin" "is empty")

# Longest accepted: 65,535 bytes; one more is refused.
string(REPEAT "x" 65526 filler)
string(ASCII ${marker} ${x} marker_text)
file(WRITE "${WORK_DIR}/longest.bin" "${filler}${marker_text}xxxx")
expect_accepted("${WORK_DIR}/longest.bin" 65526)
file(WRITE "${WORK_DIR}/too_long.bin" "x${filler}${marker_text}xxxx")
expect_refused("${WORK_DIR}/too_long.bin" "is 65536 bytes long")

file(WRITE "${WORK_DIR}/plain.bin" "no info block in here")
expect_refused("${WORK_DIR}/plain.bin" "has no info block")

write_bytes(marker_at_0.bin ${marker} ${x} ${x} ${x} ${x} ${x} ${x})
expect_refused("${WORK_DIR}/marker_at_0.bin" "has no info block")

write_bytes(marker_at_end.bin ${x} ${x} ${x} ${x} ${marker})
expect_refused("${WORK_DIR}/marker_at_end.bin" "has no info block")
write_bytes(marker_before_end.bin ${x} ${x} ${x} ${x} ${marker} ${x})
expect_accepted("${WORK_DIR}/marker_before_end.bin" 4)

# A0 C1 20 30 5A spells the marker in hex across byte boundaries.
write_bytes(straddling.bin ${x} 160 193 32 48 90 ${x} ${x} ${x} ${x} ${x} ${x})
expect_refused("${WORK_DIR}/straddling.bin" "has no info block")
write_bytes(straddling_then_real.bin ${x} 160 193 32 48 90 ${x} ${marker} ${x} ${x})
expect_accepted("${WORK_DIR}/straddling_then_real.bin" 7)

expect_accepted("${DEMO_FIRMWARE}" 37672)

if(failures)
  message(FATAL_ERROR "firmware check:${failures}")
endif()
message("firmware check: all cases behave")
