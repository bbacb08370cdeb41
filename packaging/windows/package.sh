#!/usr/bin/env bash
# Makes Brisquet's two Windows packages from a Windows build tree:
#   <build>/brisquet-<version>-windows-x64.zip  the portable folder, zipped
#   <build>/brisquet-<version>-setup.exe        the installer (brisquet.nsi)
# The portable folder is what `cmake --install` puts together (the program,
# the Qt DLLs and plugins it loads, SDL2.dll, the compiler's run time); the
# installer installs exactly that folder's files and its uninstaller removes
# exactly those. usage: package.sh BUILD_DIR
set -euo pipefail
build=$(realpath "$1")
here=$(cd "$(dirname "$0")" && pwd)
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
name=brisquet-$version-windows-x64
work=$build/package
stage=$work/$name

rm -rf "$work" "$build/$name.zip" "$build/brisquet-$version-setup.exe"
mkdir -p "$work"
cmake --install "$build" --prefix "$stage" --strip >/dev/null
# --strip reaches only what the build made; the compiler's DLLs come with their debug sections.
find "$stage" -name '*.dll' -exec x86_64-w64-mingw32-strip --strip-debug {} +
(cd "$work" && cmake -E tar cf "$build/$name.zip" --format=zip "$name")

# The installer's file lists, in NSIS: install folder by folder, remove file
# by file, then the folders deepest first (RMDir leaves a folder that is not empty).
files=$work/files.nsh
{
    echo '!macro InstallFiles'
    while IFS= read -r folder; do
        inside=${folder:1}
        echo "    SetOutPath \"\$INSTDIR${inside//\//\\}\""
        find "$stage/$folder" -maxdepth 1 -type f | sort | sed 's/.*/    File "&"/'
    done < <(cd "$stage" && find . -type d | sort)
    echo '    SetOutPath "$INSTDIR"'
    echo '!macroend'
    echo '!macro RemoveFiles'
    (cd "$stage" && find . -type f | sort | tr '/' '\\' | sed 's/^\.\(.*\)/    Delete "$INSTDIR\1"/')
    (cd "$stage" && find . -mindepth 1 -type d | sort -r | tr '/' '\\' | sed 's/^\.\(.*\)/    RMDir "$INSTDIR\1"/')
    echo '!macroend'
} > "$files"
makensis -V2 -DVERSION="$version" -DFILES="$files" -DICON="$here/../../resources/icon/brisquet.ico" \
    -DSIZE_KB="$(du -sk "$stage" | cut -f1)" -DOUTFILE="$build/brisquet-$version-setup.exe" \
    "$here/brisquet.nsi"
ls -l "$build/$name.zip" "$build/brisquet-$version-setup.exe"
