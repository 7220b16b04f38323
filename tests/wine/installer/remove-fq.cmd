@echo off
rem Removes the FQ service with FQSrvUninstall.exe, which lies beside this file,
rem and hands its exit code on: 0 FQ is gone, 1 its deletion failed.
rem In a batch file cmd waits for a GUI program to end, and a program that is
rem missing gives 9009.
"%~dp0FQSrvUninstall.exe"
set fq_exit=%ERRORLEVEL%
>>"%~dp0install.log" echo FQSrvUninstall.exe exit code %fq_exit%
exit /b %fq_exit%
