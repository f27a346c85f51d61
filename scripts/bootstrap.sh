#!/usr/bin/env bash
# Installs every Debian package that the build, the program and the tests need.
# Idempotent: apt-get update runs only when something is missing.
set -euo pipefail
packages=(
  build-essential cmake ninja-build pkg-config git
  qt6-base-dev qt6-base-dev-tools qt6-qpa-plugins libqt6sql6-sqlite libqt6sql6-odbc libgl-dev
  qt6-multimedia-dev
  libcurl4-openssl-dev libpcre2-dev libsimpleini-dev libicu-dev
  libcpp-httplib-dev libssl-dev zlib1g-dev libbrotli-dev libcli11-dev nlohmann-json3-dev
  unixodbc unixodbc-dev odbc-postgresql tdsodbc postgresql
  libgtest-dev libgmock-dev googletest libbenchmark-dev
  fonts-wqy-zenhei qt6-translations-l10n xdg-utils
)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if ((${#missing[@]})); then
  sudo_cmd=()
  [ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
  echo "bootstrap: installing ${missing[*]}"
  "${sudo_cmd[@]}" apt-get update -qq
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
