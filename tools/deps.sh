# Sourced by run.sh and test.sh: installs the Debian packages the build, the program and the
# tests need, when any of them is missing.

DEPS=(
    cmake ninja-build g++ pkg-config
    qt6-base-dev libxcb1-dev
    libcurl4-openssl-dev libc-ares-dev libsqlite3-dev libmicrohttpd-dev libidn2-dev libpsl-dev publicsuffix
    libicu-dev
    libbenchmark-dev
    fonts-wqy-zenhei
    xvfb xauth openbox xdotool sqlite3 curl desktop-file-utils appstream dbus
)

install_missing() {
    local missing=()
    for pkg in "$@"; do
        dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "install ok installed" \
            || missing+=("$pkg")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    echo "Installing: ${missing[*]}"
    local sudo=()
    [ "$(id -u)" -ne 0 ] && sudo=(sudo)
    "${sudo[@]}" apt-get update -q
    DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -q --no-install-recommends \
        "${missing[@]}"
}

configure_and_build() {
    local dir=$1
    shift
    cmake -S . -B "$dir" -G Ninja "$@" >/dev/null
    cmake --build "$dir" --parallel
}
