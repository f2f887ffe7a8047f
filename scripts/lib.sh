# Shared by the scripts: package installation and builds.
# shellcheck shell=bash
set -euo pipefail

TOP=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
JOBS=${JOBS:-$(nproc 2>/dev/null || echo 2)}

PACKAGES=(
  cmake ninja-build g++ ccache pkg-config git
  qtbase5-dev qtbase5-dev-tools libqt5serialport5-dev
  libopencv-dev libtiff-dev libtiff-tools libjpeg-dev libpng-dev libusb-1.0-0-dev libsdl1.2-dev libx11-dev
  libavcodec-dev libavformat-dev libavutil-dev libswscale-dev libswresample-dev ffmpeg
  libbenchmark-dev
  python3-pil
  xvfb xauth x11vnc x11-utils imagemagick fonts-dejavu-core
  python3 python3-numpy python3-tifffile python3-opencv python3-scipy
)

as_root() {
  if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi
}

# Installs the Debian packages that are missing, and nothing else.
ensure_packages() {
  local missing=() p
  for p in "${PACKAGES[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
  done
  if [ ${#missing[@]} -gt 0 ]; then
    echo "== installing: ${missing[*]}"
    as_root env DEBIAN_FRONTEND=noninteractive apt-get update -q
    as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "${missing[@]}"
  fi
}

# build DIR TYPE [cmake options...] [-- targets...]: configures and builds the targets named
# after "--", or everything.
build() {
  local dir=$1 type=$2 options=() targets=()
  shift 2
  while [ $# -gt 0 ] && [ "$1" != -- ]; do options+=("$1"); shift; done
  [ $# -gt 0 ] && shift && targets=(--target "$@")
  export CCACHE_DIR=${CCACHE_DIR:-$HOME/.cache/vantor-ccache}
  export CCACHE_MAXSIZE=${CCACHE_MAXSIZE:-5G}
  cmake -S "$TOP" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE="$type" "${options[@]}" >/dev/null
  cmake --build "$dir" -j "$JOBS" "${targets[@]}"
}

# Starts Xvfb (and, with "vnc", x11vnc on localhost) when there is no X display.
ensure_display() {
  if [ -n "${DISPLAY:-}" ] && xdpyinfo >/dev/null 2>&1; then
    return
  fi
  local n=99
  while [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ]; do n=$((n + 1)); done
  # Its own session: a signal to the caller's process group must not take the display from an
  # application that is still closing.
  setsid Xvfb ":$n" -screen 0 1920x1080x24 -nolisten tcp >/dev/null 2>&1 &
  XVFB_PID=$!
  export DISPLAY=":$n"
  for _ in $(seq 50); do xdpyinfo >/dev/null 2>&1 && break; sleep 0.1; done
  if [ "${1:-}" = vnc ]; then
    local port=$((5900 + n - 99))
    x11vnc -display "$DISPLAY" -localhost -forever -shared -nopw -quiet -rfbport "$port" -bg >/dev/null 2>&1 || true
    echo "== no X display: running on Xvfb $DISPLAY (1920x1080)."
    echo "== connect a VNC viewer to localhost:$port (for example: vncviewer localhost:$port;"
    echo "   from another machine: ssh -L $port:localhost:$port THIS-HOST, then localhost:$port)."
  fi
}

stop_display() {
  [ -n "${XVFB_PID:-}" ] && kill "$XVFB_PID" 2>/dev/null || true
}
