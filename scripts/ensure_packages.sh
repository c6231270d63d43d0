# Sourced by run.sh and test.sh: installs the Debian packages that are missing
# and leaves apt alone when everything is there already.
ensure_packages() {
    local missing=()
    local package
    for package in "$@"; do
        if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed'; then
            missing+=("$package")
        fi
    done
    if [ ${#missing[@]} -eq 0 ]; then
        return 0
    fi
    echo "Installing missing packages: ${missing[*]}"
    local sudo=()
    if [ "$(id -u)" -ne 0 ]; then
        command -v sudo >/dev/null || { echo "Need root (or sudo) to install: ${missing[*]}" >&2; return 1; }
        sudo=(sudo)
    fi
    "${sudo[@]}" apt-get update -q
    DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}"
}

# What building and starting the program needs, on X11 and natively on Wayland
# (libxkbcommon-dev only spares a fresh build CMake's notice that Qt did not find it).
BUILD_PACKAGES=(cmake ninja-build g++ qt6-base-dev qt6-qpa-plugins qt6-wayland libgl-dev libxkbcommon-dev fonts-dejavu-core)
# What the tests need on top: GoogleTest, clang with its sanitizer and fuzzer
# runtimes, clang-tidy and clang-format, an X server, a keyboard and mouse
# driver and xwd (x11-apps), which grabs a window's pixels, a headless
# Wayland compositor for the end-to-end tests, a session bus with the AT-SPI
# accessibility bus, on which the window's tests hear what a screen reader
# would, and mkfs for the ext4 and XFS disk images the writer's tests mount.
TEST_PACKAGES=(googletest libgtest-dev clang libclang-rt-14-dev clang-tidy clang-format
               xvfb xauth xdotool x11-apps util-linux weston
               dbus at-spi2-core e2fsprogs xfsprogs)
# What ./build-windows.sh needs: CMake, Ninja and MinGW-w64 with posix threads.
WINDOWS_BUILD_PACKAGES=(cmake ninja-build g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64)
# What running the Windows programs under Wine needs on top: Wine (wine64
# runs the programs, wine gives the command), Wine's own fonts for the
# windows it draws, and the locale sources from which the window's tests
# define a Hebrew locale for the right-to-left run. The X server and xdotool
# are in TEST_PACKAGES, the dialog font (DejaVu Sans here) in BUILD_PACKAGES.
WINDOWS_PACKAGES=("${WINDOWS_BUILD_PACKAGES[@]}" wine64 wine fonts-wine locales)
