#!/usr/bin/env bash
# Installs every Debian 12 package that the build, the tests and the application need,
# then configures and builds the project. Safe to run again.
set -euo pipefail
cd "$(dirname "$0")"

packages=(
  build-essential cmake ninja-build pkg-config clang-format python3 clang-14 libclang-rt-14-dev
  qt6-base-dev qt6-base-dev-tools libqt6svg6-dev libgl-dev
  libmpv-dev
  ffmpeg libavformat-dev libavcodec-dev libavutil-dev libswscale-dev libswresample-dev libavfilter-dev
  nlohmann-json3-dev libssl-dev openssl libicu-dev
  libgtest-dev libgmock-dev googletest
  qt6-translations-l10n fonts-noto-cjk fonts-noto-color-emoji fonts-dejavu-core espeak-ng sox libsox-fmt-all xvfb xauth libxml2-utils strace
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
  sudo_cmd=()
  [ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
  "${sudo_cmd[@]}" apt-get update -qq
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

cmake --preset default >/dev/null
cmake --build --preset default -j"$(nproc)"
