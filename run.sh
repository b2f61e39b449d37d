#!/usr/bin/env bash
# Sets up a Debian 12 machine, builds Pagelume and starts it.
# Arguments are passed to the program (a PDF file to open).
set -euo pipefail
cd "$(dirname "$0")"
./scripts/setup.sh

jobs=$(nproc 2>/dev/null || echo 2)
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build -j"$jobs"

if [[ -x build/pagelume ]]; then
  if [[ -z "${DISPLAY:-}" && -z "${WAYLAND_DISPLAY:-}" && "${QT_QPA_PLATFORM:-}" != offscreen ]]; then
    echo "There is no display here to show the Pagelume window; use the command-line tool instead, for example: build/pagelume-cli info FILE.pdf (build/pagelume-cli --help lists every command)." >&2
    exit 1
  fi
  exec build/pagelume "$@"
fi
exec build/pagelume-cli "${@:---help}"
