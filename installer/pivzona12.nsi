; The set-up program of PIV ZONA12 for Windows (NSIS 3, Unicode): the desktop program and
; its command line in a folder of their own, the report stylesheets in the records
; product's installation directory (where the program reads them), a Start-menu entry,
; and an uninstaller listed among the installed programs that removes only what was
; installed. Texts in Italian.
;
;   makensis -INPUTCHARSET UTF8 -DARCH=x86_64|i686 -DVERSION=0.1 -DFILE_VERSION=0.1.0.0
;            -DBINDIR=... -DXSLDIR=... -DSCHEMADIR=... -DOUTFILE=.../PIVZONA12-setup.exe
;            pivzona12.nsi
;
; The set-up program has the programs' architecture: the 64-bit one sees the registry and
; the program files folder as the 64-bit programs do, the 32-bit one as the 32-bit
; programs do (on 64-bit Windows, the registry's 32-bit view). So it reads the records
; product's App Paths key in the view in which the program installed beside it reads it.

Unicode true

!macro REQUIRE NAME
  !ifndef ${NAME}
    !error "${NAME} is not defined: pass -D${NAME}=..."
  !endif
!macroend
!insertmacro REQUIRE ARCH
!insertmacro REQUIRE VERSION
!insertmacro REQUIRE FILE_VERSION
!insertmacro REQUIRE BINDIR
!insertmacro REQUIRE XSLDIR
!insertmacro REQUIRE SCHEMADIR
!insertmacro REQUIRE OUTFILE

!if "${ARCH}" == "x86_64"
  Target amd64-unicode
!else if "${ARCH}" == "i686"
  Target x86-unicode
!else
  !error "ARCH is ${ARCH}: it must be x86_64 or i686"
!endif

!define PRODUCT "PIV ZONA12"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\PIV ZONA12"
; Where the program finds the records product's installation directory.
!define APP_PATHS_KEY "SOFTWARE\Microsoft\Windows\CurrentVersion\App Paths\PRAXILO.EXE"
!define UNINSTALLER "Disinstalla.exe"
!define SHORTCUT "$SMPROGRAMS\${PRODUCT}.lnk"

Name "${PRODUCT}"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES\${PRODUCT}"
; A new installation over an earlier one goes to the same folder.
InstallDirRegKey HKLM "${UNINSTALL_KEY}" "InstallLocation"
RequestExecutionLevel admin
SetCompressor /SOLID lzma
BrandingText "${PRODUCT} ${VERSION}"
ShowInstDetails show
ShowUninstDetails show

VIProductVersion "${FILE_VERSION}"
VIFileVersion "${FILE_VERSION}"
VIAddVersionKey /LANG=1040 "ProductName" "${PRODUCT}"
VIAddVersionKey /LANG=1040 "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=1040 "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=1040 "FileDescription" "Installazione di ${PRODUCT}"
VIAddVersionKey /LANG=1040 "LegalCopyright" ""

!include MUI2.nsh
!include LogicLib.nsh
!include FileFunc.nsh

; The records product's installation directory, with its closing backslash.
Var PraxiloDir

!define MUI_ABORTWARNING
!define MUI_WELCOMEPAGE_TITLE "Installazione di ${PRODUCT}"
!define MUI_WELCOMEPAGE_TEXT "${PRODUCT} estrae da Praxilo i report dei programmi di cura per la ASL (diabete, TAO, vaccinazione antinfluenzale).$\r$\n$\r$\nIl programma sarà installato nella cartella scelta nella pagina seguente. I fogli di stile dei report saranno copiati nella cartella di Praxilo:$\r$\n$PraxiloDir$\r$\n$\r$\nChiudere ${PRODUCT} prima di continuare.$\r$\n$\r$\n$_CLICK"
!insertmacro MUI_PAGE_WELCOME
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!define MUI_FINISHPAGE_TEXT "${PRODUCT} è installato. Si avvia dal menu Start, voce $\"${PRODUCT}$\", con l'utente e la password di Praxilo.$\r$\n$\r$\nPer rimuoverlo: Impostazioni, App installate (o Pannello di controllo, Programmi e funzionalità), $\"${PRODUCT}$\"."
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "Italian"

; The stylesheets that the program reads from the records product's directory: DO is a
; macro called with DIR and each file's name.
!macro STYLESHEETS DO DIR
  !insertmacro ${DO} "${DIR}" "Diabete_to_HTML.xsl"
  !insertmacro ${DO} "${DIR}" "Tao_to_HTML.xsl"
  !insertmacro ${DO} "${DIR}" "Vac_to_HTML.xsl"
  !insertmacro ${DO} "${DIR}" "ZONA12_comune.xsl"
!macroend
!macro INSTALL_STYLESHEET DIR NAME
  File "${XSLDIR}/${NAME}"
!macroend
!macro REMOVE_FILE DIR NAME
  Delete "${DIR}${NAME}"
!macroend

; The schemas of the three reports, for whoever checks a report: in the program's folder.
!macro SCHEMAS DO DIR
  !insertmacro ${DO} "${DIR}" "diabete.xsd"
  !insertmacro ${DO} "${DIR}" "tao.xsd"
  !insertmacro ${DO} "${DIR}" "vaccinazioni.xsd"
!macroend
!macro INSTALL_SCHEMA DIR NAME
  File "${SCHEMADIR}/${NAME}"
!macroend

; The records product's installation directory as the program finds it: the "Path" value
; of the product's App Paths key up to its first ";" (the whole value when it holds none),
; "/" read as "\", with a closing backslash. $PraxiloDir is "" when the key or the value is
; missing, the value is not text, or it names no directory before its first ";".
Function FindPraxiloDir
  Push $0
  Push $1
  Push $2
  Push $3
  StrCpy $PraxiloDir ""
  ClearErrors
  ReadRegStr $0 HKLM "${APP_PATHS_KEY}" "Path"
  ${IfNot} ${Errors}
    StrCpy $1 0
    StrCpy $3 ""
    ${Do}
      StrCpy $2 $0 1 $1
      ${If} $2 == ""
      ${OrIf} $2 == ";"
        ${ExitDo}
      ${EndIf}
      ${If} $2 == "/"
        StrCpy $2 "\"
      ${EndIf}
      StrCpy $3 "$3$2"
      IntOp $1 $1 + 1
    ${Loop}
    ${If} $3 != ""
      StrCpy $2 $3 1 -1
      ${If} $2 != "\"
        StrCpy $3 "$3\"
      ${EndIf}
      StrCpy $PraxiloDir $3
    ${EndIf}
  ${EndIf}
  Pop $3
  Pop $2
  Pop $1
  Pop $0
FunctionEnd

Function .onInit
  Call FindPraxiloDir
  ${If} $PraxiloDir == ""
    MessageBox MB_OK|MB_ICONSTOP "Installazione di Praxilo non trovata.$\r$\n$\r$\n${PRODUCT} lavora sulla cartella di Praxilo, che Praxilo indica nel registro di sistema quando è installato. Installare Praxilo, poi avviare di nuovo questa installazione." /SD IDOK
    Abort
  ${EndIf}
  ${IfNot} ${FileExists} "$PraxiloDir*.*"
    MessageBox MB_OK|MB_ICONSTOP "La cartella di Praxilo indicata nel registro di sistema non esiste:$\r$\n$PraxiloDir$\r$\n$\r$\nControllare l'installazione di Praxilo, poi avviare di nuovo questa installazione." /SD IDOK
    Abort
  ${EndIf}
FunctionEnd

Section
  SetOutPath "$INSTDIR"
  File "${BINDIR}/pivzona12.exe"
  File "${BINDIR}/pivzona12-cli.exe"
  SetOutPath "$INSTDIR\schema"
  !insertmacro SCHEMAS INSTALL_SCHEMA ""

  ; An earlier installation beside a Praxilo that has moved since: its stylesheets go.
  ReadRegStr $0 HKLM "${UNINSTALL_KEY}" "PraxiloDir"
  ${If} $0 != ""
  ${AndIf} $0 != $PraxiloDir
    !insertmacro STYLESHEETS REMOVE_FILE $0
  ${EndIf}
  SetOutPath "$PraxiloDir"
  !insertmacro STYLESHEETS INSTALL_STYLESHEET ""

  WriteUninstaller "$INSTDIR\${UNINSTALLER}"

  ; For every user of the computer. The shortcut's working directory is the records
  ; product's directory (the output path here), where the program already writes its
  ; page: the program puts its working files in its current directory, and the program's
  ; own folder is not writable for a doctor without administrator rights.
  SetShellVarContext all
  CreateShortCut "${SHORTCUT}" "$INSTDIR\pivzona12.exe" "" "" "" SW_SHOWNORMAL "" "Estrazioni ZONA12 da Praxilo"

  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "${PRODUCT}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" "$\"$INSTDIR\${UNINSTALLER}$\""
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" "$\"$INSTDIR\${UNINSTALLER}$\" /S"
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
  ; Where the stylesheets went: the uninstaller removes them there, wherever the App
  ; Paths key points by then.
  WriteRegStr HKLM "${UNINSTALL_KEY}" "PraxiloDir" "$PraxiloDir"
  ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "EstimatedSize" $0
SectionEnd

; Deletes a program file of the installation; a file in use (the program running) stops
; the uninstallation before anything is removed that the program needs.
!macro REMOVE_PROGRAM NAME
  ClearErrors
  Delete "$INSTDIR\${NAME}"
  ${If} ${Errors}
    MessageBox MB_OK|MB_ICONSTOP "Impossibile rimuovere $INSTDIR\${NAME}: chiudere ${PRODUCT} e avviare di nuovo la disinstallazione." /SD IDOK
    SetErrorLevel 2
    Abort
  ${EndIf}
!macroend

Section "Uninstall"
  !insertmacro REMOVE_PROGRAM "pivzona12.exe"
  !insertmacro REMOVE_PROGRAM "pivzona12-cli.exe"

  SetShellVarContext all
  Delete "${SHORTCUT}"

  ; The stylesheets, and the page that the program writes beside them after each run,
  ; with its temporary copy; nothing else of the records product's directory.
  ReadRegStr $0 HKLM "${UNINSTALL_KEY}" "PraxiloDir"
  ${If} $0 != ""
    !insertmacro STYLESHEETS REMOVE_FILE $0
    Delete "$0ZONA12.html"
    Delete "$0ZONA12._tmp.html"
  ${EndIf}

  !insertmacro SCHEMAS REMOVE_FILE "$INSTDIR\schema\"
  RMDir "$INSTDIR\schema"
  Delete "$INSTDIR\${UNINSTALLER}"
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
  ; Last: the folder goes only when nothing else is in it.
  RMDir "$INSTDIR"
SectionEnd
