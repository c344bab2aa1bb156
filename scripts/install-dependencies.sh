#!/usr/bin/env bash
# Installs, from Debian 12's packages, what the project needs. Safe to run again: packages
# already present are not fetched twice.
#   scripts/install-dependencies.sh demo   building the probe, and PostgreSQL for the demo
#   scripts/install-dependencies.sh        everything: the test servers and tools as well
set -euo pipefail

packages=(
  # build
  build-essential cmake ninja-build pkg-config
  libpq-dev libcurl4-openssl-dev libssl-dev nlohmann-json3-dev libgtest-dev zlib1g-dev
  # time zones: the library, and the zones it reads
  libcctz-dev tzdata
  # the demo's database, and openssl for its TLS certificate
  postgresql openssl
)
if [ "${1:-all}" != demo ]; then
  packages+=(
    clang-format
    # test servers: QuestDB (a Java server from Maven Central) behind nginx for TLS
    default-jre-headless maven nginx openssl curl
    # test servers: Zabbix 6.0, and zabbix_sender (in zabbix-agent) to compare frames with
    zabbix-server-pgsql zabbix-agent
    # the Zabbix web frontend, for its API (served by PHP's built-in server), and a browser that
    # shows its pages to the tests; the frontend wants the locale of its language
    zabbix-frontend-php php-cli php-cgi php-pgsql chromium fonts-dejavu-core locales
    # test servers: Zabbix 7.0 LTS, from Debian 13's packages in a system of its own
    debootstrap
    # the Zabbix sizing runs read the server's statistics and drive its API with jq
    jq
    # packaging and the manual page check
    dpkg-dev man-db groff-base
  )
fi

missing=()
for package in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" ||
    missing+=("$package")
done

sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
if [ ${#missing[@]} -gt 0 ]; then
  echo "Instalando: ${missing[*]}"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends \
    "${missing[@]}" >/dev/null
fi

# The frontend's pages in English and in Brazilian Portuguese, as the tests see them.
if [ "${1:-all}" != demo ]; then
  for language in en_US pt_BR; do
    locale -a | grep -qx "$language.utf8" || $sudo localedef -i "$language" -f UTF-8 "$language.UTF-8"
  done
fi

# Zabbix 7.0 LTS for the tests: built once, then kept under /var/cache/sonda-cobranca.
if [ "${1:-all}" != demo ]; then
  $sudo bash -c 'cd "$1" && source scripts/lib/zabbix7.sh && zbx7_install' _ "$(cd "$(dirname "$0")/.." && pwd)"
fi
