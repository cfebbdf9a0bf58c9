#!/usr/bin/env bash
# Builds the workbook libraries (minizip, expat, libxlsxwriter) for MinGW-w64
# from Debian's source packages, as static libraries, so the Windows programs
# link them in and import only system DLLs. zlib comes built from Debian's
# libz-mingw-w64-dev.
#
#   tools/build-mingw-deps.sh TRIPLET...      (i686-w64-mingw32, x86_64-w64-mingw32)
#
# Each triplet is installed into $IDB_MINGW_DEPS/<key>/<triplet>, where the key
# names the source versions and this script's own checksum; a prefix that is
# already complete is kept, so CI builds the libraries once per machine. The
# last line printed for each triplet is its prefix; tools/mingw-deps-prefix.sh
# prints it without building.
set -euo pipefail
cd "$(dirname "$0")/.."
here=$PWD
cache=${IDB_MINGW_DEPS:-/var/cache/idb-mingw-deps}
packages=(minizip expat libxlsxwriter)

(($#)) || { echo "usage: $0 TRIPLET..." >&2; exit 2; }

# apt-get source needs the deb-src lines, which Debian's images leave out.
ensure_sources() {
  if apt-cache showsrc minizip 2>/dev/null | grep -q '^Version:'; then return; fi
  if [[ $(id -u) -ne 0 ]]; then
    echo "build-mingw-deps: Debian's source lines are not enabled (run as root once)" >&2
    exit 1
  fi
  sed -e 's/^Types: deb$/Types: deb-src/' /etc/apt/sources.list.d/debian.sources \
    >/etc/apt/sources.list.d/idb-debian-src.sources
  apt-get update
}

# The source versions this machine's archive offers, newest first: a security
# update's source is sometimes missing from the mirror while the release's is there.
versions_of() { apt-cache showsrc "$1" | sed -n 's/^Version: //p' | sort -rV | uniq; }

# fetch PACKAGE DIR: unpacks the newest source of PACKAGE that downloads into DIR/src.
fetch() {
  local pkg=$1 dir=$2 v
  mkdir -p "$dir/dl"
  for v in $(versions_of "$pkg"); do
    if (cd "$dir/dl" && apt-get source --download-only "$pkg=$v" >/dev/null 2>&1); then
      rm -rf "$dir/src"
      dpkg-source --no-check -x "$dir/dl/${pkg}_${v#*:}.dsc" "$dir/src" >/dev/null
      echo "$v" >"$dir/version"
      return
    fi
    rm -f "$dir/dl/"*
  done
  echo "build-mingw-deps: no source of $pkg could be downloaded" >&2
  exit 1
}

key() {
  local k
  k=$(for p in "${packages[@]}"; do printf '%s=%s\n' "$p" "$(versions_of "$p" | head -n 1)"; done
      sha256sum "$here/tools/build-mingw-deps.sh" | cut -c1-16)
  printf '%s' "$k" | sha256sum | cut -c1-16
}

build_minizip() {  # SRC PREFIX TRIPLET: Debian builds it with automake; the library is four files.
  local src=$1 prefix=$2 t=$3 o
  o=$(mktemp -d)
  for f in ioapi unzip zip iowin32; do
    "$t-gcc" -O2 -DNOCRYPT -DNOUNCRYPT -I"$src" -c "$src/$f.c" -o "$o/$f.o"
  done
  "$t-ar" rcs "$prefix/lib/libminizip.a" "$o"/*.o
  mkdir -p "$prefix/include/minizip"
  cp "$src"/{ioapi,unzip,zip,iowin32,crypt}.h "$prefix/include/minizip/"
  # libxlsxwriter's search for minizip reads the zlib version beside it.
  cp "/usr/$t/include/"{zlib,zconf}.h "$prefix/include/"
  rm -rf "$o"
}

cmake_build() {  # SRC PREFIX TRIPLET ARGS...
  local src=$1 prefix=$2 t=$3 b
  shift 3
  b=$(mktemp -d)
  cmake -S "$src" -B "$b" -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_SYSTEM_NAME=Windows \
    -DCMAKE_C_COMPILER="$t-gcc" -DCMAKE_CXX_COMPILER="$t-g++" -DCMAKE_RC_COMPILER="$t-windres" \
    -DCMAKE_FIND_ROOT_PATH="$prefix;/usr/$t" -DCMAKE_FIND_ROOT_PATH_MODE_PROGRAM=NEVER \
    -DCMAKE_FIND_ROOT_PATH_MODE_LIBRARY=ONLY -DCMAKE_FIND_ROOT_PATH_MODE_INCLUDE=ONLY \
    -DCMAKE_INSTALL_PREFIX="$prefix" -DBUILD_SHARED_LIBS=OFF "$@" >"$b/configure.log" 2>&1 \
    || { tail -n 40 "$b/configure.log"; exit 1; }
  cmake --build "$b" -j "$(nproc)" >"$b/build.log" 2>&1 || { tail -n 40 "$b/build.log"; exit 1; }
  cmake --install "$b" >/dev/null
  rm -rf "$b"
}

ensure_sources
k=$(key)
work=""
trap 'rm -rf "$work"' EXIT
for t in "$@"; do
  prefix=$cache/$k/$t
  if [[ ! -f $prefix/complete ]]; then
    if [[ -z $work ]]; then
      work=$(mktemp -d)
      for p in "${packages[@]}"; do fetch "$p" "$work/$p"; done
    fi
    rm -rf "$prefix" && mkdir -p "$prefix/lib" "$prefix/include"
    build_minizip "$work/minizip/src" "$prefix" "$t"
    cmake_build "$work/expat/src/expat" "$prefix" "$t" -DEXPAT_BUILD_TOOLS=OFF -DEXPAT_BUILD_EXAMPLES=OFF \
      -DEXPAT_BUILD_TESTS=OFF -DEXPAT_BUILD_DOCS=OFF -DEXPAT_SHARED_LIBS=OFF -DEXPAT_BUILD_PKGCONFIG=OFF \
      -DEXPAT_DTD=OFF  # workbooks have no DTD, and a DTD is what entity-expansion attacks need
    # libxlsxwriter opens the workbook by its wide name on Windows, but hides
    # that path from MinGW, whose narrow fopen cannot spell every file name.
    sed -i '/^#ifdef __MINGW32__$/{N;N;/#undef _WIN32\n#endif/d}' "$work/libxlsxwriter/src/src/packager.c"
    if grep -q '^#undef _WIN32' "$work/libxlsxwriter/src/src/packager.c"; then
      echo "build-mingw-deps: libxlsxwriter's packager.c changed; its MinGW file opening was not mended" >&2
      exit 1
    fi
    # minizip from above (not the copy libxlsxwriter bundles), as Debian builds it.
    cmake_build "$work/libxlsxwriter/src" "$prefix" "$t" -DUSE_SYSTEM_MINIZIP=ON \
      -DMINIZIP_INCLUDE_DIR="$prefix/include" -DMINIZIP_LIBRARY="$prefix/lib/libminizip.a" \
      -DZLIB_INCLUDE_DIR="/usr/$t/include" -DZLIB_LIBRARY="/usr/$t/lib/libz.a" -DBUILD_TESTS=OFF -DBUILD_EXAMPLES=OFF
    for p in "${packages[@]}"; do printf '%s %s\n' "$p" "$(cat "$work/$p/version")"; done >"$prefix/versions"
    touch "$prefix/complete"
  fi
  echo "$prefix"
done
# Builds of older sources or of an older script are of no further use.
for old in "$cache"/*/; do
  [[ $old == "$cache/$k/" ]] || rm -rf "$old"
done
