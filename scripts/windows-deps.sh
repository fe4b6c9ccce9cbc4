#!/usr/bin/env bash
# Builds the host's compiled dependencies for 64-bit Windows from Debian's
# source packages, static, into build-win64/deps/ (kept between runs):
# muparser, and KLU with what it needs of SuiteSparse (AMD, COLAMD, BTF,
# SuiteSparse_config). Eigen is header-only and taken from the Debian
# package as it is.
set -euo pipefail
cd "$(dirname "$0")/.."
deps="$PWD/build-win64/deps"
toolchain="$PWD/cmake/toolchains/x86_64-w64-mingw32.cmake"
jobs=${UDM_JOBS:-2}
cc=x86_64-w64-mingw32-gcc-posix
ar=x86_64-w64-mingw32-ar

muparser_version=2.3.3-0.1
suitesparse_version=1:5.12.0+dfsg-2
have_muparser() { [[ -f "$deps/muparser/lib/libmuparser.a" ]]; }
have_klu() { [[ -f "$deps/suitesparse/lib/libklu.a" && -f "$deps/suitesparse/lib/libbtf.a" ]]; }
have_muparser && have_klu && exit 0

work="$deps/source"
rm -rf "$work" && mkdir -p "$work/lists/partial"
trap 'rm -rf "$work"' EXIT
# Debian's source archive through apt, with a source list of its own: the
# system's sources stay as they are.
echo "deb-src http://deb.debian.org/debian bookworm main" >"$work/sources.list"
apt_options=(-o "Dir::Etc::SourceList=$work/sources.list" -o Dir::Etc::SourceParts=/nonexistent
             -o "Dir::State::Lists=$work/lists" -o Debug::NoLocking=1 -o APT::Sandbox::User=root)
apt-get "${apt_options[@]}" update >/dev/null
fetch() { (cd "$work" && apt-get "${apt_options[@]}" source --download-only "$1" >/dev/null); }

if ! have_muparser; then
  fetch "muparser=$muparser_version"
  tar -C "$work" -xf "$work"/muparser_*.orig.tar.gz
  src=$(find "$work" -maxdepth 1 -type d -name 'muparser-*' | head -n 1)
  cmake -S "$src" -B "$work/muparser-build" -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DCMAKE_BUILD_TYPE=Release \
    -DBUILD_SHARED_LIBS=OFF -DENABLE_OPENMP=OFF -DENABLE_SAMPLES=OFF -DCMAKE_INSTALL_PREFIX="$deps/muparser" >/dev/null
  cmake --build "$work/muparser-build" -j "$jobs" >/dev/null
  cmake --install "$work/muparser-build" >/dev/null
  echo "windows-deps.sh: muparser for 64-bit Windows in $deps/muparser"
fi

if ! have_klu; then
  fetch "suitesparse=$suitesparse_version"
  # Only the parts KLU needs, of a large archive; int indices, real values
  # (the library's default build of each source file).
  parts=(KLU AMD COLAMD BTF)
  patterns=('*/SuiteSparse_config/SuiteSparse_config.[ch]')
  for part in "${parts[@]}"; do patterns+=("*/$part/Source/*.c" "*/$part/Include/*.h"); done
  tar -C "$work" -xJf "$work"/suitesparse_*.orig.tar.xz --wildcards "${patterns[@]}"
  src=$(find "$work" -maxdepth 1 -type d -name 'SuiteSparse-*' | head -n 1)
  includes=(-I"$src/SuiteSparse_config")
  for part in "${parts[@]}"; do includes+=(-I"$src/$part/Include"); done
  mkdir -p "$work/objects/klu" "$work/objects/btf" "$deps/suitesparse/include" "$deps/suitesparse/lib"
  compile() {  # folder for the objects, sources...
    local out=$1 && shift
    printf '%s\n' "$@" | xargs -P "$jobs" -I{} sh -c \
      '"$0" -O2 -DNDEBUG -DNTIMER "$@" -c "{}" -o "'"$out"'/$(basename "{}" .c).o"' "$cc" "${includes[@]}"
  }
  compile "$work/objects/klu" "$src"/KLU/Source/*.c "$src"/AMD/Source/*.c "$src"/COLAMD/Source/*.c \
    "$src/SuiteSparse_config/SuiteSparse_config.c"
  compile "$work/objects/btf" "$src"/BTF/Source/*.c
  "$ar" rcs "$deps/suitesparse/lib/libklu.a" "$work"/objects/klu/*.o
  "$ar" rcs "$deps/suitesparse/lib/libbtf.a" "$work"/objects/btf/*.o
  cp "$src"/SuiteSparse_config/SuiteSparse_config.h "$deps/suitesparse/include/"
  for part in "${parts[@]}"; do cp "$src/$part"/Include/*.h "$deps/suitesparse/include/"; done
  echo "windows-deps.sh: KLU and BTF for 64-bit Windows in $deps/suitesparse"
fi
