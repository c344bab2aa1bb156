# A throwaway Zabbix 6.0 server (Debian's zabbix-server-pgsql) on loopback, with its database on
# the PostgreSQL server of scripts/lib/postgres.sh. Source common.sh and postgres.sh first and
# start PostgreSQL.
#
# zbx_start DIR [SQL...]: creates the database "zabbix" (schema, images, data, then the given
# files, which may use the psql variables psk_identity, psk, ca_subject and client_subject) and
# starts the server; sets ZBX_PORT, ZBX_CONF, ZBX_LOG, ZBX_SCRIPTS (its external scripts folder)
# and ZBX_TLS (the folder of its TLS material, see zbx_make_tls); also copies the database for
# zbx_ha_start. Variables SONDA_* and SSL_CERT_FILE of the caller reach external checks.
# zbx_frontend_start DIR [SOURCE DATABASE PORT]: serves the web frontend (by default Debian 12's,
# for this server) and its API with PHP's built-in server; sets ZBX_WEB_PORT (log in as Admin,
# password zabbix).
# zbx_stop DIR: stops both.
# zbx_ha_start, zbx_ha_stop: a cluster of two nodes (below).

ZBX_SCHEMA=/usr/share/zabbix-server-pgsql

zbx_start() {
  local dir=$1
  shift
  mkdir -p "$dir"
  ZBX_TLS=$dir/tls
  zbx_make_tls "$ZBX_TLS"
  zbx_database zabbix "$ZBX_SCHEMA" "$@"
  # The database of the cluster of zbx_ha_start, copied while nothing is connected to the
  # original: faster than loading it again.
  pg_psql -d postgres -c "CREATE DATABASE zabbix_ha TEMPLATE zabbix" >/dev/null
  ZBX_PORT=$(free_port)
  ZBX_CONF=$dir/zabbix_server.conf
  ZBX_LOG=$dir/zabbix_server.log
  ZBX_SCRIPTS=$dir/externalscripts
  zbx_server_conf "$dir" zabbix "$ZBX_PORT" >"$ZBX_CONF"
  zbx_large_caches >>"$ZBX_CONF"
  zbx_server_run "$dir" zabbix_server
  wait_until "(exec 3<>/dev/tcp/127.0.0.1/$ZBX_PORT)" 60
}

# zbx_database NAME SCHEMA_DIR [SQL...]: creates the database NAME with the schema, images and
# data of SCHEMA_DIR, then runs the given files with the TLS variables of ZBX_TLS.
zbx_database() {
  local name=$1 schema=$2
  shift 2
  pg_psql -d postgres -c "CREATE DATABASE $name" >/dev/null
  local part
  for part in schema images data; do
    zcat "$schema/$part.sql.gz" | pg_psql -d "$name" >/dev/null
  done
  local file
  for file in "$@"; do
    pg_psql -d "$name" -v psk_identity="$ZBX_PSK_IDENTITY" -v psk="$(cat "$ZBX_TLS/probe.psk")" \
      -v ca_subject="$ZBX_CA_SUBJECT" -v client_subject="$ZBX_CLIENT_SUBJECT" \
      -f "$file" >/dev/null
  done
}

# zbx_server_conf DIR DATABASE PORT: the configuration of a server on loopback whose files
# (log, pid, sockets, external scripts) live in DIR, on stdout.
zbx_server_conf() {
  local dir=$1 database=$2 port=$3
  mkdir -p "$dir/externalscripts"
  cat <<CONF
ListenIP=127.0.0.1
ListenPort=$port
LogType=file
LogFile=$dir/zabbix_server.log
LogFileSize=0
PidFile=$dir/zabbix_server.pid
SocketDir=$dir
DBHost=$PG_HOST
DBPort=$PG_PORT
DBName=$database
DBUser=$PG_USER
DBPassword=$PG_PASSWORD
AllowRoot=1
CacheUpdateFrequency=1
HousekeepingFrequency=0
StartPollers=1
StartPollersUnreachable=1
StartPingers=0
StartDiscoverers=0
StartHTTPPollers=0
StartTimers=1
StartEscalators=1
StartAlerters=1
StartTrappers=5
StartLLDProcessors=2
StartReportWriters=0
Timeout=30
ExternalScripts=$dir/externalscripts
TLSCAFile=$ZBX_TLS/ca.pem
TLSCertFile=$ZBX_TLS/server.pem
TLSKeyFile=$ZBX_TLS/server.key
CONF
}

zbx_large_caches() {
  cat <<CONF
# Room for the items that discovery makes for hundreds of thousands of customers.
CacheSize=2G
HistoryCacheSize=512M
HistoryIndexCacheSize=512M
TrendCacheSize=256M
ValueCacheSize=256M
CONF
}

# zbx_sized_start DIR COMMAND DATABASE PORT [SETTING=VALUE...]: a server as zbx_server_conf
# writes it, each given setting in place of the line of the same name (Zabbix refuses a
# setting given twice), run by COMMAND (zabbix_server or a Zabbix 7.0 command of zbx7_command);
# waits for its port. How the sizing runs try one set of caches after another.
zbx_sized_start() {
  local dir=$1 command=$2 database=$3 port=$4 setting
  shift 4
  mkdir -p "$dir"
  zbx_server_conf "$dir" "$database" "$port" >"$dir/zabbix_server.conf"
  for setting in "$@"; do
    sed -i "/^${setting%%=*}=/d" "$dir/zabbix_server.conf"
    echo "$setting" >>"$dir/zabbix_server.conf"
  done
  zbx_server_run "$dir" "$command"
  wait_until "(exec 3<>/dev/tcp/127.0.0.1/$port)" 300
}

# zbx_request PORT JSON: the answer of the server on 127.0.0.1:PORT to one request of its own
# protocol (the header, then the JSON, which must be ASCII), without the header.
zbx_request() {
  local port=$1 body=$2 length=${#2}
  (
    exec 3<>"/dev/tcp/127.0.0.1/$port" || exit 1
    printf 'ZBXD\001' >&3
    printf "$(printf '\\%03o\\%03o\\%03o\\%03o\\000\\000\\000\\000' $((length & 255)) \
      $((length >> 8 & 255)) $((length >> 16 & 255)) $((length >> 24 & 255)))" >&3
    printf '%s' "$body" >&3
    timeout 30 cat <&3 | tail -c +14
  )
}

# zbx_server_run DIR COMMAND: runs the server COMMAND with DIR/zabbix_server.conf in the
# foreground, in the background of this shell, so that stopping is a kill; its pid goes to
# DIR/server.pid. External checks see the server's environment: the probe finds its way back to
# this server.
zbx_server_run() {
  local dir=$1 command=$2 port
  port=$(sed -n 's/^ListenPort=//p' "$dir/zabbix_server.conf")
  SONDA_ZABBIX_SERVER=127.0.0.1:$port "$command" -f -c "$dir/zabbix_server.conf" \
    >>"$dir/stdout.log" 2>&1 &
  echo $! >"$dir/server.pid"
}

# The TLS material of the server and of its senders, in DIR:
#   ca.pem, ca.key          the CA that signs both sides (subject ZBX_CA_SUBJECT)
#   server.pem, server.key  the server's certificate (subject ZBX_SERVER_SUBJECT)
#   client.pem, client.key  a sender's certificate (subject ZBX_CLIENT_SUBJECT)
#   expired.pem, .key       a certificate of the same CA that expired in 2020
#   other-ca.pem, .key      a CA that signed nothing of this server
#   probe.psk               a 256-bit PSK (hexadecimal) for the identity ZBX_PSK_IDENTITY
#   crl.pem                 a revocation list of the CA that revokes the server's certificate
zbx_make_tls() {
  local dir=$1
  mkdir -p "$dir/ca-db"
  ZBX_CA_SUBJECT="CN=sonda-cobranca Zabbix CA"
  ZBX_SERVER_SUBJECT="CN=zabbix-server,O=sonda-teste"
  ZBX_CLIENT_SUBJECT="CN=sonda-cobranca probe"
  ZBX_PSK_IDENTITY="sonda-cobranca psk"
  make_ca "$dir" ca "/CN=sonda-cobranca Zabbix CA"
  make_ca "$dir" other-ca "/CN=sonda-cobranca other CA"
  : >"$dir/ca-db/index"
  echo 01 >"$dir/ca-db/serial"
  cat >"$dir/ca.cnf" <<CNF
[ca]
default_ca = test_ca
[test_ca]
database = $dir/ca-db/index
serial = $dir/ca-db/serial
new_certs_dir = $dir/ca-db
certificate = $dir/ca.pem
private_key = $dir/ca.key
default_md = sha256
default_crl_days = 30
policy = any_name
unique_subject = no
# The subject as requested, in its order: "CN=zabbix-server,O=sonda-teste" in RFC 4514 form.
preserve = yes
[any_name]
organizationName = optional
commonName = supplied
CNF
  local name subject
  for name in server client expired; do
    case $name in
      server) subject="/O=sonda-teste/CN=zabbix-server" ;;
      client) subject="/CN=sonda-cobranca probe" ;;
      expired) subject="/O=sonda-teste/CN=zabbix-server" ;;
    esac
    openssl req -newkey rsa:2048 -nodes -subj "$subject" -keyout "$dir/$name.key" \
      -out "$dir/$name.csr" 2>/dev/null
  done
  openssl ca -batch -config "$dir/ca.cnf" -in "$dir/server.csr" -out "$dir/server.pem" -days 30 \
    -notext 2>/dev/null
  openssl ca -batch -config "$dir/ca.cnf" -in "$dir/client.csr" -out "$dir/client.pem" -days 30 \
    -notext 2>/dev/null
  openssl ca -batch -config "$dir/ca.cnf" -in "$dir/expired.csr" -out "$dir/expired.pem" \
    -startdate 20200101000000Z -enddate 20200201000000Z -notext 2>/dev/null
  # The revocation list is made on a copy of the CA's records, so the server's certificate
  # stays good for the server itself.
  cp -a "$dir/ca-db" "$dir/crl-db"
  sed "s|$dir/ca-db|$dir/crl-db|" "$dir/ca.cnf" >"$dir/crl.cnf"
  openssl ca -config "$dir/crl.cnf" -revoke "$dir/server.pem" 2>/dev/null
  openssl ca -config "$dir/crl.cnf" -gencrl -out "$dir/crl.pem" 2>/dev/null
  openssl rand -hex 32 >"$dir/probe.psk"
  chmod 644 "$dir"/*.pem
  chmod 600 "$dir"/*.key "$dir/probe.psk"
}

# PHP single-quoted string.
php_quote() {
  local text=${1//\\/\\\\}
  printf "'%s'" "${text//\'/\\\'}"
}

zbx_frontend_start() {
  local dir=$1 source=${2:-/usr/share/zabbix} database=${3:-zabbix} server_port=${4:-$ZBX_PORT}
  rm -rf "$dir/frontend"
  cp -a "$source" "$dir/frontend"
  # Debian links the graphs' font relatively, which the copy would break: graphs without text.
  if [ -L "$source/assets/fonts/DejaVuSans.ttf" ]; then
    ln -sf "$(readlink -f "$source/assets/fonts/DejaVuSans.ttf")" \
      "$dir/frontend/assets/fonts/DejaVuSans.ttf"
  fi
  # Debian's frontend reads /etc/zabbix/zabbix.conf.php: this copy reads its own.
  sed -i "s|const CONFIG_FILE_PATH = .*|const CONFIG_FILE_PATH = '$dir/frontend/conf/zabbix.conf.php';|" \
    "$dir/frontend/include/classes/core/CConfigFile.php"
  cat >"$dir/frontend/conf/zabbix.conf.php" <<PHP
<?php
\$DB['TYPE'] = 'POSTGRESQL';
\$DB['SERVER'] = $(php_quote "$PG_HOST");
\$DB['PORT'] = $(php_quote "$PG_PORT");
\$DB['DATABASE'] = '$database';
\$DB['USER'] = $(php_quote "$PG_USER");
\$DB['PASSWORD'] = $(php_quote "$PG_PASSWORD");
\$DB['SCHEMA'] = '';
\$DB['ENCRYPTION'] = false;
\$DB['KEY_FILE'] = '';
\$DB['CERT_FILE'] = '';
\$DB['CA_FILE'] = '';
\$DB['VERIFY_HOST'] = false;
\$DB['CIPHER_LIST'] = '';
\$DB['VAULT_URL'] = '';
\$DB['VAULT_DB_PATH'] = '';
\$DB['VAULT_TOKEN'] = '';
\$DB['DOUBLE_IEEE754'] = true;
\$ZBX_SERVER = '127.0.0.1';
\$ZBX_SERVER_PORT = '$server_port';
\$ZBX_SERVER_NAME = 'sonda-cobranca';
\$IMAGE_FORMAT_DEFAULT = IMAGE_FORMAT_PNG;
PHP
  ZBX_WEB_PORT=$(free_port)
  php -S "127.0.0.1:$ZBX_WEB_PORT" -t "$dir/frontend" >"$dir/frontend.log" 2>&1 &
  echo $! >"$dir/frontend.pid"
  wait_until "curl -sf -o /dev/null http://127.0.0.1:$ZBX_WEB_PORT/api_jsonrpc.php \
    -H 'Content-Type: application/json-rpc' \
    -d '{\"jsonrpc\":\"2.0\",\"method\":\"apiinfo.version\",\"params\":[],\"id\":1}'" 30
}

zbx_stop() {
  local dir=$1
  if [ -f "$dir/frontend.pid" ]; then kill "$(cat "$dir/frontend.pid")" 2>/dev/null || true; fi
  [ -f "$dir/server.pid" ] || return 0
  local pid
  pid=$(cat "$dir/server.pid")
  kill "$pid" 2>/dev/null || true
  wait_until "! kill -0 $pid" 30 || kill -9 "$pid" 2>/dev/null || true
}

# zbx_ha_start DIR: a two-node cluster of Zabbix 6.0's native high availability on the database
# "zabbix_ha" (the copy of "zabbix" that zbx_start makes before its server starts): nodes
# "node-a" (active) and "node-b" (standby, which holds its port without listening), each in
# DIR/node-X with its own configuration, port, pid file, log and sockets, and a script
# DIR/node-X/start that starts it again in the background. The failover delay is the shortest
# Zabbix allows, 10 seconds. Sets ZBX_HA_A_PORT and ZBX_HA_B_PORT.
zbx_ha_start() {
  local dir=$1
  shift
  take_port ZBX_HA_A_PORT
  take_port ZBX_HA_B_PORT
  local node port
  for node in a b; do
    [ "$node" = a ] && port=$ZBX_HA_A_PORT || port=$ZBX_HA_B_PORT
    mkdir -p "$dir/node-$node"
    {
      zbx_server_conf "$dir/node-$node" zabbix_ha "$port"
      printf 'HANodeName=node-%s\nNodeAddress=127.0.0.1:%s\n' "$node" "$port"
    } >"$dir/node-$node/zabbix_server.conf"
    cat >"$dir/node-$node/start" <<SCRIPT
#!/bin/sh
# Starts node-$node of the test cluster in the background; its pid goes to server.pid.
cd "$dir/node-$node" || exit 1
zabbix_server -f -c "$dir/node-$node/zabbix_server.conf" >>stdout.log 2>&1 </dev/null &
echo \$! >server.pid
SCRIPT
    chmod +x "$dir/node-$node/start"
  done
  "$dir/node-a/start"
  wait_until "(exec 3<>/dev/tcp/127.0.0.1/$ZBX_HA_A_PORT)" 60
  "$dir/node-b/start"
  local status="zabbix_server -c '$dir/node-a/zabbix_server.conf' -R ha_status"
  wait_until "$status | grep -q 'node-b .*standby'" 60
  # A delay set while the node's HA manager starts is overwritten by the stored one: set it
  # until it shows.
  wait_until "$status | grep -q 'Failover delay: 10 seconds' ||
    { zabbix_server -c '$dir/node-a/zabbix_server.conf' -R ha_set_failover_delay=10s; false; }" 60
}

# zbx_ha_stop DIR: stops both nodes.
zbx_ha_stop() {
  local dir=$1 node
  for node in a b; do zbx_stop "$dir/node-$node"; done
}
