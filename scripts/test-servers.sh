#!/usr/bin/env bash
# Starts (start) or stops (stop) the throwaway servers the tests talk to, on loopback only.
# `start` writes their addresses and credentials to build/test-servers.env, which the test
# command exports to the tests. `start bench` starts only what the benchmark talks to
# (PostgreSQL, QuestDB and one Zabbix 6.0 server): the others' idle work would be timed too.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/lib/common.sh
source scripts/lib/postgres.sh
source scripts/lib/questdb.sh
source scripts/lib/zabbix.sh
source scripts/lib/zabbix7.sh

env_file=build/test-servers.env

# NAME=VALUE, quoted for the shell.
env_line() { printf '%s=%q\n' "$1" "$2"; }

start() {
  local only_bench=${1:-}
  mkdir -p build
  [ -f "$env_file" ] && stop
  local dir
  dir=$(mktemp -d /tmp/sonda-servers.XXXXXX)
  chmod 755 "$dir"
  env_line SONDA_TEST_SERVERS_DIR "$dir" >"$env_file"

  pg_start "$dir/postgres"
  pg_load cobranca tests/fixtures/billing_schema.sql tests/fixtures/billing_fixture.sql
  pg_load "$PG_TLS_DATABASE" tests/fixtures/billing_schema.sql tests/fixtures/billing_fixture.sql
  {
    env_line SONDA_TEST_PG_HOST "$PG_HOST"
    env_line SONDA_TEST_PG_PORT "$PG_PORT"
    env_line SONDA_TEST_PG_SOCKET_DIR "$PG_SOCKET_DIR"
    env_line SONDA_TEST_PG_USER "$PG_USER"
    env_line SONDA_TEST_PG_PASSWORD "$PG_PASSWORD"
    env_line SONDA_TEST_PG_DATABASE cobranca
    env_line SONDA_TEST_PG_LOG "$PG_LOG"
    env_line SONDA_TEST_PG_TLS_DATABASE "$PG_TLS_DATABASE"
    env_line SONDA_TEST_PG_CA "$PG_CA"
    env_line SONDA_TEST_PG_OTHER_CA "$PG_OTHER_CA"
    env_line SONDA_TEST_FIXTURES "$PWD/tests/fixtures"
  } >>"$env_file"

  qdb_start "$dir/questdb"
  {
    env_line SONDA_TEST_QDB_HOST 127.0.0.1
    env_line SONDA_TEST_QDB_PORT "$QDB_PORT"
    env_line SONDA_TEST_QDB_TLS_HOST localhost
    env_line SONDA_TEST_QDB_TLS_PORT "$QDB_TLS_PORT"
    env_line SONDA_TEST_QDB_USER "$QDB_USER"
    env_line SONDA_TEST_QDB_PASSWORD "$QDB_PASSWORD"
    env_line SONDA_TEST_QDB_CA "$QDB_CA"
  } >>"$env_file"

  # The probe as an external check of the Zabbix server, as an operator installs it.
  mkdir -p "$dir/logs"
  SSL_CERT_FILE=$QDB_CA SONDA_LOG_DIR=$dir/logs zbx_start "$dir/zabbix" tests/fixtures/zabbix_host.sql \
    tests/fixtures/zabbix_tls_hosts.sql
  ln -sf "$PWD/build/sonda-cobranca" "$ZBX_SCRIPTS/sonda-cobranca"
  {
    env_line SONDA_TEST_ZBX_SERVER "127.0.0.1:$ZBX_PORT"
    env_line SONDA_TEST_ZBX_CONF "$ZBX_CONF"
    env_line SONDA_TEST_ZBX_CONTROL "$(command -v zabbix_server)"
    env_line SONDA_TEST_ZBX_DATABASE zabbix
    env_line SONDA_TEST_ZBX_HOST sonda-teste
    env_line SONDA_TEST_LOG_DIR "$dir/logs"
    env_line SONDA_TEST_ZBX_PSK_HOST sonda-psk
    env_line SONDA_TEST_ZBX_CERT_HOST sonda-cert
    env_line SONDA_TEST_ZBX_TLS_DIR "$ZBX_TLS"
    env_line SONDA_TEST_ZBX_PSK_IDENTITY "$ZBX_PSK_IDENTITY"
    env_line SONDA_TEST_ZBX_SERVER_SUBJECT "$ZBX_SERVER_SUBJECT"
    env_line SONDA_TEST_ZBX_CA_SUBJECT "$ZBX_CA_SUBJECT"
  } >>"$env_file"
  if [ "$only_bench" = bench ]; then
    echo "Servidores do benchmark prontos ($env_file)."
    return
  fi
  zbx_frontend_start "$dir/zabbix"
  env_line SONDA_TEST_ZBX_API "http://127.0.0.1:$ZBX_WEB_PORT/api_jsonrpc.php" >>"$env_file"

  # A cluster of two Zabbix 6.0 nodes, for the failover test alone.
  zbx_ha_start "$dir/zabbix-ha"
  {
    env_line SONDA_TEST_ZBX_HA_DATABASE zabbix_ha
    env_line SONDA_TEST_ZBX_HA_A_DIR "$dir/zabbix-ha/node-a"
    env_line SONDA_TEST_ZBX_HA_A_SERVER "127.0.0.1:$ZBX_HA_A_PORT"
    env_line SONDA_TEST_ZBX_HA_B_DIR "$dir/zabbix-ha/node-b"
    env_line SONDA_TEST_ZBX_HA_B_SERVER "127.0.0.1:$ZBX_HA_B_PORT"
  } >>"$env_file"

  # Zabbix 7.0 LTS, with the same hosts, its own external checks' log folder and two proxies
  # for a proxy group.
  zbx7_install
  mkdir -p "$dir/logs7"
  SSL_CERT_FILE=$QDB_CA SONDA_LOG_DIR=$dir/logs7 zbx7_start "$dir/zabbix7" \
    tests/fixtures/zabbix_host.sql tests/fixtures/zabbix_tls_hosts.sql
  ln -sf "$PWD/build/sonda-cobranca" "$ZBX7_SCRIPTS/sonda-cobranca"
  zbx7_frontend_start "$dir/zabbix7"
  zbx7_proxies_start "$dir/zabbix7"
  {
    env_line SONDA_TEST_ZBX7_SERVER "127.0.0.1:$ZBX7_PORT"
    env_line SONDA_TEST_ZBX7_CONF "$ZBX7_CONF"
    env_line SONDA_TEST_ZBX7_CONTROL "$ZBX7_CONTROL"
    env_line SONDA_TEST_ZBX7_LOG "$ZBX7_LOG"
    env_line SONDA_TEST_ZBX7_DATABASE zabbix7
    env_line SONDA_TEST_ZBX7_API "http://127.0.0.1:$ZBX7_WEB_PORT/api_jsonrpc.php"
    env_line SONDA_TEST_ZBX7_LOG_DIR "$dir/logs7"
    env_line SONDA_TEST_ZBX7_PROXY_A "127.0.0.1:$ZBX7_PROXY_A_PORT"
    env_line SONDA_TEST_ZBX7_PROXY_B "127.0.0.1:$ZBX7_PROXY_B_PORT"
  } >>"$env_file"
  echo "Servidores de teste prontos ($env_file)."
}

stop() {
  [ -f "$env_file" ] || return 0
  local dir
  dir=$(sed -n 's/^SONDA_TEST_SERVERS_DIR=//p' "$env_file")
  if [ -n "$dir" ] && [ -d "$dir" ]; then
    zbx7_stop "$dir/zabbix7"
    zbx_ha_stop "$dir/zabbix-ha"
    zbx_stop "$dir/zabbix"
    qdb_stop "$dir/questdb"
    pg_stop "$dir/postgres"
    rm -rf "$dir"
  fi
  rm -f "$env_file"
}

case "${1:-}" in
  start) start "${2:-}" ;;
  stop) stop ;;
  *) echo "uso: $0 start [bench]|stop" >&2; exit 2 ;;
esac
