# Debian packages the build and the tests need; sourced by scripts/run and scripts/test.
# One list for everything, so a fresh machine gets all of it in one apt-get run.
PIXMORA_PACKAGES="cmake ninja-build g++ clang libclang-rt-14-dev googletest libgtest-dev \
libbenchmark-dev libstb-dev libjpeg-dev libgif-dev libturbojpeg0-dev libjpeg-turbo-progs \
zlib1g-dev libz-mingw-w64-dev libpng-dev gcc-multilib g++-multilib lib32z1-dev qemu-user help2man \
mingw-w64 wine wine32 wine64 xvfb xdotool imagemagick python3"
# i386 packages need the foreign architecture first
PIXMORA_I386_PACKAGES="wine32"
# Set when the i386 packages could not be installed: the 32-bit core is then
# tested as a Linux program under qemu-i386, as on a machine that cannot
# start 32-bit programs.
PIXMORA_WITHOUT_WINE32=""

pixmora_missing_packages() {
    local missing="" p
    for p in $PIXMORA_PACKAGES; do
        case "$p" in
            wine32) dpkg-query -W -f='${Status}' "wine32:i386" 2>/dev/null | grep -q "install ok installed" || missing="$missing $p" ;;
            *) dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing="$missing $p" ;;
        esac
    done
    echo $missing
}

# apt-get update, tried a few times: a mirror in the middle of a sync serves
# index files of the wrong size for a while. After the last try the lists
# that did arrive are used.
pixmora_apt_update() {
    local try
    for try in 1 2 3 4; do
        apt-get update -qq && return 0
        echo "pixmora: apt-get update failed (try $try of 4)" >&2
        [ "$try" -lt 4 ] && sleep $((try * 5))
    done
    echo "pixmora: going on with the package lists that arrived" >&2
    return 0
}

# Installs what is missing when run as root; otherwise names it and fails.
pixmora_ensure_packages() {
    command -v dpkg-query >/dev/null 2>&1 || return 0   # not a Debian-like machine: trust the user
    local missing
    missing=$(pixmora_missing_packages)
    [ -z "$missing" ] && return 0
    if [ "$missing" = wine32 ] && [ "$(id -u)" != 0 ]; then
        echo "pixmora: wine32 (i386) is not installed; going on without it" >&2
        PIXMORA_WITHOUT_WINE32=1
        return 0
    fi
    if [ "$(id -u)" != 0 ]; then
        echo "pixmora: missing Debian packages: $missing" >&2
        echo "pixmora: install them as root, e.g.:" >&2
        echo "  dpkg --add-architecture i386 && apt-get update && apt-get install -y $missing" >&2
        return 1
    fi
    echo "pixmora: installing $missing"
    case " $missing " in
        *" wine32 "*) dpkg --print-foreign-architectures | grep -qx i386 || dpkg --add-architecture i386 ;;
    esac
    export DEBIAN_FRONTEND=noninteractive
    pixmora_apt_update
    local pkgs="" rest="" p
    for p in $missing; do
        if [ "$p" = wine32 ]; then
            pkgs="$pkgs wine32:i386"
        else
            pkgs="$pkgs $p"
            rest="$rest $p"
        fi
    done
    apt-get install -y -qq $pkgs && return 0
    # The i386 packages must have the amd64 ones' versions; when their list
    # is stale or missing they cannot be had: everything else still can.
    case " $missing " in
        *" wine32 "*)
            echo "pixmora: wine32 (i386) cannot be installed now; going on without it" >&2
            PIXMORA_WITHOUT_WINE32=1
            [ -z "${rest// /}" ] && return 0
            apt-get install -y -qq $rest || return 1 ;;
        *) return 1 ;;
    esac
}
