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
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends $missing
