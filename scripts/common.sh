# Shared by the project's scripts: installs what is missing and builds a preset.
# shellcheck shell=bash

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$ROOT"

# What building and testing need on Debian 12.
BUILD_PACKAGES=(cmake ninja-build g++ qt6-base-dev qt6-base-dev-tools libgl-dev zlib1g-dev qt6-svg-dev
    clang-format pkgconf libssh-dev libarchive-dev acl
    # The remote tests start Debian's sshd on 127.0.0.1, make keys and an agent with the client's
    # tools, and hold a world's lock with perl.
    openssh-server openssh-client perl)
# The tests read the Trash's records back with trash-list, a reader independent of ours.
BUILD_PACKAGES+=(trash-cli)
# What building the Debian package (dpkg-shlibdeps, file) and checking the desktop entry and
# metainfo need.
PACKAGE_PACKAGES=(dpkg-dev file desktop-file-utils appstream)

# ensure_packages PKG...: installs the packages that are not installed yet, as root or through sudo.
ensure_packages() {
    local missing=()
    local pkg
    for pkg in "$@"; do
        dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'install ok installed' ||
            missing+=("$pkg")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    local sudo=()
    if [ "$(id -u)" -ne 0 ]; then
        if command -v sudo >/dev/null 2>&1; then
            sudo=(sudo)
        else
            echo "Missing Debian packages: ${missing[*]}" >&2
            echo "Install them as root: apt-get install ${missing[*]}" >&2
            exit 1
        fi
    fi
    echo "Installing: ${missing[*]}"
    "${sudo[@]}" apt-get update -qq
    DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -qq --no-install-recommends \
        "${missing[@]}" >/dev/null
}

# build PRESET: configures (once) and builds with a CMake preset.
build() {
    local preset="$1"
    [ -f "build/$preset/build.ninja" ] || cmake --preset "$preset" >/dev/null
    cmake --build --preset "$preset"
}
