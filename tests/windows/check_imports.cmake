# Fails when an executable imports a DLL that Windows does not ship: the
# executables are linked statically and must run from a bare copy.
#   cmake -DOBJDUMP=<objdump> -DEXE=<file.exe> -P check_imports.cmake
cmake_minimum_required(VERSION 3.25)
set(system_dlls
  advapi32.dll comctl32.dll comdlg32.dll gdi32.dll hid.dll iphlpapi.dll kernel32.dll msvcrt.dll ole32.dll
  mswsock.dll oleaut32.dll setupapi.dll shell32.dll user32.dll version.dll winmm.dll ws2_32.dll)

execute_process(COMMAND ${OBJDUMP} -p ${EXE} OUTPUT_VARIABLE dump RESULT_VARIABLE failed)
if(failed)
  message(FATAL_ERROR "cannot read ${EXE}")
endif()
string(REGEX MATCHALL "DLL Name: [^\r\n]+" imports "${dump}")
if(NOT imports)
  message(FATAL_ERROR "${EXE}: no imports found")
endif()
foreach(entry IN LISTS imports)
  string(REPLACE "DLL Name: " "" dll "${entry}")
  string(TOLOWER "${dll}" dll)
  if(NOT dll IN_LIST system_dlls)
    message(FATAL_ERROR "${EXE} imports ${dll}, which is not a system DLL")
  endif()
  message(STATUS "${EXE}: ${dll}")
endforeach()
