#!/usr/bin/env bash
# Prepares a Debian 12 machine (developer or CI, as root) for building and
# testing TsDLMUpdater:
#   1. installs the build and test tools with apt-get (only what is missing);
#   2. adds a deb-src entry so that Debian source packages can be fetched;
#   3. cross-builds static mingw-w64 libraries from Debian sources (libcurl
#      with Schannel/SSPI, tinyxml2, googletest) for each architecture in
#      TSDLM_ARCHS (words i686, x86_64; default: i686, the shipped build,
#      and the build the Wine of this machine runs) into
#      "$TSDLM_CACHE_DIR/mingw-deps-<arch>-<key>" and records that prefix in
#      "$TSDLM_CACHE_DIR/mingw-deps-<arch>.current" (read by scripts/env.sh);
#   4. checks that the Wine scripts/env.sh picked runs here (32-bit Wine
#      where the machine runs 32-bit code, 64-bit Wine where it does not).
# Idempotent: a second run only checks and takes a few seconds. The prefix key
# is made of the architecture, the source package versions, the mingw
# compiler version and a hash of the build recipe below, so changing any of
# them builds a new prefix.
#
# Using the prefix from CMake (with cmake/toolchain-mingw-<arch>.cmake and
# TSDLM_MINGW_DEPS_I686 / TSDLM_MINGW_DEPS_X86_64 exported by scripts/env.sh):
#   find_package(TsdlmCurl CONFIG REQUIRED)   -> Tsdlm::curl
#       (static libcurl; carries CURL_STATICLIB and the Windows system
#        libraries ws2_32 crypt32 bcrypt secur32 advapi32)
#   find_package(tinyxml2 CONFIG REQUIRED)    -> tinyxml2::tinyxml2
#   find_package(GTest CONFIG REQUIRED)       -> GTest::gtest GTest::gtest_main
#                                                GTest::gmock GTest::gmock_main
# Plain find_package(CURL) also finds the library, but its CURL::libcurl lacks
# CURL_STATICLIB and the system libraries: use Tsdlm::curl.
set -euo pipefail
shopt -s inherit_errexit

export DEBIAN_FRONTEND=noninteractive
START_TIME=$(date +%s)

# env.sh clears the proxy variables (for Wine) and keeps the caller's values
# in TSDLM_APT_<name>, also when a script sourced it before calling this one:
# apt-get gets them.
APT_ENV=()
for v in http_proxy https_proxy HTTP_PROXY HTTPS_PROXY no_proxy NO_PROXY; do
  kept="TSDLM_APT_$v"
  value="${!v:-${!kept:-}}"
  if [ -n "$value" ]; then APT_ENV+=("$v=$value"); fi
done

# shellcheck source=scripts/env.sh
source "$(dirname "${BASH_SOURCE[0]}")/env.sh"

JOBS="${TSDLM_JOBS:-2}"
ARCHS=$(printf '%s\n' ${TSDLM_ARCHS:-i686 $TSDLM_WIN_BUILD} | awk '!seen[$0]++')
for arch in $ARCHS; do
  case $arch in
    i686 | x86_64) ;;
    *) printf 'setup: error: TSDLM_ARCHS takes i686 and x86_64, not "%s"\n' "$arch" >&2; exit 1 ;;
  esac
done
# Set for each architecture in turn (the recipe below uses them).
MINGW_HOST=
TOOLCHAIN_FILE=
POINTER_SIZE=
DEB_SRC_FILE=/etc/apt/sources.list.d/tsdlm-deb-src.sources
SOURCE_PACKAGES=(curl tinyxml2 googletest)

PACKAGES=(
  # cross compilers (gcc/g++ -posix variants are used) and tools
  g++-mingw-w64-i686 g++-mingw-w64-x86-64 mingw-w64-tools
  # running and driving the Windows programs (wine32 below, where it runs)
  wine wine64 xvfb xauth xdotool imagemagick x11-apps
  # Latin, CJK and Hangul in one font, for the dialog in every language
  fonts-wqy-microhei locales
  # tests, signing, native builds and tools (python3-pefile: tools/tsdlm-manifest)
  python3-pytest python3-pytest-xdist python3-pefile openssl osslsigncode clang lld
  libclang-rt-14-dev
  cmake ninja-build pkg-config make dpkg-dev clang-format
  libcurl4-openssl-dev libtinyxml2-dev libgtest-dev libgmock-dev
  curl gnuplot-nox time
  # a real proxy for the end-to-end suite (its own instances, never the
  # system's service), htpasswd for its password files, and Samba's
  # ntlm_auth, through which Wine answers NTLM
  squid apache2-utils winbind
)
# 32-bit Wine only where it is the Wine that runs the tests.
WANT_I386=0
if [ "$TSDLM_WINE_ARCH" = win32 ]; then
  PACKAGES+=(wine32:i386)
  WANT_I386=1
fi

log() { printf 'setup: %s\n' "$*" >&2; }
die() { printf 'setup: error: %s\n' "$*" >&2; exit 1; }

apt_get() {
  env "${APT_ENV[@]}" apt-get -q -o DPkg::Lock::Timeout=900 -o Acquire::Retries=3 "$@"
}

require_root() {
  [ "$(id -u)" -eq 0 ] || die "$1 needs root (run as root, or install it by hand)"
}

# ---------------------------------------------------------------- packages
APT_UPDATED=0
apt_update() {
  if [ "$APT_UPDATED" -eq 0 ]; then
    # A mirror in the middle of a sync serves an index of the wrong size for
    # a minute or two: try again, then go on with what did arrive (an
    # install that still lacks a package fails below and says which).
    local try
    for try in 1 2 3 4; do
      log "apt-get update"
      if apt_get update >/dev/null; then break; fi
      if [ "$try" -eq 4 ]; then
        log "apt-get update still fails; going on with the indexes that arrived"
        break
      fi
      sleep $((try * 15))
    done
    APT_UPDATED=1
  fi
}

is_installed() {
  [ "$(dpkg-query -W -f='${db:Status-Abbrev}' "$1" 2>/dev/null)" = "ii " ]
}

ensure_packages() {
  local need_update=0
  if [ "$WANT_I386" -eq 1 ] && ! dpkg --print-foreign-architectures | grep -qx i386; then
    require_root "dpkg --add-architecture i386"
    log "adding the i386 architecture"
    dpkg --add-architecture i386
    need_update=1
  fi

  local want
  want=$(cat <<'EOF'
Types: deb-src
URIs: http://deb.debian.org/debian
Suites: bookworm bookworm-updates
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg

Types: deb-src
URIs: http://deb.debian.org/debian-security
Suites: bookworm-security
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg
EOF
)
  if [ ! -f "$DEB_SRC_FILE" ] || [ "$(cat "$DEB_SRC_FILE")" != "$want" ]; then
    require_root "adding $DEB_SRC_FILE"
    log "adding $DEB_SRC_FILE"
    printf '%s\n' "$want" >"$DEB_SRC_FILE"
    need_update=1
  fi

  local missing=() p
  for p in "${PACKAGES[@]}"; do
    is_installed "$p" || missing+=("$p")
  done
  if [ "${#missing[@]}" -gt 0 ]; then
    require_root "installing ${missing[*]}"
    apt_update
    log "apt-get install ${missing[*]}"
    local opts=(-y -o Dpkg::Options::=--force-confdef -o Dpkg::Options::=--force-confold)
    if ! apt_get install "${opts[@]}" "${missing[@]}" >/dev/null; then
      # An i386 library must be the very version of its amd64 twin. When the
      # twin installed here is one the mirror's i386 index lacks (an index
      # that failed to arrive, or an image newer than the mirror), bring the
      # installed packages up to the mirror's versions and try once more.
      [ "$WANT_I386" -eq 1 ] || die "apt-get install ${missing[*]} failed"
      log "apt-get upgrade (the 32-bit packages need their 64-bit twins at the same version)"
      apt_get upgrade "${opts[@]}" >/dev/null
      log "apt-get install ${missing[*]}"
      apt_get install "${opts[@]}" "${missing[@]}" >/dev/null
    fi
  elif [ "$need_update" -eq 1 ]; then
    apt_update
  fi
}

# Highest version of a source package known to apt (needs the deb-src entry).
source_version() {
  local pkg=$1 best="" v
  for v in $(apt-cache showsrc --only-source "$pkg" 2>/dev/null | sed -n 's/^Version: //p'); do
    if [ -z "$best" ] || dpkg --compare-versions "$v" gt "$best"; then best=$v; fi
  done
  printf '%s' "$best"
}

# ------------------------------------------------------------ build recipe
# Everything in the functions listed in RECIPE_FUNCTIONS is hashed into the
# prefix key: editing them builds a new prefix.
RECIPE_FUNCTIONS=(run_logged fetch_and_unpack build_curl build_tinyxml2
  build_googletest write_curl_cmake_config check_curl_link)

# Runs a command with its output in a log; shows the end of the log on failure.
run_logged() {
  local logfile=$1; shift
  if ! "$@" >>"$logfile" 2>&1; then
    printf 'setup: command failed: %s\n--- last lines of %s ---\n' "$*" "$logfile" >&2
    tail -n 60 "$logfile" >&2
    return 1
  fi
}

# fetch_and_unpack PKG VERSION DOWNLOAD_DIR WORK_DIR -> prints the source dir
fetch_and_unpack() {
  local pkg=$1 ver=$2 dl=$3 work=$4
  local dsc="${pkg}_${ver#*:}.dsc"
  mkdir -p "$dl"
  if [ ! -f "$dl/$dsc" ]; then
    (cd "$dl" && run_logged "$work/fetch-$pkg.log" \
      env "${APT_ENV[@]}" apt-get -q -o APT::Sandbox::User=root \
        source --download-only "$pkg=$ver")
  fi
  rm -rf "${work:?}/$pkg"
  run_logged "$work/fetch-$pkg.log" dpkg-source -x "$dl/$dsc" "$work/$pkg"
  printf '%s' "$work/$pkg"
}

build_curl() {
  local src=$1 prefix=$2 logfile=$3
  cd "$src"
  # Like debian/rules for the OpenSSL flavour, leave out the last two patches
  # (they only rename the library for the GnuTLS and NSS flavours).
  local p
  for p in 99_nss.patch 90_gnutls.patch; do
    if [ -f "debian/patches/$p" ]; then
      run_logged "$logfile" patch -R -p1 -i "debian/patches/$p"
    fi
  done
  # The shipped configure is used as is (configure.ac uses AM_MAINTAINER_MODE,
  # so nothing is regenerated): Debian's build-system patches concern GSS-API,
  # LDAP and shell completions, all left out here; the source patches apply.
  local opts=(
    --host="$MINGW_HOST" --prefix="$prefix"
    CC="$MINGW_HOST-gcc-posix" CFLAGS="-O2"
    --disable-shared --enable-static
    --disable-dependency-tracking --disable-debug --enable-optimize
    --disable-werror --disable-curldebug
    --with-schannel --enable-sspi --without-ca-bundle --without-ca-path
    # threaded resolver on Win32 threads: no winpthread in the link
    --enable-threaded-resolver --disable-pthreads
    # kept: HTTP(S), proxies, HTTP auth (Basic, Digest, NTLM and Negotiate via SSPI)
    --enable-http --enable-proxy --enable-http-auth --enable-crypto-auth
    --enable-ntlm --disable-ntlm-wb
    # protocols not needed
    --disable-ftp --disable-file --disable-ldap --disable-ldaps --disable-rtsp
    --disable-dict --disable-telnet --disable-tftp --disable-pop3
    --disable-imap --disable-smb --disable-smtp --disable-gopher --disable-mqtt
    --disable-websockets --disable-unix-sockets --disable-tls-srp
    --disable-manual --disable-libcurl-option
    # external libraries not used
    --without-zlib --without-brotli --without-zstd --without-libpsl
    --without-libidn2 --without-winidn --without-nghttp2 --without-nghttp3
    --without-ngtcp2 --without-quiche --without-msh3 --without-librtmp
    --without-libssh2 --without-libssh --without-wolfssh --without-libgsasl
    --without-hyper --without-gssapi --disable-ares
    --without-zsh-functions-dir --without-fish-functions-dir
  )
  run_logged "$logfile" ./configure "${opts[@]}"
  run_logged "$logfile" make -j"$JOBS" -C lib
  run_logged "$logfile" make -C lib install
  run_logged "$logfile" make -C include install
  run_logged "$logfile" make install-pkgconfigDATA
  rm -f "$prefix/lib/libcurl.la"
}

build_tinyxml2() {
  local src=$1 prefix=$2 logfile=$3
  run_logged "$logfile" cmake -S "$src" -B "$src/_build" -G Ninja \
    -DCMAKE_TOOLCHAIN_FILE="$TOOLCHAIN_FILE" -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_INSTALL_PREFIX="$prefix" -DCMAKE_INSTALL_LIBDIR=lib \
    -DBUILD_SHARED_LIBS=OFF -Dtinyxml2_SHARED_LIBS=OFF \
    -DBUILD_TESTING=OFF -Dtinyxml2_BUILD_TESTING=OFF
  run_logged "$logfile" cmake --build "$src/_build" -j "$JOBS"
  run_logged "$logfile" cmake --install "$src/_build"
}

build_googletest() {
  local src=$1 prefix=$2 logfile=$3
  run_logged "$logfile" cmake -S "$src" -B "$src/_build" -G Ninja \
    -DCMAKE_TOOLCHAIN_FILE="$TOOLCHAIN_FILE" -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_INSTALL_PREFIX="$prefix" -DCMAKE_INSTALL_LIBDIR=lib \
    -DBUILD_SHARED_LIBS=OFF -DBUILD_GMOCK=ON -DINSTALL_GTEST=ON \
    -Dgtest_disable_pthreads=OFF -Dgtest_build_tests=OFF \
    -Dgmock_build_tests=OFF -Dgtest_build_samples=OFF
  run_logged "$logfile" cmake --build "$src/_build" -j "$JOBS"
  run_logged "$logfile" cmake --install "$src/_build"
}

# CMake package TsdlmCurl: imported target Tsdlm::curl for the static libcurl.
write_curl_cmake_config() {
  local prefix=$1 version
  version=$(sed -n 's/^#define LIBCURL_VERSION "\(.*\)"/\1/p' "$prefix/include/curl/curlver.h")
  [ -n "$version" ] || { echo "no LIBCURL_VERSION in curlver.h" >&2; return 1; }
  local dir="$prefix/lib/cmake/TsdlmCurl"
  mkdir -p "$dir"
  cat >"$dir/TsdlmCurlConfig.cmake" <<EOF
# Static libcurl $version for $MINGW_HOST (Schannel, SSPI), built by
# scripts/setup.sh. Target Tsdlm::curl carries what a static libcurl needs:
# the CURL_STATICLIB define and the Windows system libraries.
get_filename_component(_tsdlm_curl_prefix "\${CMAKE_CURRENT_LIST_DIR}/../../.." ABSOLUTE)
if(NOT TARGET Tsdlm::curl)
  add_library(Tsdlm::curl STATIC IMPORTED)
  set_target_properties(Tsdlm::curl PROPERTIES
    IMPORTED_LOCATION "\${_tsdlm_curl_prefix}/lib/libcurl.a"
    IMPORTED_LINK_INTERFACE_LANGUAGES "C"
    INTERFACE_INCLUDE_DIRECTORIES "\${_tsdlm_curl_prefix}/include"
    INTERFACE_COMPILE_DEFINITIONS "CURL_STATICLIB"
    INTERFACE_LINK_LIBRARIES "ws2_32;crypt32;bcrypt;secur32;advapi32")
endif()
set(TsdlmCurl_LIBCURL_VERSION "$version")
unset(_tsdlm_curl_prefix)
EOF
  cat >"$dir/TsdlmCurlConfigVersion.cmake" <<EOF
set(PACKAGE_VERSION "$version")
if(PACKAGE_FIND_VERSION VERSION_GREATER PACKAGE_VERSION)
  set(PACKAGE_VERSION_COMPATIBLE FALSE)
else()
  set(PACKAGE_VERSION_COMPATIBLE TRUE)
  if(PACKAGE_FIND_VERSION VERSION_EQUAL PACKAGE_VERSION)
    set(PACKAGE_VERSION_EXACT TRUE)
  endif()
endif()
# Built for $MINGW_HOST only: a build for the other architecture must not
# take it.
if(NOT CMAKE_SIZEOF_VOID_P STREQUAL "" AND NOT CMAKE_SIZEOF_VOID_P EQUAL $POINTER_SIZE)
  set(PACKAGE_VERSION "\${PACKAGE_VERSION} ($((POINTER_SIZE * 8))-bit)")
  set(PACKAGE_VERSION_UNSUITABLE TRUE)
endif()
EOF
}

# Links every object of libcurl.a with exactly the libraries Tsdlm::curl
# declares: a missing system library shows up here, not in the project.
check_curl_link() {
  local prefix=$1 work=$2 logfile=$3
  printf '#include <curl/curl.h>\n#include <stdio.h>\nint main(void){puts(curl_version());return 0;}\n' \
    >"$work/curl-link-check.c"
  run_logged "$logfile" "$MINGW_HOST-gcc-posix" -DCURL_STATICLIB -I"$prefix/include" \
    "$work/curl-link-check.c" -o "$work/curl-link-check.exe" -static \
    -Wl,--whole-archive "$prefix/lib/libcurl.a" -Wl,--no-whole-archive \
    -lws2_32 -lcrypt32 -lbcrypt -lsecur32 -ladvapi32
}

# --------------------------------------------------------------- the build
build_deps() {
  local prefix=$1 key_info=$2 work="$TSDLM_CACHE_DIR/build/${1##*/}"
  log "building the mingw dependencies into $prefix (logs in $work)"
  rm -rf "$prefix" "$work"
  mkdir -p "$prefix" "$work"
  local pkg src
  for pkg in "${SOURCE_PACKAGES[@]}"; do
    src=$(fetch_and_unpack "$pkg" "${SRC_VERSION[$pkg]}" "$TSDLM_CACHE_DIR/sources" "$work")
    log "  $pkg ${SRC_VERSION[$pkg]}"
    # Subshell: own working directory; no older prefix on the CMake paths.
    (unset TSDLM_MINGW_DEPS_I686 TSDLM_MINGW_DEPS_X86_64; "build_$pkg" "$src" "$prefix" "$work/build-$pkg.log")
  done
  write_curl_cmake_config "$prefix"
  check_curl_link "$prefix" "$work" "$work/build-curl.log"
  printf '%s\n' "$key_info" >"$prefix/BUILD-INFO.txt"
  touch "$prefix/.complete"
  rm -rf "$work"
}

# ------------------------------------------------------------------- main
mkdir -p "$TSDLM_CACHE_DIR"
exec 9>"$TSDLM_CACHE_DIR/.setup.lock"
flock 9

ensure_packages

declare -A SRC_VERSION
for pkg in "${SOURCE_PACKAGES[@]}"; do
  SRC_VERSION[$pkg]=$(source_version "$pkg")
  if [ -z "${SRC_VERSION[$pkg]}" ] && [ "$APT_UPDATED" -eq 0 ]; then
    require_root "apt-get update"
    apt_update
    SRC_VERSION[$pkg]=$(source_version "$pkg")
  fi
  [ -n "${SRC_VERSION[$pkg]}" ] || die "apt knows no source package $pkg (is $DEB_SRC_FILE in effect?)"
done

# build_arch ARCH: the dependencies for one architecture, built when missing.
build_arch() {
  local arch=$1 pkgarch
  MINGW_HOST="$arch-w64-mingw32"
  TOOLCHAIN_FILE="$TSDLM_ROOT/cmake/toolchain-mingw-$arch.cmake"
  POINTER_SIZE=4
  [ "$arch" = x86_64 ] && POINTER_SIZE=8
  pkgarch=${arch//_/-}
  local gcc_version recipe_hash key prefix key_info
  gcc_version=$(dpkg-query -W -f='${Version}' "gcc-mingw-w64-$pkgarch-posix" 2>/dev/null || true)
  [ -n "$gcc_version" ] || gcc_version=$("$MINGW_HOST-gcc-posix" -dumpversion)
  recipe_hash=$(
    {
      declare -f "${RECIPE_FUNCTIONS[@]}"
      cat "$TOOLCHAIN_FILE" "$TSDLM_ROOT/cmake/mingw-common.cmake"
      dpkg-query -W -f='${Version}\n' "mingw-w64-$pkgarch-dev" "g++-mingw-w64-$pkgarch-posix" 2>/dev/null || true
      cmake --version | head -n 1
    } | sha256sum | cut -c1-12
  )
  key="${arch}_curl-${SRC_VERSION[curl]}_tinyxml2-${SRC_VERSION[tinyxml2]}_googletest-${SRC_VERSION[googletest]}_gcc-${gcc_version}_${recipe_hash}"
  key=$(printf '%s' "$key" | tr -c 'A-Za-z0-9.+_-' '_')
  prefix="$TSDLM_CACHE_DIR/mingw-deps-$key"
  if [ ! -f "$prefix/.complete" ]; then
    key_info=$(printf 'architecture %s\ncurl %s\ntinyxml2 %s\ngoogletest %s\ngcc-mingw-w64-%s-posix %s\nrecipe %s\nbuilt %s\n' \
      "$arch" "${SRC_VERSION[curl]}" "${SRC_VERSION[tinyxml2]}" "${SRC_VERSION[googletest]}" \
      "$pkgarch" "$gcc_version" "$recipe_hash" "$(date -u +%Y-%m-%dT%H:%M:%SZ)")
    build_deps "$prefix" "$key_info"
  fi
  local current="$TSDLM_CACHE_DIR/mingw-deps-$arch.current"
  if [ "$(cat "$current" 2>/dev/null || true)" != "$prefix" ]; then
    printf '%s\n' "$prefix" >"$current.tmp"
    mv -f "$current.tmp" "$current"
  fi
  printf '%s' "$prefix"
}

PREFIXES=()
for arch in $ARCHS; do
  prefix=$(build_arch "$arch")
  PREFIXES+=("$arch: $prefix")
done

# Wine: the test harness makes its own prefixes; only check that the Wine
# scripts/env.sh picked runs, and name the cause when it does not.
if ! WINE_VERSION=$(wine --version 2>&1); then
  case "$TSDLM_WINE_ARCH:$WINE_VERSION" in
    win32:*"Exec format error"*)
      die "32-bit Wine cannot run: this machine runs no 32-bit code ($WINE_VERSION). Leave TSDLM_WINE_ARCH unset, or set it to win64, to use 64-bit Wine with the x86_64 build." ;;
    *)
      die "$(tsdlm_wine_label) does not run: wine --version said: $WINE_VERSION" ;;
  esac
fi

printf 'setup: ok in %ss; Windows side: %s; %s\n' \
  "$(($(date +%s) - START_TIME))" "$(tsdlm_wine_label)" "$WINE_VERSION"
printf 'setup: mingw dependencies: %s\n' "${PREFIXES[@]}"
