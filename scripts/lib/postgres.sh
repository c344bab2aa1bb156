# A throwaway PostgreSQL server on loopback. Source scripts/lib/common.sh first.
#
# pg_start DIR: initialises and starts a server whose files live in DIR, with a login role that
# authenticates by password over TCP. Sets PG_HOST, PG_PORT, PG_USER, PG_PASSWORD, PG_LOG,
# PG_SOCKET_DIR.
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
  # Every statement is logged with its process and application, so tests can read what the probe
  # sent; pg_stat_activity keeps whole statements.
  as_user "$owner" "$PG_BIN/pg_ctl" -D "$dir/data" -l "$PG_LOG" -w -o "-p $PG_PORT \
    -k $dir -c listen_addresses=127.0.0.1 -c log_statement=all \
    -c log_line_prefix='%m [%p] %a ' -c track_activity_query_size=8192 -c fsync=off \
    -c max_connections=200" start >/dev/null
  as_user "$owner" "$PG_BIN/psql" -q -h "$dir" -p "$PG_PORT" -U postgres -d postgres \
    -v ON_ERROR_STOP=1 -v pw="$PG_PASSWORD" >/dev/null \
    <<<"CREATE ROLE $PG_USER LOGIN CREATEDB PASSWORD :'pw';"
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
