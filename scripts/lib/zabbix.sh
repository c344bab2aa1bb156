# A throwaway Zabbix 6.0 server (Debian's zabbix-server-pgsql) on loopback, with its database on
# the PostgreSQL server of scripts/lib/postgres.sh. Source common.sh and postgres.sh first and
# start PostgreSQL.
#
# zbx_start DIR [SQL...]: creates the database "zabbix" (schema, images, data, then the given
# files, which may use the psql variables psk_identity, psk, ca_subject and client_subject) and
# starts the server; sets ZBX_PORT, ZBX_CONF, ZBX_LOG, ZBX_SCRIPTS (its external scripts folder)
# and ZBX_TLS (the folder of its TLS material, see zbx_make_tls). Variables SONDA_* and
# SSL_CERT_FILE of the caller reach external checks.
# zbx_frontend_start DIR: serves the web frontend and its API with PHP's built-in server; sets
# ZBX_WEB_PORT (log in as Admin, password zabbix).
# zbx_stop DIR: stops both.
# zbx_reload: reloads the server's configuration cache.

ZBX_SCHEMA=/usr/share/zabbix-server-pgsql

zbx_start() {
  local dir=$1
  shift
  mkdir -p "$dir"
  pg_psql -d postgres -c "CREATE DATABASE zabbix" >/dev/null
  local part
  for part in schema images data; do
    zcat "$ZBX_SCHEMA/$part.sql.gz" | pg_psql -d zabbix >/dev/null
  done
  ZBX_TLS=$dir/tls
  zbx_make_tls "$ZBX_TLS"
  local file
  for file in "$@"; do
    pg_psql -d zabbix -v psk_identity="$ZBX_PSK_IDENTITY" -v psk="$(cat "$ZBX_TLS/probe.psk")" \
      -v ca_subject="$ZBX_CA_SUBJECT" -v client_subject="$ZBX_CLIENT_SUBJECT" \
      -f "$file" >/dev/null
  done

  ZBX_PORT=$(free_port)
  ZBX_CONF=$dir/zabbix_server.conf
  ZBX_LOG=$dir/zabbix_server.log
  ZBX_SCRIPTS=$dir/externalscripts
  mkdir -p "$ZBX_SCRIPTS"
  cat >"$ZBX_CONF" <<CONF
ListenIP=127.0.0.1
ListenPort=$ZBX_PORT
LogType=file
LogFile=$ZBX_LOG
LogFileSize=0
PidFile=$dir/zabbix_server.pid
SocketDir=$dir
DBHost=$PG_HOST
DBPort=$PG_PORT
DBName=zabbix
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
ExternalScripts=$ZBX_SCRIPTS
TLSCAFile=$ZBX_TLS/ca.pem
TLSCertFile=$ZBX_TLS/server.pem
TLSKeyFile=$ZBX_TLS/server.key
# Room for the items that discovery makes for hundreds of thousands of customers.
CacheSize=2G
HistoryCacheSize=512M
HistoryIndexCacheSize=512M
TrendCacheSize=256M
ValueCacheSize=256M
CONF
  # Run in the foreground, in the background of this shell, so that stopping is a kill.
  # External checks see the server's environment: the probe finds its way back to this server.
  SONDA_ZABBIX_SERVER=127.0.0.1:$ZBX_PORT zabbix_server -f -c "$ZBX_CONF" >"$dir/stdout.log" 2>&1 &
  echo $! >"$dir/server.pid"
  wait_until "(exec 3<>/dev/tcp/127.0.0.1/$ZBX_PORT)" 60
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
  openssl req -x509 -newkey rsa:2048 -nodes -days 30 -subj "/CN=sonda-cobranca Zabbix CA" \
    -keyout "$dir/ca.key" -out "$dir/ca.pem" 2>/dev/null
  openssl req -x509 -newkey rsa:2048 -nodes -days 30 -subj "/CN=sonda-cobranca other CA" \
    -keyout "$dir/other-ca.key" -out "$dir/other-ca.pem" 2>/dev/null
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
  local dir=$1
  rm -rf "$dir/frontend"
  cp -a /usr/share/zabbix "$dir/frontend"
  # Debian links the graphs' font relatively, which the copy would break: graphs without text.
  ln -sf "$(readlink -f /usr/share/zabbix/assets/fonts/DejaVuSans.ttf)" \
    "$dir/frontend/assets/fonts/DejaVuSans.ttf"
  # Debian's frontend reads /etc/zabbix/zabbix.conf.php: this copy reads its own.
  sed -i "s|const CONFIG_FILE_PATH = .*|const CONFIG_FILE_PATH = '$dir/frontend/conf/zabbix.conf.php';|" \
    "$dir/frontend/include/classes/core/CConfigFile.php"
  cat >"$dir/frontend/conf/zabbix.conf.php" <<PHP
<?php
\$DB['TYPE'] = 'POSTGRESQL';
\$DB['SERVER'] = $(php_quote "$PG_HOST");
\$DB['PORT'] = $(php_quote "$PG_PORT");
\$DB['DATABASE'] = 'zabbix';
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
\$ZBX_SERVER_PORT = '$ZBX_PORT';
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

zbx_reload() {
  zabbix_server -c "$ZBX_CONF" -R config_cache_reload >/dev/null
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
