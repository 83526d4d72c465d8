#!/usr/bin/env bash
# The Windows build, cross-compiled here with Debian's MinGW-w64:
#   - installs what is missing (compilers, Wine, source-package tools);
#   - cross-builds libjpeg-turbo, cJSON, libpng and GoogleTest from Debian's
#     source packages into a prefix under each build folder (kept between
#     runs, rebuilt only when a version or the toolchain changes);
#   - builds Vornik.dll for x86-64 (build-win64) and i686 (build-win32);
#   - runs the 64-bit test suite under Wine, without the cases that need a
#     GPU, EGL or a real camera, and the comparison with the Linux library on
#     one database and the same frames;
#   - checks that both DLLs export every function of the public headers.
# The 32-bit build is never run: this machine's kernel runs no 32-bit code.
#   scripts/test-windows.sh              everything
#   scripts/test-windows.sh --no-tests   build both DLLs and check exports only
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
jobs=${VORNIK_JOBS:-$(nproc)}
run_tests=1
[ "${1:-}" = "--no-tests" ] && run_tests=0

step() { echo; echo "==== $*"; }
sudo_cmd=""
if [ "$(id -u)" -ne 0 ]; then sudo_cmd="sudo"; fi

# ---- packages -------------------------------------------------------------
packages=(
  cmake pkg-config dpkg-dev nasm
  g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix binutils-mingw-w64
  libz-mingw-w64-dev wine64 googletest
)
missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done
if [ ${#missing[@]} -gt 0 ]; then
  step "installing ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  $sudo_cmd apt-get update -qq
  $sudo_cmd apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
# The Linux build's own packages (the Linux database builder and the
# reference library come from there).
scripts/bootstrap.sh

# Source packages of the same versions as the Linux build's libraries.
source_version() { dpkg-query -W -f='${source:Version}' "$1"; }
jpeg_version=$(source_version libjpeg62-turbo-dev)
cjson_version=$(source_version libcjson-dev)
png_version=$(source_version libpng-dev)
gtest_version=$(source_version googletest)

if ! apt-cache showsrc libjpeg-turbo 2>/dev/null | grep -q "^Version: $jpeg_version\$"; then
  # No source entries for this Debian release yet: add them next to the
  # binary ones, for the same suites.
  . /etc/os-release
  suite=${VERSION_CODENAME:?unknown Debian release}
  step "adding deb-src entries for $suite"
  $sudo_cmd tee /etc/apt/sources.list.d/vornik-deb-src.sources >/dev/null <<EOF
Types: deb-src
URIs: http://deb.debian.org/debian
Suites: $suite $suite-updates
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg

Types: deb-src
URIs: http://deb.debian.org/debian-security
Suites: $suite-security
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg
EOF
  $sudo_cmd apt-get update -qq
fi

# ---- dependencies, per target ----------------------------------------------
# fetch_source <package> <version> <dir>: unpacks the Debian source package
# (patches applied) into <dir>/<package>, once. When the archive no longer
# serves that version (a security update replaced it), the release's other
# versions are tried from the newest down, and the one taken is said.
fetch_source() {
  local package=$1 version=$2 dir=$3 candidate
  if [ -f "$dir/$package.version" ] && [ "$(cat "$dir/$package.version")" = "$version" ]; then
    return
  fi
  rm -rf "$dir/$package"
  for candidate in "$version" $(apt-cache showsrc "$package" | sed -n 's/^Version: //p' | sort -rV); do
    rm -rf "$dir/$package".tmp && mkdir -p "$dir/$package".tmp
    if (cd "$dir/$package".tmp && apt-get source -qq "$package=$candidate" >/dev/null 2>&1); then
      [ "$candidate" = "$version" ] ||
        echo "note: source $package $version is not served; using $candidate"
      mv "$(find "$dir/$package".tmp -mindepth 1 -maxdepth 1 -type d | head -n 1)" "$dir/$package"
      rm -rf "$dir/$package".tmp
      echo "$version" > "$dir/$package.version"
      return
    fi
  done
  echo "test-windows.sh: no source of $package could be fetched" >&2
  exit 1
}

# build_deps <build dir> <toolchain file>
build_deps() {
  local build=$1 toolchain=$2
  local deps=$build/deps prefix=$build/deps/prefix
  local wanted
  wanted="jpeg $jpeg_version cjson $cjson_version png $png_version gtest $gtest_version
toolchain $(sha1sum "$toolchain" | cut -c1-12) $($(toolchain_compiler "$toolchain") -dumpfullversion)"
  if [ -f "$prefix/.built" ] && [ "$(cat "$prefix/.built")" = "$wanted" ]; then
    echo "dependencies in $prefix are up to date"
    return
  fi
  rm -rf "$prefix" "$deps/build"
  mkdir -p "$deps/src" "$deps/build" "$prefix"
  fetch_source libjpeg-turbo "$jpeg_version" "$deps/src"
  fetch_source cjson "$cjson_version" "$deps/src"
  fetch_source libpng1.6 "$png_version" "$deps/src"
  local common=(-G "Unix Makefiles" -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DCMAKE_BUILD_TYPE=Release
    -DCMAKE_INSTALL_PREFIX="$prefix" -DVORNIK_DEPS_PREFIX="$prefix")
  # Static libraries: nothing of them is exported from Vornik.dll, and the
  # DLL needs no copy of them beside it.
  cmake_dep() {
    local name=$1 source=$2; shift 2
    echo "building $name"
    cmake -S "$source" -B "$deps/build/$name" "${common[@]}" "$@" >"$deps/build/$name.log" 2>&1 &&
      cmake --build "$deps/build/$name" -j"$jobs" >>"$deps/build/$name.log" 2>&1 &&
      cmake --install "$deps/build/$name" >>"$deps/build/$name.log" 2>&1 || {
      tail -n 30 "$deps/build/$name.log"; echo "test-windows.sh: $name failed" >&2; exit 1; }
  }
  # SIMD as in Debian's own build, so that decoded pixels are the same bytes.
  cmake_dep libjpeg-turbo "$deps/src/libjpeg-turbo" -DENABLE_SHARED=OFF -DENABLE_STATIC=ON \
    -DWITH_SIMD=ON -DWITH_TURBOJPEG=OFF -DWITH_JPEG8=OFF
  cmake_dep cjson "$deps/src/cjson" -DBUILD_SHARED_LIBS=OFF -DENABLE_CJSON_TEST=OFF \
    -DENABLE_PUBLIC_SYMBOLS=OFF -DENABLE_HIDDEN_SYMBOLS=ON -DENABLE_CUSTOM_COMPILER_FLAGS=OFF
  local triple
  triple=$(toolchain_triple "$toolchain")
  cmake_dep libpng "$deps/src/libpng1.6" -DPNG_SHARED=OFF -DPNG_STATIC=ON -DPNG_TESTS=OFF \
    -DPNG_EXECUTABLES=OFF -DZLIB_LIBRARY="/usr/$triple/lib/libz.a" \
    -DZLIB_INCLUDE_DIR="/usr/$triple/include"
  cmake_dep googletest /usr/src/googletest -DBUILD_GMOCK=ON -DINSTALL_GTEST=ON
  echo "$wanted" > "$prefix/.built"
}
toolchain_triple() { sed -n 's/^set(VORNIK_MINGW_TRIPLE \(.*\))$/\1/p' "$1"; }
toolchain_compiler() { echo "$(toolchain_triple "$1")-g++-posix"; }

# ---- the builds -------------------------------------------------------------
configure_windows() {
  local build=$1 toolchain=$2; shift 2
  local triple
  triple=$(toolchain_triple "$toolchain")
  # Eigen is headers only (the tracking tests' oracle): the build machine's.
  cmake -S . -B "$build" -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DVORNIK_DEPS_PREFIX="$build/deps/prefix" -DZLIB_LIBRARY="/usr/$triple/lib/libz.a" \
    -DZLIB_INCLUDE_DIR="/usr/$triple/include" -DEigen3_DIR=/usr/share/eigen3/cmake \
    -DVORNIK_BUILD_BENCH=OFF -DVORNIK_BUILD_EXAMPLES=OFF "$@" >"$build/configure.log" 2>&1 || {
    tail -n 40 "$build/configure.log"; echo "test-windows.sh: configuring $build failed" >&2
    exit 1; }
}

# Test programs whose sources use POSIX calls Windows lacks (sys/wait.h in
# tools/common/test_programs.h); not built for Windows.
unportable_targets="toolkit_tests builder_tests play_tests"
# Cases left out under Wine, each for a reason of the test, not the library:
#   SharedLibrary.Exports...      reads the exports with Linux nm (checked
#                                 below with objdump instead);
#   PinnedValuesAgreeWithLibm     compares the pinned tables with this
#                                 platform's cos, which MinGW's libm computes
#                                 50 ulp away near pi/2 (the library uses the
#                                 pinned tables, not cos);
#   RegionDecodeReadsExactly...   opens a directory with fopen, which Windows
#                                 refuses;
#   demo_short                    runs the Linux demo script.
# Each test program runs as one test under Wine, so the cases go to the
# programs as a Google Test filter, and ctest leaves out the rest.
skipped_tests="_NOT_BUILT\$|^demo_short\$|^(${unportable_targets// /|})\$"
skipped_cases='-SharedLibrary.ExportsEveryFunctionOfBothHeadersAndNothingElse'
skipped_cases+=':DescriptorTablesTest.PinnedValuesAgreeWithLibm'
skipped_cases+=':ImageLoaderJPG.RegionDecodeReadsExactlyTheGivenBytes'

# build_windows <build dir>: every target but the unportable ones.
build_windows() {
  local build=$1 targets
  targets=$(cmake --build "$build" --target help | sed -n 's/^\.\.\. \([A-Za-z0-9_+-]*\)$/\1/p' |
    grep -vxE "all|clean|depend|edit_cache|rebuild_cache|install|install/local|install/strip|list_install_components|test|${unportable_targets// /|}")
  # shellcheck disable=SC2086
  cmake --build "$build" -j"$jobs" --target $targets
}

# check_exports <build dir> <objdump format> <triple>: every VORNIK_API
# function of both headers is exported, the flat ones undecorated, nothing
# else is, every DLL imported is Windows' own or lies beside it, and a MinGW
# host program of each interface links against it.
system_dlls='kernel32|msvcrt|opengl32|user32|gdi32|advapi32|ws2_32|shell32|ole32'
check_exports() {
  local build=$1 format=$2 triple=$3
  local dll=$build/bin/Vornik.dll dump exported name failed=0
  dump=$("$triple-objdump" -p "$dll")
  grep -q "file format $format\$" <<<"$dump" || {
    echo "test-windows.sh: $dll is not $format" >&2; exit 1; }
  exported=$(sed -n '/^\[Ordinal\/Name Pointer\] Table/,/^$/s/^\s*\[ *[0-9]*\] //p' <<<"$dump")
  api_names() { sed -n 's/^VORNIK_API [^(]*[ *&]\([A-Za-z0-9_]*\)(.*/\1/p' "$1" | sort -u; }
  for name in $(api_names include/vornik/vornik_c.h); do
    grep -qx "$name" <<<"$exported" || { echo "  flat $name is not exported (undecorated)"; failed=1; }
  done
  # -n: the i686 c++filt otherwise strips one leading underscore, as if the
  # names were still object-file symbols, and leaves "_ZN..." undecoded.
  local demangled
  demangled=$(grep '^_Z' <<<"$exported" | "$triple-c++filt" -n)
  for name in $(api_names include/vornik/vornik.h); do
    grep -q "^vornik::$name(" <<<"$demangled" || { echo "  vornik::$name is not exported"; failed=1; }
  done
  local allowed
  allowed=$( (api_names include/vornik/vornik_c.h; api_names include/vornik/vornik.h) | sort -u)
  while read -r name; do
    [ -n "$name" ] || continue
    local plain=$name
    [[ $name == _Z* ]] && plain=$("$triple-c++filt" -n "$name" | sed -n 's/^vornik::\([A-Za-z0-9_]*\)(.*/\1/p')
    grep -qx "$plain" <<<"$allowed" || { echo "  $name is exported but not in the headers"; failed=1; }
  done <<<"$exported"
  for name in $(sed -n 's/^\s*DLL Name: //p' <<<"$dump"); do
    if ! grep -qixE "($system_dlls)\.dll" <<<"$name" && [ ! -f "$build/bin/$name" ]; then
      echo "  imports $name, which is neither Windows' own nor beside it"; failed=1
    fi
  done
  "$triple-g++-posix" -std=c++17 -Iinclude examples/minimal_host/minimal_host.cc "$dll" \
    -o "$build/bin/vornik_minimal_host.exe" || failed=1
  "$triple-gcc-posix" -Iinclude examples/minimal_host/minimal_host_c.c "$dll" \
    -o "$build/bin/vornik_minimal_host_c.exe" || failed=1
  [ $failed -eq 0 ] || { echo "test-windows.sh: export check of $dll failed" >&2; exit 1; }
  echo "$dll: $format, $(grep -c . <<<"$exported") exports as the headers declare, hosts link"
}

win64=$root/build-win64
win32=$root/build-win32
linux=$root/build-winref
mkdir -p "$win64" "$win32"

step "dependencies for x86-64 (prefix $win64/deps/prefix)"
build_deps "$win64" "$root/cmake/toolchain-mingw-x86_64.cmake"
step "dependencies for i686 (prefix $win32/deps/prefix)"
build_deps "$win32" "$root/cmake/toolchain-mingw-i686.cmake"

linux_args=()
if [ $run_tests -eq 1 ]; then
  step "Linux reference build ($linux): database builder, frames and the comparison host"
  cmake -S . -B "$linux" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVORNIK_BUILD_TESTS=OFF \
    -DVORNIK_BUILD_BENCH=OFF -DVORNIK_BUILD_EXAMPLES=OFF -DVORNIK_BUILD_CAPTURE_PLUGIN=OFF >/dev/null
  cmake --build "$linux" -j"$jobs" --target vornik-mkdb vornik-synth vornik-parity
  linux_args=(-DVORNIK_LINUX_BUILD_DIR="$linux")
fi

step "Vornik.dll for x86-64 ($win64)"
configure_windows "$win64" "$root/cmake/toolchain-mingw-x86_64.cmake" \
  -DVORNIK_BUILD_TESTS=$([ $run_tests -eq 1 ] && echo ON || echo OFF) "${linux_args[@]}"
build_windows "$win64"

step "Vornik.dll for i686 ($win32): built and checked, not run"
configure_windows "$win32" "$root/cmake/toolchain-mingw-i686.cmake" -DVORNIK_BUILD_TESTS=OFF
build_windows "$win32"

step "exports of both DLLs"
check_exports "$win32" pei-i386 i686-w64-mingw32
check_exports "$win64" pei-x86-64 x86_64-w64-mingw32

if [ $run_tests -eq 1 ]; then
  step "64-bit tests under Wine"
  export WINEPREFIX=$win64/wineprefix WINEDEBUG=-all
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    /usr/lib/wine/wine64 wineboot --init >/dev/null 2>&1 || true
  fi
  # One server and one set of Wine's own service processes for the whole
  # suite: a test program that has to start them races with the shutdown
  # of the previous program's server (seen as a rare silent failure at
  # start-up). They are started here with their output discarded; started by
  # a test program they would inherit its output pipe and hold the reading
  # side (gtest's test discovery) open until the server ends.
  /usr/lib/wine/wineserver64 -k 2>/dev/null || true
  /usr/lib/wine/wineserver64 -p </dev/null >/dev/null 2>&1
  /usr/lib/wine/wine64 cmd /c exit </dev/null >/dev/null 2>&1 || true
  status=0
  (cd "$win64" && GTEST_FILTER="$skipped_cases" ctest --output-on-failure -j"$jobs" -E "$skipped_tests") ||
    status=$?
  /usr/lib/wine/wineserver64 -k 2>/dev/null || true
  [ $status -eq 0 ] || { echo "test-windows.sh: Wine tests failed" >&2; exit 1; }
fi

echo
echo "windows build passed"
