; A setup made with Inno Setup that installs FQSrvUninstall.exe, and whose
; uninstaller removes the FQ service with it and logs its exit code. In a
; folder that holds this file and FQSrvUninstall.exe (a bare name is looked
; for beside this file), the setup goes to Output\FQRemovalSetup.exe:
;   ISCC.exe /DProgram=FQSrvUninstall.exe remove-fq.iss
; The Wine tests install it silently, then run the uninstaller with /LOG=<file>.
#ifndef Program
  #error Give the program to install: /DProgram=<FQSrvUninstall.exe>
#endif

[Setup]
AppName=FQ removal
AppVersion=1.0
DefaultDirName={autopf}\FQ Removal
PrivilegesRequired=admin
DisableProgramGroupPage=yes
OutputBaseFilename=FQRemovalSetup

[Files]
Source: "{#Program}"; DestDir: "{app}"

[Code]
procedure CurUninstallStepChanged(CurUninstallStep: TUninstallStep);
var
  ResultCode: Integer;
begin
  if CurUninstallStep = usUninstall then
    if Exec(ExpandConstant('{app}\FQSrvUninstall.exe'), '', '', SW_SHOWNORMAL,
            ewWaitUntilTerminated, ResultCode) then
      Log('FQSrvUninstall.exe exit code ' + IntToStr(ResultCode))
    else
      Log('FQSrvUninstall.exe did not start: ' + SysErrorMessage(ResultCode));
end;
