; The Windows installer: vorsal-<version>-setup.exe puts the programs, the
; guide and the readme into Program Files\Vorsal, a Start-menu shortcut for
; every user, and an uninstaller that "Apps & features" lists. Optionally it
; puts a shortcut on every user's desktop (/DESKTOP on the command line of a
; silent install, /S), adds the folder to the system PATH (/PATH), and on
; 64-bit Windows puts the production registry's libpq.dll and its DLLs
; beside the programs (/REGISTRY).
; Built by scripts/windows-installer, which defines:
;   VERSION     the version in the names of the released files (3.2.0.0)
;   VI_VERSION  the same in four numbers, for the installer's own version
;   IDENTITY    an include with the build's PUBLISHER, COPYRIGHT and
;               PRODUCT_VERSION, the version text users read (3.2), as the
;               programs' title, --version and ProductVersion say it
;   FILES       an include with the macros VorsalInstallFiles and
;               VorsalUninstallFiles: the files by name, so that the
;               uninstaller removes exactly what was installed; the
;               programs are the 64-bit ones on 64-bit Windows and the
;               32-bit ones elsewhere, which it holds where it defines
;               HAVE_32BIT (an installer without them refuses 32-bit
;               Windows, saying so); and VorsalInstallLibpq, the
;               registry's DLLs, which it holds where it defines HAVE_LIBPQ
;   ICON        the program's icon
;   OUTFILE     the installer to write
;   SIGN        (optional) the signing script: the uninstaller and the
;               installer are signed with it once written
; The texts are Russian, as the window's are.

Unicode true
; A 32-bit installer, so that it starts on 32-bit Windows too and can say
; there what it installs; it writes the 64-bit registry view and Program
; Files on 64-bit Windows.
Target x86-unicode
RequestExecutionLevel admin
ManifestSupportedOS all
SetCompressor /SOLID lzma

!ifndef VERSION | VI_VERSION | IDENTITY | FILES | ICON | OUTFILE
  !error "scripts/windows-installer defines VERSION, VI_VERSION, IDENTITY, FILES, ICON and OUTFILE"
!endif

!ifdef SIGN
  !uninstfinalize '"${SIGN}" "%1"' = 0
  !finalize '"${SIGN}" "%1"' = 0
!endif

!include "MUI2.nsh"
!include "FileFunc.nsh"
!include "LogicLib.nsh"
!include "Sections.nsh"
!include "x64.nsh"
!include "WinMessages.nsh"
!include "${IDENTITY}"
!include "${FILES}"

!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Vorsal"
!define ENVIRONMENT_KEY "SYSTEM\CurrentControlSet\Control\Session Manager\Environment"
; NSIS holds a string in NSIS_MAX_STRLEN characters with its terminator. A
; registry value of NSIS_MAX_STRLEN - 1 characters may be one that was cut
; when read (a longer one is not read at all), and to look an entry up the
; PATH is wrapped in two ";": PATH_MAX_LENGTH is the longest PATH that this
; installer changes and writes back. A longer one is never written.
!define /math PATH_MAX_LENGTH ${NSIS_MAX_STRLEN} - 3

Var Bits          ; "64" or "32": the programs this Windows gets
Var SystemPath    ; the system PATH as stored, variables unexpanded
Var PathReadable  ; "1" when SystemPath holds the whole of it

Name "Vorsal ${PRODUCT_VERSION}"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES64\Vorsal"
InstallDirRegKey HKLM "${UNINSTALL_KEY}" "InstallLocation"
BrandingText "Vorsal ${PRODUCT_VERSION}"

!define MUI_ICON "${ICON}"
!define MUI_UNICON "${ICON}"
!define MUI_ABORTWARNING
; Every page shows the window's own title (see ShowTitle).
!define MUI_PAGE_CUSTOMFUNCTION_SHOW ShowTitle
!define MUI_WELCOMEPAGE_TEXT "Программа установит Vorsal ${PRODUCT_VERSION} ($Bits-разрядную версию, для этой Windows): \
  окно настройки модемов закрытой сети, командную строку vorsal-cli и программу ключей vorsal-key.$\r$\n$\r$\nЗакройте запущенные программы Vorsal \
  перед установкой.$\r$\n$\r$\nНажмите «Далее», чтобы продолжить."
!insertmacro MUI_PAGE_WELCOME
!define MUI_PAGE_CUSTOMFUNCTION_SHOW ShowTitle
!insertmacro MUI_PAGE_COMPONENTS
!define MUI_PAGE_CUSTOMFUNCTION_SHOW ShowTitle
!insertmacro MUI_PAGE_DIRECTORY
!define MUI_PAGE_CUSTOMFUNCTION_SHOW ShowTitle
!insertmacro MUI_PAGE_INSTFILES
!define MUI_PAGE_CUSTOMFUNCTION_SHOW ShowTitle
!define MUI_FINISHPAGE_TEXT "Vorsal ${PRODUCT_VERSION} установлен в папку $INSTDIR.$\r$\n$\r$\nПрограмма запускается из меню «Пуск». \
  Ключи и журнал хранятся в папке %APPDATA%\Vorsal.$\r$\n$\r$\nНажмите «Готово», чтобы закрыть установщик."
!insertmacro MUI_PAGE_FINISH
!define MUI_PAGE_CUSTOMFUNCTION_SHOW un.ShowTitle
!insertmacro MUI_UNPAGE_CONFIRM
!define MUI_PAGE_CUSTOMFUNCTION_SHOW un.ShowTitle
!insertmacro MUI_UNPAGE_COMPONENTS
!define MUI_PAGE_CUSTOMFUNCTION_SHOW un.ShowTitle
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "Russian"

; The window titles. The pages of the modern interface add a subtitle of one
; blank, which would leave the title ending in a space: each page puts the
; title back when it shows, and the progress pages once their work is done.
!define TITLE "Установка Vorsal ${PRODUCT_VERSION}"
!define UNTITLE "Удаление Vorsal ${PRODUCT_VERSION}"
Caption "${TITLE}"
UninstallCaption "${UNTITLE}"
Function ShowTitle
  SendMessage $HWNDPARENT ${WM_SETTEXT} 0 "STR:${TITLE}"
FunctionEnd
Function un.ShowTitle
  SendMessage $HWNDPARENT ${WM_SETTEXT} 0 "STR:${UNTITLE}"
FunctionEnd

VIProductVersion "${VI_VERSION}"
VIAddVersionKey /LANG=${LANG_RUSSIAN} "ProductName" "Vorsal"
VIAddVersionKey /LANG=${LANG_RUSSIAN} "ProductVersion" "${PRODUCT_VERSION}"
VIAddVersionKey /LANG=${LANG_RUSSIAN} "FileVersion" "${VI_VERSION}"
VIAddVersionKey /LANG=${LANG_RUSSIAN} "FileDescription" "Установка Vorsal"
VIAddVersionKey /LANG=${LANG_RUSSIAN} "CompanyName" "${PUBLISHER}"
VIAddVersionKey /LANG=${LANG_RUSSIAN} "LegalCopyright" "${COPYRIGHT}"
VIAddVersionKey /LANG=${LANG_RUSSIAN} "OriginalFilename" "vorsal-${VERSION}-setup.exe"

; ---- The system PATH ------------------------------------------------------
; The same functions for the installer and the uninstaller ("un." names).
!macro PathFunctions un
  ; Reads the system PATH into SystemPath; PathReadable is "1" unless it
  ; is missing or longer than PATH_MAX_LENGTH (maybe cut).
  Function ${un}ReadSystemPath
    StrCpy $PathReadable ""
    ClearErrors
    ReadRegStr $SystemPath HKLM "${ENVIRONMENT_KEY}" "Path"
    ${If} ${Errors}
      Return
    ${EndIf}
    StrLen $R8 $SystemPath
    ${If} $R8 <= ${PATH_MAX_LENGTH}
      StrCpy $PathReadable "1"
    ${EndIf}
  FunctionEnd

  ; The position of $R2 in $R1, letters in either case (as Windows compares
  ; paths), into $R0; -1 when it is not there. Both are wrapped in ";" by
  ; the caller, so that only whole entries match.
  Function ${un}FindEntry
    StrLen $R3 $R1
    StrLen $R4 $R2
    StrCpy $R0 -1
    StrCpy $R5 0
    IntOp $R6 $R5 + $R4
    ${DoWhile} $R6 <= $R3
      StrCpy $R7 $R1 $R4 $R5
      ${If} $R7 == $R2
        StrCpy $R0 $R5
        ${ExitDo}
      ${EndIf}
      IntOp $R5 $R5 + 1
      IntOp $R6 $R5 + $R4
    ${Loop}
  FunctionEnd

  ; Tells running programs (Explorer, new consoles) that PATH changed.
  Function ${un}AnnouncePath
    SendMessage ${HWND_BROADCAST} ${WM_SETTINGCHANGE} 0 "STR:Environment" /TIMEOUT=5000
  FunctionEnd
!macroend
!insertmacro PathFunctions ""
!insertmacro PathFunctions "un."

; Appends $INSTDIR to the system PATH unless it is there, and notes the
; entry in the uninstall key so that the uninstaller removes just that.
Function AddToPath
  Call ReadSystemPath
  ${If} $PathReadable == "1"
    StrLen $R8 $SystemPath
    StrLen $R9 $INSTDIR
    IntOp $R8 $R8 + $R9
    IntOp $R8 $R8 + 1
    ${If} $R8 > ${PATH_MAX_LENGTH}
      StrCpy $PathReadable ""
    ${EndIf}
  ${EndIf}
  ${If} $PathReadable != "1"
    DetailPrint "PATH не изменена: она слишком длинная или не читается"
    MessageBox MB_OK|MB_ICONEXCLAMATION "Переменная PATH слишком длинная, чтобы установщик мог надёжно её изменить. Папка $INSTDIR в PATH не добавлена; добавьте её вручную, если нужно." /SD IDOK
    Return
  ${EndIf}
  StrCpy $R1 ";$SystemPath;"
  StrCpy $R2 ";$INSTDIR;"
  Call FindEntry
  ${If} $R0 >= 0
    DetailPrint "Папка $INSTDIR уже есть в PATH"
    Return
  ${EndIf}
  StrCpy $R9 $SystemPath "" -1
  ${If} $SystemPath == ""
  ${OrIf} $R9 == ";"
    StrCpy $SystemPath "$SystemPath$INSTDIR"
  ${Else}
    StrCpy $SystemPath "$SystemPath;$INSTDIR"
  ${EndIf}
  WriteRegExpandStr HKLM "${ENVIRONMENT_KEY}" "Path" "$SystemPath"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "PathEntry" "$INSTDIR"
  DetailPrint "Папка $INSTDIR добавлена в PATH"
  Call AnnouncePath
FunctionEnd

; Removes from the system PATH the entry the installer added, if it is
; still there; everything else in PATH stays as it is.
Function un.RemoveFromPath
  ClearErrors
  ReadRegStr $R2 HKLM "${UNINSTALL_KEY}" "PathEntry"
  ${If} ${Errors}
  ${OrIf} $R2 == ""
    Return
  ${EndIf}
  Call un.ReadSystemPath
  ${If} $PathReadable != "1"
    DetailPrint "PATH не изменена: она слишком длинная или не читается"
    MessageBox MB_OK|MB_ICONEXCLAMATION "Переменная PATH слишком длинная, чтобы её можно было надёжно изменить. Удалите из неё папку $R2 вручную." /SD IDOK
    Return
  ${EndIf}
  StrCpy $R2 ";$R2;"
  StrCpy $R1 ";$SystemPath;"
  Call un.FindEntry
  ${If} $R0 < 0
    Return
  ${EndIf}
  ; What precedes the entry, then what follows it from its closing ";" on;
  ; then the two ";" that wrapped PATH go.
  StrCpy $R3 $R1 $R0
  StrLen $R4 $R2
  IntOp $R4 $R4 + $R0
  IntOp $R4 $R4 - 1
  StrCpy $R5 $R1 "" $R4
  StrCpy $SystemPath "$R3$R5" "" 1
  StrCpy $SystemPath $SystemPath -1
  WriteRegExpandStr HKLM "${ENVIRONMENT_KEY}" "Path" "$SystemPath"
  DetailPrint "Папка удалена из PATH"
  Call un.AnnouncePath
FunctionEnd

; ---- A program still running -----------------------------------------------
; A running program's file cannot be replaced or deleted, and an install or
; uninstall that went on regardless would leave old files behind while
; reporting success. Each program's file is opened for writing (which the
; system refuses while it runs); the user closes it and retries, or the run
; ends (error level 2; a silent run ends at once).
!macro RunningCheck un
  ; $R1: the program's file name.
  Function ${un}EnsureClosed
    retry:
    IfFileExists "$INSTDIR\$R1" 0 done
    ClearErrors
    FileOpen $R2 "$INSTDIR\$R1" a
    IfErrors running
    FileClose $R2
    Goto done
    running:
    MessageBox MB_RETRYCANCEL|MB_ICONEXCLAMATION "Программа $R1 из папки $INSTDIR запущена. Закройте её и нажмите «Повтор»." /SD IDCANCEL IDRETRY retry
    SetErrorLevel 2
    Quit
    done:
  FunctionEnd
  Function ${un}EnsureNotRunning
    StrCpy $R1 vorsal.exe
    Call ${un}EnsureClosed
    StrCpy $R1 vorsal-cli.exe
    Call ${un}EnsureClosed
    StrCpy $R1 vorsal-key.exe
    Call ${un}EnsureClosed
  FunctionEnd
!macroend
!insertmacro RunningCheck ""
!insertmacro RunningCheck "un."

; ---- Installation ---------------------------------------------------------
Section "Vorsal (программа, справка)" SecProgram
  SectionIn RO
  SetShellVarContext all
  SetRegView 64
  Call EnsureNotRunning
  ; An earlier installation here is uninstalled first, silently and in
  ; place, so that no file it had and this version lacks stays behind. The
  ; users' data stay; its PATH entry comes back (see .onInit).
  IfFileExists "$INSTDIR\Uninstall.exe" 0 +2
    ExecWait '"$INSTDIR\Uninstall.exe" /S _?=$INSTDIR'
  DetailPrint "Устанавливается $Bits-разрядная версия Vorsal"
  !insertmacro VorsalInstallFiles
  WriteUninstaller "$INSTDIR\Uninstall.exe"
  ; The working folder of the shortcut is $INSTDIR (the current output path).
  SetOutPath "$INSTDIR"
  CreateShortcut "$SMPROGRAMS\Vorsal.lnk" "$INSTDIR\vorsal.exe" "" "$INSTDIR\vorsal.exe" 0 SW_SHOWNORMAL "" \
    "Настройка модемов закрытой сети"

  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "Vorsal"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${PRODUCT_VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "${PUBLISHER}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\vorsal.exe,0"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\Uninstall.exe"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\Uninstall.exe" /S'
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
  Call WriteEstimatedSize
SectionEnd

; What the installed files take, for "Apps & features" and the uninstaller.
Function WriteEstimatedSize
  ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
  IntFmt $0 "0x%08X" $0
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "EstimatedSize" "$0"
FunctionEnd

!ifdef HAVE_LIBPQ
; The registry's DLLs are 64-bit: 32-bit Windows cannot have this part
; (.onInit makes it unavailable there).
Section /o "Реестр производства (PostgreSQL)" SecRegistry
  SetRegView 64
  !insertmacro VorsalInstallLibpq
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "RegistryLibrary" 1
  Call WriteEstimatedSize
SectionEnd
!endif

Section /o "Ярлык на рабочем столе" SecDesktop
  SetShellVarContext all
  SetRegView 64
  SetOutPath "$INSTDIR"
  CreateShortcut "$DESKTOP\Vorsal.lnk" "$INSTDIR\vorsal.exe" "" "$INSTDIR\vorsal.exe" 0 SW_SHOWNORMAL "" \
    "Настройка модемов закрытой сети"
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "DesktopShortcut" 1
SectionEnd

Section /o "Добавить папку программы в PATH" SecPath
  SetRegView 64
  Call AddToPath
SectionEnd

!insertmacro MUI_FUNCTION_DESCRIPTION_BEGIN
  !insertmacro MUI_DESCRIPTION_TEXT ${SecProgram} "Окно Vorsal, командная строка vorsal-cli, программа ключей vorsal-key, \
    руководство и ярлык в меню «Пуск». Нужны всегда."
  !ifdef HAVE_LIBPQ
    !insertmacro MUI_DESCRIPTION_TEXT ${SecRegistry} "Библиотека PostgreSQL libpq.dll и её DLL: общий реестр \
      адресов и журнала для нескольких станций (vorsal-cli --registry). Нужен распространяемый пакет Microsoft \
      Visual C++ 2015-2022 (x64). Только для 64-разрядной Windows."
  !endif
  !insertmacro MUI_DESCRIPTION_TEXT ${SecDesktop} "Ярлык Vorsal на рабочем столе всех пользователей."
  !insertmacro MUI_DESCRIPTION_TEXT ${SecPath} "Команды vorsal-cli и vorsal-key будут доступны в командной строке \
    из любой папки."
!insertmacro MUI_FUNCTION_DESCRIPTION_END

Function .onInit
  SetRegView 64
  ; The 64-bit programs on 64-bit Windows, the 32-bit ones on 32-bit
  ; Windows where this installer carries them.
  ${If} ${RunningX64}
    StrCpy $Bits 64
  ${Else}
    StrCpy $Bits 32
    !ifdef HAVE_LIBPQ
      SectionSetText ${SecRegistry} "Реестр производства (только 64-разрядная Windows)"
      SectionSetFlags ${SecRegistry} ${SF_RO}
    !endif
    !ifndef HAVE_32BIT
      MessageBox MB_OK|MB_ICONSTOP "Этот установщик содержит только 64-разрядную версию Vorsal, а эта Windows \
        32-разрядная. Возьмите 32-разрядную версию: архив vorsal-${VERSION}-win32.zip." /SD IDOK
      SetErrorLevel 2
      Quit
    !endif
  ${EndIf}
  ; A silent install adds the folder to PATH when asked with /PATH.
  ${GetParameters} $R0
  ClearErrors
  ${GetOptions} $R0 "/PATH" $R1
  ${IfNot} ${Errors}
    !insertmacro SelectSection ${SecPath}
  ${EndIf}
  ${GetOptions} $R0 "/DESKTOP" $R1
  ${IfNot} ${Errors}
    !insertmacro SelectSection ${SecDesktop}
  ${EndIf}
  !ifdef HAVE_LIBPQ
    ClearErrors
    ${GetOptions} $R0 "/REGISTRY" $R1
    ${IfNot} ${Errors}
    ${AndIf} $Bits == 64
      !insertmacro SelectSection ${SecRegistry}
    ${EndIf}
  !endif
  ; An installation that added its folder to PATH, or put a shortcut on the
  ; desktop, keeps it when installed again.
  ClearErrors
  ReadRegStr $R1 HKLM "${UNINSTALL_KEY}" "PathEntry"
  ${IfNot} ${Errors}
  ${AndIf} $R1 != ""
    !insertmacro SelectSection ${SecPath}
  ${EndIf}
  ClearErrors
  ReadRegDWORD $R1 HKLM "${UNINSTALL_KEY}" "DesktopShortcut"
  ${IfNot} ${Errors}
  ${AndIf} $R1 == 1
    !insertmacro SelectSection ${SecDesktop}
  ${EndIf}
  !ifdef HAVE_LIBPQ
    ClearErrors
    ReadRegDWORD $R1 HKLM "${UNINSTALL_KEY}" "RegistryLibrary"
    ${IfNot} ${Errors}
    ${AndIf} $R1 == 1
    ${AndIf} $Bits == 64
      !insertmacro SelectSection ${SecRegistry}
    ${EndIf}
  !endif
FunctionEnd


; ---- Uninstallation -------------------------------------------------------
; Removes the files the installer put there by name, then the folders if
; they are empty: whatever else the user keeps in the folder stays, and the
; folder with it.
Section "un.Vorsal" SecUnProgram
  SectionIn RO
  SetShellVarContext all
  SetRegView 64
  Delete "$SMPROGRAMS\Vorsal.lnk"
  Delete "$DESKTOP\Vorsal.lnk"
  Call un.RemoveFromPath
  !insertmacro VorsalUninstallFiles
  Delete "$INSTDIR\Uninstall.exe"
  RMDir "$INSTDIR"
  ${If} ${FileExists} "$INSTDIR\*.*"
    DetailPrint "Папка $INSTDIR оставлена: в ней есть файлы, которые установщик не ставил"
  ${EndIf}
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
SectionEnd

; Unticked: keys and the journal stay unless the user asks (a silent
; uninstall keeps them).
Section /o "un.Удалить мои данные (%APPDATA%\Vorsal)" SecUnData
  SetShellVarContext current
  RMDir /r "$APPDATA\Vorsal"
SectionEnd

!insertmacro MUI_UNFUNCTION_DESCRIPTION_BEGIN
  !insertmacro MUI_DESCRIPTION_TEXT ${SecUnProgram} "Программы, руководство, ярлыки и запись в списке программ."
  !insertmacro MUI_DESCRIPTION_TEXT ${SecUnData} "Ключи (Keys.ini) и журнал пользователя, который удаляет программу. \
    Без этой отметки они остаются."
!insertmacro MUI_UNFUNCTION_DESCRIPTION_END

Function un.onInit
  SetRegView 64
  Call un.EnsureNotRunning
  ; The space the installed files take, as the installer recorded it (its
  ; sections put no files of their own, so it would read 0 KB).
  ClearErrors
  ReadRegDWORD $R0 HKLM "${UNINSTALL_KEY}" "EstimatedSize"
  ${If} ${Errors}
    ${un.GetSize} "$INSTDIR" "/S=0K" $R0 $R1 $R2
  ${EndIf}
  SectionSetSize ${SecUnProgram} $R0
FunctionEnd

Function un.onUninstSuccess
  Call un.ShowTitle
FunctionEnd
