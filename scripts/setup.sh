#!/usr/bin/env bash
# Installs every Debian package that building, testing and running Olvex Manager needs.
# Idempotent: packages already present are left alone. As root it runs apt-get; as anyone
# else it names what is missing and how to install it, and fails.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config git
  libarchive-dev libssl-dev libicu-dev nlohmann-json3-dev uuid-dev zlib1g-dev
  libyaml-cpp-dev libprotobuf-dev protobuf-compiler
  qt6-base-dev qt6-declarative-dev qml6-module-qtquick qml6-module-qtquick-controls
  qml6-module-qtquick-layouts qml6-module-qtquick-window qml6-module-qtquick-templates
  qml6-module-qtquick-dialogs qml6-module-qtqml-workerscript qml6-module-qtqml-models qml6-module-qtqml
  qcoro-qt6-dev fonts-noto-cjk breeze-icon-theme libqt6svg6 qt6-translations-l10n
  libgtest-dev libgmock-dev libbenchmark-dev
  clang libclang-rt-14-dev clang-format
  libarchive-tools xvfb xauth xdotool bzip2 openssl
  librsvg2-bin desktop-file-utils appstream lua5.1 bindfs
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

if [ "$(id -u)" -ne 0 ]; then
  echo "缺少以下软件包：${missing[*]}" >&2
  echo "请以 root 身份运行：apt-get install -y ${missing[*]}" >&2
  exit 1
fi

export DEBIAN_FRONTEND=noninteractive
apt-get update -q
apt-get install -y -q --no-install-recommends "${missing[@]}"
