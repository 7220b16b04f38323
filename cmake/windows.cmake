# Windows: the program itself and, when testing, the programs that test it under Wine.
target_link_libraries(fqsrv_units PUBLIC advapi32 user32 gdi32)
target_compile_options(fqsrv_units PRIVATE -Os -ffunction-sections -fdata-sections)

add_executable(FQSrvUninstall WIN32 app/WinMain.cpp ui/FQSrvUninstall.rc)
target_link_libraries(FQSrvUninstall PRIVATE fqsrv_units)
target_compile_options(FQSrvUninstall PRIVATE -Os -ffunction-sections -fdata-sections)
# Self-contained: no MinGW runtime DLLs beside the .exe, only system DLLs imported.
target_link_options(FQSrvUninstall PRIVATE -static -static-libgcc -static-libstdc++ -s
                    -Wl,--gc-sections)

if(BUILD_TESTING)
  add_subdirectory(tests/wine)
endif()
