# A throwaway Zabbix 7.0 LTS server (Debian 13 "trixie"'s zabbix-server-pgsql) on loopback, its
# frontend, and two Zabbix 7.0 proxies for a proxy group. The packages live in a trixie system
# made by debootstrap from the mirror apt already uses, kept under ZBX7_ROOT, so the machine's
# own packages stay untouched; the programs run from there through trixie's own dynamic loader
# and libraries, on this machine's files, so that the server's external checks run this
# machine's probe. Source common.sh, postgres.sh and zabbix.sh first, start PostgreSQL and the
# Zabbix 6.0 server (whose TLS material this server shares).
#
# zbx7_install: builds ZBX7_ROOT when it is missing or was made from another package list.
# zbx7_start DIR [SQL...]: the database "zabbix7" (as zbx_start makes "zabbix") and the server;
# sets ZBX7_PORT, ZBX7_CONF, ZBX7_LOG, ZBX7_SCRIPTS and ZBX7_CONTROL (a zabbix_server command for
# -R on this server).
# zbx7_frontend_start DIR: the frontend and its API, as zbx_frontend_start; sets ZBX7_WEB_PORT.
# zbx7_proxies_start DIR: active proxies "sonda-proxy-a" and "sonda-proxy-b" of this server, on
# loopback, each in DIR/proxy-X; sets ZBX7_PROXY_A_PORT and ZBX7_PROXY_B_PORT. The server knows
# them only once they are created through the API.
# zbx7_stop DIR: stops all of them.

ZBX7_ROOT=${SONDA_ZABBIX7_ROOT:-/var/cache/sonda-cobranca/zabbix7-chroot}
ZBX7_SUITE=trixie
# What the system holds; a change here makes zbx7_install build it again. The proxy conflicts
# with the server package, so it is unpacked apart, under /opt/zabbix-proxy, with its libraries.
ZBX7_PACKAGES="zabbix-server-pgsql zabbix-frontend-php libsqlite3-0 libcurl3t64-gnutls"
ZBX7_PROXY_PACKAGE=zabbix-proxy-sqlite3

# The Debian mirror of this machine's apt sources (deb822 or one-line form).
zbx7_mirror() {
  local uri
  uri=$(cat /etc/apt/sources.list.d/*.sources 2>/dev/null |
    sed -n 's/^URIs:[[:space:]]*//p' | tr ' ' '\n' | grep -v security | grep /debian | head -n 1)
  [ -n "$uri" ] || uri=$(sed -n 's/^deb[[:space:]]\+\(\[[^]]*\][[:space:]]\+\)\?\([^[:space:]]*\/debian\/\?\)[[:space:]].*/\2/p' \
    /etc/apt/sources.list 2>/dev/null | grep -v security | head -n 1)
  echo "${uri:-http://deb.debian.org/debian}"
}

zbx7_stamp() { echo "$ZBX7_SUITE $ZBX7_PACKAGES $ZBX7_PROXY_PACKAGE"; }

zbx7_install() {
  if [ -f "$ZBX7_ROOT/.sonda-ready" ] && [ "$(cat "$ZBX7_ROOT/.sonda-ready")" = "$(zbx7_stamp)" ]; then
    return 0
  fi
  local mirror new=$ZBX7_ROOT.new
  mirror=$(zbx7_mirror)
  echo "Preparando o Zabbix 7.0 ($ZBX7_SUITE, de $mirror) em $ZBX7_ROOT..."
  rm -rf "$new"
  mkdir -p "$(dirname "$ZBX7_ROOT")"
  debootstrap --variant=minbase "$ZBX7_SUITE" "$new" "$mirror" >"$new.log" 2>&1 ||
    { tail -n 20 "$new.log" >&2; return 1; }
  # No service starts inside it while packages are installed.
  printf '#!/bin/sh\nexit 101\n' >"$new/usr/sbin/policy-rc.d"
  chmod +x "$new/usr/sbin/policy-rc.d"
  chroot "$new" /usr/bin/env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin DEBIAN_FRONTEND=noninteractive \
    sh -e -c "apt-get update -qq
      apt-get install -y -qq --no-install-recommends $ZBX7_PACKAGES
      cd /tmp && apt-get download -qq $ZBX7_PROXY_PACKAGE
      dpkg -x /tmp/${ZBX7_PROXY_PACKAGE}_*.deb /opt/zabbix-proxy
      rm -f /tmp/*.deb
      apt-get clean" >>"$new.log" 2>&1 || { tail -n 20 "$new.log" >&2; return 1; }
  zbx7_stamp >"$new/.sonda-ready"
  rm -rf "$ZBX7_ROOT" "$new.log"
  mv "$new" "$ZBX7_ROOT"
}

# zbx7_command PATH PROGRAM: writes to PATH a command that runs the system's PROGRAM (a path
# inside it) with its own loader and libraries; the programs it starts get this machine's.
zbx7_command() {
  local path=$1 program=$2 libraries
  libraries=$ZBX7_ROOT/usr/lib/x86_64-linux-gnu:$ZBX7_ROOT/lib/x86_64-linux-gnu
  mkdir -p "$(dirname "$path")"
  cat >"$path" <<SCRIPT
#!/bin/sh
exec "$ZBX7_ROOT/lib64/ld-linux-x86-64.so.2" --library-path "$libraries" "$ZBX7_ROOT$program" "\$@"
SCRIPT
  chmod +x "$path"
}

zbx7_start() {
  local dir=$1
  shift
  mkdir -p "$dir"
  zbx_database zabbix7 "$ZBX7_ROOT/usr/share/zabbix-server-pgsql" "$@"
  ZBX7_CONTROL=$dir/bin/zabbix_server
  zbx7_command "$ZBX7_CONTROL" /usr/sbin/zabbix_server
  take_port ZBX7_PORT
  ZBX7_CONF=$dir/zabbix_server.conf
  ZBX7_LOG=$dir/zabbix_server.log
  ZBX7_SCRIPTS=$dir/externalscripts
  zbx_server_conf "$dir" zabbix7 "$ZBX7_PORT" >"$ZBX7_CONF"
  zbx_large_caches >>"$ZBX7_CONF"
  zbx_server_run "$dir" "$ZBX7_CONTROL"
  wait_until "(exec 3<>/dev/tcp/127.0.0.1/$ZBX7_PORT)" 60
}

zbx7_frontend_start() {
  zbx_frontend_start "$1" "$ZBX7_ROOT/usr/share/zabbix" zabbix7 "$ZBX7_PORT"
  ZBX7_WEB_PORT=$ZBX_WEB_PORT
}

zbx7_proxies_start() {
  local dir=$1 name port
  zbx7_command "$dir/bin/zabbix_proxy" /opt/zabbix-proxy/usr/sbin/zabbix_proxy
  take_port ZBX7_PROXY_A_PORT
  take_port ZBX7_PROXY_B_PORT
  for name in a b; do
    [ "$name" = a ] && port=$ZBX7_PROXY_A_PORT || port=$ZBX7_PROXY_B_PORT
    mkdir -p "$dir/proxy-$name"
    # Configuration and data every second: a proxy group settles within seconds.
    cat >"$dir/proxy-$name/zabbix_proxy.conf" <<CONF
ProxyMode=0
Server=127.0.0.1:$ZBX7_PORT
Hostname=sonda-proxy-$name
ListenIP=127.0.0.1
ListenPort=$port
LogType=file
LogFile=$dir/proxy-$name/zabbix_proxy.log
LogFileSize=0
PidFile=$dir/proxy-$name/zabbix_proxy.pid
SocketDir=$dir/proxy-$name
DBName=$dir/proxy-$name/proxy.db
AllowRoot=1
ProxyConfigFrequency=1
DataSenderFrequency=1
StartPollers=1
StartPollersUnreachable=1
StartPingers=0
StartDiscoverers=0
StartHTTPPollers=0
StartTrappers=2
StartAgentPollers=0
StartHTTPAgentPollers=0
StartSNMPPollers=0
CONF
    "$dir/bin/zabbix_proxy" -f -c "$dir/proxy-$name/zabbix_proxy.conf" \
      >>"$dir/proxy-$name/stdout.log" 2>&1 &
    echo $! >"$dir/proxy-$name/server.pid"
  done
  wait_until "(exec 3<>/dev/tcp/127.0.0.1/$ZBX7_PROXY_A_PORT) && (exec 3<>/dev/tcp/127.0.0.1/$ZBX7_PROXY_B_PORT)" 60
}

zbx7_stop() {
  local dir=$1
  zbx_stop "$dir/proxy-a"
  zbx_stop "$dir/proxy-b"
  zbx_stop "$dir"
}
