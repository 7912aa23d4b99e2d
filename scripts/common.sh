# Shared by scripts/run and scripts/test: installs the Debian packages the build needs
# (only those missing, so a prepared machine starts at once) and builds the project.
set -euo pipefail

MORV_ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
MORV_BUILD="${MORV_BUILD:-$MORV_ROOT/build}"

# The user guide and its pictures of the window are set in DejaVu, whatever the desktop's fonts.
MORV_PACKAGES=(qtbase5-dev qtbase5-dev-tools libqt5svg5-dev qttools5-dev-tools libxxhash-dev cmake g++
               ninja-build fonts-dejavu-core)

morv_as_root() {
    if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi
}

morv_install_packages() {
    local missing=()
    local pkg
    for pkg in "${MORV_PACKAGES[@]}" "$@"; do
        if ! dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'install ok installed'; then
            missing+=("$pkg")
        fi
    done
    if [ "${#missing[@]}" -gt 0 ]; then
        echo "Installing: ${missing[*]}"
        morv_as_root apt-get update -qq
        morv_as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}"
    fi
}

morv_build() {
    cmake -S "$MORV_ROOT" -B "$MORV_BUILD" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@"
    cmake --build "$MORV_BUILD" --parallel "$(nproc)"
}
