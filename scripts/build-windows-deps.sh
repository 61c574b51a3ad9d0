#!/usr/bin/env bash
# Builds the libraries of the 32-bit Windows build from Debian's own source
# packages (`apt-get source`), static, with the i686 mingw-w64 compilers of
# the posix thread model, and installs each into its own prefix in a cache
# outside the build tree:
#
#   ${KORVEL_WINDOWS_DEPS:-~/.cache/korvel-windows-deps}/<package>-<version>/
#
# <version> is the Debian source version (an epoch's ':' written as '_').
# A prefix is complete when its marker file ".korvel-complete" exists; it is
# written last, so an interrupted build is redone on the next run and a
# finished one is skipped. The file "<cache>/prefixes.cmake" lists the
# complete prefixes for the CMake toolchain file.
#
# Usage: build-windows-deps.sh [package...]   (default: all of them)
#   packages: wxwidgets3.2 libzstd libdeflate libsodium asio googletest
# zlib is Debian's binary package libz-mingw-w64-dev (install-windows-deps.sh).
set -euo pipefail

HOST=i686-w64-mingw32
CC_X=${HOST}-gcc-posix
CXX_X=${HOST}-g++-posix
CACHE=${KORVEL_WINDOWS_DEPS:-$HOME/.cache/korvel-windows-deps}
JOBS=${KORVEL_JOBS:-$(nproc)}
MARKER=.korvel-complete
ROOT=$(cd "$(dirname "$0")/.." && pwd)
TOOLCHAIN=$ROOT/cmake/toolchain-mingw-i686.cmake
ALL=(wxwidgets3.2 libzstd libdeflate libsodium asio googletest)

log() { echo "build-windows-deps: $*"; }
die() {
  echo "build-windows-deps: error: $*" >&2
  exit 1
}

for tool in "$CC_X" "$CXX_X" ${HOST}-windres ${HOST}-ar apt-get dpkg-source cmake make; do
  command -v "$tool" >/dev/null || die "$tool not found (run scripts/install-windows-deps.sh)"
done

# Every compile of a source package runs at the lowest priority: the machine
# is shared.
NICE=(nice -n 19)

# The source versions apt knows for a package, newest first.
source_versions() {
  local versions
  versions=$(apt-cache showsrc --only-source "$1" 2>/dev/null | awk '/^Version:/ { print $2 }' | sort -u)
  [ -n "$versions" ] ||
    die "no source package $1 known to apt (deb-src entries missing? run scripts/install-windows-deps.sh)"
  # dpkg's own order, not sort's: "1.5.4+dfsg2-5+deb12u1" is newer than "1.5.4+dfsg2-5".
  local sorted=() v i
  while read -r v; do
    i=${#sorted[@]}
    sorted+=("$v")
    while [ "$i" -gt 0 ] && dpkg --compare-versions "${sorted[i - 1]}" lt "$v"; do
      sorted[i]=${sorted[i - 1]}
      i=$((i - 1))
    done
    sorted[i]=$v
  done <<<"$versions"
  printf '%s\n' "${sorted[@]}"
}

prefix_of() { echo "$CACHE/$1-${2//:/_}"; }

# Fetches and unpacks the source into a fresh work folder and prints the
# unpacked tree's path.
fetch_source() {
  local pkg=$1 ver=$2 work=$3
  rm -rf "$work"
  mkdir -p "$work"
  (cd "$work" && apt-get source -qq "$pkg=$ver" >/dev/null 2>"$work/apt-get-source.log") ||
    { cat "$work/apt-get-source.log" >&2; die "apt-get source $pkg=$ver failed"; }
  local dir
  dir=$(find "$work" -mindepth 1 -maxdepth 1 -type d | head -n 1)
  [ -n "$dir" ] || die "apt-get source $pkg left no source tree in $work"
  echo "$dir"
}

# A CMake project of a dependency, configured with this project's toolchain
# file (its find paths already include the cache).
cmake_dep() {
  local src=$1 bld=$2 prefix=$3
  shift 3
  "${NICE[@]}" cmake -S "$src" -B "$bld" -G "Unix Makefiles" \
    -DCMAKE_TOOLCHAIN_FILE="$TOOLCHAIN" -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_INSTALL_PREFIX="$prefix" -DBUILD_SHARED_LIBS=OFF "$@" >"$bld.configure.log" 2>&1 ||
    { tail -n 40 "$bld.configure.log" >&2; die "configure of $src failed"; }
  "${NICE[@]}" cmake --build "$bld" -j "$JOBS" >"$bld.build.log" 2>&1 ||
    { tail -n 40 "$bld.build.log" >&2; die "build of $src failed"; }
  cmake --install "$bld" >/dev/null
}

build_wxwidgets3.2() {
  local src=$1 prefix=$2
  # MSW, static, only what the window and the page view use. Debian's source
  # has the bundled image libraries removed and nothing here reads images
  # other than BMP/ICO from the resources, so PNG, JPEG and TIFF are off;
  # SVG support needs PNG. The web view (IE back end) stays on.
  local bld=$src/build-msw
  mkdir -p "$bld"
  (cd "$bld" && "${NICE[@]}" ../configure --host=$HOST --build="$(gcc -dumpmachine)" \
    CC="$CC_X" CXX="$CXX_X" WINDRES=${HOST}-windres AR=${HOST}-ar RANLIB=${HOST}-ranlib \
    CXXFLAGS="-O2" CFLAGS="-O2" \
    --prefix="$prefix" --with-msw --disable-shared --enable-unicode \
    --with-zlib=sys --without-libpng --without-libjpeg --without-libtiff --without-expat \
    --without-liblzma --without-libcurl --without-opengl --without-regex \
    --disable-svg --disable-xrc --disable-aui --disable-stc --disable-richtext \
    --disable-propgrid --disable-ribbon --disable-mediactrl --disable-webrequest \
    --enable-webview --disable-webviewedge \
    --disable-tests >"$bld/configure.log" 2>&1) ||
    { tail -n 40 "$bld/configure.log" >&2; die "wxWidgets configure failed"; }
  (cd "$bld" && "${NICE[@]}" make -j "$JOBS" >"$bld/build.log" 2>&1) ||
    { tail -n 40 "$bld/build.log" >&2; die "wxWidgets build failed"; }
  (cd "$bld" && make install >"$bld/install.log" 2>&1) ||
    { tail -n 40 "$bld/install.log" >&2; die "wxWidgets install failed"; }
}

build_libzstd() {
  local src=$1 prefix=$2
  cmake_dep "$src/build/cmake" "$src/build-mingw" "$prefix" \
    -DZSTD_BUILD_SHARED=OFF -DZSTD_BUILD_STATIC=ON -DZSTD_BUILD_PROGRAMS=OFF \
    -DZSTD_BUILD_TESTS=OFF -DZSTD_BUILD_CONTRIB=OFF -DZSTD_LEGACY_SUPPORT=OFF \
    -DZSTD_MULTITHREAD_SUPPORT=ON
}

build_libdeflate() {
  local src=$1 prefix=$2
  if [ -f "$src/CMakeLists.txt" ]; then
    cmake_dep "$src" "$src/build-mingw" "$prefix" \
      -DLIBDEFLATE_BUILD_SHARED_LIB=OFF -DLIBDEFLATE_BUILD_GZIP=OFF
  else
    # Its Makefile recognises a Windows target from the compiler's machine
    # and names the static library the MSVC way; only the library is built
    # (not its gzip program), installed under the name the linker looks for.
    (cd "$src" && "${NICE[@]}" make -j "$JOBS" CC="$CC_X" AR=${HOST}-ar libdeflatestatic.lib \
      >build.log 2>&1) || { tail -n 40 "$src/build.log" >&2; die "libdeflate build failed"; }
    mkdir -p "$prefix/lib/pkgconfig" "$prefix/include"
    install -m 0644 "$src/libdeflatestatic.lib" "$prefix/lib/libdeflate.a"
    install -m 0644 "$src/libdeflate.h" "$prefix/include/"
    local version
    version=$(sed -n 's/#define LIBDEFLATE_VERSION_STRING.*"\(.*\)"/\1/p' "$src/libdeflate.h")
    sed -e "s|@PREFIX@|$prefix|" -e "s|@LIBDIR@|$prefix/lib|" -e "s|@INCDIR@|$prefix/include|" \
      -e "s|@VERSION@|$version|" "$src/libdeflate.pc.in" >"$prefix/lib/pkgconfig/libdeflate.pc"
  fi
}

build_libsodium() {
  local src=$1 prefix=$2
  # Debian's source carries no generated configure script.
  if [ ! -x "$src/configure" ]; then
    (cd "$src" && "${NICE[@]}" autoreconf -fi >autoreconf.log 2>&1) ||
      { tail -n 40 "$src/autoreconf.log" >&2; die "libsodium autoreconf failed"; }
  fi
  (cd "$src" && "${NICE[@]}" ./configure --host=$HOST --build="$(gcc -dumpmachine)" \
    CC="$CC_X" --prefix="$prefix" --disable-shared --enable-static --disable-ssp \
    >configure.log 2>&1) || { tail -n 40 "$src/configure.log" >&2; die "libsodium configure failed"; }
  (cd "$src" && "${NICE[@]}" make -j "$JOBS" >build.log 2>&1) ||
    { tail -n 40 "$src/build.log" >&2; die "libsodium build failed"; }
  (cd "$src" && make install >install.log 2>&1) ||
    { tail -n 40 "$src/install.log" >&2; die "libsodium install failed"; }
}

build_asio() {
  local src=$1 prefix=$2
  # Header-only: the headers are the installation.
  local inc
  inc=$(find "$src" -name asio.hpp -path '*include/asio.hpp' | head -n 1)
  [ -n "$inc" ] || die "asio.hpp not found in $src"
  mkdir -p "$prefix/include"
  cp -a "$(dirname "$inc")/asio.hpp" "$(dirname "$inc")/asio" "$prefix/include/"
}

# asio is header-only, so Debian's binary package of the same version
# carries exactly the source's headers; it stands in when a mirror fails to
# deliver the source package.
fallback_asio() {
  local ver=$1 work=$2
  log "asio $ver: source package not available, unpacking Debian's libasio-dev $ver instead" >&2
  rm -rf "$work"
  mkdir -p "$work/deb"
  (cd "$work" && apt-get download -qq "libasio-dev=$ver" >/dev/null 2>"$work/apt-get-download.log") ||
    { cat "$work/apt-get-download.log" >&2; die "apt-get download libasio-dev=$ver failed"; }
  dpkg-deb -x "$work"/libasio-dev_*.deb "$work/deb"
  echo "$work/deb/usr"
}

build_googletest() {
  local src=$1 prefix=$2
  cmake_dep "$src" "$src/build-mingw" "$prefix" -DBUILD_GMOCK=ON -DINSTALL_GTEST=ON \
    -Dgtest_disable_pthreads=OFF
}

# Builds the newest version of a package that is cached or whose source the
# mirrors deliver: a security update's source is sometimes missing from a
# mirror that carries its binaries, and the version before it then serves.
build_one() {
  local pkg=$1 ver prefix work src="" start
  local versions
  mapfile -t versions < <(source_versions "$pkg")
  work=$CACHE/.work/$pkg
  for ver in "${versions[@]}"; do
    prefix=$(prefix_of "$pkg" "$ver")
    if [ -f "$prefix/$MARKER" ]; then
      log "$pkg $ver: cached in $prefix"
      return
    fi
    if src=$(fetch_source "$pkg" "$ver" "$work"); then break; fi
    log "$pkg $ver: source not available, trying an older version"
    src=""
  done
  if [ -z "$src" ]; then
    ver=${versions[0]}
    declare -F "fallback_$pkg" >/dev/null || die "no source of $pkg could be fetched"
    src=$("fallback_$pkg" "$ver" "$work")
  fi
  prefix=$(prefix_of "$pkg" "$ver")
  log "$pkg $ver: building into $prefix"
  start=$(date +%s)
  rm -rf "$prefix"
  "build_$pkg" "$src" "$prefix"
  printf 'package=%s\nversion=%s\nhost=%s\ncompiler=%s\n' "$pkg" "$ver" "$HOST" \
    "$("$CXX_X" -dumpversion)" >"$prefix/$MARKER"
  rm -rf "$work"
  log "$pkg $ver: done in $(($(date +%s) - start)) s"
}

# Lists the complete prefixes for the toolchain file, the newest complete
# version of each package only.
write_prefix_list() {
  local out=$CACHE/prefixes.cmake tmp pkg ver prefix
  tmp=$(mktemp "$CACHE/prefixes.XXXXXX")
  echo "# Written by scripts/build-windows-deps.sh: the complete dependency prefixes." >"$tmp"
  for pkg in "${ALL[@]}"; do
    while read -r ver; do
      prefix=$(prefix_of "$pkg" "$ver")
      if [ -f "$prefix/$MARKER" ]; then
        echo "list(APPEND KORVEL_WINDOWS_DEP_PREFIXES \"$prefix\")" >>"$tmp"
        break
      fi
    done < <(source_versions "$pkg")
  done
  mv "$tmp" "$out"
}

mkdir -p "$CACHE"
# One run at a time per cache: two runs would unpack into the same work
# folders.
exec 9>"$CACHE/.lock"
if ! flock -n 9; then
  log "waiting for another run on $CACHE"
  flock 9
fi
packages=("$@")
[ ${#packages[@]} -gt 0 ] || packages=("${ALL[@]}")
for pkg in "${packages[@]}"; do
  declare -F "build_$pkg" >/dev/null || die "unknown package $pkg (known: ${ALL[*]})"
done
for pkg in "${packages[@]}"; do
  build_one "$pkg"
done
write_prefix_list
