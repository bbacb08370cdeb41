#!/usr/bin/env bash
# CTest's emulator for the Windows build: runs one Windows test program under
# Wine, in the build tree's own throwaway Wine prefix, and gives back its
# report and exit status.
#   run_under_wine.sh PREFIX DLL_FOLDERS PROGRAM.exe [ARGS...]
# PREFIX is the Wine prefix (made on first use), DLL_FOLDERS the ':'-separated
# folders of the DLLs the program needs (Qt, SDL, the compiler's run time).
#
# What Wine does differently from a Windows console, handled here:
#  - variables whose names begin with QT_ never reach a Windows program, so
#    the prefix gets QT_QPA_PLATFORM=offscreen in HKCU\Environment once;
#  - a Qt Test report written to a pipe comes back empty, so it goes to a
#    file (-o FILE,txt), which is printed afterwards;
#  - Qt on Windows makes hidden message windows even offscreen, so an X
#    display is needed: the caller's, or a private Xvfb for this one run.
set -uo pipefail
prefix=$1 dll_folders=$2 program=$3
shift 3

export WINEPREFIX=$prefix
WINEPATH=
IFS=: read -ra folders <<<"$dll_folders"
for folder in "${folders[@]}"; do WINEPATH+="Z:${folder//\//\\};"; done
export WINEPATH
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml=" # no Mono or Gecko prompts

prepare_prefix() {
    exec 9>"$WINEPREFIX.lock"
    flock 9
    if [ ! -f "$WINEPREFIX/.brisquet-ready" ]; then
        rm -rf "$WINEPREFIX"
        wineboot -i >/dev/null 2>&1
        wine reg add 'HKCU\Environment' /v QT_QPA_PLATFORM /t REG_SZ /d offscreen /f >/dev/null 2>&1
        wineserver -w
        touch "$WINEPREFIX/.brisquet-ready"
    fi
    flock -u 9
}

if [ -z "${DISPLAY:-}" ]; then
    exec xvfb-run -a "$0" "$prefix" "$dll_folders" "$program" "$@"
fi
prepare_prefix

case "$(basename "$program")" in
tst_*)
    report=$(mktemp "${TMPDIR:-/tmp}/brisquet-wine-report.XXXXXX")
    wine "$program" -o "$(winepath -w "$report" 2>/dev/null)",txt "$@"
    status=$?
    cat "$report"
    rm -f "$report"
    ;;
*)
    wine "$program" "$@"
    status=$?
    ;;
esac
exit $status
