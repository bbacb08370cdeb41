#!/usr/bin/env bash
# Builds the Windows SDK that Brisquet's cross-build links against: Qt 6.4.2 (Core, Gui, Widgets,
# Test; the windows and offscreen platform plugins, the Windows styles, the image plugins) and
# SDL2 2.26.5, for x86_64-w64-mingw32 with posix threads, from Debian 12's own source
# packages, so that host tools (moc, rcc, uic from qt6-base-dev-tools) and target libraries are
# the same version. About 40 minutes on 2 cores.
#   usage: build_sdk.sh OUT.tar.xz       (as root: it adds a deb-src line and installs packages)
# `./dev windows` runs it only when no prebuilt SDK is at hand, and caches what it writes.
# The archive unpacks to one folder, brisquet-windows-sdk/, holding qt6/, sdl2/, runtime/ (the
# compiler's DLLs that every program needs beside it), toolchain.cmake and MANIFEST.
set -euo pipefail
out=$(realpath -m "${1:?usage: build_sdk.sh OUT.tar.xz}")
work=${WORK:-/tmp/brisquet-windows-sdk-build}
prefix=$work/brisquet-windows-sdk
jobs=$(nproc)

packages=(g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64
          mingw-w64-x86-64-dev cmake ninja-build perl dpkg-dev qt6-base-dev-tools xz-utils)
missing=(); for p in "${packages[@]}"; do dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p"); done
if [ ${#missing[@]} -gt 0 ]; then
  apt-get update -qq; DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
# Source packages need a deb-src line for the same archive the machine installs from.
if ! apt-cache showsrc qt6-base 2>/dev/null | grep -q '^Version: 6.4.2'; then
  uri=$(sed -n 's/^URIs: *//p' /etc/apt/sources.list.d/debian.sources | head -n1)
  printf 'Types: deb-src\nURIs: %s\nSuites: bookworm bookworm-updates\nComponents: main\nSigned-By: /usr/share/keyrings/debian-archive-keyring.gpg\n' "$uri" \
    > /etc/apt/sources.list.d/brisquet-src.sources
  apt-get update -qq
fi

rm -rf "$work"; mkdir -p "$work/src" "$prefix"
cd "$work/src"
apt-get source -qq qt6-base=6.4.2+dfsg-10 libsdl2=2.26.5+dfsg-1 >/dev/null
qtsrc=$(ls -d "$work"/src/qt6-base-6.4.2*/ | head -n1)
sdlsrc=$(ls -d "$work"/src/libsdl2-2.26.5*/ | head -n1)

cat > "$prefix/toolchain.cmake" <<'EOF'
# Cross-compiling for 64-bit Windows with Debian's mingw-w64 (posix threads: std::thread works).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)
get_filename_component(_sdk "${CMAKE_CURRENT_LIST_DIR}" ABSOLUTE)
set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32 "${_sdk}/qt6" "${_sdk}/sdl2")
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
EOF

# Qt: only what a widgets program and its Qt Test suites need. Tablet events are off because
# Debian's source leaves out the third-party tablet headers the Windows plugin would include.
cmake -S "$qtsrc" -B "$work/qt-build" -G Ninja \
  -DCMAKE_TOOLCHAIN_FILE="$prefix/toolchain.cmake" -DCMAKE_BUILD_TYPE=Release \
  -DBUILD_SHARED_LIBS=ON -DCMAKE_INSTALL_PREFIX="$prefix/qt6" \
  -DQT_HOST_PATH=/usr -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake \
  -DQT_QMAKE_TARGET_MKSPEC=win32-g++ -DQT_BUILD_EXAMPLES=OFF -DQT_BUILD_TESTS=OFF \
  -DQT_BUILD_BENCHMARKS=OFF -DQT_BUILD_MANUAL_TESTS=OFF \
  -DFEATURE_sql=OFF -DFEATURE_network=OFF -DFEATURE_dbus=OFF -DINPUT_opengl=no -DFEATURE_opengl=OFF \
  -DFEATURE_printsupport=OFF -DFEATURE_concurrent=OFF -DFEATURE_xml=OFF -DFEATURE_vulkan=OFF \
  -DFEATURE_tabletevent=OFF -DFEATURE_icu=OFF -DFEATURE_zstd=OFF \
  -DFEATURE_pkg_config=OFF -DFEATURE_system_zlib=OFF -DFEATURE_system_pcre2=OFF \
  -DFEATURE_system_harfbuzz=OFF -DFEATURE_system_freetype=OFF -DFEATURE_system_libpng=OFF \
  -DFEATURE_system_jpeg=OFF -DFEATURE_system_doubleconversion=OFF \
  -DCMAKE_DISABLE_FIND_PACKAGE_WrapSystemDoubleConversion=TRUE \
  -DCMAKE_DISABLE_FIND_PACKAGE_WrapSystemMd4c=TRUE -DCMAKE_DISABLE_FIND_PACKAGE_Libb2=TRUE \
  > "$work/qt-configure.log" 2>&1
cmake --build "$work/qt-build" --parallel "$jobs" > "$work/qt-build.log" 2>&1
cmake --install "$work/qt-build" --strip > "$work/qt-install.log" 2>&1

# SDL2, whole (its Windows build does not link with subsystems left out); Brisquet uses its
# sound drivers (WASAPI, DirectSound, WinMM, disk, dummy) and WAVE decoding.
cmake -S "$sdlsrc" -B "$work/sdl-build" -G Ninja \
  -DCMAKE_TOOLCHAIN_FILE="$prefix/toolchain.cmake" -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_INSTALL_PREFIX="$prefix/sdl2" -DSDL_SHARED=ON -DSDL_STATIC=OFF -DSDL_TEST=OFF \
  > "$work/sdl-configure.log" 2>&1
cmake --build "$work/sdl-build" --parallel "$jobs" > "$work/sdl-build.log" 2>&1
cmake --install "$work/sdl-build" --strip > "$work/sdl-install.log" 2>&1

# The compiler's run-time DLLs, which every program built with it needs beside it.
mkdir -p "$prefix/runtime"
cp /usr/lib/gcc/x86_64-w64-mingw32/12-posix/libstdc++-6.dll \
   /usr/lib/gcc/x86_64-w64-mingw32/12-posix/libgcc_s_seh-1.dll \
   /usr/x86_64-w64-mingw32/lib/libwinpthread-1.dll "$prefix/runtime/"

{
  echo "brisquet-windows-sdk: x86_64-w64-mingw32, posix threads, built $(date -u +%F) on Debian 12"
  echo "qt6-base $(apt-cache showsrc qt6-base | sed -n 's/^Version: //p' | head -n1) (source package)"
  echo "libsdl2 $(apt-cache showsrc libsdl2 | sed -n 's/^Version: //p' | head -n1) (source package)"
  echo "compiler $(x86_64-w64-mingw32-g++-posix --version | head -n1)"
  echo "host tools: qt6-base-dev-tools $(dpkg-query -W -f='${Version}' qt6-base-dev-tools)"
  echo "qt modules: $(ls "$prefix/qt6/bin" | grep -E '^Qt6.*\.dll$' | tr '\n' ' ')"
  echo "qt plugins: $(cd "$prefix/qt6/plugins" && find . -name '*.dll' | sort | tr '\n' ' ')"
  echo "sdl2: $(ls "$prefix/sdl2/bin" | tr '\n' ' ')"
} > "$prefix/MANIFEST"
tar -C "$work" -cJf "$out" brisquet-windows-sdk
echo "wrote $out ($(du -h "$out" | cut -f1))"
