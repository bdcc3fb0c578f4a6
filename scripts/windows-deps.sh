#!/usr/bin/env bash
# Builds the libraries of the Windows cross build, static, with mingw-w64 and
# cmake/mingw-toolchain.cmake, from Debian's own source packages:
#   libxml2 (no iconv, lzma, zlib, python, http, ftp, icu), libxslt + libexslt, SQLite,
#   fmt, and GoogleTest/GoogleMock from /usr/src/googletest;
# and copies the headers and package files of nlohmann-json and CLI11 into the same prefix.
#
#   scripts/windows-deps.sh ARCH            build what is missing; print the prefix
#   scripts/windows-deps.sh --prefix ARCH   print the prefix only
# ARCH is x86_64 or i686. The prefix is $PIVZONA12_WIN_CACHE/ARCH, the cache defaulting to
# /var/cache/pivzona12-mingw (outside the clone). The source packages are those of the
# versions installed on this machine when it has them, else the archive's current ones.
# A stamp in the prefix records what was built: a second run with the same script,
# compilers and versions only checks it. Progress goes to stderr, one line per library;
# the build output goes to $PIVZONA12_WIN_CACHE/ARCH.log.
#
# Sources come through a private apt configuration (deb-src entries derived from the
# system's own deb entries), so the system's apt configuration and lists stay as they are.
# Needs: cmake, make, gcc (host), tclsh (SQLite's amalgamation), dpkg-dev (dpkg-source),
# the mingw-w64 posix compilers, googletest, nlohmann-json3-dev, libcli11-dev.
set -euo pipefail

usage() {
  echo "usage: windows-deps.sh [--prefix] x86_64|i686" >&2
  exit 64
}

query_only=false
if [[ ${1:-} == --prefix ]]; then
  query_only=true
  shift
fi
(($# == 1)) || usage
arch=$1
[[ $arch == x86_64 || $arch == i686 ]] || usage

script=$(realpath "${BASH_SOURCE[0]}")
root=$(dirname "$(dirname "$script")")
toolchain=$root/cmake/mingw-toolchain.cmake
cache=${PIVZONA12_WIN_CACHE:-/var/cache/pivzona12-mingw}
cache=$(realpath -m "$cache")
prefix=$cache/$arch

if $query_only; then
  echo "$prefix"
  exit 0
fi

triplet=$arch-w64-mingw32
cc=$triplet-gcc-posix
log=$cache/$arch.log
work=$cache/build-$arch
sources=$cache/sources
stamp=$prefix/.pivzona12-stamp
jobs=${PIVZONA12_JOBS:-$(nproc)}

say() { echo "windows-deps $arch: $*" >&2; }
die() { say "$*"; exit 1; }

# Everything this script needs from the machine, with the Debian package that brings it.
missing=()
need_tool() { command -v "$1" >/dev/null 2>&1 || missing+=("$2"); }
need_tool cmake cmake
need_tool make make
need_tool gcc gcc
need_tool tclsh tcl
need_tool dpkg-source dpkg-dev
need_tool "$cc" "gcc-mingw-w64-${arch/_/-}-posix"
need_tool "$triplet-g++-posix" "g++-mingw-w64-${arch/_/-}-posix"
for p in googletest nlohmann-json3-dev libcli11-dev; do
  [[ $(dpkg-query -W -f='${Status}' "$p" 2>/dev/null) == *"ok installed" ]] || missing+=("$p")
done
((${#missing[@]} == 0)) || die "missing Debian packages: ${missing[*]}"

installed=$(dpkg-query -W -f='${source:Package} ${source:Version} ${Status}\n' 2>/dev/null)

# The source version of an installed package built from source package $1, or "".
installed_source_version() {
  awk -v p="$1" '$1 == p && / installed$/ && !found { print $2; found = 1 }' <<<"$installed"
}

# Source packages to build, with the version wanted ("" = the archive's current one).
built_sources=(libxml2 libxslt sqlite3 fmtlib)
declare -A wanted
for p in "${built_sources[@]}"; do
  wanted[$p]=$(installed_source_version "$p")
done

stamp_text() {
  echo "script $(cat "$script" "$toolchain" | sha256sum | cut -d' ' -f1)"
  echo "arch $arch"
  echo "compiler $(dpkg-query -W -f='${Version}' "g++-mingw-w64-${arch/_/-}-posix" 2>/dev/null)"
  for p in "${built_sources[@]}"; do echo "$p ${wanted[$p]:-current}"; done
  for p in googletest nlohmann-json3 cli11; do echo "$p $(installed_source_version "$p")"; done
}

mkdir -p "$cache"
# One run per architecture at a time; a second one waits and then finds the stamp.
exec 9>"$cache/.$arch.lock"
flock 9

if [[ -f $stamp ]] && [[ $(cat "$stamp") == "$(stamp_text)" ]]; then
  say "up to date"
  echo "$prefix"
  exit 0
fi

start=$SECONDS
: >"$log"
say "building into $prefix (log: $log)"
rm -rf -- "$prefix" "$work"
mkdir -p "$prefix" "$work" "$sources"

# step NAME COMMAND...: runs the command with its output in the log and stops the
# script, naming the log, when it fails.
step() {
  local name=$1 t0=$SECONDS status
  shift
  echo "=== $name" >>"$log"
  set +e
  (set -e; "$@") >>"$log" 2>&1
  status=$?
  set -e
  ((status == 0)) || die "$name failed (log: $log)"
  say "$name ($((SECONDS - t0)) s)"
}

# --- Sources --------------------------------------------------------------------------

# deb-src entries (deb822) for every deb entry of this Debian release in the system's
# apt configuration, whether written one per line or in deb822 stanzas.
derive_source_entries() {
  local codename files=() f
  # shellcheck disable=SC1091
  codename=$(. /etc/os-release && echo "${VERSION_CODENAME:-}")
  [[ -n $codename ]] || { echo "no VERSION_CODENAME in /etc/os-release" >&2; return 1; }
  [[ -f /etc/apt/sources.list ]] && files+=(/etc/apt/sources.list)
  for f in /etc/apt/sources.list.d/*.list /etc/apt/sources.list.d/*.sources; do
    [[ -f $f ]] && files+=("$f")
  done
  ((${#files[@]})) || { echo "no apt sources under /etc/apt" >&2; return 1; }
  awk -v codename="$codename" '
    function keep_suites(list,    n, i, parts, out) {
      n = split(list, parts, /[ \t]+/)
      out = ""
      for (i = 1; i <= n; i++)
        if (parts[i] == codename || index(parts[i], codename "-") == 1)
          out = out (out == "" ? "" : " ") parts[i]
      return out
    }
    function emit(uris, suites, comps, signed,    s) {
      s = keep_suites(suites)
      if (s == "" || uris == "" || comps == "") return
      printf "Types: deb-src\nURIs: %s\nSuites: %s\nComponents: %s\n", uris, s, comps
      if (signed != "") printf "Signed-By: %s\n", signed
      printf "\n"
    }
    function flush() {
      if (types ~ /(^|[ \t])deb([ \t]|$)/ && tolower(enabled) != "no")
        emit(uris, suites, comps, signed)
      types = uris = suites = comps = signed = enabled = field = ""
    }
    FNR == 1 { flush(); deb822 = FILENAME ~ /\.sources$/ }
    deb822 {
      if ($0 ~ /^[ \t]*#/) next
      if ($0 ~ /^[ \t]*$/) { flush(); next }
      if ($0 ~ /^[ \t]/) { if (field == "signed-by") signed = signed "\n" $0; next }
      field = tolower(substr($0, 1, index($0, ":") - 1))
      value = substr($0, index($0, ":") + 1)
      sub(/^[ \t]+/, "", value); sub(/[ \t]+$/, "", value)
      if (field == "types") types = value
      else if (field == "uris") uris = value
      else if (field == "suites") suites = value
      else if (field == "components") comps = value
      else if (field == "signed-by") signed = value
      else if (field == "enabled") enabled = value
      next
    }
    {
      sub(/#.*/, "")
      if ($1 != "deb") next
      line = $0
      sub(/^[ \t]*deb[ \t]+/, "", line)
      opts_signed = ""
      if (line ~ /^\[/) {
        opts = substr(line, 2, index(line, "]") - 2)
        line = substr(line, index(line, "]") + 1)
        if (match(opts, /signed-by=[^ \t]+/)) opts_signed = substr(opts, RSTART + 10, RLENGTH - 10)
      }
      n = split(line, w, /[ \t]+/)
      k = 0
      for (i = 1; i <= n; i++) if (w[i] != "") v[++k] = w[i]
      comps = ""
      for (i = 3; i <= k; i++) comps = comps (i > 3 ? " " : "") v[i]
      emit(v[1], v[2], comps, opts_signed)
      comps = ""
    }
    END { flush() }
  ' "${files[@]}"
}

apt_dir=$cache/apt
apt_opts=(
  -o "Dir::Etc::SourceList=$apt_dir/sources.list"
  -o "Dir::Etc::SourceParts=$apt_dir/sources.list.d"
  -o "Dir::State::Lists=$apt_dir/lists"
  -o "Dir::Cache=$apt_dir/cache"
  -o "APT::Sandbox::User=root"
)

# The .dsc name of a source package version, without downloading anything.
dsc_name() {  # dsc_name PACKAGE VERSION
  local version=${2#*:}
  echo "${1}_${version}.dsc"
}

# Downloads (once) the source packages wanted; leaves in $work/dsc-PACKAGE the path of
# each one's .dsc.
fetch_sources() {
  local p dsc need_apt=false
  for p in "${built_sources[@]}"; do
    if [[ -z ${wanted[$p]} || ! -f $sources/$(dsc_name "$p" "${wanted[$p]}") ]]; then
      need_apt=true
    fi
  done
  if $need_apt; then
    mkdir -p "$apt_dir/sources.list.d" "$apt_dir/lists/partial" "$apt_dir/cache"
    : >"$apt_dir/sources.list"
    derive_source_entries >"$apt_dir/sources.list.d/debian-src.sources"
    cat "$apt_dir/sources.list.d/debian-src.sources"
    [[ -s $apt_dir/sources.list.d/debian-src.sources ]] ||
      { echo "no Debian deb entries to derive deb-src entries from" >&2; return 1; }
    apt-get "${apt_opts[@]}" -q update
  fi
  for p in "${built_sources[@]}"; do
    dsc=""
    if [[ -n ${wanted[$p]} ]]; then
      dsc=$(dsc_name "$p" "${wanted[$p]}")
      if [[ ! -f $sources/$dsc ]] &&
         ! (cd "$sources" && apt-get "${apt_opts[@]}" -q source --download-only "$p=${wanted[$p]}"); then
        echo "$p ${wanted[$p]} is no longer in the archive: taking its current version"
        dsc=""
      fi
    fi
    if [[ -z $dsc ]]; then
      dsc=$(cd "$sources" && apt-get "${apt_opts[@]}" source --download-only --print-uris "$p" |
            awk '$2 ~ /\.dsc$/ { print $2; exit }')
      [[ -n $dsc ]] || { echo "no source package $p in the archive" >&2; return 1; }
      [[ -f $sources/$dsc ]] || (cd "$sources" && apt-get "${apt_opts[@]}" -q source --download-only "$p")
    fi
    [[ -f $sources/$dsc ]] || { echo "missing $sources/$dsc" >&2; return 1; }
    echo "$sources/$dsc" >"$work/dsc-$p"
  done
}

# Unpacks a fetched source package (Debian's patches applied) into $work/src-PACKAGE.
unpack() {  # unpack PACKAGE
  dpkg-source -x "$(cat "$work/dsc-$1")" "$work/src-$1"
}

version_of() {  # the Debian version of the fetched source package
  local dsc
  dsc=$(basename "$(cat "$work/dsc-$1")" .dsc)
  echo "${dsc#*_}"
}

# --- Builds ---------------------------------------------------------------------------

cmake_project() {  # cmake_project SOURCE_DIR BUILD_DIR [CMAKE OPTIONS...]
  local src=$1 build=$2
  shift 2
  cmake -S "$src" -B "$build" \
    -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DPIVZONA12_WIN_ARCH="$arch" \
    -DPIVZONA12_WIN_PREFIX="$prefix" -DCMAKE_INSTALL_PREFIX="$prefix" \
    -DCMAKE_INSTALL_LIBDIR=lib -DCMAKE_BUILD_TYPE=Release -DBUILD_SHARED_LIBS=OFF "$@"
  cmake --build "$build" -j"$jobs"
  cmake --install "$build"
}

# The prefix holds static libraries only: what the package files call private
# dependencies are needed by every program that links them.
merge_private_libs() {  # merge_private_libs PC_FILE
  awk '
    /^Libs\.private:/ { sub(/^Libs\.private:[ \t]*/, ""); private = private " " $0; next }
    /^Requires\.private:/ { sub(/^Requires\.private:[ \t]*/, ""); rprivate = rprivate ", " $0; next }
    { lines[++n] = $0 }
    END {
      for (i = 1; i <= n; i++) {
        if (lines[i] ~ /^Libs:/ && private ~ /[^ \t]/) lines[i] = lines[i] private
        if (lines[i] ~ /^Requires:/ && rprivate ~ /[^ ,\t]/) {
          sub(/^, */, "", rprivate)
          lines[i] = lines[i] (lines[i] ~ /^Requires:[ \t]*$/ ? " " : ", ") rprivate
        }
        print lines[i]
      }
    }' "$1" >"$1.new"
  mv "$1.new" "$1"
}

# The headers of a static-only library declare its functions for static linking
# (without this, a Windows consumer expects them imported from a DLL).
declare_static() {  # declare_static HEADER MACRO
  local header=$1 macro=$2
  { printf '#ifndef %s\n#define %s 1\n#endif\n' "$macro" "$macro"; cat "$header"; } >"$header.new"
  mv "$header.new" "$header"
}

build_libxml2() {
  unpack libxml2
  cmake_project "$work/src-libxml2" "$work/build-libxml2" \
    -DLIBXML2_WITH_ICONV=OFF -DLIBXML2_WITH_LZMA=OFF -DLIBXML2_WITH_ZLIB=OFF \
    -DLIBXML2_WITH_PYTHON=OFF -DLIBXML2_WITH_HTTP=OFF -DLIBXML2_WITH_FTP=OFF \
    -DLIBXML2_WITH_ICU=OFF -DLIBXML2_WITH_TESTS=OFF -DLIBXML2_WITH_PROGRAMS=OFF
  declare_static "$prefix/include/libxml2/libxml/xmlexports.h" LIBXML_STATIC
  merge_private_libs "$prefix/lib/pkgconfig/libxml-2.0.pc"
}

build_libxslt() {
  unpack libxslt
  # Modules off: a stylesheet must not make the program load a DLL.
  cmake_project "$work/src-libxslt" "$work/build-libxslt" \
    -DLIBXSLT_WITH_PYTHON=OFF -DLIBXSLT_WITH_TESTS=OFF -DLIBXSLT_WITH_CRYPTO=OFF \
    -DLIBXSLT_WITH_MODULES=OFF
  declare_static "$prefix/include/libxslt/xsltexports.h" LIBXSLT_STATIC
  declare_static "$prefix/include/libexslt/exsltexports.h" LIBEXSLT_STATIC
  merge_private_libs "$prefix/lib/pkgconfig/libxslt.pc"
  merge_private_libs "$prefix/lib/pkgconfig/libexslt.pc"
}

# SQLite's amalgamation (sqlite3.c) is generated on the host from the canonical sources,
# then compiled with the mingw compiler and the compile-time options of Debian's build.
build_sqlite3() {
  local src=$work/src-sqlite3 build=$work/build-sqlite3 version options
  unpack sqlite3
  mkdir -p "$build"
  (cd "$build" && "$src/configure" --disable-tcl && make sqlite3.c)
  options=$(awk '/^export CFLAGS \+=/ { on = 1 } on { print } on && !/\\$/ { exit }' \
              "$src/debian/rules" | grep -o -- '-DSQLITE_[A-Za-z0-9_]*\(=[A-Za-z0-9_]*\)\?' || true)
  [[ -n $options ]] || options="-DSQLITE_THREADSAFE=1"
  echo "SQLite options: $options"
  # shellcheck disable=SC2086  # one option per word
  "$cc" -O2 -fno-strict-aliasing $options -c "$build/sqlite3.c" -o "$build/sqlite3.o"
  "$triplet-ar" rcs "$prefix/lib/libsqlite3.a" "$build/sqlite3.o"
  install -m 644 "$build/sqlite3.h" "$src/src/sqlite3ext.h" "$prefix/include/"
  version=$(sed -n 's/^#define SQLITE_VERSION *"\(.*\)"/\1/p' "$build/sqlite3.h")
  mkdir -p "$prefix/lib/pkgconfig"
  cat >"$prefix/lib/pkgconfig/sqlite3.pc" <<EOF
prefix=$prefix
libdir=\${prefix}/lib
includedir=\${prefix}/include

Name: SQLite
Description: SQL database engine
Version: $version
Libs: -L\${libdir} -lsqlite3
Cflags: -I\${includedir}
EOF
}

build_fmt() {
  unpack fmtlib
  cmake_project "$work/src-fmtlib" "$work/build-fmtlib" -DFMT_DOC=OFF -DFMT_TEST=OFF
}

build_googletest() {
  cmake_project /usr/src/googletest "$work/build-googletest" -DBUILD_GMOCK=ON -DINSTALL_GTEST=ON
}

# Header-only libraries: their headers and package files from the Debian packages, with
# the paths moved into the prefix (the host's would put -isystem /usr/include on the
# cross compiler's command line).
copy_header_only() {  # copy_header_only DEBIAN_PACKAGE
  local file target
  while read -r file; do
    [[ -f $file ]] || continue
    target=$prefix/${file#/usr/}
    mkdir -p "$(dirname "$target")"
    cp -p "$file" "$target"
    if [[ $target == *.pc ]]; then
      sed -i -e "s|^prefix=/usr\$|prefix=$prefix|" -e "s|-I/usr/include|-I$prefix/include|g" "$target"
    fi
  done < <(dpkg -L "$1" | grep -E '^/usr/(include|share/cmake|share/pkgconfig|lib/cmake)/')
}

copy_header_libraries() {
  copy_header_only nlohmann-json3-dev
  copy_header_only libcli11-dev
  # No package file may still point at the host's headers.
  ! grep -rl -e '/usr/include' "$prefix/share/cmake" "$prefix/share/pkgconfig" \
      "$prefix/lib/cmake" "$prefix/lib/pkgconfig"
}

step "sources" fetch_sources
step "libxml2 $(version_of libxml2)" build_libxml2
step "libxslt $(version_of libxslt)" build_libxslt
step "sqlite3 $(version_of sqlite3)" build_sqlite3
step "fmt $(version_of fmtlib)" build_fmt
step "googletest $(installed_source_version googletest)" build_googletest
step "nlohmann-json $(installed_source_version nlohmann-json3), CLI11 $(installed_source_version cli11)" \
  copy_header_libraries

for p in "${built_sources[@]}"; do echo "$p $(version_of "$p")"; done >"$prefix/VERSIONS"
rm -rf -- "$work"
stamp_text >"$stamp"
say "done in $((SECONDS - start)) s"
echo "$prefix"
