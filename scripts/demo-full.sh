#!/usr/bin/env bash
# The probe's normal run, on this machine: starts PostgreSQL with a sample ISP, QuestDB (behind
# an HTTPS proxy) and Zabbix 6.0 with its web frontend, runs the probe twice (the first run's
# discovery document makes Zabbix create one item pair per customer; the second fills them) and
# shows where the results are. The servers keep running; `scripts/test-servers.sh stop` ends
# them.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-dependencies.sh
scripts/build.sh build >/dev/null
scripts/test-servers.sh start
set -a
source build/test-servers.env
set +a
source scripts/lib/common.sh
source scripts/lib/postgres.sh
PG_HOST=$SONDA_TEST_PG_HOST PG_PORT=$SONDA_TEST_PG_PORT PG_USER=$SONDA_TEST_PG_USER
PG_PASSWORD=$SONDA_TEST_PG_PASSWORD
PGOPTIONS="-c client_min_messages=warning" pg_psql -d postgres -c "DROP DATABASE IF EXISTS provedor"
pg_load provedor tests/fixtures/billing_schema.sql
build/isp-generator 200 | pg_psql -d provedor >/dev/null

host=$SONDA_TEST_ZBX_HOST
run_probe() {
  echo "\$ sonda-cobranca discovery_clientes - ... $host"
  SONDA_ZABBIX_SERVER=$SONDA_TEST_ZBX_SERVER SSL_CERT_FILE=$SONDA_TEST_QDB_CA \
    build/sonda-cobranca discovery_clientes - "$PG_HOST" "$PG_PORT" provedor "$PG_USER" \
    "$PG_PASSWORD" 1 "$SONDA_TEST_QDB_TLS_HOST" "$SONDA_TEST_QDB_TLS_PORT" "$SONDA_TEST_QDB_USER" \
    "$SONDA_TEST_QDB_PASSWORD" "$SONDA_TEST_QDB_HOST" "$SONDA_TEST_QDB_PORT" \
    "$SONDA_TEST_QDB_USER" "$SONDA_TEST_QDB_PASSWORD" "$host"
}
run_probe
# Zabbix creates the discovered items, then its configuration cache learns them.
sleep 3
zabbix_server -c "$SONDA_TEST_ZBX_CONF" -R config_cache_reload >/dev/null
sleep 2
run_probe
sleep 3

echo
echo "== Zabbix, host $host: totais"
pg_psql -d zabbix -c "SELECT i.key_ AS item, h.value AS valor FROM items i
  JOIN hosts s ON s.hostid = i.hostid
  JOIN LATERAL (SELECT value::text FROM history WHERE itemid = i.itemid
                UNION ALL SELECT value::text FROM history_uint WHERE itemid = i.itemid
                LIMIT 1) h ON true
  WHERE s.host = '$host' AND i.flags = 0 ORDER BY 1"
echo "== Zabbix: itens descobertos, com valores (os primeiros)"
pg_psql -d zabbix -c "SELECT i.name AS item, h.value AS valor FROM items i
  JOIN hosts s ON s.hostid = i.hostid
  JOIN LATERAL (SELECT value FROM history WHERE itemid = i.itemid ORDER BY clock DESC LIMIT 1) h ON true
  WHERE s.host = '$host' AND i.flags = 4 ORDER BY h.value DESC LIMIT 10"
echo "== QuestDB: linhas gravadas"
for table in bekClientes bekCobranca; do
  count=$(curl -sS -u "$SONDA_TEST_QDB_USER:$SONDA_TEST_QDB_PASSWORD" -G \
    --data-urlencode "query=SELECT count() FROM $table WHERE bekIdentification = '$host'" \
    "http://127.0.0.1:$SONDA_TEST_QDB_PORT/exec" | sed -n 's/.*"dataset":\[\[\([0-9]*\)\]\].*/\1/p')
  echo "$table: $count"
done
cat <<TEXT

Onde olhar:
  Zabbix (Monitoramento > Dados recentes, host $host): ${SONDA_TEST_ZBX_API%api_jsonrpc.php}
    usuário Admin, senha zabbix
  QuestDB (console web): http://127.0.0.1:$SONDA_TEST_QDB_PORT
    usuário $SONDA_TEST_QDB_USER, senha $SONDA_TEST_QDB_PASSWORD
Para encerrar os servidores: scripts/test-servers.sh stop
TEXT
