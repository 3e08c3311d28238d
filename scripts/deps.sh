# shellcheck shell=bash
# Sourced by the scripts: installs with apt-get whatever Debian package is
# missing, running 'apt-get update' only when something must be installed.
bf2_packages="cmake make g++ clang pkg-config libssh2-1-dev libssl-dev libcrypt-dev nlohmann-json3-dev libgtest-dev
  openssh-server openssh-client sshpass wget bzip2 gzip unzip zip tar makeself
  python3 python3-pytest python3-pytest-xdist passwd procps psmisc iproute2 dpkg-dev man-db gdb
  shellcheck clang-format dash util-linux"

ensure_packages() {
  local missing="" pkg
  for pkg in $bf2_packages "$@"; do
    if ! dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'ok installed'; then
      missing="$missing $pkg"
    fi
  done
  if [ -n "$missing" ]; then
    echo "installing:$missing"
    apt-get update -qq
    # shellcheck disable=SC2086 # one word per package
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends $missing
  fi
  mkdir -p /run/sshd
}
