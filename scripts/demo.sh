#!/usr/bin/env bash
# First run on a fresh machine: installs what the build needs, builds, starts a throwaway
# PostgreSQL loaded with a small sample ISP (200 customers) and runs the probe on it in debug
# mode, which prints the customer table and the totals and sends nothing.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/lib/common.sh
source scripts/lib/postgres.sh

scripts/install-dependencies.sh demo
scripts/build.sh build >/dev/null

dir=$(mktemp -d /tmp/sonda-demo.XXXXXX)
chmod 755 "$dir"
trap 'pg_stop "$dir/postgres"; rm -rf "$dir"' EXIT
pg_start "$dir/postgres"
pg_load provedor tests/fixtures/billing_schema.sql
build/isp-generator 200 | pg_psql -d provedor >/dev/null

echo "\$ sonda-cobranca version"
build/sonda-cobranca version
echo
echo "\$ sonda-cobranca discovery_clientes - $PG_HOST $PG_PORT provedor $PG_USER '***' 1 ... debug"
build/sonda-cobranca discovery_clientes - "$PG_HOST" "$PG_PORT" provedor "$PG_USER" \
  "$PG_PASSWORD" 1 - - - - - - - - debug
echo
echo "Para a execução normal, com Zabbix e QuestDB locais: scripts/demo-full.sh"
