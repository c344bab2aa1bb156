#!/usr/bin/env bash
# What a Zabbix server needs to hold an ISP's customers: a server of its own (6.0 or 7.0) with
# the given settings, on a copy of a database where the template is imported and linked to one
# host, takes the probe's runs (SONDA_ZABBIX_BATCH=1000) on the synthetic ISP of N customers.
# Measures the first discovery (document received -> every item and trigger created), then, for
# each later run, the time until all its per-customer values are in history and the LLD
# worker's busy time and CPU on the same document; samples the server's caches (the zabbix.stats
# request) throughout and keeps each one's peak. The run fails when the server stops, logs that
# a cache is full, or does not get there in time.
# Usage: bench/zabbix-sizing.sh 6.0|7.0 CUSTOMERS [SETTING=VALUE ...]
#   settings go into zabbix_server.conf (CacheSize=512M ...); the rest are the test servers'.
# Needs the test servers (scripts/test-servers.sh start): their PostgreSQL holds the databases,
# their QuestDB takes the probe's rows. SONDA_SIZING_TEMPLATE (default the project's template)
# is the template imported; SONDA_SIZING_RUNS (default 2) the later runs; SONDA_SIZING_WAIT
# (seconds, default 3600) bounds each wait; SONDA_SIZING_LLD_MAX_MIB (default 7000) stops the
# server when one LLD worker's own memory passes it. One CSV line per call goes to
# build/bench/zabbix-sizing.csv; the server's folder, log and samples stay in
# build/bench/sizing/VERSION-CUSTOMERS.
set -euo pipefail
cd "$(dirname "$0")/.."
[ $# -ge 2 ] || { echo "uso: $0 6.0|7.0 CLIENTES [PARÂMETRO=VALOR ...]" >&2; exit 2; }
version=$1 customers=$2
shift 2
settings=("$@")
case $version in 6.0 | 7.0) ;; *) echo "versão do Zabbix: 6.0 ou 7.0, não $version" >&2; exit 2 ;; esac
[ -f build/test-servers.env ] || { echo "inicie antes os servidores de teste (scripts/test-servers.sh start)" >&2; exit 2; }
set -a
source build/test-servers.env
set +a
source scripts/lib/common.sh
source scripts/lib/postgres.sh
source scripts/lib/zabbix.sh
source scripts/lib/zabbix7.sh
PG_HOST=$SONDA_TEST_PG_HOST PG_PORT=$SONDA_TEST_PG_PORT PG_USER=$SONDA_TEST_PG_USER
PG_PASSWORD=$SONDA_TEST_PG_PASSWORD
ZBX_TLS=$SONDA_TEST_ZBX_TLS_DIR
template=${SONDA_SIZING_TEMPLATE:-zabbix/zabbix_template_sonda_cobranca.yaml}
later_runs=${SONDA_SIZING_RUNS:-2}
patience=${SONDA_SIZING_WAIT:-3600}
lld_limit_mib=${SONDA_SIZING_LLD_MAX_MIB:-7000}
host=sonda-dimensionamento
out=build/bench
dir=$PWD/$out/sizing/$version-$customers
rm -rf "$dir"
mkdir -p "$dir"
sql() { pg_psql -At "$@"; }
now() { date +%s.%N; }
minus() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.1f", a - b }'; }

if [ "$version" = 6.0 ]; then
  schema=$ZBX_SCHEMA frontend=/usr/share/zabbix server=zabbix_server
else
  schema=$ZBX7_ROOT/usr/share/zabbix-server-pgsql frontend=$ZBX7_ROOT/usr/share/zabbix
  server=$dir/bin/zabbix_server
  zbx7_command "$server" /usr/sbin/zabbix_server
fi
base=zbxsize${version/./}_base
database=zbxsize${version/./}_$customers

# The API of a frontend on the base database.
api_url="" api_token=""
api() {  # method, params (JSON): the result, or the error on stderr and status 1
  local answer
  answer=$(curl -sS -H 'Content-Type: application/json-rpc' "$api_url" -d "$(jq -cn --arg m "$1" \
    --argjson p "$2" --arg a "$api_token" '{jsonrpc: "2.0", method: $m, params: $p, id: 1} +
      (if $a == "" then {} else {auth: $a} end)')")
  if jq -e '.error' <<<"$answer" >/dev/null; then
    echo "API $1: $answer" >&2
    return 1
  fi
  jq -c '.result' <<<"$answer"
}

# The base database: the schema, the template imported and linked to the host, once per
# template and version; its comment is the template's checksum.
make_base() {
  local sum
  sum=$(sha256sum "$template" | cut -c1-16)
  [ "$(sql -d postgres -c "SELECT shobj_description(oid, 'pg_database') FROM pg_database WHERE datname = '$base'")" = "$sum" ] &&
    return 0
  echo "Preparando o banco $base (modelo $template)..."
  sql -d postgres -q -c "DROP DATABASE IF EXISTS $base WITH (FORCE)" 2>/dev/null >/dev/null
  zbx_database "$base" "$schema"
  # The server's own host would poll an agent that is not there.
  sql -d "$base" -c "UPDATE hosts SET status = 1 WHERE host = 'Zabbix server'" >/dev/null
  mkdir -p "$dir/base"
  zbx_frontend_start "$dir/base" "$frontend" "$base" 10051
  trap 'kill "$(cat "$dir/base/frontend.pid")" 2>/dev/null || true' EXIT
  api_url=http://127.0.0.1:$ZBX_WEB_PORT/api_jsonrpc.php
  api_token=$(api user.login '{"username": "Admin", "password": "zabbix"}' | jq -r .)
  local both='{"createMissing": true, "updateExisting": true}' rules
  rules=$(jq -cn --argjson b "$both" '{templates: $b, items: $b, discoveryRules: $b, triggers: $b,
    graphs: $b, valueMaps: $b, templateDashboards: $b}')
  if [ "$version" = 6.0 ]; then
    rules=$(jq -c '.groups = {createMissing: true}' <<<"$rules")
  else
    rules=$(jq -c '.template_groups = {createMissing: true} | .host_groups = {createMissing: true}' <<<"$rules")
  fi
  api configuration.import "$(jq -cn --rawfile y "$template" --argjson r "$rules" \
    '{format: "yaml", source: $y, rules: $r}')" >/dev/null
  local template_id host_id
  template_id=$(api template.get '{"output": ["templateid"], "filter": {"host": ["Sonda Cobranca"]}}' |
    jq -r '.[0].templateid')
  host_id=$(api host.create "$(jq -cn --arg h "$host" --arg t "$template_id" '{host: $h,
    interfaces: [{type: 1, main: 1, useip: 1, ip: "127.0.0.1", dns: "", port: "10050"}],
    groups: [{groupid: "2"}], templates: [{templateid: $t}]}')" | jq -r '.hostids[0]')
  # The external check would start a probe of its own: these runs are started here.
  local external
  external=$(api item.get "$(jq -cn --arg h "$host_id" '{hostids: [$h], output: ["itemid"], filter: {type: 10}}')" |
    jq -r '.[0].itemid')
  api item.update "$(jq -cn --arg i "$external" '{itemid: $i, status: 1}')" >/dev/null
  kill "$(cat "$dir/base/frontend.pid")" 2>/dev/null || true
  sql -d postgres -c "COMMENT ON DATABASE $base IS '$sum'" >/dev/null
}

# The billing database of N customers, filled once; its comment holds the number of distinct
# customers in the document (a customer with several contracts has an entry for each), whose
# two items each the discovery makes.
probe_args() {  # mode
  args=("$1" bench "$SONDA_TEST_PG_HOST" "$SONDA_TEST_PG_PORT" "$billing"
    "$SONDA_TEST_PG_USER" "$SONDA_TEST_PG_PASSWORD" 1 "$SONDA_TEST_QDB_TLS_HOST"
    "$SONDA_TEST_QDB_TLS_PORT" "$SONDA_TEST_QDB_USER" "$SONDA_TEST_QDB_PASSWORD"
    "$SONDA_TEST_QDB_HOST" "$SONDA_TEST_QDB_PORT" "$SONDA_TEST_QDB_USER"
    "$SONDA_TEST_QDB_PASSWORD" "$host")
}
make_billing() {
  billing=sizing_$customers
  entries=$(sql -d postgres -c "SELECT shobj_description(oid, 'pg_database') FROM pg_database WHERE datname = '$billing'" |
    sed -n 's/^filled \([0-9]*\)$/\1/p')
  [ -z "$entries" ] || return 0
  echo "Gerando $customers clientes..."
  sql -d postgres -q -c "DROP DATABASE IF EXISTS $billing WITH (FORCE)" -c "CREATE DATABASE $billing" >/dev/null 2>&1
  pg_psql -d "$billing" -f tests/fixtures/billing_schema.sql >/dev/null
  build/isp-generator "$customers" | pg_psql -d "$billing" >/dev/null 2>&1
  probe_args discovery_clientes
  args[16]=debug
  entries=$(build/sonda-cobranca "${args[@]}" | grep -a '^{#CLIENTE_ID}' | awk '{ print $2 }' | sort -u | wc -l)
  sql -d postgres -c "COMMENT ON DATABASE $billing IS 'filled $entries'" >/dev/null
}

make_base
make_billing
sql -d postgres -q -c "DROP DATABASE IF EXISTS $database WITH (FORCE)" \
  -c "CREATE DATABASE $database TEMPLATE $base" >/dev/null
host_id=$(sql -d "$database" -c "SELECT hostid FROM hosts WHERE host = '$host'")

take_port sizing_port
port=$sizing_port
# The configuration cache is read every minute, as Zabbix does by default: the test servers'
# every second would weigh on a server of a million items.
zbx_sized_start "$dir" "$server" "$database" "$port" StatsAllowedIP=127.0.0.1 \
  CacheUpdateFrequency=60 "${settings[@]}" || true
sync_s=$(sed -n 's/^CacheUpdateFrequency=//p' "$dir/zabbix_server.conf")
server_pid=$(cat "$dir/server.pid") sampler_pid=""
trap 'kill "$sampler_pid" 2>/dev/null || true; zbx_stop "$dir"' EXIT

# Every two seconds: the server's statistics, and the CPU ticks of its LLD workers.
lld_ticks() {
  local pid total=0
  for pid in $(pgrep -P "$server_pid"); do
    if grep -qa 'lld worker' "/proc/$pid/cmdline" 2>/dev/null; then
      local stat
      stat=($(sed 's/.*) //' "/proc/$pid/stat"))
      total=$((total + stat[11] + stat[12]))
    fi
  done
  echo "$total"
}
# The largest private memory (KiB) of one LLD worker: the rows and resources of the rule it
# processes live there, outside the caches.
lld_rss_kib() {
  local pid largest=0 kib
  for pid in $(pgrep -P "$server_pid"); do
    if grep -qa 'lld worker' "/proc/$pid/cmdline" 2>/dev/null; then
      kib=$(sed -n 's/^RssAnon:[[:space:]]*\([0-9]*\).*/\1/p' "/proc/$pid/status" 2>/dev/null)
      [ "${kib:-0}" -le "$largest" ] || largest=$kib
    fi
  done
  echo "$largest"
}
# Each LLD worker's title, which it rewrites after every rule it processed: "lld worker #1
# [processed 1 LLD rules, idle 7.3 sec during 376.8 sec]", one line per worker with the time.
lld_titles() {
  local pid at
  at=$(now)
  for pid in $(pgrep -P "$server_pid"); do
    { tr '\0' ' ' <"/proc/$pid/cmdline"; } 2>/dev/null | grep -a -o 'lld worker #[0-9]* \[.*\]' |
      sed "s/^/$at /" || true
  done
}
sample() {
  while kill -0 "$server_pid" 2>/dev/null; do
    zbx_request "$port" '{"request":"zabbix.stats"}' 2>/dev/null |
      jq -c --arg t "$(now)" '{t: ($t | tonumber), data: .data}' >>"$dir/stats.jsonl" 2>/dev/null || true
    local rss
    rss=$(lld_rss_kib)
    echo "$(now) $(lld_ticks) $rss" >>"$dir/lld.ticks"
    # An LLD worker that outgrows the memory this machine can spare stops the run before the
    # kernel has to choose what to kill.
    if [ "$rss" -gt $((lld_limit_mib * 1024)) ]; then
      echo "um processo de LLD passou de $lld_limit_mib MiB" >"$dir/stopped"
      kill "$server_pid" 2>/dev/null || true
    fi
    lld_titles >>"$dir/lld.titles"
    sleep 2
  done
}
sample &
sampler_pid=$!

result=ok
fail() {
  result="falhou: $1"
  echo "$result" >&2
}
alive() {
  if [ -f "$dir/stopped" ]; then fail "$(cat "$dir/stopped")"; return 1; fi
  if ! kill -0 "$server_pid" 2>/dev/null; then fail "o servidor parou"; return 1; fi
  if grep -q 'please increase\|out of memory' "$dir/zabbix_server.log" 2>/dev/null; then
    fail "$(grep -m1 'please increase\|out of memory' "$dir/zabbix_server.log" | sed 's/^ *[0-9]*:[0-9.]* *[0-9:.]* //')"
    return 1
  fi
}

probe_run() {  # label: runs the probe; sets doc_at (when the document was received)
  local label=$1 start
  curl -sS -f -o /dev/null -u "$SONDA_TEST_QDB_USER:$SONDA_TEST_QDB_PASSWORD" -G \
    --data-urlencode "query=TRUNCATE TABLE bekClientes" "http://127.0.0.1:$SONDA_TEST_QDB_PORT/exec" || true
  curl -sS -f -o /dev/null -u "$SONDA_TEST_QDB_USER:$SONDA_TEST_QDB_PASSWORD" -G \
    --data-urlencode "query=TRUNCATE TABLE bekCobranca" "http://127.0.0.1:$SONDA_TEST_QDB_PORT/exec" || true
  start=$(now)
  probe_args discovery_clientes
  SONDA_PHASE_TIMES=$dir/phases-$label.json SONDA_ZABBIX_SERVER=127.0.0.1:$port \
    SONDA_ZABBIX_BATCH=1000 SONDA_TEST_RUNTIME_LIMIT=3600 SSL_CERT_FILE=$SONDA_TEST_QDB_CA \
    build/sonda-cobranca "${args[@]}" >"$dir/run-$label.out" 2>"$dir/run-$label.err" || true
  local p=$dir/phases-$label.json
  doc_at=$(awk -v s="$start" -v a="$(sed -n 's/.*"database": \([0-9.e+-]*\).*/\1/p' "$p")" \
    -v b="$(sed -n 's/.*"building": \([0-9.e+-]*\).*/\1/p' "$p")" \
    -v c="$(sed -n 's/.*"zabbix_fixos": \([0-9.e+-]*\).*/\1/p' "$p")" 'BEGIN { printf "%.3f", s + a + b + c }')
  run_start=${start%.*}
}

discovered() {
  sql -d "$database" -c "SELECT (SELECT count(*) FROM items WHERE hostid = $host_id AND flags = 4),
    (SELECT count(*) FROM trigger_discovery)" | tr '|' ' '
}
# Values of the discovered items stored since a time (seconds since 1970).
landed() {
  sql -d "$database" -c "SELECT (SELECT count(*) FROM history h JOIN items i USING (itemid)
      WHERE h.clock >= $1 AND i.flags = 4 AND i.hostid = $host_id)
    + (SELECT count(*) FROM history_uint h JOIN items i USING (itemid)
      WHERE h.clock >= $1 AND i.flags = 4 AND i.hostid = $host_id)"
}
# The busy seconds of the LLD workers' rules whose processing ended after a time (seconds since
# 1970), from their titles: each new title tells one stretch, "idle I sec during D sec". Zabbix
# 7.0's workers keep "started" as their title: there, from that time to the last sample at which
# their CPU grew.
lld_busy_since() {
  if [ ! -s "$dir/lld.titles" ]; then
    awk -v a="$1" -v b="$(lld_last_busy | cut -d' ' -f1)" 'BEGIN { printf "%.1f", (b > a ? b - a : 0) }'
    return
  fi
  awk -v since="$1" '{
      title = $0; sub(/^[^ ]+ /, "", title)
      worker = $4
      if (title != seen[worker]) {
        seen[worker] = title
        # A window that began well before the document is an earlier document still being
        # worked through (its last minutes may be spent waiting on the database).
        if ($1 > since && match(title, /idle [0-9.]+ ?sec during [0-9.]+ sec/)) {
          split(substr(title, RSTART, RLENGTH), w, /[ a-z]+/)
          if ($1 - w[3] >= since - 10) busy += w[3] - w[2]
        }
      }
    } END { printf "%.1f", busy }' "$dir/lld.titles"
}
# The time of the last sample at which the LLD workers' CPU grew, and their ticks then.
lld_last_busy() {
  awk 'NR > 1 && $2 > last { at = $1; ticks = $2 } { last = $2 } END { printf "%s %s\n", at, ticks }' \
    "$dir/lld.ticks"
}

# The LLD workers are done when their CPU has not grown for 20 seconds.
wait_lld_quiet() {
  local deadline=$(( $(date +%s) + patience ))
  while alive; do
    read -r last_at last_ticks <<<"$(lld_last_busy)"
    if [ -n "$last_at" ] && awk -v a="$last_at" -v n="$(now)" 'BEGIN { exit !(n - a > 20) }'; then
      return 0
    fi
    [ "$(date +%s)" -lt "$deadline" ] || { fail "o LLD não terminou"; return 1; }
    sleep 2
  done
  return 1
}

# The first run: the document, and values the server refuses until the discovery is processed.
first_s="" first_lld_s="" items=0 triggers=0
# A template may leave the trigger prototypes undiscovered (discover: NO_DISCOVER): each
# customer then gets only the prototypes that are discovered.
trigger_prototypes=$(awk '/trigger_prototypes:/ { inside = 1; next }
  inside && /^ *[a-z_]+:$/ && !/^ *- / && $0 !~ /^ {14}/ { inside = 0 }
  inside && /^ *- uuid:/ { n++ } inside && /discover: NO_DISCOVER/ { n-- } END { print n + 0 }' "$template")
probe_run first
if [ "$(cat "$dir/run-first.out")" != OK ]; then
  fail "a primeira execução da sonda: $(head -c 300 "$dir/run-first.err")"
fi
if [ "$result" = ok ]; then
  deadline=$(( $(date +%s) + patience ))
  while alive; do
    read -r items triggers <<<"$(discovered)"
    echo "$(now) $items $triggers" >>"$dir/discovered.tsv"
    if [ "$items" -ge $((2 * entries)) ] && [ "$triggers" -ge $((trigger_prototypes * entries)) ]; then
      first_s=$(minus "$(now)" "$doc_at")
      break
    fi
    [ "$(date +%s)" -lt "$deadline" ] || { fail "descoberta incompleta: $items itens e $triggers gatilhos"; break; }
    sleep 1
  done
  # The worker goes on after the last trigger is written (the discovered resources' records).
  if [ "$result" = ok ] && wait_lld_quiet; then first_lld_s=$(lld_busy_since "$doc_at"); fi
  # The new items take values once the configuration cache has read them.
  sleep $((sync_s + 5))
fi

# Later runs: every value in history, and what the same customers, some with new amounts, cost
# the LLD worker again.
landed_s=() lld_busy_s=() lld_cpu_s=()
hz=$(getconf CLK_TCK)
for run in $(seq 1 "$later_runs"); do
  [ "$result" = ok ] || break
  # The workers' ticks are quiet before the run.
  sleep 6
  # As between two runs at an ISP, some customers paid: their amounts change, nothing else.
  sql -d "$billing" -c "UPDATE financeiro_titulo SET status = 2 WHERE id IN (SELECT id
    FROM financeiro_titulo WHERE status IN (1, 4, 5) AND data_vencimento < CURRENT_DATE
    ORDER BY id LIMIT $((entries / 200 + 1)))" >/dev/null
  probe_run "later-$run"
  if [ "$(cat "$dir/run-later-$run.out")" != OK ] || [ -s "$dir/run-later-$run.err" ]; then
    fail "a execução $run da sonda: $(head -c 300 "$dir/run-later-$run.err")"
    break
  fi
  deadline=$(( $(date +%s) + patience ))
  while alive; do
    count=$(landed "$run_start")
    if [ "$count" -ge $((2 * entries)) ]; then
      landed_s+=("$(minus "$(now)" "$doc_at")")
      break
    fi
    [ "$(date +%s)" -lt "$deadline" ] || { fail "$count de $((2 * entries)) valores no histórico"; break; }
    sleep 2
  done
  [ "$result" = ok ] || break
  wait_lld_quiet || break
  lld_busy_s+=("$(lld_busy_since "$doc_at")")
  # The workers' ticks that grew after the run started; a sample that found no worker (0) is
  # not a drop to count from.
  lld_cpu_s+=("$(awk -v since="$run_start" -v hz="$hz" '$1 >= since && $2 > 0 {
      if (last > 0 && $2 > last) ticks += $2 - last
      last = $2 } END { printf "%.1f", ticks / hz }' "$dir/lld.ticks")")
done
alive || true

# Each cache's peak use (MiB) and size, from the samples.
peaks=$(jq -rs '
  def mib: . / 1048576 | . * 10 | round / 10;
  def peak(f): [.[] | (f // 0)] | max | mib;
  def size(f): [.[] | (f // 0)] | max | mib;
  [peak(.data.rcache.used), size(.data.rcache.total),
   peak(.data.wcache.history.used), size(.data.wcache.history.total),
   peak(.data.wcache.index.used), size(.data.wcache.index.total),
   peak(.data.wcache.trend.used), size(.data.wcache.trend.total),
   peak(.data.vcache.buffer.used), size(.data.vcache.buffer.total)] | @csv' "$dir/stats.jsonl" 2>/dev/null || echo ",,,,,,,,,")

lld_peak_mib=$(awk '$3 > m { m = $3 } END { printf "%.0f", m / 1024 }' "$dir/lld.ticks")
line="$(date -u +%FT%TZ),$version,$customers,\"${settings[*]}\",$(sha256sum "$template" | cut -c1-8),$entries,$items,$triggers,$first_s,$first_lld_s,\"${landed_s[*]}\",\"${lld_busy_s[*]}\",\"${lld_cpu_s[*]}\",$peaks,$lld_peak_mib,\"$result\""
[ -f "$out/zabbix-sizing.csv" ] ||
  echo "date,version,customers,settings,template,entries,items,triggers,first_discovery_s,first_lld_busy_s,values_landed_s,later_lld_busy_s,later_lld_cpu_s,config_used_mib,config_mib,history_used_mib,history_mib,index_used_mib,index_mib,trend_used_mib,trend_mib,value_cache_used_mib,value_cache_mib,lld_worker_peak_mib,result" \
    >"$out/zabbix-sizing.csv"
echo "$line" >>"$out/zabbix-sizing.csv"
echo "$line"
[ "$result" = ok ]
