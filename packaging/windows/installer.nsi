; The Windows installer: KelvaneHTTPAgent.exe into the chosen folder (by
; default the monitor's folder: the agent must stand beside kelvane.exe), an
; optional service component that runs the agent's own -i, an entry in the
; installed-programs list, and an uninstaller that runs -UnregServer (-u is
; refused once the agent is registered as a service) and removes what was
; installed. Silent: setup.exe /S /D=FOLDER.
; makensis -DVERSION=x.y.z -DAGENT=path\KelvaneHTTPAgent.exe -DOUTFILE=... installer.nsi
Unicode true
Target amd64-unicode
!include "x64.nsh"

!define NAME "KelvaneHTTPAgent"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\${NAME}"

Name "${NAME} ${VERSION}"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES64\Kelvane"
RequestExecutionLevel admin
SetCompressor /SOLID lzma
ShowInstDetails show

Page components
Page directory
Page instfiles
UninstPage uninstConfirm
UninstPage instfiles

Function .onInit
  SetRegView 64
FunctionEnd

Function un.onInit
  SetRegView 64
FunctionEnd

Section "${NAME} (required)" SecAgent
  SectionIn RO
  SetOutPath "$INSTDIR"
  File "/oname=KelvaneHTTPAgent.exe" "${AGENT}"
  ; mbedTLS is linked into the agent: its licence goes with it.
  File "/oname=mbedTLS-LICENSE.txt" "${MBEDTLS_LICENSE}"
  WriteUninstaller "$INSTDIR\uninstall-${NAME}.exe"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "${NAME}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "The ${NAME} developers"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall-${NAME}.exe"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall-${NAME}.exe" /S'
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
SectionEnd

Section "Register the Windows service" SecService
  ; The demand-start service "KelvaneHTTPAgent" and its registration entries.
  ExecWait '"$INSTDIR\KelvaneHTTPAgent.exe" -i' $0
  DetailPrint "KelvaneHTTPAgent -i: $0"
SectionEnd

Section "Uninstall"
  ; A running service holds its executable: stop it first (net waits until it
  ; has stopped), then remove the service and the registration entries.
  ExecWait '"$SYSDIR\net.exe" stop KelvaneHTTPAgent' $0
  DetailPrint "net stop KelvaneHTTPAgent: $0"
  ExecWait '"$INSTDIR\KelvaneHTTPAgent.exe" -UnregServer' $0
  DetailPrint "KelvaneHTTPAgent -UnregServer: $0"
  Delete "$INSTDIR\KelvaneHTTPAgent.exe"
  Delete "$INSTDIR\mbedTLS-LICENSE.txt"
  Delete "$INSTDIR\KelvaneHTTPAgent.ini"
  Delete "$INSTDIR\KelvaneHTTPAgent_Log.txt"
  Delete "$INSTDIR\uninstall-${NAME}.exe"
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
  ; The folder is the monitor's too: it goes only when nothing else is left.
  RMDir "$INSTDIR"
SectionEnd
