# Windows: the program itself and, when testing, the programs that test it under Wine.
# The same bytes from the same sources, wherever they lie and whenever built:
# no source path in the code (-ffile-prefix-map), no link time in the header.
set(FQ_PRODUCT_COMPILE_OPTIONS -Os -ffunction-sections -fdata-sections
    -ffile-prefix-map=${CMAKE_SOURCE_DIR}/=)
# Self-contained: no MinGW runtime DLLs beside the .exe, only system DLLs imported.
set(FQ_PRODUCT_LINK_OPTIONS -static -static-libgcc -static-libstdc++ -s -Wl,--gc-sections
    -Wl,--no-insert-timestamp)

target_link_libraries(fqsrv_units PUBLIC advapi32 user32 gdi32)
target_link_libraries(fqsrv_eventlog PUBLIC advapi32)
target_compile_options(fqsrv_units PRIVATE ${FQ_PRODUCT_COMPILE_OPTIONS})
target_compile_options(fqsrv_eventlog PRIVATE ${FQ_PRODUCT_COMPILE_OPTIONS})

add_executable(FQSrvUninstall WIN32 app/WinMain.cpp app/TerminateHandler.cpp ui/FQSrvUninstall.rc)
target_link_libraries(FQSrvUninstall PRIVATE fqsrv_units fqsrv_eventlog)
target_include_directories(FQSrvUninstall PRIVATE ${CMAKE_CURRENT_BINARY_DIR}/generated)
target_compile_options(FQSrvUninstall PRIVATE ${FQ_PRODUCT_COMPILE_OPTIONS})
target_link_options(FQSrvUninstall PRIVATE ${FQ_PRODUCT_LINK_OPTIONS})

if(BUILD_TESTING)
  # The test programs too, which the self-test kit holds: the same kit from
  # the same sources.
  add_compile_options(-ffile-prefix-map=${CMAKE_SOURCE_DIR}/=)
  add_link_options(-Wl,--no-insert-timestamp)
  add_subdirectory(tests/wine)
  add_subdirectory(tests/selftest)
  add_subdirectory(tests/release)
endif()
# tools/bench.sh: the launcher that times the program, and the programs it is compared with.
add_subdirectory(tests/bench)
