# Debian's curl source, fetched once into the cache and shared by the static libcurl builds
# (scripts/build-windows, scripts/build-lean, scripts/build-arm). Sourced by bash after setup.sh.

# Debian's source index lives in the cache, under an apt configuration of its own: its entries
# mirror every binary entry of the machine's Debian sources as deb-src (same URIs, suites,
# components, keyring), and nothing of the machine's apt setup is changed. The machine's other
# apt settings (a proxy, say) still apply.
curl_source_apt_dir() { echo "$RALTO_CACHE_DIR/apt-source"; }
curl_source_apt() {
  local dir
  dir=$(curl_source_apt_dir)
  "$@" -o Dir::Etc::SourceList=/dev/null -o Dir::Etc::SourceParts="$dir/sources.list.d" \
    -o Dir::State::Lists="$dir/lists" -o Dir::Cache="$dir/cache" -o APT::Sandbox::User="$(id -un)"
}
# Writes the entries and reads the index anew; quiet unless it fails.
curl_source_update() {
  local dir out
  dir=$(curl_source_apt_dir)
  mkdir -p "$dir/sources.list.d" "$dir/lists/partial" "$dir/cache/archives/partial" || return 1
  out=$dir/sources.list.d/debian
  rm -f "$out".*
  if [[ -f /etc/apt/sources.list.d/debian.sources ]]; then
    # Stanzas are separated by empty lines; Enabled: no stanzas stay out.
    awk 'BEGIN { RS = ""; ORS = "\n\n" }
         /(^|\n)Types:[^\n]*deb/ && !/(^|\n)Enabled:[ \t]*no/ {
           sub(/(^|\n)Types:[^\n]*/, "\nTypes: deb-src"); sub(/^\n/, ""); print }' \
      /etc/apt/sources.list.d/debian.sources >"$out.sources"
  fi
  if [[ ! -s "$out.sources" && -f /etc/apt/sources.list ]]; then
    rm -f "$out.sources"
    sed -n 's/^deb \(.*debian.*\)$/deb-src \1/p' /etc/apt/sources.list >"$out.list"
  fi
  if [[ ! -s "$out.sources" && ! -s "$out.list" ]]; then
    echo "no Debian apt source entry to mirror for deb-src" >&2
    return 1
  fi
  curl_source_apt apt-get update -qq >&2
}

# The newest source version of curl the index knows, e.g. 7.88.1-10+deb12u12.
curl_source_index_version() {
  { curl_source_apt apt-cache showsrc curl 2>/dev/null || true; } | sed -n 's/^Version: //p' |
    sort -V | tail -n 1
}

# curl_source_version BUILT: the version a libcurl build should be made from: the index's
# newest, the index read anew when it is missing or a week old; with no index to ask, BUILT (the
# cached build's version), so that the build stands. Called in a command substitution, where
# errexit does not hold: it fails without a version.
curl_source_version() {
  local built=$1 version lists
  lists=$(curl_source_apt_dir)/lists
  if [[ -z "$(find "$lists" -maxdepth 1 -name '*_Sources*' -mtime -7 2>/dev/null)" ]]; then
    curl_source_update || [[ -n "$built" ]] || return 1
  fi
  version=$(curl_source_index_version)
  [[ -n "$version" ]] || version=$built
  [[ -n "$version" ]] || { echo "no source version of curl in the apt index" >&2; return 1; }
  echo "$version"
}

# curl_source_dir VERSION: prints the folder of the unpacked source (Debian's patches applied),
# fetched on the first call into the cache, where it replaces any other version. Builds
# configure it from a folder of their own and leave it untouched. Called in a command
# substitution, where errexit does not hold: every step is checked.
curl_source_dir() {
  local version=$1 store=$RALTO_CACHE_DIR/curl-source work
  if [[ ! -d "$store/$version" ]]; then
    mkdir -p "$store" && work=$(mktemp -d "$store/.fetch.XXXXXX") || return 1
    # Fetched aside and renamed into place, so that an interrupted fetch leaves nothing.
    if ! (cd "$work" && curl_source_apt apt-get source -qq "curl=$version") >&2; then
      rm -rf "$work"
      return 1
    fi
    find "$store" -mindepth 1 -maxdepth 1 -not -name "${work##*/}" -exec rm -rf {} + &&
      mv "$work" "$store/$version" || return 1
  fi
  local src
  src=$(find "$store/$version" -mindepth 1 -maxdepth 1 -type d -name 'curl-*' | head -n 1)
  [[ -n "$src" ]] && echo "$src"
}

# The options of every libcurl built here: a static library for HTTP and HTTPS (proxies kept),
# every other protocol and every optional library left out; a build adds its TLS back end.
curl_http_only_options=(
  --disable-shared --enable-static
  --without-zlib --without-brotli --without-zstd --without-libpsl --without-libidn2
  --without-nghttp2 --without-ngtcp2 --without-nghttp3 --without-libssh2 --without-librtmp
  --without-libgsasl --disable-ldap --disable-ldaps --disable-rtsp --disable-dict
  --disable-telnet --disable-tftp --disable-pop3 --disable-imap --disable-smb --disable-smtp
  --disable-gopher --disable-mqtt --disable-ftp --disable-file --disable-manual
  --disable-ntlm-wb
)

# curl_build_stamp VERSION TLS OPTION...: what a libcurl build is made of: the curl source
# version, the TLS library with its version, and the configure options.
curl_build_stamp() {
  local version=$1 tls=$2
  shift 2
  printf 'curl %s\ntls %s\noptions %s\n' "$version" "$tls" "$*"
}

# curl_build NAME PREFIX TLS OPTION...: the static libcurl in PREFIX, for HTTP and HTTPS only,
# configured with curl_http_only_options and the options (the TLS back end; for another
# machine, --host and its tools). Rebuilt when the curl source, TLS (the TLS library and its
# version) or the options differ from the stamp of the one there, and only then. Built aside
# and renamed into place: an interrupted build leaves the old library or none, never a part.
# curl_link lists what a program needs besides it: a system library's name, or a static
# archive's path (copied into PREFIX/lib, so that the prefix is whole). Uses $jobs jobs; the
# output goes to $RALTO_CACHE_DIR/NAME.log, shown only on failure.
curl_build() {
  local name=$1 prefix=$2 tls=$3 built version stamp
  shift 3
  set -- "${curl_http_only_options[@]}" "$@"
  built=$(sed -n 's/^curl //p' "$prefix/build.stamp" 2>/dev/null || true)
  version=$(curl_source_version "$built")
  stamp=$(curl_build_stamp "$version" "$tls" "$@")
  [[ "$(cat "$prefix/build.stamp" 2>/dev/null || true)" != "$stamp" ]] || return 0
  echo "$name: building libcurl $version ($tls) once"
  quietly "$RALTO_CACHE_DIR/$name.log" curl_build_aside "$prefix" "$version" "$tls" "$stamp" "$@"
}

curl_build_aside() {
  local prefix=$1 version=$2 tls=$3 stamp=$4 src work stage new item libraries=()
  shift 4
  src=$(curl_source_dir "$version")
  mkdir -p "$(dirname "$prefix")"
  rm -rf "$prefix".new.*
  work=$(mktemp -d)
  # Beside the prefix, so that the rename stays on one file system.
  stage=$(mktemp -d "$prefix.new.XXXXXX")
  new=$stage$prefix
  (cd "$work" && "$src/configure" -q --prefix="$prefix" "$@")
  make -s -C "$work/lib" -j "$jobs"
  make -s -C "$work/lib" install DESTDIR="$stage"
  make -s -C "$work/include" install DESTDIR="$stage"
  make -s -C "$work" install-pkgconfigDATA DESTDIR="$stage"
  rm -rf "$work"
  for item in "${curl_link[@]}"; do
    if [[ "$item" == /* ]]; then
      cp "$item" "$new/lib/"
      item="\${_curl_prefix}/lib/${item##*/}"
    fi
    libraries+=("$item")
  done
  curl_cmake_package "$new" "$version" "$tls" "${libraries[@]}"
  echo "$stamp" >"$new/build.stamp"
  if [[ -e "$prefix" ]]; then
    mv "$prefix" "$stage/old"
  fi
  mv "$new" "$prefix"
  rm -rf "$stage"
}

# curl_cmake_package PREFIX VERSION WHAT LIBRARY...: curl's own build leaves no CMake package;
# this one gives find_package(CURL) the static library in PREFIX with the define and the
# libraries it needs (a LIBRARY may name a file in the prefix as ${_curl_prefix}/lib/...).
curl_cmake_package() {
  local prefix=$1 version=$2 what=$3 libraries
  shift 3
  libraries=$(IFS=';' && echo "$*")
  mkdir -p "$prefix/lib/cmake/CURL"
  cat >"$prefix/lib/cmake/CURL/CURLConfig.cmake" <<PACKAGE
# libcurl $version, static, $what; written by scripts/${0##*/}.
get_filename_component(_curl_prefix "\${CMAKE_CURRENT_LIST_DIR}/../../.." ABSOLUTE)
if(NOT TARGET CURL::libcurl)
  add_library(CURL::libcurl STATIC IMPORTED)
  set_target_properties(CURL::libcurl PROPERTIES
    IMPORTED_LOCATION "\${_curl_prefix}/lib/libcurl.a"
    INTERFACE_INCLUDE_DIRECTORIES "\${_curl_prefix}/include"
    INTERFACE_COMPILE_DEFINITIONS CURL_STATICLIB
    INTERFACE_LINK_LIBRARIES "$libraries")
endif()
set(CURL_FOUND TRUE)
set(CURL_VERSION_STRING "${version%%-*}")
set(CURL_INCLUDE_DIRS "\${_curl_prefix}/include")
set(CURL_LIBRARIES CURL::libcurl)
PACKAGE
}

# curl_build_lean NAME PREFIX MBEDTLS_LIB MBEDTLS_VERSION [OPTION...]: the lean libcurl in
# PREFIX over the static mbedTLS whose archives are in the folder MBEDTLS_LIB (for another
# machine, --host, its tools and where its headers are come as the options). Besides the
# protocols and libraries every build leaves out: the CA bundle named (no folder of
# certificates), and the features only an option the program never sets turns on.
curl_build_lean() {
  local name=$1 prefix=$2 mbedtls_lib=$3 mbedtls_version=$4
  shift 4
  local options=(
    --disable-dependency-tracking
    --with-mbedtls="$prefix" --with-ca-bundle=/etc/ssl/certs/ca-certificates.crt --without-ca-path
    --disable-cookies --disable-mime --disable-netrc --disable-alt-svc --disable-hsts --disable-doh
    --disable-crypto-auth --disable-tls-srp --disable-unix-sockets --disable-headers-api
    --disable-get-easy-options --disable-verbose
  )
  # mbedTLS's archives go into the prefix, where no shared library stands beside them: whatever
  # links against the prefix (the program, libcurl.pc) takes them in.
  curl_link=("$mbedtls_lib"/libmbed{tls,x509,crypto}.a)
  curl_build "$name" "$prefix" "mbedTLS $mbedtls_version" "${options[@]}" "$@"
}
