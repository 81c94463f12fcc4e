# The same sources for 64-bit Windows. Used only to run the suite on machines that cannot execute 32-bit
# x86 code (some hypervisors switch compatibility mode off, so neither 32-bit Wine nor WoW64 can run).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR AMD64)
set(TELEMETRY_TRIPLE x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
