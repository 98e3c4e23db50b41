# Writes the tarball's README with what its programs need of the system, as
# their ELF version needs say (readelf -V): the newest glibc, libstdc++ and Qt
# symbol versions they ask for.
#   cmake -DREADELF=... -DPROGRAMS="a|b" -DTEMPLATE=README.in -DOUT=README -P runtime-needs.cmake
# TEMPLATE holds @WXR7305_RUNTIME_NEEDS@ and @WXR7305_QT_NEEDS@.

cmake_minimum_required(VERSION 3.25)  # no @VAR@ expansion in arguments (CMP0053)
# The newest version among the program's needs named PREFIX<version>, or "".
function(newest_need text prefix out)
  string(REGEX MATCHALL "Name: ${prefix}[0-9.]+" names "${text}")
  set(newest "")
  foreach(name IN LISTS names)
    string(REGEX REPLACE "^Name: ${prefix}" "" version "${name}")
    if(newest STREQUAL "" OR version VERSION_GREATER newest)
      set(newest ${version})
    endif()
  endforeach()
  set(${out} "${newest}" PARENT_SCOPE)
endfunction()

string(REPLACE "|" ";" programs "${PROGRAMS}")
set(needs "")
foreach(program IN LISTS programs)
  execute_process(COMMAND ${READELF} -V -W ${program} OUTPUT_VARIABLE text RESULT_VARIABLE failed)
  if(failed)
    message(FATAL_ERROR "readelf could not read ${program}")
  endif()
  string(APPEND needs "${text}")
endforeach()
newest_need("${needs}" "GLIBC_" glibc)
newest_need("${needs}" "GLIBCXX_" glibcxx)
newest_need("${needs}" "Qt_" qt)
if(glibc STREQUAL "" OR glibcxx STREQUAL "")
  message(FATAL_ERROR "no glibc or libstdc++ version needs in ${PROGRAMS}")
endif()

# The GCC release whose libstdc++ first gave each symbol version.
set(gcc_3.4.28 10)
set(gcc_3.4.29 11)
set(gcc_3.4.30 12)
set(gcc_3.4.31 13)
set(gcc_3.4.32 13.2)
set(gcc_3.4.33 14)
set(gcc "")
if(DEFINED gcc_${glibcxx})
  set(gcc " (that of GCC ${gcc_${glibcxx}} or later)")
endif()
set(WXR7305_RUNTIME_NEEDS "glibc ${glibc} or later\nand a libstdc++ with GLIBCXX_${glibcxx}${gcc}")
if(NOT qt STREQUAL "" AND NOT qt STREQUAL "6")
  set(WXR7305_QT_NEEDS "Qt ${qt} or later")
else()
  set(WXR7305_QT_NEEDS "Qt 6")
endif()
# Only these two marks: the rest of the text was configured already.
file(READ ${TEMPLATE} readme)
string(REPLACE "@WXR7305_RUNTIME_NEEDS@" "${WXR7305_RUNTIME_NEEDS}" readme "${readme}")
string(REPLACE "@WXR7305_QT_NEEDS@" "${WXR7305_QT_NEEDS}" readme "${readme}")
file(WRITE ${OUT} "${readme}")
