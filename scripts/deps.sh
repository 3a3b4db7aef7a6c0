# Debian packages the build and the tests need; sourced by scripts/run and scripts/test.
# One list for everything, so a fresh machine gets all of it in one apt-get run.
PIXMORA_PACKAGES="cmake ninja-build g++ clang libclang-rt-14-dev googletest libgtest-dev \
libbenchmark-dev libstb-dev libjpeg-dev libgif-dev libturbojpeg0-dev libjpeg-turbo-progs mingw-w64 wine wine32 wine64 xvfb xdotool imagemagick python3 help2man"
# i386 packages need the foreign architecture first
PIXMORA_I386_PACKAGES="wine32"

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

# Installs what is missing when run as root; otherwise names it and fails.
pixmora_ensure_packages() {
    command -v dpkg-query >/dev/null 2>&1 || return 0   # not a Debian-like machine: trust the user
    local missing
    missing=$(pixmora_missing_packages)
    [ -z "$missing" ] && return 0
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
    apt-get update -qq || return 1
    local pkgs="" p
    for p in $missing; do
        [ "$p" = wine32 ] && p="wine32:i386"
        pkgs="$pkgs $p"
    done
    apt-get install -y -qq $pkgs || return 1
}
