#!/usr/bin/env bash
# Cross-builds the Windows programs with mingw-w64 and packs dist/Quilora-win64.zip.
#
# The third-party parts (Qt, curl, PCRE2, SQLite, GoogleTest, the header-only
# libraries) are built once into a cache outside the build tree and reused;
# each part is rebuilt when its recipe below changes.
#
#   QUILORA_WIN64_CACHE  the cache (default ~/.cache/quilora-win64)
#   JOBS                 parallel jobs (default: the number of cores)
#   RESUME=1             go on from a part's work folder instead of a clean one
#   --deps-only          stop after the third-party parts
set -euo pipefail

ROOT=$(cd "$(dirname "$0")/.." && pwd)
CACHE=${QUILORA_WIN64_CACHE:-$HOME/.cache/quilora-win64}
PREFIX=$CACHE/prefix
SRC=$CACHE/src
WORK=$CACHE/work
BUILD=${BUILD_DIR:-$ROOT/build-win64}
JOBS=${JOBS:-$(nproc)}
TOOLCHAIN=$ROOT/cmake/mingw-w64.cmake
TRIPLE=x86_64-w64-mingw32
DEPS_ONLY=0
[[ ${1:-} == --deps-only ]] && DEPS_ONLY=1

export QUILORA_WIN64_PREFIX=$PREFIX
log() { printf '\n== %s\n' "$*"; }

install_packages() {
  local need=()
  command -v $TRIPLE-g++-posix >/dev/null || need+=(g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix)
  command -v wine >/dev/null || need+=(wine64)
  command -v ninja >/dev/null || need+=(ninja-build)
  command -v zip >/dev/null || need+=(zip)
  command -v tclsh >/dev/null || need+=(tcl)
  command -v dpkg-source >/dev/null || need+=(dpkg-dev)
  command -v Xvfb >/dev/null || need+=(xvfb)
  [[ -d /usr/share/fonts/truetype/wqy ]] || need+=(fonts-wqy-microhei)
  # The host Qt (moc, uic, rcc) and the header-only libraries.
  [[ -x /usr/lib/qt6/libexec/moc ]] || need+=(qt6-base-dev qt6-base-dev-tools)
  [[ -f /usr/include/SimpleIni.h ]] || need+=(libsimpleini-dev)
  [[ -d /usr/include/CLI ]] || need+=(libcli11-dev)
  [[ -d /usr/include/nlohmann ]] || need+=(nlohmann-json3-dev)
  [[ -d /usr/src/googletest ]] || need+=(googletest)
  # Sources come from the archive's source lists.
  if ! grep -rqs 'deb-src' /etc/apt/sources.list /etc/apt/sources.list.d/; then
    if [[ -f /etc/apt/sources.list.d/debian.sources ]]; then
      sed -i 's/^Types: deb$/Types: deb deb-src/' /etc/apt/sources.list.d/debian.sources
    else
      sed -n 's/^deb /deb-src /p' /etc/apt/sources.list >/etc/apt/sources.list.d/quilora-src.list
    fi
    need+=(update)
  fi
  if ((${#need[@]})); then
    log "installing: ${need[*]}"
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -qq
    local pkgs=("${need[@]/update/}")
    apt-get install -y -qq --no-install-recommends ${pkgs[*]}
  fi
}

# Downloads a source package (the version the archive offers first that is
# actually there) and unpacks its original tarball into $SRC/NAME.
fetch_source() {
  local pkg=$1 dir=$SRC/$1
  [[ -d $dir ]] && return
  mkdir -p "$SRC/dl-$pkg" && cd "$SRC/dl-$pkg"
  local v
  for v in $(apt-cache showsrc "$pkg" | sed -n 's/^Version: //p' | sort -rV); do
    apt-get source -qq --download-only "$pkg=$v" 2>/dev/null && break
  done
  local orig
  orig=$(ls "${pkg}"_*.orig.tar.* | grep -v '\.asc$' | grep -v 'orig-' | head -1)
  mkdir -p "$dir.tmp"
  tar xf "$orig" -C "$dir.tmp" --strip-components=1
  mv "$dir.tmp" "$dir"
  cd "$ROOT"
}

# stage NAME: runs build_NAME unless $PREFIX/.stamp-NAME holds the hash of its
# recipe (the function's text, the toolchain and the stages it builds on).
declare -A STAMP
stage() {
  local name=$1
  shift
  local recipe
  recipe=$( (declare -f "build_$name"; cat "$TOOLCHAIN"; for d in "$@"; do echo "${STAMP[$d]}"; done) | sha256sum | cut -c1-16)
  STAMP[$name]=$recipe
  if [[ -f $PREFIX/.stamp-$name && $(cat "$PREFIX/.stamp-$name") == "$recipe" ]]; then
    log "$name: cached"
    return
  fi
  log "$name: building"
  local t0=$SECONDS
  # RESUME=1 goes on in the work folder a failed or changed build left, for
  # small changes of flags; by default a part starts from a clean folder.
  [[ ${RESUME:-0} == 1 ]] || rm -rf "${WORK:?}/$name"
  mkdir -p "$WORK/$name" "$PREFIX"
  "build_$name"
  echo "$recipe" >"$PREFIX/.stamp-$name"
  log "$name: built in $((SECONDS - t0)) s"
}

cmake_cross() {
  cmake -G Ninja -DCMAKE_TOOLCHAIN_FILE="$TOOLCHAIN" -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_INSTALL_PREFIX="$PREFIX" -DCMAKE_PREFIX_PATH="$PREFIX" "$@"
}

build_sqlite() {
  fetch_source sqlite3
  cd "$WORK/sqlite"
  # The archive carries the full source tree; its configure writes the amalgamation.
  "$SRC/sqlite3/configure" --disable-tcl >/dev/null
  make -s sqlite3.c
  $TRIPLE-gcc-posix -O2 -c sqlite3.c -o sqlite3.o \
    -DSQLITE_THREADSAFE=1 -DSQLITE_ENABLE_COLUMN_METADATA -DSQLITE_ENABLE_FTS5 -DSQLITE_OMIT_LOAD_EXTENSION
  mkdir -p "$PREFIX/lib" "$PREFIX/include"
  $TRIPLE-ar rcs "$PREFIX/lib/libsqlite3.a" sqlite3.o
  cp sqlite3.h sqlite3ext.h "$PREFIX/include/"
}

build_pcre2() {
  fetch_source pcre2
  cmake_cross -S "$SRC/pcre2" -B "$WORK/pcre2" -DBUILD_SHARED_LIBS=ON -DBUILD_STATIC_LIBS=OFF \
    -DPCRE2_BUILD_PCRE2_8=ON -DPCRE2_BUILD_PCRE2_16=OFF -DPCRE2_BUILD_PCRE2GREP=OFF \
    -DPCRE2_BUILD_TESTS=OFF -DPCRE2_SUPPORT_JIT=ON >/dev/null
  cmake --build "$WORK/pcre2" -j "$JOBS"
  cmake --install "$WORK/pcre2" >/dev/null
}

build_curl() {
  fetch_source curl
  # Schannel: TLS (https, smtps, STARTTLS) from Windows itself, no OpenSSL.
  cmake_cross -S "$SRC/curl" -B "$WORK/curl" -DBUILD_SHARED_LIBS=ON -DBUILD_CURL_EXE=OFF \
    -DBUILD_TESTING=OFF -DCURL_USE_SCHANNEL=ON -DCURL_USE_OPENSSL=OFF -DCURL_USE_LIBSSH2=OFF \
    -DCURL_USE_LIBPSL=OFF -DCURL_ZLIB=OFF -DCURL_BROTLI=OFF -DCURL_ZSTD=OFF -DUSE_NGHTTP2=OFF \
    -DUSE_LIBIDN2=OFF -DCURL_DISABLE_LDAP=ON -DCURL_DISABLE_LDAPS=ON -DENABLE_UNICODE=ON >/dev/null
  cmake --build "$WORK/curl" -j "$JOBS"
  cmake --install "$WORK/curl" >/dev/null
}

# Header-only libraries from the Debian packages (cpp-httplib from its source
# package: the packaged one is split into a Linux shared library), GoogleTest
# from the source the googletest package ships.
build_headers() {
  fetch_source cpp-httplib
  mkdir -p "$PREFIX/include" "$PREFIX/lib/pkgconfig"
  cp /usr/include/SimpleIni.h "$PREFIX/include/"
  cp -r /usr/include/CLI /usr/include/nlohmann "$PREFIX/include/"
  cp "$SRC/cpp-httplib/httplib.h" "$PREFIX/include/"
  mkdir -p "$PREFIX/share/cmake/CLI11" "$PREFIX/share/cmake/nlohmann_json"
  cp /usr/share/cmake/CLI11/*.cmake "$PREFIX/share/cmake/CLI11/" 2>/dev/null ||
    cp /usr/lib/cmake/CLI11/*.cmake "$PREFIX/share/cmake/CLI11/"
  cp /usr/share/cmake/nlohmann_json/*.cmake "$PREFIX/share/cmake/nlohmann_json/"
  cat >"$PREFIX/lib/pkgconfig/simpleini.pc" <<PC
prefix=$PREFIX
includedir=\${prefix}/include
Name: simpleini
Description: SimpleIni (header only; Debian's header keeps the definitions behind SI_IMPLEMENTATION)
Version: 4.19
Cflags: -I\${includedir} -DSI_IMPLEMENTATION
PC
  cat >"$PREFIX/lib/pkgconfig/cpp-httplib.pc" <<PC
prefix=$PREFIX
includedir=\${prefix}/include
Name: cpp-httplib
Description: cpp-httplib (header only)
Version: 0.11.4
Cflags: -I\${includedir}
Libs: -lws2_32 -lcrypt32
PC
}

build_gtest() {
  cmake_cross -S /usr/src/googletest -B "$WORK/gtest" -DBUILD_SHARED_LIBS=OFF \
    -Dgtest_disable_pthreads=OFF >/dev/null
  cmake --build "$WORK/gtest" -j "$JOBS"
  cmake --install "$WORK/gtest" >/dev/null
}

build_qt() {
  fetch_source qt6-base
  # Core, Gui, Widgets, Sql (SQLite, ODBC), Test and the Windows platform
  # plugin; the machine's own Qt 6.4.2 runs moc, uic and rcc. No tablet
  # events: Debian's source leaves out the Wintab header they need.
  cmake_cross -S "$SRC/qt6-base" -B "$WORK/qt" -DCMAKE_INSTALL_PREFIX="$PREFIX/qt" \
    -DQT_HOST_PATH=/usr -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/$(gcc -dumpmachine)/cmake \
    -DBUILD_SHARED_LIBS=ON -DQT_BUILD_EXAMPLES=OFF -DQT_BUILD_TESTS=OFF -DQT_BUILD_BENCHMARKS=OFF \
    -DQT_BUILD_TOOLS_WHEN_CROSSCOMPILING=OFF \
    -DFEATURE_dbus=OFF -DFEATURE_network=OFF -DFEATURE_xml=OFF -DFEATURE_printsupport=OFF \
    -DFEATURE_concurrent=OFF -DFEATURE_opengl=OFF -DINPUT_opengl=no -DFEATURE_vulkan=OFF \
    -DFEATURE_sql_sqlite=ON -DFEATURE_system_sqlite=ON -DFEATURE_sql_odbc=ON \
    -DFEATURE_sql_psql=OFF -DFEATURE_sql_mysql=OFF -DFEATURE_sql_ibase=OFF -DFEATURE_sql_oci=OFF \
    -DFEATURE_sql_db2=OFF -DFEATURE_system_zlib=OFF -DFEATURE_system_pcre2=OFF \
    -DFEATURE_system_harfbuzz=OFF -DFEATURE_system_freetype=OFF -DFEATURE_system_png=OFF \
    -DFEATURE_system_jpeg=OFF -DFEATURE_system_doubleconversion=OFF -DFEATURE_system_libb2=OFF \
    -DFEATURE_jpeg=OFF -DFEATURE_gif=OFF -DFEATURE_directwrite3=ON -DFEATURE_accessibility=ON \
    -DFEATURE_tabletevent=OFF \
    -DSQLite3_INCLUDE_DIR="$PREFIX/include" -DSQLite3_LIBRARY="$PREFIX/lib/libsqlite3.a" \
    >"$WORK/qt-configure.log"
  cmake --build "$WORK/qt" -j "$JOBS"
  cmake --install "$WORK/qt" >/dev/null
}

install_packages
stage sqlite
stage pcre2
stage curl
stage headers
stage gtest
stage qt sqlite
((DEPS_ONLY)) && exit 0

# ---- the programs and the tests
log "quilora: building in $BUILD"
t0=$SECONDS
export PKG_CONFIG_LIBDIR=$PREFIX/lib/pkgconfig PKG_CONFIG_PATH=
# A rebuilt part may bring other flags: CMake then looks for everything afresh.
deps=$(cat "$PREFIX"/.stamp-* | sha256sum | cut -c1-16)
if [[ -f $BUILD/.deps-stamp && $(cat "$BUILD/.deps-stamp") != "$deps" ]]; then
  rm -f "$BUILD/CMakeCache.txt"
fi
cmake -G Ninja -S "$ROOT" -B "$BUILD" -DCMAKE_TOOLCHAIN_FILE="$TOOLCHAIN" -DCMAKE_BUILD_TYPE=Release \
  -DQUILORA_WIN64_PREFIX="$PREFIX" -DCMAKE_PREFIX_PATH="$PREFIX/qt;$PREFIX" \
  -DQT_HOST_PATH=/usr -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/$(gcc -dumpmachine)/cmake \
  -DQUILORA_BUILD_BENCH=OFF ${CMAKE_ARGS:-} >/dev/null
echo "$deps" >"$BUILD/.deps-stamp"
cmake --build "$BUILD" -j "$JOBS"
log "quilora: built in $((SECONDS - t0)) s"

# ---- the zip: the programs and every DLL they load, found by following their
# imports through the folders these builds filled. Windows' own DLLs stay out.
RUNTIME_DIRS=("$PREFIX/qt/bin" "$PREFIX/bin" "$(dirname "$($TRIPLE-g++-posix -print-libgcc-file-name)")"
  "/usr/$TRIPLE/lib")
find_dll() {
  local d
  for d in "${RUNTIME_DIRS[@]}"; do
    if [[ -f $d/$1 ]]; then
      echo "$d/$1"
      return
    fi
  done
  return 0 # one of Windows' own
}
# Prints the DLLs a file needs, and theirs, that these builds provide.
collect_dlls() {
  local -A seen=()
  local queue=("$@") f dll path
  while ((${#queue[@]})); do
    f=${queue[0]}
    queue=("${queue[@]:1}")
    for dll in $($TRIPLE-objdump -p "$f" | sed -n 's/^\s*DLL Name: //p'); do
      [[ -n ${seen[$dll]:-} ]] && continue
      seen[$dll]=1
      path=$(find_dll "$dll")
      [[ -n $path ]] || continue
      echo "$path"
      queue+=("$path")
    done
  done
}

log "packing dist/Quilora-win64.zip"
STAGE=$BUILD/Quilora
rm -rf "$STAGE"
mkdir -p "$STAGE/platforms" "$STAGE/sqldrivers" "$STAGE/styles" "$STAGE/db"
cp "$BUILD"/quilora.exe "$BUILD"/quilora-book.exe "$BUILD"/quilora-admin.exe "$BUILD"/quilora-portal.exe "$STAGE/"
cp "$PREFIX/qt/plugins/platforms/qwindows.dll" "$STAGE/platforms/"
cp "$PREFIX/qt/plugins/sqldrivers/qsqlite.dll" "$PREFIX/qt/plugins/sqldrivers/qsqlodbc.dll" "$STAGE/sqldrivers/"
cp "$PREFIX"/qt/plugins/styles/*.dll "$STAGE/styles/" 2>/dev/null || rmdir "$STAGE/styles"
collect_dlls "$STAGE"/*.exe "$STAGE"/*/*.dll | sort -u | while read -r dll; do cp "$dll" "$STAGE/"; done
# Debug information stays in the build folder; the zip carries none.
find "$STAGE" -name '*.exe' -o -name '*.dll' | while read -r f; do $TRIPLE-strip --strip-unneeded "$f"; done
cp "$ROOT"/db/*.sql "$STAGE/db/"
cp "$ROOT/packaging/windows/Config.ini" "$ROOT/packaging/windows/说明.txt" "$STAGE/"
# Windows' Notepad reads the read-me best with CRLF line ends.
sed -i 's/$/\r/' "$STAGE/说明.txt" "$STAGE/Config.ini"
mkdir -p "$ROOT/dist"
rm -f "$ROOT/dist/Quilora-win64.zip"
(cd "$BUILD" && zip -qr -X "$ROOT/dist/Quilora-win64.zip" Quilora)
log "dist/Quilora-win64.zip: $(du -h "$ROOT/dist/Quilora-win64.zip" | cut -f1), $(find "$STAGE" -type f | wc -l) files"
