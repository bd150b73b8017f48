#!/bin/sh
# Installs the Debian packages the engine builds and tests against.
# Idempotent: asks apt only for what is missing, and updates the package
# lists only when something is.
set -eu

PACKAGES="
build-essential cmake ninja-build pkg-config git clang libclang-rt-14-dev
libsdl2-dev libegl-dev libgl-dev libegl-mesa0 libgl1-mesa-dri libglx-mesa0
glslang-dev glslang-tools spirv-cross libspirv-cross-c-shared-dev
liblua5.1-0-dev lua5.1
zlib1g-dev libjpeg62-turbo-dev libpng-dev
libogg-dev libvorbis-dev libtheora-dev
libgtest-dev libgmock-dev libbenchmark-dev libglm-dev
xvfb xauth
"

missing=""
for p in $PACKAGES; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
        missing="$missing $p"
    fi
done

if [ -z "$missing" ]; then
    echo "setup: all packages present"
    exit 0
fi

echo "setup: installing$missing"
SUDO=""
if [ "$(id -u)" != "0" ]; then SUDO="sudo"; fi
export DEBIAN_FRONTEND=noninteractive
# Another apt or an unattended upgrade may hold the package manager's locks:
# wait for them (up to ten minutes) rather than give up at once. apt waits
# for the dpkg lock itself; the package lists' lock it does not wait for,
# so an update refused for that lock alone is tried again.
LOCK_WAIT="-o DPkg::Lock::Timeout=600"
waited=0
while ! out=$($SUDO apt-get $LOCK_WAIT update -qq 2>&1); do
    if ! printf '%s' "$out" | grep -q "Could not get lock" || [ $waited -ge 600 ]; then
        printf '%s\n' "$out" >&2
        exit 1
    fi
    sleep 5
    waited=$((waited + 5))
done
[ -z "$out" ] || printf '%s\n' "$out"
$SUDO apt-get $LOCK_WAIT install -y -qq --no-install-recommends $missing
