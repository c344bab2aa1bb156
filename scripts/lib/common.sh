# Helpers shared by the set-up scripts. Source it; it defines functions only.

# Ports handed out by take_port, which free_port never gives again: a standby Zabbix node holds
# its port without listening on it.
TAKEN_PORTS=""

# A TCP port on 127.0.0.1 that nothing listens on now.
free_port() {
  local port
  for _ in $(seq 1 200); do
    port=$((20000 + RANDOM % 12000))  # below 32768: Zabbix takes no higher ListenPort
    case " $TAKEN_PORTS " in *" $port "*) continue ;; esac
    if ! (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null; then
      echo "$port"
      return 0
    fi
  done
  echo "no free port found" >&2
  return 1
}

# take_port NAME: sets the variable NAME to a free port that no later free_port gives.
take_port() {
  local port
  port=$(free_port) || return 1
  TAKEN_PORTS+=" $port"
  printf -v "$1" '%s' "$port"
}

# Waits up to $2 seconds (default 60) until command $1 succeeds.
wait_until() {
  local check=$1 seconds=${2:-60}
  for _ in $(seq 1 $((seconds * 10))); do
    if eval "$check" >/dev/null 2>&1; then return 0; fi
    sleep 0.1
  done
  echo "timed out waiting for: $check" >&2
  return 1
}

# Runs a command as user $1 (root runs it through runuser; anyone else runs it directly).
as_user() {
  local user=$1
  shift
  if [ "$(id -u)" -eq 0 ]; then
    runuser -u "$user" -- "$@"
  else
    "$@"
  fi
}

# A self-signed CA of the tests, valid 30 days: DIR/NAME.pem, with its key DIR/NAME.key.
make_ca() {
  local dir=$1 name=$2 subject=$3
  openssl req -x509 -newkey rsa:2048 -nodes -days 30 -subj "$subject" \
    -keyout "$dir/$name.key" -out "$dir/$name.pem" 2>/dev/null
}

# A server certificate for CN=localhost with the subjectAltName $2 ("DNS:localhost,IP:..."),
# signed by the CA DIR/ca.pem: DIR/server.pem, with its key DIR/server.key.
make_server_certificate() {
  local dir=$1 names=$2
  openssl req -newkey rsa:2048 -nodes -subj "/CN=localhost" \
    -keyout "$dir/server.key" -out "$dir/server.csr" 2>/dev/null
  printf 'subjectAltName=%s\n' "$names" >"$dir/san.ext"
  openssl x509 -req -in "$dir/server.csr" -CA "$dir/ca.pem" -CAkey "$dir/ca.key" \
    -CAcreateserial -days 30 -extfile "$dir/san.ext" -out "$dir/server.pem" 2>/dev/null
}
