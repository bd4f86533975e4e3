; The Windows setup program of the Velquin TFTP Server, built with makensis by
; the windows preset (target "setup"). The build defines VERSION, PROGRAMS
; (the build tree with Sevrock.exe, Dornmac.exe, velquin.exe and Languages),
; SOURCE (the source tree, for the icon and the help pages doc\*.htm, taken
; when the build defines HELP_PAGES) and OUTFILE.
;
; The service is registered and removed by Sevrock.exe itself (-install,
; -remove). Every check that can refuse the installation runs before anything
; is changed; the settings key is never written here, so an installation over
; an older one keeps it, and the uninstaller keeps it unless told otherwise.
; Exit codes: 0 done, 2 cancelled, 3 service name taken, 4 files in use,
; 5 service could not be installed or removed, 740 no administrator rights.
; A 64-bit setup program for the 64-bit programs: it sees the registry and
; the program folder as they do.
Target amd64-unicode
Unicode true
ManifestDPIAware true
RequestExecutionLevel admin
SetCompressor /SOLID lzma

!include MUI2.nsh
!include LogicLib.nsh
!include FileFunc.nsh

!define PRODUCT "Velquin TFTP Server"
!define PUBLISHER "Velquin"
!define SERVICE_KEY "SYSTEM\CurrentControlSet\Services\TFTPService"
!define SETTINGS_KEY "Software\Velquin\Pravlen"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\VelquinTFTP"
!define MENU_FOLDER "$SMPROGRAMS\${PRODUCT}"
!define LOGON_LINK "$SMSTARTUP\${PRODUCT}.lnk"
!define DEFAULT_DIR "$PROGRAMFILES\Velquin\TFTP Server"

Name "${PRODUCT}"
OutFile "${OUTFILE}"
InstallDir "${DEFAULT_DIR}"
BrandingText "${PRODUCT} ${VERSION}"
ShowInstDetails show
ShowUninstDetails show
VIProductVersion "${VERSION}.0"
VIAddVersionKey /LANG=0 "ProductName" "${PRODUCT}"
VIAddVersionKey /LANG=0 "CompanyName" "${PUBLISHER}"
VIAddVersionKey /LANG=0 "FileDescription" "${PRODUCT} Setup"
VIAddVersionKey /LANG=0 "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=0 "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=0 "LegalCopyright" "${PUBLISHER}"

!define MUI_ICON "${SOURCE}/resources/icons/application.ico"
!define MUI_UNICON "${SOURCE}/resources/icons/application.ico"
!define MUI_ABORTWARNING
!define MUI_COMPONENTSPAGE_NODESC
!define MUI_FINISHPAGE_RUN "$INSTDIR\Dornmac.exe"
!define MUI_FINISHPAGE_RUN_TEXT "$(RunPanel)"

!insertmacro MUI_PAGE_WELCOME
!insertmacro MUI_PAGE_COMPONENTS
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES

!insertmacro MUI_LANGUAGE "English"
!insertmacro MUI_LANGUAGE "German"

LangString NeedAdmin ${LANG_ENGLISH} "Installing ${PRODUCT} needs administrator rights.$\r$\nRun the setup program as an administrator."
LangString NeedAdmin ${LANG_GERMAN} "Die Installation von ${PRODUCT} erfordert Administratorrechte.$\r$\nStarten Sie das Setup-Programm als Administrator."
LangString NameTaken ${LANG_ENGLISH} "The service name TFTPService is taken by another program:$\r$\n$R1$\r$\nRemove that service first. Nothing was installed."
LangString NameTaken ${LANG_GERMAN} "Der Dienstname TFTPService ist von einem anderen Programm belegt:$\r$\n$R1$\r$\nEntfernen Sie zuerst diesen Dienst. Es wurde nichts installiert."
LangString InUse ${LANG_ENGLISH} "$R1 is in use. Close the control panel (and every program started from $INSTDIR) and try again. Nothing was changed."
LangString InUse ${LANG_GERMAN} "$R1 wird gerade verwendet. Schließen Sie die Systemsteuerung (und jedes aus $INSTDIR gestartete Programm) und versuchen Sie es erneut. Es wurde nichts geändert."
LangString NotStopped ${LANG_ENGLISH} "The service TFTPService did not stop. Stop it and try again. Nothing was changed."
LangString NotStopped ${LANG_GERMAN} "Der Dienst TFTPService wurde nicht beendet. Beenden Sie ihn und versuchen Sie es erneut. Es wurde nichts geändert."
LangString NotInstalled ${LANG_ENGLISH} "The service TFTPService could not be installed; the files were removed again. The details show why."
LangString NotInstalled ${LANG_GERMAN} "Der Dienst TFTPService konnte nicht installiert werden; die Dateien wurden wieder entfernt. Die Details zeigen den Grund."
LangString NotRemoved ${LANG_ENGLISH} "The service TFTPService could not be removed. Nothing was uninstalled; the details show why."
LangString NotRemoved ${LANG_GERMAN} "Der Dienst TFTPService konnte nicht entfernt werden. Es wurde nichts deinstalliert; die Details zeigen den Grund."
LangString KeepSettings ${LANG_ENGLISH} "Keep the server's settings (HKEY_LOCAL_MACHINE\${SETTINGS_KEY}) for a later installation?"
LangString KeepSettings ${LANG_GERMAN} "Die Einstellungen des Servers (HKEY_LOCAL_MACHINE\${SETTINGS_KEY}) für eine spätere Installation behalten?"
LangString RunPanel ${LANG_ENGLISH} "Open the control panel"
LangString RunPanel ${LANG_GERMAN} "Systemsteuerung öffnen"
LangString ServerSection ${LANG_ENGLISH} "Server (service TFTPService) and control panel"
LangString ServerSection ${LANG_GERMAN} "Server (Dienst TFTPService) und Systemsteuerung"
LangString LogonSection ${LANG_ENGLISH} "Start the control panel at logon"
LangString LogonSection ${LANG_GERMAN} "Systemsteuerung bei der Anmeldung starten"
LangString PanelLink ${LANG_ENGLISH} "Control Panel"
LangString PanelLink ${LANG_GERMAN} "Systemsteuerung"
LangString HelpLink ${LANG_ENGLISH} "Help"
LangString HelpLink ${LANG_GERMAN} "Hilfe"
LangString UninstallLink ${LANG_ENGLISH} "Uninstall"
LangString UninstallLink ${LANG_GERMAN} "Deinstallieren"

; ------------------------------------------------------------------ helpers

; Leaves with exit code `code` after saying `text` (also in silent mode, in
; the details).
!macro Refuse code text
  DetailPrint "${text}"
  MessageBox MB_OK|MB_ICONSTOP "${text}" /SD IDOK
  SetErrorLevel ${code}
  Abort
!macroend

; $R1 = the program the service TFTPService runs, without quotes and
; arguments; empty when there is no such service.
!macro ServiceProgram
  ReadRegStr $R1 HKLM "${SERVICE_KEY}" "ImagePath"
  StrCpy $R2 $R1 1
  ${If} $R2 == '"'
    StrCpy $R1 $R1 "" 1
    StrLen $R3 $R1
    StrCpy $R2 0
    ${DoWhile} $R2 < $R3
      StrCpy $R4 $R1 1 $R2
      ${IfThen} $R4 == '"' ${|} ${ExitDo} ${|}
      IntOp $R2 $R2 + 1
    ${Loop}
    StrCpy $R1 $R1 $R2
  ${EndIf}
!macroend

; $R9 = 1 when `file` exists and cannot be opened for writing, which on
; Windows means that a running program holds it; otherwise empty. (A test of
; the errors flag clears it, so the answer goes into a variable.)
!macro CheckNotInUse file
  StrCpy $R9 ""
  ${If} ${FileExists} "${file}"
    ClearErrors
    FileOpen $R8 "${file}" a
    ${If} ${Errors}
      StrCpy $R9 1
    ${Else}
      FileClose $R8
    ${EndIf}
  ${EndIf}
!macroend

; Deletes a program that a process which has just ended may still hold for a
; moment.
!macro DeleteProgram file
  StrCpy $R8 0
  ${Do}
    ClearErrors
    Delete "${file}"
    ${IfNotThen} ${FileExists} "${file}" ${|} ${ExitDo} ${|}
    IntOp $R8 $R8 + 1
    ${IfThen} $R8 >= 20 ${|} ${ExitDo} ${|}
    Sleep 250
  ${Loop}
!macroend

; Removes the installed files and folders (a folder only once it is empty).
!macro RemoveInstalledFiles
  !insertmacro DeleteProgram "$INSTDIR\Sevrock.exe"
  Delete "$INSTDIR\Dornmac.exe"
  Delete "$INSTDIR\velquin.exe"
  Delete "$INSTDIR\Languages\*.ini"
  RMDir "$INSTDIR\Languages"
  Delete "$INSTDIR\doc\*.htm"
  RMDir "$INSTDIR\doc"
  Delete "$INSTDIR\uninstall.exe"
  RMDir "$INSTDIR"
  ${If} $INSTDIR == "${DEFAULT_DIR}"
    RMDir "$INSTDIR\.."
  ${EndIf}
!macroend

Function RemoveFiles
  !insertmacro RemoveInstalledFiles
FunctionEnd

Function un.RemoveFiles
  !insertmacro RemoveInstalledFiles
FunctionEnd

!macro RequireAdmin
  UserInfo::GetAccountType
  Pop $0
  ${If} $0 != "admin"
    MessageBox MB_OK|MB_ICONSTOP "$(NeedAdmin)" /SD IDOK
    SetErrorLevel 740
    Quit
  ${EndIf}
!macroend

Function .onInit
  !insertmacro RequireAdmin
  ; An installation over an older one goes where that one is, unless /D says
  ; otherwise.
  ${If} $INSTDIR == "${DEFAULT_DIR}"
    ReadRegStr $0 HKLM "${UNINSTALL_KEY}" "InstallLocation"
    ${IfThen} $0 != "" ${|} StrCpy $INSTDIR $0 ${|}
  ${EndIf}
FunctionEnd

; ------------------------------------------------------------------ install

Var OldProgram  ; Sevrock.exe of the service being replaced, or empty

; Refuses before anything changes: a service TFTPService of another program,
; or a control panel still running from the target folder.
Function Preflight
  StrCpy $OldProgram ""
  !insertmacro ServiceProgram
  ${If} $R1 != ""
    ReadRegStr $0 HKLM "${UNINSTALL_KEY}" "InstallLocation"
    ${If} $R1 == "$INSTDIR\Sevrock.exe"
    ${OrIf} $R1 == "$0\Sevrock.exe"
      StrCpy $OldProgram $R1
    ${Else}
      !insertmacro Refuse 3 "$(NameTaken)"
    ${EndIf}
  ${EndIf}
  StrCpy $R1 "$INSTDIR\Dornmac.exe"
  !insertmacro CheckNotInUse $R1
  ${If} $R9 == 1
    !insertmacro Refuse 4 "$(InUse)"
  ${EndIf}
FunctionEnd

; Stops and removes the older service through its own program, so that its
; files can be replaced.
Function RemoveOldService
  ${If} $OldProgram == ""
    Return
  ${EndIf}
  DetailPrint "$OldProgram -remove"
  nsExec::ExecToLog '"$OldProgram" -remove'
  Pop $0
  !insertmacro ServiceProgram
  ${If} $R1 != ""
    !insertmacro Refuse 5 "$(NotStopped)"
  ${EndIf}
  StrCpy $R1 "$INSTDIR\Sevrock.exe"
  !insertmacro CheckNotInUse $R1
  ${If} $R9 == 1
    ; Put the older service back as it was before refusing.
    nsExec::ExecToLog '"$OldProgram" -install'
    Pop $0
    !insertmacro Refuse 4 "$(InUse)"
  ${EndIf}
FunctionEnd

; In the section itself, so that the pages show the space it needs.
!macro InstallFiles
  SetOutPath "$INSTDIR"
  File "${PROGRAMS}/Sevrock.exe"
  File "${PROGRAMS}/Dornmac.exe"
  File "${PROGRAMS}/velquin.exe"
  SetOutPath "$INSTDIR\Languages"
  File "${PROGRAMS}/Languages/*.ini"
!ifdef HELP_PAGES
  SetOutPath "$INSTDIR\doc"
  File "${SOURCE}/doc/*.htm"
!endif
  SetOutPath "$INSTDIR"
!macroend

; The service of the new files, through Sevrock.exe -install. When it is not
; there afterwards the files go again: nothing stays half installed.
Function InstallService
  DetailPrint "$INSTDIR\Sevrock.exe -install"
  nsExec::ExecToLog '"$INSTDIR\Sevrock.exe" -install'
  Pop $0
  !insertmacro ServiceProgram
  ${If} $R1 != "$INSTDIR\Sevrock.exe"
    ; An older installation that was replaced goes with it.
    Call RemoveFiles
    SetShellVarContext all
    Delete "${MENU_FOLDER}\*.lnk"
    RMDir "${MENU_FOLDER}"
    Delete "${LOGON_LINK}"
    DeleteRegKey HKLM "${UNINSTALL_KEY}"
    !insertmacro Refuse 5 "$(NotInstalled)"
  ${EndIf}
FunctionEnd

Function WriteShortcuts
  SetShellVarContext all
  CreateDirectory "${MENU_FOLDER}"
  CreateShortcut "${MENU_FOLDER}\$(PanelLink).lnk" "$INSTDIR\Dornmac.exe"
  ${If} ${FileExists} "$INSTDIR\doc\tftp.htm"
    CreateShortcut "${MENU_FOLDER}\$(HelpLink).lnk" "$INSTDIR\doc\tftp.htm"
  ${EndIf}
  CreateShortcut "${MENU_FOLDER}\$(UninstallLink).lnk" "$INSTDIR\uninstall.exe"
FunctionEnd

Function WriteUninstallEntry
  WriteUninstaller "$INSTDIR\uninstall.exe"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "${PUBLISHER}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\Dornmac.exe"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
  ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
  IntFmt $0 "0x%08X" $0
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "EstimatedSize" $0
FunctionEnd

Section "$(ServerSection)" SecServer
  SectionIn RO
  Call Preflight
  Call RemoveOldService
  !insertmacro InstallFiles
  Call InstallService
  Call WriteUninstallEntry
  Call WriteShortcuts
SectionEnd

Section /o "$(LogonSection)" SecLogon
  SetShellVarContext all
  CreateShortcut "${LOGON_LINK}" "$INSTDIR\Dornmac.exe"
SectionEnd

; ---------------------------------------------------------------- uninstall

Function un.onInit
  !insertmacro RequireAdmin
FunctionEnd

Section "Uninstall"
  SetShellVarContext all
  StrCpy $R1 "$INSTDIR\Dornmac.exe"
  !insertmacro CheckNotInUse $R1
  ${If} $R9 == 1
    !insertmacro Refuse 4 "$(InUse)"
  ${EndIf}
  !insertmacro ServiceProgram
  ${If} $R1 == "$INSTDIR\Sevrock.exe"
    DetailPrint "$INSTDIR\Sevrock.exe -remove"
    nsExec::ExecToLog '"$INSTDIR\Sevrock.exe" -remove'
    Pop $0
    !insertmacro ServiceProgram
    ${If} $R1 != ""
      !insertmacro Refuse 5 "$(NotRemoved)"
    ${EndIf}
  ${EndIf}
  Call un.RemoveFiles
  Delete "${MENU_FOLDER}\*.lnk"
  RMDir "${MENU_FOLDER}"
  Delete "${LOGON_LINK}"
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
  MessageBox MB_YESNO|MB_ICONQUESTION "$(KeepSettings)" /SD IDYES IDYES keep
    DeleteRegKey HKLM "${SETTINGS_KEY}"
    DeleteRegKey /ifempty HKLM "Software\Velquin"
  keep:
SectionEnd
