# cmake -DOBJDUMP=... -DDLL=Telemetry.dll -P check-dll-tables.cmake
# The plug-in library exports exactly GetPluginList and FreePluginList, undecorated, and imports only from
# system libraries.
execute_process(COMMAND ${OBJDUMP} -p ${DLL} OUTPUT_VARIABLE dump RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "${OBJDUMP} cannot read ${DLL}")
endif()

# Export names: the lines of the "[Ordinal/Name Pointer] Table", as "[   0] Name", up to the blank line.
# Square brackets would group CMake list elements: they become <> first.
string(REPLACE "[" "<" dump "${dump}")
string(REPLACE "]" ">" dump "${dump}")
string(FIND "${dump}" "<Ordinal/Name Pointer> Table\n" start)
if(start EQUAL -1)
  message(FATAL_ERROR "${DLL} has no export table")
endif()
string(SUBSTRING "${dump}" ${start} -1 rest)
string(FIND "${rest}" "\n\n" end)
string(SUBSTRING "${rest}" 0 ${end} table)
string(REGEX MATCHALL "< *[0-9]+> [^\n]+" entries "${table}")
set(exports)
foreach(entry ${entries})
  string(REGEX REPLACE "^< *[0-9]+> " "" name "${entry}")
  list(APPEND exports ${name})
endforeach()
list(SORT exports)
if(NOT exports STREQUAL "FreePluginList;GetPluginList")
  message(FATAL_ERROR "exports are [${exports}], not exactly FreePluginList and GetPluginList")
endif()

set(system kernel32.dll advapi32.dll msvcrt.dll crypt32.dll wintrust.dll rpcrt4.dll shell32.dll user32.dll
           ole32.dll api-ms-win-crt-runtime-l1-1-0.dll)
string(REGEX MATCHALL "DLL Name: [^\n]+" imports "${dump}")
set(seen)
foreach(line ${imports})
  string(REGEX REPLACE "DLL Name: " "" name "${line}")
  string(TOLOWER "${name}" name)
  list(APPEND seen ${name})
  list(FIND system ${name} known)
  if(known EQUAL -1)
    message(FATAL_ERROR "imports ${name}, which is not a system library")
  endif()
endforeach()
message(STATUS "exports: ${exports}; imports: ${seen}")
