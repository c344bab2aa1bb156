# A throwaway PostgreSQL server on loopback. Source scripts/lib/common.sh first.
#
# pg_start DIR: initialises and starts a server whose files live in DIR, with a login role that
# authenticates by password over TCP. The server speaks TLS with a certificate for "localhost"
# from a private CA, and takes the database "cobranca_tls" over TLS only. Sets PG_HOST, PG_PORT,
# PG_USER, PG_PASSWORD, PG_LOG, PG_SOCKET_DIR, PG_TLS_DATABASE, PG_CA and PG_OTHER_CA (a CA that
# signed nothing of this server).
# pg_stop DIR: stops it.
# pg_load DATABASE FILE...: creates DATABASE owned by the role and runs the files in it.

PG_BIN=${PG_BIN:-$(ls -d /usr/lib/postgresql/*/bin 2>/dev/null | sort -V | tail -n 1)}

pg_owner() {
  if [ "$(id -u)" -eq 0 ]; then echo postgres; else id -un; fi
}

pg_start() {
  local dir=$1 owner
  owner=$(pg_owner)
  mkdir -p "$dir"
  [ "$(id -u)" -eq 0 ] && chown "$owner" "$dir"
  PG_HOST=127.0.0.1
  PG_PORT=$(free_port)
  PG_USER=sonda
  PG_PASSWORD="s3nha 'de' teste"
  PG_SOCKET_DIR=$dir
  PG_LOG=$dir/postgresql.log
  as_user "$owner" "$PG_BIN/initdb" -D "$dir/data" -U postgres -E UTF8 --locale=C.UTF-8 \
    --auth-local=trust --auth-host=scram-sha-256 >"$dir/initdb.log"
  pg_make_certificates "$dir/tls" "$owner"
  PG_TLS_DATABASE=cobranca_tls
  # The first matching rule wins: a clear-text connection to that database is refused.
  sed -i "1i hostnossl $PG_TLS_DATABASE all all reject" "$dir/data/pg_hba.conf"
  # Every statement is logged with its process and application, so tests can read what the probe
  # sent; pg_stat_activity keeps whole statements.
  as_user "$owner" "$PG_BIN/pg_ctl" -D "$dir/data" -l "$PG_LOG" -w -o "-p $PG_PORT \
    -k $dir -c listen_addresses=127.0.0.1 -c log_statement=all \
    -c log_line_prefix='%m [%p] %a ' -c track_activity_query_size=8192 -c fsync=off \
    -c max_connections=200 -c ssl=on -c ssl_cert_file=$dir/tls/server.pem \
    -c ssl_key_file=$dir/tls/server.key" start >/dev/null
  as_user "$owner" "$PG_BIN/psql" -q -h "$dir" -p "$PG_PORT" -U postgres -d postgres \
    -v ON_ERROR_STOP=1 -v pw="$PG_PASSWORD" >/dev/null \
    <<<"CREATE ROLE $PG_USER LOGIN CREATEDB PASSWORD :'pw';"
}

# A private CA, a server certificate for the name "localhost" only (not for 127.0.0.1, so that a
# client can be shown a name that does not match) and a second CA that signed nothing here.
pg_make_certificates() {
  local dir=$1 owner=$2
  mkdir -p "$dir"
  make_ca "$dir" ca "/CN=sonda-cobranca PostgreSQL CA"
  make_ca "$dir" other-ca "/CN=sonda-cobranca other CA"
  make_server_certificate "$dir" DNS:localhost
  chmod 644 "$dir"/*.pem
  chmod 600 "$dir"/*.key
  [ "$(id -u)" -eq 0 ] && chown "$owner" "$dir/server.key"
  PG_CA=$dir/ca.pem
  PG_OTHER_CA=$dir/other-ca.pem
}

pg_stop() {
  local dir=$1
  [ -d "$dir/data" ] || return 0
  as_user "$(pg_owner)" "$PG_BIN/pg_ctl" -D "$dir/data" -m immediate stop >/dev/null 2>&1 || true
}

# Runs psql as the login role over TCP (the same path the probe takes).
pg_psql() {
  PGPASSWORD="$PG_PASSWORD" "$PG_BIN/psql" -q -X -v ON_ERROR_STOP=1 -h "$PG_HOST" -p "$PG_PORT" \
    -U "$PG_USER" "$@"
}

pg_load() {
  local database=$1
  shift
  pg_psql -d postgres -c "CREATE DATABASE \"$database\"" >/dev/null
  local file
  for file in "$@"; do pg_psql -d "$database" -f "$file" >/dev/null; done
}
