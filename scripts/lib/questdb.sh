# A throwaway QuestDB server on loopback, with HTTP Basic authentication, and nginx in front of
# it as the TLS-terminating proxy a real deployment would have. Source scripts/lib/common.sh
# first.
#
# qdb_start DIR: starts both; sets QDB_PORT, QDB_TLS_PORT, QDB_USER, QDB_PASSWORD, QDB_CA.
# qdb_stop DIR: stops both.
# qdb_sql STATEMENT: runs one SQL statement on the server (through /exec).

QDB_VERSION=${QDB_VERSION:-9.2.2}
QDB_CACHE=${QDB_CACHE:-$HOME/.cache/sonda-cobranca}

# The open-source server jar, fetched once from Maven Central.
qdb_jar() {
  local jar=$QDB_CACHE/questdb-$QDB_VERSION.jar
  if [ ! -f "$jar" ]; then
    mkdir -p "$QDB_CACHE"
    mvn -q -B -Dstyle.color=never dependency:get -Dartifact="org.questdb:questdb:$QDB_VERSION" -Dtransitive=false >&2
    cp "$HOME/.m2/repository/org/questdb/questdb/$QDB_VERSION/questdb-$QDB_VERSION.jar" "$jar"
  fi
  echo "$jar"
}

qdb_sql() {
  curl -sS -f -u "$QDB_USER:$QDB_PASSWORD" -G --data-urlencode "query=$1" \
    "http://127.0.0.1:$QDB_PORT/exec" >/dev/null
}

# A private CA and a certificate for localhost and 127.0.0.1, signed by it.
qdb_make_certificates() {
  local dir=$1
  make_ca "$dir" ca "/CN=sonda-cobranca test CA"
  make_server_certificate "$dir" DNS:localhost,IP:127.0.0.1
  chmod 644 "$dir"/*.pem "$dir"/*.key
}

qdb_start() {
  local dir=$1 jar
  jar=$(qdb_jar)
  mkdir -p "$dir/root/conf" "$dir/nginx"
  QDB_PORT=$(free_port)
  QDB_TLS_PORT=$(free_port)
  QDB_USER=admin
  # A password with ";" and a key after it: every test writes through the escaping that keeps it
  # one value.
  QDB_PASSWORD='quest;tls_verify=unsafe_off'
  QDB_CA=$dir/nginx/ca.pem
  printf 'http.user=%s\nhttp.password=%s\n' "$QDB_USER" "$QDB_PASSWORD" >"$dir/root/conf/server.conf"
  QDB_HTTP_BIND_TO=127.0.0.1:$QDB_PORT QDB_PG_ENABLED=false QDB_LINE_TCP_ENABLED=false \
    QDB_LINE_UDP_ENABLED=false QDB_HTTP_MIN_ENABLED=false QDB_TELEMETRY_ENABLED=false \
    nohup java -Xms256m -Xmx1g -p "$jar" -m io.questdb/io.questdb.ServerMain -d "$dir/root" \
    >"$dir/questdb.log" 2>&1 &
  echo $! >"$dir/questdb.pid"

  qdb_make_certificates "$dir/nginx"
  local user_line=""
  [ "$(id -u)" -eq 0 ] && user_line="user root;"
  cat >"$dir/nginx/nginx.conf" <<CONF
$user_line
worker_processes 1;
pid $dir/nginx/nginx.pid;
error_log $dir/nginx/error.log;
events { worker_connections 256; }
http {
  access_log off;
  client_body_temp_path $dir/nginx/body;
  proxy_temp_path $dir/nginx/proxy;
  fastcgi_temp_path $dir/nginx/fastcgi;
  uwsgi_temp_path $dir/nginx/uwsgi;
  scgi_temp_path $dir/nginx/scgi;
  server {
    listen 127.0.0.1:$QDB_TLS_PORT ssl;
    server_name localhost;
    ssl_certificate $dir/nginx/server.pem;
    ssl_certificate_key $dir/nginx/server.key;
    client_max_body_size 0;
    proxy_request_buffering off;
    location / {
      proxy_pass http://127.0.0.1:$QDB_PORT;
      proxy_http_version 1.1;
      proxy_set_header Connection "";
      proxy_read_timeout 300s;
    }
  }
}
CONF
  nginx -p "$dir/nginx" -c "$dir/nginx/nginx.conf" -e "$dir/nginx/error.log"

  wait_until "qdb_sql 'SELECT 1'" 120
  qdb_sql "$(sed -n '/^CREATE TABLE IF NOT EXISTS bekClientes/,/;$/p' sql/questdb_tables.sql)"
  qdb_sql "$(sed -n '/^CREATE TABLE IF NOT EXISTS bekCobranca/,/;$/p' sql/questdb_tables.sql)"
}

qdb_stop() {
  local dir=$1
  if [ -f "$dir/nginx/nginx.pid" ]; then
    nginx -p "$dir/nginx" -c "$dir/nginx/nginx.conf" -e "$dir/nginx/error.log" -s stop \
      2>/dev/null || true
  fi
  if [ -f "$dir/questdb.pid" ]; then
    kill "$(cat "$dir/questdb.pid")" 2>/dev/null || true
    wait_until "! kill -0 $(cat "$dir/questdb.pid")" 30 || kill -9 "$(cat "$dir/questdb.pid")" 2>/dev/null || true
  fi
}
