# Package lists and the installer shared by the scripts (sourced, not run).

# What building and running the receiver needs.
ZEL_RUN_PACKAGES=(
  cmake g++ ninja-build pkg-config
  qt6-base-dev libgl-dev libxcb1-dev
  libasound2-dev libasound2-plugins libpulse-dev
  libsndfile1-dev libsoxr-dev
  libmosquitto-dev libsqlite3-dev libmicrohttpd-dev
  fonts-dejavu-core
)

# What the test suite needs on top: a virtual display and a reader of the text selected
# on it, a private sound server, test frameworks, the reference decoder the benchmarks
# compare against, the tools that make and check the Debian package, its manual pages
# and its desktop entry, and a private MQTT broker with its clients and a certificate
# made on the spot, the sqlite3 shell the store's tests read it with, and a browser
# without a display (driven from Python) for the web page.
ZEL_TEST_PACKAGES=(
  libgtest-dev libgmock-dev libbenchmark-dev
  xvfb xauth x11-utils xdotool xclip imagemagick libx11-dev
  pulseaudio pulseaudio-utils alsa-utils
  multimon-ng
  dpkg-dev file fakeroot lintian man-db appstream desktop-file-utils
  mosquitto mosquitto-clients openssl
  sqlite3
  chromium python3-websocket
)

# Installs whichever of the given packages are missing; does nothing when all are there.
zel_install_missing() {
  local missing=()
  local pkg
  for pkg in "$@"; do
    if ! dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "install ok installed"; then
      missing+=("$pkg")
    fi
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  local sudo=()
  [ "$(id -u)" -ne 0 ] && sudo=(sudo)
  echo "Installing: ${missing[*]}"
  "${sudo[@]}" apt-get update -qq
  DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y --no-install-recommends "${missing[@]}"
}
