@echo off
rem The FQSrvUninstall self-test: every check, one line each (README.txt).
rem Run it from a command prompt opened with "Run as administrator".
"%~dp0bin\FQSelfTest.exe"
exit /b %ERRORLEVEL%
