#!/usr/bin/env bash
# Installs the Debian packages Pagelume needs to build, test and run.
# Asks apt only for what is missing; uses sudo when not root.
set -euo pipefail

PACKAGES=(
  build-essential cmake pkg-config
  zlib1g-dev libssl-dev libxml2-dev
  qt6-base-dev qt6-svg-dev qt6-qpa-plugins libgl-dev
  libgtest-dev
  qpdf poppler-utils ghostscript libimage-exiftool-perl
)

missing=()
for pkg in "${PACKAGES[@]}"; do
  status=$(dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null || true)
  [[ "$status" == "install ok installed" ]] || missing+=("$pkg")
done

if ((${#missing[@]} == 0)); then
  exit 0
fi

echo "Installing missing packages: ${missing[*]}"
SUDO=()
if [[ $(id -u) -ne 0 ]]; then
  if ! command -v sudo >/dev/null; then
    echo "These packages are missing and this is not root: ${missing[*]}. Run ./run.sh or ./test.sh as root, or install them first." >&2
    exit 1
  fi
  SUDO=(sudo)
fi
export DEBIAN_FRONTEND=noninteractive
"${SUDO[@]}" apt-get update -q
"${SUDO[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}"
