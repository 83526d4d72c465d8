#!/usr/bin/env bash
# Installs the Debian packages the build, tests and demo need. Quick and
# silent when everything is already present.
set -euo pipefail

packages=(
  build-essential cmake pkg-config git
  libjpeg62-turbo-dev libcjson-dev libpng-dev
  libgtest-dev libgmock-dev libbenchmark-dev libeigen3-dev
  libopencv-videoio-dev libopencv-imgproc-dev libopencv-features2d-dev libopencv-calib3d-dev
  libgl-dev libegl-dev libgl1-mesa-dri libegl-mesa0 libosmesa6-dev libglfw3-dev xvfb xauth
  clang libclang-rt-14-dev libfuzzer-14-dev
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

echo "bootstrap: installing ${missing[*]}"
sudo_cmd=""
if [ "$(id -u)" -ne 0 ]; then sudo_cmd="sudo"; fi
export DEBIAN_FRONTEND=noninteractive
$sudo_cmd apt-get update -qq
$sudo_cmd apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
echo "bootstrap: done"
