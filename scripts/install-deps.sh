#!/usr/bin/env bash
# Installs the Debian packages the project needs, only those that are missing.
# Idempotent and quiet when everything is there. Usage:
#   scripts/install-deps.sh [build] [desktop] [test] [fuzz] [bench] [demo] [package]
#   (default: build desktop test)
set -euo pipefail

groups=("$@")
[ ${#groups[@]} -gt 0 ] || groups=(build desktop test)

pkgs=()
for g in "${groups[@]}"; do
  case "$g" in
    build) pkgs+=(g++ cmake ninja-build make pkg-config libssl-dev) ;;
    # The window and tray icon (Qt 6 Widgets), a font with Chinese glyphs,
    # and an X server for the tests of the window.
    desktop) pkgs+=(qt6-base-dev qt6-qpa-plugins fonts-noto-cjk xvfb xauth) ;;
    test) pkgs+=(libgtest-dev libgmock-dev) ;;
    fuzz) pkgs+=(clang-14 libclang-rt-14-dev) ;;
    bench) pkgs+=(curl lftp time) ;;
    demo) pkgs+=(python3 python3-pyftpdlib) ;;
    # cpack's dependency list, and the account the package's postinst makes.
    package) pkgs+=(dpkg-dev adduser) ;;
    *) echo "install-deps: unknown group '$g'" >&2; exit 2 ;;
  esac
done

missing=()
for p in "${pkgs[@]}"; do
  status=$(dpkg-query -W -f='${Status}' "$p" 2>/dev/null || true)
  [ "$status" = "install ok installed" ] || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

if [ "$(id -u)" -ne 0 ]; then
  echo "install-deps: missing packages: ${missing[*]} (run as root, or install them)" >&2
  exit 1
fi
echo "install-deps: installing ${missing[*]}" >&2
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq >/dev/null
apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
