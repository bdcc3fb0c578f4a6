; The set-up program of PIV ZONA12 for Windows (NSIS 3, Unicode): the desktop program and
; its command line in a folder of their own, the report stylesheets in the records
; product's installation directory (where the program reads them), a Start-menu entry,
; and an uninstaller listed among the installed programs that removes only what was
; installed. Texts in Italian.
;
;   makensis -INPUTCHARSET UTF8 -DVERSION=0.1 -DFILE_VERSION=0.1.0.0
;            -DBINDIR32=... -DBINDIR64=... -DPROGRAMS_NSH=.../programs.nsh
;            -DXSLDIR=... -DSCHEMADIR=... -DOUTFILE=.../PIVZONA12-setup.exe
;            -DICON=.../pivzona12.ico
;            [-DTEST_STUB64] pivzona12.nsi
;
; It holds both builds of the programs: the 32-bit ones (BINDIR32) and the 64-bit ones
; (BINDIR64), whose names PROGRAMS_NSH lists. It installs the build whose architecture is
; the records product's: the program loads the product's logging library (praxiapi.dll)
; into its own process, and a process loads only DLLs of its own architecture. The product's
; architecture is read from the PE header of that library, praxiapi.dll, else of its
; PRAXILO.EXE; when neither tells, the 32-bit build is installed, as the product most likely
; is 32-bit. Each build's programs are a section of their own, and only the chosen one is
; selected, so that the folder page asks for the room of the files that will be installed.
;
; Two outputs of this one script (installer/CMakeLists.txt makes both):
; - without TEST_STUB64, PIVZONA12-setup.exe: the set-up program for doctors. It is a 32-bit
;   program (x86-unicode stub), so that it runs on every Windows, 32- or 64-bit;
; - with -DTEST_STUB64, the same script on NSIS's 64-bit stub (amd64-unicode), for the tests:
;   the machines that build and test this project run no 32-bit code, not even under Wine.
; So that both forms behave alike, every registry access names its view (SetRegView 32 or
; 64) and every program files folder its architecture ($PROGRAMFILES32, $PROGRAMFILES64):
; the defaults (SetRegView default, $PROGRAMFILES) differ between the two stubs.

Unicode true

!macro REQUIRE NAME
  !ifndef ${NAME}
    !error "${NAME} is not defined: pass -D${NAME}=..."
  !endif
!macroend
!insertmacro REQUIRE VERSION
!insertmacro REQUIRE FILE_VERSION
!insertmacro REQUIRE BINDIR32
!insertmacro REQUIRE BINDIR64
!insertmacro REQUIRE PROGRAMS_NSH
!insertmacro REQUIRE XSLDIR
!insertmacro REQUIRE SCHEMADIR
!insertmacro REQUIRE OUTFILE
!insertmacro REQUIRE ICON

!ifdef TEST_STUB64
  Target amd64-unicode
!else
  Target x86-unicode
!endif

; The PROGRAMS macro: the program files of each build, by name.
!include "${PROGRAMS_NSH}"

!define PRODUCT "PIV ZONA12"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\PIV ZONA12"
; Where the program finds the records product's installation directory.
!define APP_PATHS_KEY "SOFTWARE\Microsoft\Windows\CurrentVersion\App Paths\PRAXILO.EXE"
!define UNINSTALLER "Disinstalla.exe"
!define SHORTCUT "$SMPROGRAMS\${PRODUCT}.lnk"
; The registry view of the installation's uninstall key: the 64-bit one (64-bit Windows'
; native view) whichever stub runs and whichever build it installs, so that the set-up
; program and the uninstaller find the one listing; the list of installed programs shows
; both views. On 32-bit Windows, which has one view, Windows ignores the choice.
!define UNINSTALL_VIEW 64

Name "${PRODUCT}"
OutFile "${OUTFILE}"
; No InstallDir: .onInit chooses the folder by the build it installs, and $INSTDIR is still
; empty there unless /D= named one.
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
!include x64.nsh
!include Sections.nsh

; The records product's installation directory, with its closing backslash.
Var PraxiloDir
; The build to install: 32 or 64 (bits), and what told it (a sentence without its stop).
Var Bits
Var BitsReason
; The earlier installations listed in each registry view (an earlier set-up program of
; one architecture listed its own in its own view): their folders and where their
; stylesheets went, "" when none.
Var EarlierDir64
Var EarlierPraxiloDir64
Var EarlierDir32
Var EarlierPraxiloDir32
; The progress page's last line: NSIS has one text for both programs ("Installazione
; completata"); each sets its own in its .onInit.
Var CompletedLabel
CompletedText "$CompletedLabel"

; The program's icon (drawn by the build) for the set-up program and its uninstaller.
!define MUI_ICON "${ICON}"
!define MUI_UNICON "${ICON}"
!define MUI_ABORTWARNING
!define MUI_WELCOMEPAGE_TITLE "Installazione di ${PRODUCT}"
!define MUI_WELCOMEPAGE_TEXT "${PRODUCT} estrae da Praxilo i report dei programmi di cura per la ASL (diabete, TAO, vaccinazione antinfluenzale).$\r$\n$\r$\n$BitsReason: sarà installata la versione a $Bits bit del programma, nella cartella scelta nella pagina seguente. I fogli di stile dei report saranno copiati nella cartella di Praxilo:$\r$\n$PraxiloDir$\r$\n$\r$\nChiudere ${PRODUCT} prima di continuare.$\r$\n$\r$\n$_CLICK"
!insertmacro MUI_PAGE_WELCOME
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!define MUI_FINISHPAGE_TEXT "${PRODUCT} a $Bits bit è installato. $BitsReason; ${PRODUCT} deve avere l'architettura di Praxilo perché ne carica la libreria praxiapi.dll.$\r$\n$\r$\nSi avvia dal menu Start, voce $\"${PRODUCT}$\", con l'utente e la password di Praxilo.$\r$\n$\r$\nPer rimuoverlo: Impostazioni, App installate (o Pannello di controllo, Programmi e funzionalità), $\"${PRODUCT}$\"."
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "Italian"
; The uninstaller's caption when it has finished (NSIS's Italian text misspells it).
LangString ^UnCompletedSubCaption ${LANG_ITALIAN} ": Disinstallazione completata"

; The stylesheets that the program reads from the records product's directory, and the
; table of plausible values that they read beside them: DO is a macro called with DIR and
; each file's name.
!macro STYLESHEETS DO DIR
  !insertmacro ${DO} "${DIR}" "Diabete_to_HTML.xsl"
  !insertmacro ${DO} "${DIR}" "Tao_to_HTML.xsl"
  !insertmacro ${DO} "${DIR}" "Vac_to_HTML.xsl"
  !insertmacro ${DO} "${DIR}" "ZONA12_comune.xsl"
  !insertmacro ${DO} "${DIR}" "intervalli_plausibili.xml"
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

; The programs of one build, from its folder DIR (BINDIR32 or BINDIR64).
!macro INSTALL_PROGRAM DIR NAME
  File "${DIR}/${NAME}"
!macroend

; The records product's installation directory as the program finds it: the "Path" value
; of the product's App Paths key up to its first ";" (the whole value when it holds none),
; "/" read as "\", with a closing backslash. The key is read in the 32-bit registry view,
; where a 32-bit product writes it, then in the 64-bit one (Windows keeps one App Paths key
; for both views, but older versions kept two). $PraxiloDir is "" when neither view has a
; text value that names a directory before its first ";".
!macro READ_PRAXILO_DIR VIEW
  ${If} $PraxiloDir == ""
    SetRegView ${VIEW}
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
  ${EndIf}
!macroend
Function FindPraxiloDir
  Push $0
  Push $1
  Push $2
  Push $3
  StrCpy $PraxiloDir ""
  !insertmacro READ_PRAXILO_DIR 32
  !insertmacro READ_PRAXILO_DIR 64
  Pop $3
  Pop $2
  Pop $1
  Pop $0
FunctionEnd

; The machine of a PE file (a program or a DLL), for the path on the stack: leaves "32"
; (i386), "64" (AMD64), or "" when the file is missing, is not a PE file, or is for
; another machine. The DOS header ("MZ") holds at 0x3C the 4-byte offset of the "PE\0\0"
; signature, which the COFF header's 2-byte machine field follows: 0x014C i386, 0x8664
; AMD64 (little-endian, as every field).
Function PeMachineBits
  Exch $0
  Push $1
  Push $2
  Push $3
  Push $4
  StrCpy $4 ""
  ClearErrors
  FileOpen $1 $0 r
  ${IfNot} ${Errors}
    ; The signatures' bytes, in decimal, as FileReadByte gives them; a read past the end
    ; sets the error flag, which ends the check.
    FileReadByte $1 $2
    FileReadByte $1 $3
    StrCpy $0 "$2 $3"
    ${If} $0 == "77 90"
      FileSeek $1 0x3C SET
      FileReadByte $1 $0
      FileReadByte $1 $2
      IntOp $2 $2 << 8
      IntOp $0 $0 | $2
      FileReadByte $1 $2
      IntOp $2 $2 << 16
      IntOp $0 $0 | $2
      ; The offset's highest byte: a header beyond 16 MiB is no PE header (and NSIS's
      ; integers are signed 32-bit).
      FileReadByte $1 $2
      ${If} $2 = 0
      ${AndIfNot} ${Errors}
        FileSeek $1 $0 SET
        FileReadByte $1 $0
        FileReadByte $1 $2
        FileReadByte $1 $3
        StrCpy $0 "$0 $2 $3"
        FileReadByte $1 $2
        StrCpy $0 "$0 $2"
        ${If} $0 == "80 69 0 0"
          FileReadByte $1 $0
          FileReadByte $1 $2
          IntOp $2 $2 << 8
          IntOp $0 $0 | $2
          ${IfNot} ${Errors}
            ${If} $0 = 0x014C
              StrCpy $4 32
            ${ElseIf} $0 = 0x8664
              StrCpy $4 64
            ${EndIf}
          ${EndIf}
        ${EndIf}
      ${EndIf}
    ${EndIf}
    FileClose $1
  ${EndIf}
  StrCpy $0 $4
  Pop $4
  Pop $3
  Pop $2
  Pop $1
  Exch $0
FunctionEnd

; Chooses the build to install ($Bits, $BitsReason) by the records product's architecture:
; the first of its praxiapi.dll (the library the program loads, whose machine is the one
; that must match) and its PRAXILO.EXE in $PraxiloDir that is a PE file of i386 or AMD64
; tells it. 32-bit when neither tells, and on 32-bit Windows.
Function ChooseBuild
  Push $0
  Push $1
  StrCpy $Bits 32
  ${IfNot} ${RunningX64}
    StrCpy $BitsReason "Windows è a 32 bit"
  ${Else}
    StrCpy $1 "praxiapi.dll"
    Push "$PraxiloDir$1"
    Call PeMachineBits
    Pop $0
    ${If} $0 == ""
      StrCpy $1 "PRAXILO.EXE"
      Push "$PraxiloDir$1"
      Call PeMachineBits
      Pop $0
    ${EndIf}
    ${If} $0 == ""
      StrCpy $BitsReason "Non è stato possibile stabilire se Praxilo è a 32 o a 64 bit"
    ${Else}
      StrCpy $Bits $0
      StrCpy $BitsReason "Praxilo è a $Bits bit ($1)"
    ${EndIf}
  ${EndIf}
  Pop $1
  Pop $0
FunctionEnd

; The earlier installation listed in registry view VIEW (32 or 64): its folder and where its
; stylesheets went, into $EarlierDirVIEW and $EarlierPraxiloDirVIEW ("" each when none).
!macro READ_EARLIER_INSTALLATION VIEW
  SetRegView ${VIEW}
  ReadRegStr $EarlierDir${VIEW} HKLM "${UNINSTALL_KEY}" "InstallLocation"
  ReadRegStr $EarlierPraxiloDir${VIEW} HKLM "${UNINSTALL_KEY}" "PraxiloDir"
!macroend

Function .onInit
  StrCpy $CompletedLabel "Installazione completata"
  Call FindPraxiloDir
  ${If} $PraxiloDir == ""
    MessageBox MB_OK|MB_ICONSTOP "Installazione di Praxilo non trovata.$\r$\n$\r$\n${PRODUCT} lavora sulla cartella di Praxilo, che Praxilo indica nel registro di sistema quando è installato. Installare Praxilo, poi avviare di nuovo questa installazione." /SD IDOK
    Abort
  ${EndIf}
  ${IfNot} ${FileExists} "$PraxiloDir*.*"
    MessageBox MB_OK|MB_ICONSTOP "La cartella di Praxilo indicata nel registro di sistema non esiste:$\r$\n$PraxiloDir$\r$\n$\r$\nControllare l'installazione di Praxilo, poi avviare di nuovo questa installazione." /SD IDOK
    Abort
  ${EndIf}
  Call ChooseBuild
  Call SelectBuildSection

  !insertmacro READ_EARLIER_INSTALLATION 64
  !insertmacro READ_EARLIER_INSTALLATION 32

  ; Without /D=, the build's own program files folder; a new installation over an earlier
  ; one goes to the earlier folder, unless that is the other build's program files folder.
  ${If} $INSTDIR == ""
    ${If} $Bits == 64
      StrCpy $INSTDIR "$PROGRAMFILES64\${PRODUCT}"
      StrCpy $1 "$PROGRAMFILES32\${PRODUCT}"
    ${Else}
      StrCpy $INSTDIR "$PROGRAMFILES32\${PRODUCT}"
      StrCpy $1 "$PROGRAMFILES64\${PRODUCT}"
    ${EndIf}
    StrCpy $0 $EarlierDir64
    ${If} $0 == ""
      StrCpy $0 $EarlierDir32
    ${EndIf}
    ${If} $0 != ""
    ${AndIf} $0 != $1
      StrCpy $INSTDIR $0
    ${EndIf}
  ${EndIf}
FunctionEnd

; Deletes a program file from DIR; a file in use (the program running) stops the
; installation or uninstallation (AGAIN names which) before anything is removed that the
; program needs.
!macro REMOVE_PROGRAM DIR NAME AGAIN
  ClearErrors
  Delete "${DIR}\${NAME}"
  ${If} ${Errors}
    MessageBox MB_OK|MB_ICONSTOP "Impossibile rimuovere ${DIR}\${NAME}: chiudere ${PRODUCT} e avviare di nuovo ${AGAIN}." /SD IDOK
    SetErrorLevel 2
    Abort
  ${EndIf}
!macroend
!macro REMOVE_EARLIER_PROGRAM DIR NAME
  !insertmacro REMOVE_PROGRAM "${DIR}" "${NAME}" "l'installazione"
!macroend

; An earlier installation whose folder DIR is not the new one (the other build's folder,
; or another folder chosen with /D=): its files go, and the folder when nothing else is in
; it. Its stylesheets go from a records product's directory PRAXILO_DIR that has moved since.
!macro REMOVE_EARLIER_INSTALLATION DIR PRAXILO_DIR
  ${If} ${DIR} != ""
  ${AndIf} ${DIR} != $INSTDIR
    !insertmacro PROGRAMS REMOVE_EARLIER_PROGRAM ${DIR}
    !insertmacro SCHEMAS REMOVE_FILE "${DIR}\schema\"
    RMDir "${DIR}\schema"
    Delete "${DIR}\${UNINSTALLER}"
    RMDir "${DIR}"
  ${EndIf}
  ${If} ${PRAXILO_DIR} != ""
  ${AndIf} ${PRAXILO_DIR} != $PraxiloDir
    !insertmacro STYLESHEETS REMOVE_FILE ${PRAXILO_DIR}
  ${EndIf}
!macroend

; The sections run in order: the earlier installation goes, then the programs of the one
; build selected, then the rest, which measures the installed folder.
Section "-Preparazione"
  DetailPrint "$BitsReason: si installa ${PRODUCT} a $Bits bit, che deve avere l'architettura di Praxilo perché ne carica la libreria praxiapi.dll."
  !insertmacro REMOVE_EARLIER_INSTALLATION $EarlierDir64 $EarlierPraxiloDir64
  !insertmacro REMOVE_EARLIER_INSTALLATION $EarlierDir32 $EarlierPraxiloDir32
  ; An earlier set-up program of 32 bits listed its installation in the 32-bit view: the
  ; one listing is now in the uninstall view (on 32-bit Windows the two are one key, which
  ; is written again below).
  SetRegView 32
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
SectionEnd

Section "-Programmi a 32 bit" SecPrograms32
  SetOutPath "$INSTDIR"
  !insertmacro PROGRAMS INSTALL_PROGRAM "${BINDIR32}"
SectionEnd

Section "-Programmi a 64 bit" SecPrograms64
  SetOutPath "$INSTDIR"
  !insertmacro PROGRAMS INSTALL_PROGRAM "${BINDIR64}"
SectionEnd

; Only the chosen build's programs are installed, and counted in the room the folder page
; asks for.
Function SelectBuildSection
  ${If} $Bits == 64
    !insertmacro UnselectSection ${SecPrograms32}
    !insertmacro SelectSection ${SecPrograms64}
  ${Else}
    !insertmacro SelectSection ${SecPrograms32}
    !insertmacro UnselectSection ${SecPrograms64}
  ${EndIf}
FunctionEnd

Section "-Fogli di stile, schemi e registro"
  SetOutPath "$INSTDIR\schema"
  !insertmacro SCHEMAS INSTALL_SCHEMA ""
  SetOutPath "$PraxiloDir"
  !insertmacro STYLESHEETS INSTALL_STYLESHEET ""

  WriteUninstaller "$INSTDIR\${UNINSTALLER}"

  ; For every user of the computer. The shortcut's working directory is the records
  ; product's directory (the output path here), where the program already writes its
  ; page and, in its Temp folder, its working files: the save dialog of some programmes
  ; opens in the current directory, and the program's own folder is not writable for a
  ; doctor without administrator rights.
  SetShellVarContext all
  CreateShortCut "${SHORTCUT}" "$INSTDIR\pivzona12.exe" "" "$INSTDIR\pivzona12.exe" 0 SW_SHOWNORMAL "" "Estrazioni ZONA12 da Praxilo"

  SetRegView ${UNINSTALL_VIEW}
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "${PRODUCT}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\pivzona12.exe,0"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" "$\"$INSTDIR\${UNINSTALLER}$\""
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" "$\"$INSTDIR\${UNINSTALLER}$\" /S"
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
  ; Which build is installed, for whoever looks after the computer.
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Architettura" "$Bits bit"
  ; Where the stylesheets went: the uninstaller removes them there, wherever the App
  ; Paths key points by then.
  WriteRegStr HKLM "${UNINSTALL_KEY}" "PraxiloDir" "$PraxiloDir"
  ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "EstimatedSize" $0
SectionEnd

!macro REMOVE_INSTALLED_PROGRAM DIR NAME
  !insertmacro REMOVE_PROGRAM "${DIR}" "${NAME}" "la disinstallazione"
!macroend

Function un.onInit
  StrCpy $CompletedLabel "Disinstallazione completata"
  SetRegView ${UNINSTALL_VIEW}
FunctionEnd

Section "Uninstall"
  !insertmacro PROGRAMS REMOVE_INSTALLED_PROGRAM "$INSTDIR"

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
