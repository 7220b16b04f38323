; A setup made with NSIS whose uninstaller removes the FQ service with
; FQSrvUninstall.exe and hands its exit code on as its own. In a folder that
; holds this file and FQSrvUninstall.exe:
;   makensis -DPROGRAM=FQSrvUninstall.exe -DSETUP=FQRemovalSetup.exe remove-fq.nsi
; The Wine tests install it silently, then run its uninstaller silently and
; in place:
;   "<folder>\uninstall.exe" /S _?=<folder>
Unicode true
Name "FQ removal"
OutFile "${SETUP}"
RequestExecutionLevel admin
SilentInstall silent
InstallDir "$TEMP\FQRemoval"

Section
  SetOutPath "$INSTDIR"
  WriteUninstaller "$INSTDIR\uninstall.exe"
SectionEnd

Section "Uninstall"
  InitPluginsDir
  File "/oname=$PLUGINSDIR\FQSrvUninstall.exe" "${PROGRAM}"
  ClearErrors
  ExecWait '"$PLUGINSDIR\FQSrvUninstall.exe"' $0
  IfErrors 0 +2
    StrCpy $0 2 ; it could not be started
  ; 0: FQ is gone; 1: its deletion failed, and the user has seen why.
  SetErrorLevel $0
SectionEnd
