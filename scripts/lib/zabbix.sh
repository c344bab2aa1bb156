# A throwaway Zabbix 6.0 server (Debian's zabbix-server-pgsql) on loopback, with its database on
# the PostgreSQL server of scripts/lib/postgres.sh. Source common.sh and postgres.sh first and
# start PostgreSQL.
#
# zbx_start DIR [SQL...]: creates the database "zabbix" (schema, images, data, then the given
# files) and starts the server; sets ZBX_PORT, ZBX_CONF, ZBX_LOG.
# zbx_stop DIR: stops it.
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
  local file
  for file in "$@"; do pg_psql -d zabbix -f "$file" >/dev/null; done

  ZBX_PORT=$(free_port)
  ZBX_CONF=$dir/zabbix_server.conf
  ZBX_LOG=$dir/zabbix_server.log
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
CONF
  # Run in the foreground, in the background of this shell, so that stopping is a kill.
  zabbix_server -f -c "$ZBX_CONF" >"$dir/stdout.log" 2>&1 &
  echo $! >"$dir/server.pid"
  wait_until "(exec 3<>/dev/tcp/127.0.0.1/$ZBX_PORT)" 60
}

zbx_reload() {
  zabbix_server -c "$ZBX_CONF" -R config_cache_reload >/dev/null
}

zbx_stop() {
  local dir=$1
  [ -f "$dir/server.pid" ] || return 0
  local pid
  pid=$(cat "$dir/server.pid")
  kill "$pid" 2>/dev/null || true
  wait_until "! kill -0 $pid" 30 || kill -9 "$pid" 2>/dev/null || true
}
