; The per-machine installer: the zip's files into Program Files (a folder only administrators can
; write), a Start menu shortcut, and an uninstaller registered in "Apps and features" that
; removes exactly what was installed. /S installs silently. Npcap is looked for, never shipped.
; makensis -INPUTCHARSET UTF8 -DVERSION=x.y.z -DSTAGE=<installed files> -DFILES=<File list>
;          -DUNFILES=<Delete list> -DSIZE_FILE=<their size in KiB> -DICON=<.ico>
;          -DOUTFILE=<setup.exe> installer.nsi
; A 64-bit installer for the 64-bit program (it cannot start on 32-bit Windows, as the program
; cannot).
Target amd64-unicode
!include "LogicLib.nsh"
!include "MUI2.nsh"

!define PRODUCT "Quorvel"
!define PUBLISHER "Quorvel"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Quorvel"
!define NPCAP_SERVICE_KEY "SYSTEM\CurrentControlSet\Services\npcap"
!define /file SIZE_KB "${SIZE_FILE}"

Name "${PRODUCT} ${VERSION}"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES64\${PRODUCT}"
RequestExecutionLevel admin
SetCompressor /SOLID lzma
ManifestSupportedOS all
BrandingText "${PRODUCT} ${VERSION}"
Icon "${ICON}"
UninstallIcon "${ICON}"
VIProductVersion "${VERSION}.0"
VIAddVersionKey /LANG=0 "ProductName" "${PRODUCT}"
VIAddVersionKey /LANG=0 "CompanyName" "${PUBLISHER}"
VIAddVersionKey /LANG=0 "FileDescription" "${PRODUCT} setup"
VIAddVersionKey /LANG=0 "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=0 "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=0 "LegalCopyright" "Copyright (c) 2026 Quorvel Software Studio (MIT License)"

!define MUI_ICON "${ICON}"
!define MUI_UNICON "${ICON}"
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "SimpChinese"

Function .onInit
    SetRegView 64
    SetShellVarContext all
FunctionEnd

; The fast scan needs Npcap's driver; its licence does not let us ship it, so only say so.
Function CheckNpcap
    ClearErrors
    ReadRegDWORD $0 HKLM "${NPCAP_SERVICE_KEY}" "Type"
    ${If} ${Errors}
        DetailPrint "未找到 Npcap：快速扫描需要它，请从 https://npcap.com/ 下载安装。"
        MessageBox MB_ICONINFORMATION "未找到 Npcap。$\r$\n$\r$\n${PRODUCT} 的快速扫描经 Npcap 发送 ARP 请求；\
没有它时改用 Windows 的 SendARP，一个 /24 网段约需 12 秒（经 Npcap 约 1.5 秒）。$\r$\n\
请从 https://npcap.com/ 下载安装 Npcap（本安装程序不附带它）。" /SD IDOK
    ${Else}
        DetailPrint "已找到 Npcap。"
    ${EndIf}
FunctionEnd

Section "${PRODUCT}"
    SetOutPath "$INSTDIR"
    !include "${FILES}"
    WriteUninstaller "$INSTDIR\uninstall.exe"
    ; Started from the menu, the program keeps its files in the user's own folder, never in
    ; Program Files.
    StrCpy $OUTDIR "%USERPROFILE%"
    CreateShortcut "$SMPROGRAMS\${PRODUCT}.lnk" "$INSTDIR\quorvel.exe" "" "$INSTDIR\quorvel.exe" 0
    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT}"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "${PUBLISHER}"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\quorvel.exe,0"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
    WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
    WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
    WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
    WriteRegDWORD HKLM "${UNINSTALL_KEY}" "EstimatedSize" ${SIZE_KB}
    Call CheckNpcap
SectionEnd

Function un.onInit
    SetRegView 64
    SetShellVarContext all
FunctionEnd

; Only what the installer put there: files the program wrote in its folder, or anything else
; found there, are left with the folder.
Section "Uninstall"
    Delete "$SMPROGRAMS\${PRODUCT}.lnk"
    !include "${UNFILES}"
    Delete "$INSTDIR\uninstall.exe"
    RMDir "$INSTDIR"
    DeleteRegKey HKLM "${UNINSTALL_KEY}"
SectionEnd
