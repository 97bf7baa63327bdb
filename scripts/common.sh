# Shared by scripts/run, scripts/test and bench/run.sh, so every entry point installs and
# configures the same way. Sourced, never run on its own.

repoRoot=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
jobs=$(nproc)
releaseDir=$repoRoot/build/release

# What building the window and the command-line program needs on Debian 12. GoogleTest is in
# it because the release folder is configured with its tests, so the window and the test
# suite share one build. ISA-L computes the recovery parts; pkg-config finds it. libssl-dev
# brings libcrypto's SHA-256. libxkbcommon-dev is what Qt's CMake files look for when they are
# found (without it every configure prints "Could NOT find XKB"). gettext's xgettext and msgfmt
# build the translations; qt6-translations-l10n holds Qt's own words (file dialogs) in them.
buildPackages=(cmake g++ ninja-build pkg-config qt6-base-dev libgtest-dev libgmock-dev
               libisal-dev libssl-dev libxkbcommon-dev gettext qt6-translations-l10n)

# Everything the test suite needs on top: a display, a window manager and ImageMagick for the
# screenshots, xwininfo and xprop to measure the framed window, clang with libFuzzer, clang-format, and dpkg-shlibdeps, file and
# desktop-file-validate for the package test, GLib's Python binding (the desktop entry must load
# the way GNOME loads it), appstreamcli for the software centres' metainfo, lintian for
# Debian's own checks of the package, and the shared MIME database tools and xdg-mime (which
# reads the database through File::MimeInfo) for its check of the broken files' type.
# The file-system matrix (tests/fs_matrix) adds the FUSE drivers of removable media and their
# mkfs tools: exFAT, FAT32 and NTFS images, mounted through /dev/fuse (fuse3's fusermount).
# A set's recipients check and join it with their own tools: busybox (sh, sha256sum), 7-Zip
# (7zz), uutils (rust-coreutils), Perl's shasum, under dash.
testPackages=("${buildPackages[@]}" xvfb xauth openbox x11-utils imagemagick clang
              libclang-rt-14-dev clang-format dpkg-dev file desktop-file-utils shared-mime-info
              xdg-utils libfile-mimeinfo-perl python3-gi gir1.2-glib-2.0 appstream lintian
              exfat-fuse exfatprogs fusefat dosfstools ntfs-3g fuse3
              busybox 7zip rust-coreutils dash perl)

say() { printf '==> %s\n' "$*"; }

missingPackages() {
    local package
    for package in "$@"; do
        dpkg-query -W -f='${db:Status-Abbrev}' "$package" 2>/dev/null | grep -q '^ii' ||
            echo "$package"
    done
}

# Root runs apt-get itself; anyone else goes through sudo, and only for apt-get. sudo resets
# the environment, hence env inside it.
asRoot() {
    if [ "$(id -u)" -eq 0 ]; then
        "$@"
    elif command -v sudo >/dev/null 2>&1; then
        sudo "$@"
    else
        echo "Installing packages needs root or sudo: $*" >&2
        return 1
    fi
}

# Installs those of the given Debian packages that are not installed yet.
ensurePackages() {
    local missing
    mapfile -t missing < <(missingPackages "$@")
    [ "${#missing[@]}" -eq 0 ] && return 0
    say "Installing ${missing[*]}"
    asRoot env DEBIAN_FRONTEND=noninteractive apt-get update -q &&
        asRoot env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends \
            "${missing[@]}"
}

# configureBuild DIR CMAKE_ARGS...: a new folder gets Ninja; an existing one keeps the
# generator it was made with, since CMake refuses to switch.
configureBuild() {
    local dir=$1
    shift
    local generator=()
    [ -f "$dir/CMakeCache.txt" ] || generator=(-G Ninja)
    cmake -S "$repoRoot" -B "$dir" "${generator[@]}" "$@"
}

# The optimised, warnings-as-errors build shared by the window, the benchmark and the tests.
# -O2 rather than CMake's -O3, as Debian builds its packages: the programs tested, measured
# and packaged here are built the way a distribution would build them.
configureRelease() {
    configureBuild "$releaseDir" -DCMAKE_BUILD_TYPE=Release \
        "-DCMAKE_CXX_FLAGS_RELEASE=-O2 -DNDEBUG" -DTOLVAR_WERROR=ON
}

# True when the configured folder DIR knows a build target named TARGET.
hasTarget() {
    local targets
    targets=$(cmake --build "$1" --target help 2>/dev/null) || return 1
    grep -Eq "(^|[[:space:]])$2(:|[[:space:]]|$)" <<<"$targets"
}
