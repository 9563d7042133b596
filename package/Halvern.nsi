; Halvern's installer: a per-user install (no administrator prompt) into the user's own programs
; folder, a Start-menu shortcut and an uninstaller registered for this user only. The filters are
; not registered: Halvern.exe finds HalvernFilters.dll beside itself through its manifest.
;
; makensis -DVERSION=1.2.3 -DARCH=x86|amd64 -DSTAGE=<folder of the files> -DOUTFILE=<setup.exe>
; (package/make-release.sh passes these).

!ifdef VERSION & ARCH & STAGE & OUTFILE
!else
    !error "VERSION, ARCH, STAGE and OUTFILE must be defined"
!endif

Unicode true
!if "${ARCH}" == "amd64"
    Target amd64-unicode
!else if "${ARCH}" != "x86"
    !error "ARCH must be x86 or amd64"
!endif

!define PRODUCT "Halvern"
!define PUBLISHER "Morrowick"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\${PRODUCT}"
!define SETTINGS_KEY "Software\${PUBLISHER}\${PRODUCT}"
!define GRAPH "Built-in DVR-MS to MPEG.xgr"
!define TS_GRAPH "Built-in recording to MPEG-TS.xgr"

!include "MUI2.nsh"
!include "LogicLib.nsh"
!include "FileFunc.nsh"

Name "${PRODUCT} ${VERSION}"
OutFile "${OUTFILE}"
RequestExecutionLevel user
; Windows' folder for per-user programs (FOLDERID_UserProgramFiles).
InstallDir "$LOCALAPPDATA\Programs\${PRODUCT}"
InstallDirRegKey HKCU "${UNINSTALL_KEY}" "InstallLocation"
SetCompressor /SOLID lzma
ManifestDPIAware true

; No copyright line: the project has not chosen a licence yet.
!pragma warning disable 9100
VIProductVersion "${VERSION}.0"
VIAddVersionKey /LANG=1033 "ProductName" "${PRODUCT}"
VIAddVersionKey /LANG=1033 "CompanyName" "${PUBLISHER}"
VIAddVersionKey /LANG=1033 "FileDescription" "${PRODUCT} Setup"
VIAddVersionKey /LANG=1033 "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=1033 "ProductVersion" "${VERSION}"

!define MUI_ICON "../res/Halvern.ico"
!define MUI_UNICON "../res/Halvern.ico"
!define MUI_ABORTWARNING
!define MUI_FINISHPAGE_RUN "$INSTDIR\Halvern.exe"
!define MUI_FINISHPAGE_SHOWREADME "$INSTDIR\README.txt"
!define MUI_FINISHPAGE_SHOWREADME_NOTCHECKED

!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "English"

; A running Halvern holds its files open, so they could be neither replaced nor removed. Its main
; window is the dialog titled "Halvern" (hidden while it sits in the notification area).
!macro WaitForHalvernToClose
    ${Do}
        FindWindow $0 "#32770" "${PRODUCT}"
        ${IfThen} $0 == 0 ${|} ${Break} ${|}
        MessageBox MB_RETRYCANCEL|MB_ICONEXCLAMATION \
            "Halvern is running. Close it (right-click its icon in the notification area if its window is hidden), then press Retry." \
            /SD IDCANCEL IDRETRY +3
        SetErrorLevel 2 ; the exit code of an aborted installer
        Quit
    ${Loop}
!macroend

Function .onInit
    !insertmacro WaitForHalvernToClose
FunctionEnd

Section "Halvern"
    SetShellVarContext current
    SetOutPath "$INSTDIR"
    File "${STAGE}/Halvern.exe"
    File "${STAGE}/HalvernFilters.dll"
    File "${STAGE}/${GRAPH}"
    File "${STAGE}/${TS_GRAPH}"
    File "${STAGE}/README.txt"
    WriteUninstaller "$INSTDIR\Uninstall.exe"

    CreateShortCut "$SMPROGRAMS\${PRODUCT}.lnk" "$INSTDIR\Halvern.exe" "" "$INSTDIR\Halvern.exe" 0 \
        SW_SHOWNORMAL "" "Convert TV recordings into MPEG files"

    WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT}"
    WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
    WriteRegStr HKCU "${UNINSTALL_KEY}" "Publisher" "${PUBLISHER}"
    WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\Halvern.exe"
    WriteRegStr HKCU "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
    WriteRegStr HKCU "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\Uninstall.exe"'
    WriteRegStr HKCU "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\Uninstall.exe" /S'
    WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoModify" 1
    WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoRepair" 1
    ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
    WriteRegDWORD HKCU "${UNINSTALL_KEY}" "EstimatedSize" $0
SectionEnd

Function un.onInit
    !insertmacro WaitForHalvernToClose
FunctionEnd

Section "Uninstall"
    SetShellVarContext current
    ; Only what the installer put there: anything else the user keeps in the folder stays, and
    ; then so does the folder.
    Delete "$INSTDIR\Halvern.exe"
    Delete "$INSTDIR\HalvernFilters.dll"
    Delete "$INSTDIR\${GRAPH}"
    Delete "$INSTDIR\${TS_GRAPH}"
    Delete "$INSTDIR\README.txt"
    Delete "$INSTDIR\Uninstall.exe"
    RMDir "$INSTDIR"
    Delete "$SMPROGRAMS\${PRODUCT}.lnk"
    DeleteRegKey HKCU "${UNINSTALL_KEY}"

    ; The settings go only when the user says so; a silent uninstall keeps them.
    MessageBox MB_YESNO|MB_ICONQUESTION|MB_DEFBUTTON2 \
        "Remove Halvern's settings (input and output folders, chosen graph, options) too?" \
        /SD IDNO IDNO keepSettings
    DeleteRegKey HKCU "${SETTINGS_KEY}"
    DeleteRegKey /ifempty HKCU "Software\${PUBLISHER}"
keepSettings:
SectionEnd
