# Cross-build for 64-bit Windows with MinGW-w64 (Debian's g++-mingw-w64-x86-64).
# Only used to run the Wine tests on machines that cannot execute 32-bit code.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR AMD64)
set(MINGW_PREFIX x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-common.cmake)
