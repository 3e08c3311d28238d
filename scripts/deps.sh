# Sourced by the scripts: installs with apt-get whatever Debian package is
# missing, running 'apt-get update' only when something must be installed.
bf2_packages="cmake make g++ clang pkg-config libssh2-1-dev libcrypt-dev libgtest-dev
  openssh-server openssh-client sshpass wget bzip2 gzip unzip zip tar makeself
  python3 python3-pytest python3-pytest-xdist passwd procps psmisc iproute2 dpkg-dev man-db gdb"

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
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends $missing
  fi
  # The tests bind sshd to port 22 of loopback addresses; a system sshd
  # listening on the wildcard address would take them all.  It is stopped
  # for the run only (sessions already open stay up) and started again by
  # restore_system_sshd.
  if ss -ltn 'sport = :22' | grep -q -E '(0\.0\.0\.0|\*|\[::\]):22'; then
    echo "stopping the system sshd for this run: it holds port 22 on every address"
    if command -v systemctl >/dev/null && systemctl is-active -q ssh 2>/dev/null; then
      systemctl stop ssh.socket ssh 2>/dev/null || true
    else
      /etc/init.d/ssh stop >/dev/null 2>&1 || true
    fi
    bf2_stopped_sshd=1
  fi
  mkdir -p /run/sshd
}

restore_system_sshd() {
  if [ "${bf2_stopped_sshd:-}" = 1 ]; then
    echo "starting the system sshd again"
    if command -v systemctl >/dev/null && systemctl list-units -q ssh.service >/dev/null 2>&1; then
      systemctl start ssh 2>/dev/null || /etc/init.d/ssh start >/dev/null 2>&1 || true
    else
      /etc/init.d/ssh start >/dev/null 2>&1 || true
    fi
    bf2_stopped_sshd=
  fi
}
