#!/usr/bin/env bash
# The whole-run benchmark. For each number of customers (default 10000 100000 500000): fills a
# database with the synthetic ISP, times the probe's normal run against real PostgreSQL, QuestDB
# and Zabbix servers phase by phase, with its peak memory, and times, on the same data and
# servers, the physical limit of each phase (psql for the database, a minimal C++ loop for
# Zabbix, curl with the same line-protocol requests for QuestDB), the peer (zabbix_sender once
# per value) and the debug report to a file. Figures go to build/bench/results.json and .csv
# and a table on standard output.
# The Zabbix phase is also timed in batch mode (SONDA_ZABBIX_BATCH=1000), against the strong
# peer on the same values (zabbix_sender -i FILE, 250 values per request), and, up to 100000
# customers, in both modes through bench/latency_relay (0.25 ms each way, as on a LAN), with
# the time per value projected to 500000 customers. A second table shows these. A third shows
# where the memory goes: the peak of each phase of the normal run, the batch run and the debug
# report, and the whole peak per customer (build/bench/memory.csv).
# Usage: bench/run.sh [CUSTOMERS ...]
# SONDA_BENCH_QUIET_LIMIT (seconds, default 300) bounds each wait for idle cores;
# SONDA_BENCH_RELAY_MAX (default 100000) is the largest size measured through the relay;
# SONDA_BENCH_HISTORY_MAX (default 10000) the largest whose values are looked for in Zabbix's
# history. Above it the runs go to a host the server does not know: it still receives, inflates
# and parses every request, as on a first run, but no discovery of those customers starts, which
# at 500,000 would keep the test server's LLD worker busy for an hour and take gigabytes of
# memory (docs/grandes-provedores.md sizes a server for that).
set -euo pipefail
cd "$(dirname "$0")/.."
sizes=("$@")
[ ${#sizes[@]} -gt 0 ] || sizes=(10000 100000 500000)

scripts/install-dependencies.sh
scripts/build.sh build >/dev/null
trap 'scripts/test-servers.sh stop' EXIT
scripts/test-servers.sh start bench
set -a
source build/test-servers.env
set +a

out=build/bench
mkdir -p "$out"
host=$SONDA_TEST_ZBX_HOST
zbx_port=${SONDA_TEST_ZBX_SERVER##*:}
peer_samples=2000
relay_delay_us=250
relay_sizes_max=${SONDA_BENCH_RELAY_MAX:-100000}
history_sizes_max=${SONDA_BENCH_HISTORY_MAX:-10000}
discovering_host=$host
projected_customers=500000

role_psql() {
  PGPASSWORD=$SONDA_TEST_PG_PASSWORD PGOPTIONS="-c client_min_messages=warning" psql -X -q -v ON_ERROR_STOP=1 -h "$SONDA_TEST_PG_HOST" \
    -p "$SONDA_TEST_PG_PORT" -U "$SONDA_TEST_PG_USER" "$@"
}
qdb_exec() {
  curl -sS -f -o /dev/null -u "$SONDA_TEST_QDB_USER:$SONDA_TEST_QDB_PASSWORD" -G \
    --data-urlencode "query=$1" "http://127.0.0.1:$SONDA_TEST_QDB_PORT/exec"
}
now() { date +%s.%N; }
since() { awk -v a="$1" -v b="$(now)" 'BEGIN { printf "%.3f", b - a }'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", (b > 0 ? a / b : 0) }'; }
# A value of the probe's phase file.
phase() { sed -n "s/.*\"$2\": \([0-9.e+-]*\).*/\1/p" "$1"; }
# The whole run of a phase file: the sum of its phases.
run_seconds() {
  awk '{ while (match($0, /"[a-z_]+": [0-9.e+-]+/)) {
           pair = substr($0, RSTART, RLENGTH); $0 = substr($0, RSTART + RLENGTH)
           if (pair !~ /_kib"/) { sub(/.*: /, "", pair); total += pair } } }
       END { printf "%.3f", total }' "$1"
}
mib() { awk -v k="$1" 'BEGIN { printf "%.0f", k / 1024 }'; }
# One line of memory.csv: where a run's memory went, phase by phase (MiB), its whole peak and
# that peak per customer (KiB).
memory_line() {  # customers, mode, phase file
  local file=$3 phase peaks=""
  for phase in database building zabbix_fixos zabbix_clientes questdb_clientes questdb_cobranca report; do
    local kib
    kib=$(phase "$file" "${phase}_peak_kib")
    peaks="$peaks,${kib:+$(mib "$kib")}"
  done
  local peak
  peak=$(phase "$file" peak_rss_kib)
  echo "$1,$2,$(run_seconds "$file")$peaks,$(mib "$peak"),$(awk -v k="$peak" -v n="$1" 'BEGIN { printf "%.2f", k / n }')" \
    >>"$out/memory.csv"
}

# The whole Zabbix phase of a phase file: the totals and document, then the customer values.
zabbix_phase() {
  awk -v a="$(phase "$1" zabbix_fixos)" -v b="$(phase "$1" zabbix_clientes)" \
    'BEGIN { printf "%.3f", a + b }'
}

# Waits until QuestDB has applied its write-ahead log (rows spread over years of weekly
# partitions take it minutes), then (up to five minutes) until both cores are mostly idle:
# background work would otherwise weigh on the next measurement.
wait_for_quiet() {
  local pending
  for _ in $(seq 1 1800); do
    pending=$(curl -sS -u "$SONDA_TEST_QDB_USER:$SONDA_TEST_QDB_PASSWORD" -G --data-urlencode \
      "query=SELECT count() FROM wal_tables() WHERE writerTxn < sequencerTxn" \
      "http://127.0.0.1:$SONDA_TEST_QDB_PORT/exec" | sed -n 's/.*"dataset":\[\[\([0-9]*\)\]\].*/\1/p')
    [ "$pending" = 0 ] && break
    sleep 1
  done
  local calm=0 a b
  for _ in $(seq 1 "${SONDA_BENCH_QUIET_LIMIT:-300}"); do
    a=($(head -n 1 /proc/stat))
    sleep 1
    b=($(head -n 1 /proc/stat))
    local busy=$(( (b[1] + b[2] + b[3] + b[6] + b[7]) - (a[1] + a[2] + a[3] + a[6] + a[7]) ))
    local all=$(( busy + (b[4] + b[5]) - (a[4] + a[5]) ))
    if [ $((100 * busy)) -lt $((25 * all)) ]; then
      calm=$((calm + 1))
      [ $calm -ge 2 ] && return 0
    else
      calm=0
    fi
  done
  return 0  # a machine that never calms down is measured as it is
}

probe_args() {  # database, zabbix host: the probe's seventeen arguments, into `args`
  args=(discovery_clientes bench "$SONDA_TEST_PG_HOST" "$SONDA_TEST_PG_PORT" "$1" \
    "$SONDA_TEST_PG_USER" "$SONDA_TEST_PG_PASSWORD" 1 "$SONDA_TEST_QDB_TLS_HOST" \
    "$SONDA_TEST_QDB_TLS_PORT" "$SONDA_TEST_QDB_USER" "$SONDA_TEST_QDB_PASSWORD" \
    "$SONDA_TEST_QDB_HOST" "$SONDA_TEST_QDB_PORT" "$SONDA_TEST_QDB_USER" \
    "$SONDA_TEST_QDB_PASSWORD" "$2")
}

# One more normal run, only for its Zabbix phase: SONDA_ZABBIX_SERVER and SONDA_ZABBIX_BATCH
# as given, and no time limit that would cut a slow mode short. Prints the whole phase's
# seconds and, after a comma, those of the per-customer values alone.
zabbix_phase_run() {  # database, label, server, batch
  qdb_exec "TRUNCATE TABLE bekClientes" && qdb_exec "TRUNCATE TABLE bekCobranca"
  wait_for_quiet
  probe_args "$1" "$host"
  SONDA_PHASE_TIMES=$out/phases-$2.json SONDA_ZABBIX_SERVER=$3 SONDA_ZABBIX_BATCH=$4 \
    SONDA_TEST_RUNTIME_LIMIT=3600 SSL_CERT_FILE=$SONDA_TEST_QDB_CA build/sonda-cobranca \
    "${args[@]}" >"$out/run-$2.out" 2>"$out/run-$2.err"
  check_run "$2"
  echo "$(zabbix_phase "$out/phases-$2.json"),$(phase "$out/phases-$2.json" zabbix_clientes)"
}

# A run must print OK and nothing on standard error but the notices about refused values (the
# bench host has no items for the synthetic customers until their discovery is processed).
check_run() {  # label
  if [ "$(cat "$out/run-$1.out")" != "OK" ] || grep -qv '^Aviso: ' "$out/run-$1.err"; then
    echo "a execução da sonda ($1) falhou:" >&2
    cat "$out/run-$1.out" "$out/run-$1.err" >&2
    exit 1
  fi
}

# The values reach Zabbix's history, not only the probe's "OK": once the server has discovered
# the customers of the first run's document (two items each; the ids of every size start at 1),
# one more run in batch mode, after which each customer's two items must have its value in
# history or history_uint; fails the benchmark otherwise. The first discovery keeps the server's
# LLD worker busy for a while (minutes at 100,000 customers): the wait grows with the size.
zbx_sql() { role_psql -d "$SONDA_TEST_ZBX_DATABASE" -At -c "$1"; }
zabbix_history_check() {  # database, label, customers in the document
  local expected=$((2 * $3)) host_id items count start waited=0
  host_id=$(zbx_sql "SELECT hostid FROM hosts WHERE host = '$host'")
  discovered() { zbx_sql "SELECT count(*) FROM items WHERE hostid = $host_id AND flags = 4"; }
  until items=$(discovered) && [ "$items" -ge "$expected" ]; do
    if [ $waited -ge $((600 + $3 / 50)) ]; then
      echo "o Zabbix não descobriu os clientes ($2): $items de $expected itens" >&2
      exit 1
    fi
    sleep 5
    waited=$((waited + 5))
  done
  sleep 5  # the test server reads its configuration every second
  start=$(date +%s)
  zabbix_phase_run "$1" "$2-historico" "$SONDA_TEST_ZBX_SERVER" 1000 >/dev/null
  waited=0
  until count=$(zbx_sql "SELECT count(DISTINCT itemid) FROM (
        SELECT itemid FROM history WHERE clock >= $start UNION ALL
        SELECT itemid FROM history_uint WHERE clock >= $start) v
      JOIN items i USING (itemid) WHERE i.hostid = $host_id AND i.flags = 4") &&
    [ "$count" -ge "$expected" ]; do
    if [ $waited -ge 300 ]; then
      echo "os valores por cliente não chegaram ao histórico do Zabbix ($2): $count de $expected itens" >&2
      exit 1
    fi
    sleep 2
    waited=$((waited + 2))
  done
  echo "Histórico do Zabbix ($2): os $expected itens dos clientes receberam os valores da execução."
}

relay_pid=""
stop_relay() { [ -z "$relay_pid" ] || kill "$relay_pid" 2>/dev/null || true; relay_pid=""; }
trap 'stop_relay; scripts/test-servers.sh stop' EXIT

echo "customers,sends,zabbix_default_s,zabbix_batch_s,batch_customer_values_s,zabbix_sender_file_s,relay_default_s,relay_batch_s,relay_default_500k_s,relay_batch_500k_s" \
  >"$out/zabbix-modes.csv"

echo "customers,mode,run_s,database_mib,building_mib,zabbix_fixos_mib,zabbix_clientes_mib,questdb_clientes_mib,questdb_cobranca_mib,report_mib,peak_mib,peak_kib_per_customer" \
  >"$out/memory.csv"

echo "[" >"$out/results.json"
echo "customers,rows,generator_s,run_s,database_s,psql_s,building_s,zabbix_s,zabbix_loop_s,questdb_clientes_s,curl_clientes_s,questdb_cobranca_s,curl_cobranca_s,peak_rss_mib,zabbix_sender_per_value_ms,probe_per_value_ms,report_s,report_run_s" \
  >"$out/results.csv"
separator=""
for n in "${sizes[@]}"; do
  db=bench_$n
  echo "== $n clientes"
  host=$discovering_host
  [ "$n" -le "$history_sizes_max" ] || host=sonda-bench-desconhecido
  role_psql -d postgres -c "DROP DATABASE IF EXISTS $db WITH (FORCE)" -c "CREATE DATABASE $db"
  role_psql -d "$db" -f tests/fixtures/billing_schema.sql
  start=$(now)
  build/isp-generator "$n" | role_psql -d "$db" >/dev/null 2>&1
  generator_s=$(since "$start")

  # The same requests the writers make, and the number of customer rows.
  rm -rf "$out/lines" && mkdir -p "$out/lines"
  build/bench/snapshot-lines "$out/lines" "$SONDA_TEST_PG_HOST" "$SONDA_TEST_PG_PORT" "$db" \
    "$SONDA_TEST_PG_USER" "$SONDA_TEST_PG_PASSWORD" 1 "$host"
  rows=$(cat "$out"/lines/bekCobranca-*.ilp | wc -l)
  sends=$((5 + 2 * rows))

  # Limits, on a quiet machine.
  wait_for_quiet
  build/bench/print-statement customers >"$out/customers.sql"
  build/bench/print-statement open-bills 1 >"$out/open-bills.sql"
  start=$(now)
  role_psql -d "$db" -At -c BEGIN -f "$out/customers.sql" -f "$out/open-bills.sql" >/dev/null
  psql_s=$(since "$start")

  qdb_exec "TRUNCATE TABLE bekClientes" && qdb_exec "TRUNCATE TABLE bekCobranca"
  start=$(now)
  for file in "$out"/lines/bekClientes-*.ilp; do
    curl -sS -f -o /dev/null --cacert "$SONDA_TEST_QDB_CA" \
      -u "$SONDA_TEST_QDB_USER:$SONDA_TEST_QDB_PASSWORD" -H "Content-Type: text/plain; charset=utf-8" \
      --data-binary "@$file" "https://$SONDA_TEST_QDB_TLS_HOST:$SONDA_TEST_QDB_TLS_PORT/write?precision=n"
  done
  curl_clientes_s=$(since "$start")
  start=$(now)
  for file in "$out"/lines/bekCobranca-*.ilp; do
    curl -sS -f -o /dev/null -u "$SONDA_TEST_QDB_USER:$SONDA_TEST_QDB_PASSWORD" \
      -H "Content-Type: text/plain; charset=utf-8" \
      --data-binary "@$file" "http://$SONDA_TEST_QDB_HOST:$SONDA_TEST_QDB_PORT/write?precision=n"
  done
  curl_cobranca_s=$(since "$start")

  wait_for_quiet
  zabbix_loop_s=$(build/bench/zabbix-loop 127.0.0.1 "$zbx_port" "$host" "$sends")

  # The probe's normal run.
  qdb_exec "TRUNCATE TABLE bekClientes" && qdb_exec "TRUNCATE TABLE bekCobranca"
  wait_for_quiet
  start=$(now)
  probe_args "$db" "$host"
  SONDA_PHASE_TIMES=$out/phases-$n.json SONDA_ZABBIX_SERVER=$SONDA_TEST_ZBX_SERVER \
    SSL_CERT_FILE=$SONDA_TEST_QDB_CA build/sonda-cobranca "${args[@]}" \
    >"$out/run-$n.out" 2>"$out/run-$n.err"
  run_s=$(since "$start")
  check_run "$n"
  phases=$out/phases-$n.json

  # Batch mode, and the strong peer on the same values: every customer's two values, timed
  # against the probe's per-customer part (the discovery document does not fit zabbix_sender's
  # input lines).
  IFS=, read -r zabbix_batch_s batch_customer_values_s \
    <<<"$(zabbix_phase_run "$db" "$n-lote" "$SONDA_TEST_ZBX_SERVER" 1000)"
  role_psql -d "$db" -At -F $'\t' -c BEGIN -f "$out/customers.sql" |
    awk -F'\t' -v h="$host" 'NF >= 5 {
        id = ($1 == "" ? "None" : $1)
        printf "\"%s\" valor_divida[%s] %s\n\"%s\" titulos_em_atraso[%s] %s\n", h, id, $5, h, id, $4
      }' >"$out/zabbix-sender-$n.txt"
  wait_for_quiet
  start=$(now)
  zabbix_sender -z 127.0.0.1 -p "$zbx_port" -i "$out/zabbix-sender-$n.txt" >/dev/null 2>&1 || true
  zabbix_sender_file_s=$(since "$start")

  # Both modes across a LAN: the relay in front of the real server.
  relay_default_s="" relay_batch_s="" relay_default_500k_s="" relay_batch_500k_s=""
  if [ "$n" -le "$relay_sizes_max" ]; then
    build/bench/latency-relay 127.0.0.1 "$zbx_port" "$relay_delay_us" >"$out/relay.port" &
    relay_pid=$!
    for _ in $(seq 1 50); do [ -s "$out/relay.port" ] && break; sleep 0.1; done
    relay=127.0.0.1:$(cat "$out/relay.port")
    relay_default_s=$(zabbix_phase_run "$db" "$n-rede" "$relay" 1 | cut -d, -f1)
    relay_batch_s=$(zabbix_phase_run "$db" "$n-rede-lote" "$relay" 1000 | cut -d, -f1)
    stop_relay
    projected_sends=$((5 + 2 * projected_customers))
    relay_default_500k_s=$(awk -v t="$relay_default_s" -v k="$sends" -v p="$projected_sends" 'BEGIN { printf "%.1f", t / k * p }')
    relay_batch_500k_s=$(awk -v t="$relay_batch_s" -v k="$sends" -v p="$projected_sends" 'BEGIN { printf "%.1f", t / k * p }')
  fi
  echo "$n,$sends,$(zabbix_phase "$phases"),$zabbix_batch_s,$batch_customer_values_s,$zabbix_sender_file_s,$relay_default_s,$relay_batch_s,$relay_default_500k_s,$relay_batch_500k_s" \
    >>"$out/zabbix-modes.csv"

  # What the runs sent is in Zabbix's history.
  if [ "$host" = "$discovering_host" ]; then
    zabbix_history_check "$db" "$n" "$(role_psql -d "$db" -At -c BEGIN -f "$out/customers.sql" |
      cut -d'|' -f1 | grep -v '^$' | sort -u | wc -l)"
  fi

  # The debug report of the same data, to a file.
  wait_for_quiet
  start=$(now)
  probe_args "$db" debug
  SONDA_PHASE_TIMES=$out/report-phases-$n.json build/sonda-cobranca "${args[@]}" \
    >"$out/report-$n.txt"
  report_run_s=$(since "$start")
  report_s=$(phase "$out/report-phases-$n.json" report)
  memory_line "$n" padrão "$out/phases-$n.json"
  memory_line "$n" lote "$out/phases-$n-lote.json"
  memory_line "$n" debug "$out/report-phases-$n.json"

  # The peer: zabbix_sender started once per value, as a shell script would.
  wait_for_quiet
  start=$(now)
  for i in $(seq 1 "$peer_samples"); do
    zabbix_sender -z 127.0.0.1 -p "$zbx_port" -s "$host" -k "valor_divida[$i]" -o 157.5 \
      >/dev/null 2>&1 || true
  done
  peer_ms=$(awk -v t="$(since "$start")" -v k="$peer_samples" 'BEGIN { printf "%.3f", 1000 * t / k }')
  zabbix_s=$(zabbix_phase "$phases")
  probe_ms=$(awk -v t="$zabbix_s" -v k="$sends" 'BEGIN { printf "%.4f", 1000 * t / k }')
  peak_mib=$(awk -v k="$(phase "$phases" peak_rss_kib)" 'BEGIN { printf "%.0f", k / 1024 }')

  line="$n,$rows,$generator_s,$run_s,$(phase "$phases" database),$psql_s,$(phase "$phases" building),$zabbix_s,$zabbix_loop_s,$(phase "$phases" questdb_clientes),$curl_clientes_s,$(phase "$phases" questdb_cobranca),$curl_cobranca_s,$peak_mib,$peer_ms,$probe_ms,$report_s,$report_run_s"
  echo "$line" >>"$out/results.csv"
  IFS=, read -r -a v <<<"$line"
  {
    printf '%s  {"customers": %s, "rows": %s, "generator_s": %s, "run_s": %s, ' "$separator" "${v[0]}" "${v[1]}" "${v[2]}" "${v[3]}"
    printf '"database_s": %s, "psql_s": %s, "building_s": %s, "zabbix_s": %s, ' "${v[4]}" "${v[5]}" "${v[6]}" "${v[7]}"
    printf '"zabbix_loop_s": %s, "questdb_clientes_s": %s, "curl_clientes_s": %s, ' "${v[8]}" "${v[9]}" "${v[10]}"
    printf '"questdb_cobranca_s": %s, "curl_cobranca_s": %s, "peak_rss_mib": %s, ' "${v[11]}" "${v[12]}" "${v[13]}"
    printf '"zabbix_sender_per_value_ms": %s, "probe_per_value_ms": %s, "report_s": %s, ' "${v[14]}" "${v[15]}" "${v[16]}"
    printf '"report_run_s": %s, ' "${v[17]}"
    printf '"questdb_clientes_rows_per_s": %.0f, "questdb_cobranca_rows_per_s": %.0f}\n' \
      "$(awk -v r="${v[1]}" -v t="${v[9]}" 'BEGIN { print r / t }')" \
      "$(awk -v r="${v[1]}" -v t="${v[11]}" 'BEGIN { print r / t }')"
  } >>"$out/results.json"
  separator=","
done
echo "]" >>"$out/results.json"

# The table: each phase against its limit, as a ratio.
echo
# Seconds of each phase and, in parentheses, its ratio to the limit; the peer's time per value
# over the probe's; the debug report's printing, and its whole run.
printf '%9s %8s %8s %18s %18s %18s %18s %8s %12s %14s\n' clientes linhas total_s \
  "banco (×psql)" "zabbix (×laço)" "qdb cli (×curl)" "qdb cob (×curl)" pico_MiB \
  "×zbx_sender" "relatório_s"
tail -n +2 "$out/results.csv" | while IFS=, read -r -a v; do
  printf '%9s %8s %8.1f %9.2f (%5s) %9.2f (%5s) %9.2f (%5s) %9.2f (%5s) %8s %12s %6.2f (%5.1f)\n' \
    "${v[0]}" "${v[1]}" "${v[3]}" "${v[4]}" "$(ratio "${v[4]}" "${v[5]}")" "${v[7]}" \
    "$(ratio "${v[7]}" "${v[8]}")" "${v[9]}" "$(ratio "${v[9]}" "${v[10]}")" "${v[11]}" \
    "$(ratio "${v[11]}" "${v[12]}")" "${v[13]}" "$(ratio "${v[14]}" "${v[15]}")" "${v[16]}" "${v[17]}"
done

# The Zabbix phase in both modes, against the peer, and across the relay (with the projection).
echo
# Seconds of the whole phase; in batch mode also of the customer values alone, next to
# zabbix_sender -i on those values; across the relay, measured and projected to 500,000.
printf '%9s %9s %10s %10s %14s %16s %13s %11s %15s %13s\n' clientes valores "padrão_s" \
  "lote_s" "lote_valores_s" "zabbix_sender_s" "rede_padrão_s" "rede_lote_s" "rede_padrão_500k" \
  "rede_lote_500k"
tail -n +2 "$out/zabbix-modes.csv" | while IFS=, read -r -a v; do
  printf '%9s %9s %10s %10s %14s %16s %13s %11s %15s %13s\n' "${v[0]}" "${v[1]}" "${v[2]}" \
    "${v[3]}" "${v[4]}" "${v[5]}" "${v[6]:--}" "${v[7]:--}" "${v[8]:--}" "${v[9]:--}"
done
# Where the memory goes: the peak of each phase of the normal run, of the batch run and of the
# debug report, the whole run's peak and that peak per customer.
echo
printf '%9s %7s %9s %7s %9s %11s %13s %12s %12s %10s %8s %13s\n' clientes modo total_s banco \
  montagem "zbx_fixos" "zbx_clientes" "qdb_clientes" "qdb_cobranca" "relatório" pico_MiB \
  "KiB/cliente"
tail -n +2 "$out/memory.csv" | while IFS=, read -r -a v; do
  printf '%9s %7s %9s %7s %9s %11s %13s %12s %12s %10s %8s %13s\n' "${v[0]}" "${v[1]}" "${v[2]}" \
    "${v[3]:--}" "${v[4]:--}" "${v[5]:--}" "${v[6]:--}" "${v[7]:--}" "${v[8]:--}" "${v[9]:--}" \
    "${v[10]}" "${v[11]}"
done
echo
echo "Resultados: $out/results.json, $out/results.csv, $out/zabbix-modes.csv e $out/memory.csv"
