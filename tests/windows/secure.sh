# The https and proxy cases of tests/windows/run, sourced by it (which
# gives $wine, $work, $build, $nginx_bin, $port, $www, $wow, $run32 and the helpers
# check, count, fail, run_wine, windows_path and port_busy, the first three
# before secure_prepare).
#
# secure_prepare writes the prefix's Internet Settings before any control
# runs: no proxy and no auto-detection, so no control of the run ever asks
# the network for a proxy script. secure_cases makes a certificate
# authority with openssl (nothing committed), trusts it in the prefix's
# machine store, serves files over https from an nginx of its own (a good
# certificate, a wrong name, an expired one, a self-signed one) and runs a
# tinyproxy, then drives the control through tests/windows/scripts/fetch.js
# under each proxy setting.
# shellcheck shell=bash disable=SC2154

connections_key='HKCU\Software\Microsoft\Windows\CurrentVersion\Internet Settings\Connections'

# Internet Settings as WinHTTP reads them: DefaultConnectionSettings, a
# version (0x46), a counter, the flags (1 direct, 2 a fixed proxy, 4 a
# script address, 8 auto-detect), then the proxy list, the bypass list and
# the script address, each a little-endian length and its bytes.
internet_settings() { # FLAGS PROXY BYPASS [SCRIPT]
  le32() { printf '%02x%02x%02x%02x' $(($1 & 255)) $((($1 >> 8) & 255)) $((($1 >> 16) & 255)) $((($1 >> 24) & 255)); }
  text() { le32 ${#1}; printf '%s' "$1" | od -An -tx1 | tr -d ' \n'; }
  local blob
  blob=$(le32 70)$(le32 0)$(le32 "$1")$(text "$2")$(text "$3")$(text "${4:-}")$(le32 0)
  "$wine" reg add "$connections_key" /v DefaultConnectionSettings /t REG_BINARY /d "$blob" /f >/dev/null 2>&1
}

secure_prepare() {
  internet_settings 1 "" "" || echo "tests/windows/run: cannot write the prefix's Internet Settings" >&2
}

# Runs fetch.js with the cases given, into a folder of its own, under the
# script host $secure_host (the 64-bit cscript by default).
secure_fetch() { # label case...
  local label=$1 folder=$work/secure-$1 began
  shift
  mkdir -p "$folder"
  began=$(date +%s)
  VINTREL_FOLDER_ANSWER=$(windows_path "$folder") timeout 180 "$wine" "${secure_host:-cscript}" //nologo \
    "$(windows_path "$work/fetch.js")" "$(windows_path "$folder")" "$@" 2>&1 | tr -d '\r' >"$work/fetch-$label.out" || true
  { grep -v "^wine: " "$work/fetch-$label.out" || true; } | sed "s/^\(ok\|not ok\) - /\1 - $label: /" | tee "$work/fetch-$label.counted"
  count "$work/fetch-$label.counted"
  grep -q '^# end of fetch.js' "$work/fetch-$label.out" || fail "fetch.js ($label) ran to its end"
  echo "# $label: $# cases in $(($(date +%s) - began)) s"
}

# The request lines tinyproxy read.
proxied() { sed -n 's/^.*]: Request (file descriptor [0-9]*): //p' "$work/tinyproxy.log"; }

secure_cases() {
  local tls=$work/tls sroot=$work/secure-www
  mkdir -p "$tls/issued" "$sroot/slow" "$sroot/mirror"
  cp tests/windows/scripts/fetch.js "$work/fetch.js"

  # --- a certificate authority and what it signs --------------------------
  : >"$tls/index.txt"
  echo 1000 >"$tls/serial"
  printf '%s\n' '[req]' 'distinguished_name = dn' '[dn]' '[ca]' 'default_ca = test_ca' '[test_ca]' \
    "database = $tls/index.txt" "serial = $tls/serial" "new_certs_dir = $tls/issued" "certificate = $tls/ca.pem" \
    "private_key = $tls/ca.key" 'default_md = sha256' 'policy = any_name' 'unique_subject = no' '[any_name]' \
    'commonName = supplied' '[ca_ext]' 'basicConstraints = critical,CA:TRUE' 'keyUsage = critical,keyCertSign,cRLSign' \
    'subjectKeyIdentifier = hash' >"$tls/ca.cnf"
  # RSA keys: Wine's crypt32 rejects an ECDSA signature whose r or s is
  # shorter than the curve (one in a hundred or so), where Windows does not.
  local key=(-newkey rsa:2048 -nodes)
  issue() { # label names [startdate enddate]
    printf '%s\n' '[ext]' 'basicConstraints = critical,CA:FALSE' 'keyUsage = critical,digitalSignature' \
      'extendedKeyUsage = serverAuth' "subjectAltName = $2" >"$tls/$1.ext"
    local dates=(-days 30)
    # `openssl ca`, unlike `x509 -req`, can date a certificate in the past.
    [ -z "${3:-}" ] || dates=(-startdate "$3" -enddate "$4")
    openssl req -new "${key[@]}" -keyout "$tls/$1.key" -out "$tls/$1.csr" -subj "/CN=$1" -config "$tls/ca.cnf" &&
      openssl ca -batch -notext -config "$tls/ca.cnf" -in "$tls/$1.csr" -out "$tls/$1.pem" -extfile "$tls/$1.ext" \
        -extensions ext "${dates[@]}" &&
      cat "$tls/$1.pem" "$tls/ca.pem" >"$tls/$1-chain.pem"
  }
  local names='DNS:localhost,IP:127.0.0.1,IP:::1'
  if ! {
    openssl req -x509 "${key[@]}" -keyout "$tls/ca.key" -out "$tls/ca.pem" -days 30 -subj '/CN=Vintrel Windows Test CA' \
      -config "$tls/ca.cnf" -extensions ca_ext &&
      issue server "$names" && issue wrong-name DNS:wrong.example &&
      issue expired "$names" 20200101000000Z 20210101000000Z &&
      printf '%s\n' '[req]' 'distinguished_name = dn' '[dn]' '[ext]' 'basicConstraints = critical,CA:FALSE' \
        "subjectAltName = $names" >"$tls/self.cnf" &&
      openssl req -x509 "${key[@]}" -keyout "$tls/self-signed.key" -out "$tls/self-signed-chain.pem" -days 30 \
        -subj /CN=localhost -config "$tls/self.cnf" -extensions ext
  } >"$tls/openssl.log" 2>&1; then
    fail "openssl made the test certificates"
    tail -n 20 "$tls/openssl.log"
    return
  fi
  check "the test authority is added to the prefix's trusted roots" \
    run_wine "$build/tests/windows/trust/vintrel_windows_trust.exe" "$(windows_path "$tls/ca.pem")"

  # --- nginx over https, and tinyproxy -------------------------------------
  head -c 300000 /dev/urandom >"$sroot/one.bin"
  head -c 200000 /dev/urandom >"$sroot/two.bin"
  head -c 150000 /dev/urandom >"$sroot/three.bin"
  head -c 1000000 /dev/urandom >"$sroot/slow/big.bin"
  head -c 250000 /dev/urandom >"$www/mirrored.bin"
  cp "$www/mirrored.bin" "$sroot/mirror/mirrored.bin"
  # The ports are picked before the servers bind them: another process may
  # take one in between, so a start that fails tries other ports.
  local ports=() p good wrong expired self redirect proxy up=0 attempt
  for attempt in 1 2 3 4 5; do
    ports=()
    while [ ${#ports[@]} -lt 6 ]; do
      p=$((20000 + RANDOM % 40000))
      port_busy "$p" || [[ " ${ports[*]} " == *" $p "* ]] || ports+=("$p")
    done
    good=${ports[0]} wrong=${ports[1]} expired=${ports[2]} self=${ports[3]} redirect=${ports[4]} proxy=${ports[5]}
    {
      echo "daemon off; master_process off; worker_processes 1;"
      [ "$(id -u)" = 0 ] && echo "user root;"
      echo "error_log $work/secure-error.log warn; pid $work/secure-nginx.pid;"
      echo "events { worker_connections 64; }"
      echo "http {"
      for t in client_body proxy fastcgi uwsgi scgi; do echo "  ${t}_temp_path $work/secure_${t}_temp;"; done
      # shellcheck disable=SC2016
      printf '  log_format secure "$server_port|$request|$status|$http_range|$ssl_protocol";\n'
      echo "  access_log $work/secure-access.log secure;"
      echo "  default_type application/octet-stream;"
      for pair in "$good:server" "$wrong:wrong-name" "$expired:expired" "$self:self-signed"; do
        echo "  server { listen 127.0.0.1:${pair%%:*} ssl; root $sroot;"
        echo "    ssl_certificate $tls/${pair#*:}-chain.pem; ssl_certificate_key $tls/${pair#*:}.key;"
        echo "    location /slow/ { limit_rate 200k; } }"
      done
      echo "  server { listen 127.0.0.1:$redirect; return 302 https://127.0.0.1:$good\$request_uri; }"
      echo "}"
    } >"$work/secure-nginx.conf"
    # Tunnels reach the good server only: one to another port is refused.
    printf '%s\n' "Port $proxy" 'Listen 127.0.0.1' 'Timeout 30' 'MaxClients 50' 'Allow 127.0.0.1' \
      'DisableViaHeader Yes' "ConnectPort $good" 'LogLevel Info' "LogFile \"$work/tinyproxy.log\"" \
      "PidFile \"$work/tinyproxy.pid\"" >"$work/tinyproxy.conf"
    "$nginx_bin" -p "$work/" -c "$work/secure-nginx.conf" -e "$work/secure-error.log" </dev/null \
      >>"$work/nginx.out" 2>&1 &
    secure_nginx_pid=$!
    tinyproxy -d -c "$work/tinyproxy.conf" </dev/null >"$work/tinyproxy.out" 2>&1 &
    tinyproxy_pid=$!
    for _ in $(seq 1 250); do
      if ! kill -0 "$secure_nginx_pid" 2>/dev/null || ! kill -0 "$tinyproxy_pid" 2>/dev/null; then break; fi
      if port_busy "$good" && port_busy "$redirect" && port_busy "$proxy"; then up=1 && break; fi
      sleep 0.02
    done
    # Bound by the servers themselves, not by someone else in between.
    sleep 0.1
    if [ "$up" = 1 ] && kill -0 "$secure_nginx_pid" 2>/dev/null && kill -0 "$tinyproxy_pid" 2>/dev/null; then
      break
    fi
    up=0
    echo "# attempt $attempt to start nginx over https and tinyproxy failed"
    tail -n 3 "$work/secure-error.log" "$work/tinyproxy.out" 2>/dev/null
    secure_stop
  done
  if [ "$up" = 0 ]; then
    fail "nginx over https and tinyproxy start"
    return
  fi
  local s=https://127.0.0.1:$good
  # Every case below needs both servers; one that stopped says why.
  alive() {
    kill -0 "$secure_nginx_pid" 2>/dev/null && kill -0 "$tinyproxy_pid" 2>/dev/null && return
    fail "nginx over https and tinyproxy are still running ($1)"
    tail -n 5 "$work/secure-error.log" "$work/nginx.out" "$work/tinyproxy.out" 2>/dev/null
  }

  # --- https, straight to the servers --------------------------------------
  secure_fetch https "$s/one.bin=saved" "https://localhost:$good/two.bin=saved" \
    "http://127.0.0.1:$redirect/three.bin=saved" "$s/slow/big.bin=resumed" \
    "https://127.0.0.1:$wrong/one.bin=12038" "https://localhost:$wrong/one.bin=12038" \
    "https://127.0.0.1:$expired/one.bin=12037" "https://127.0.0.1:$self/one.bin=12045" \
    "https://127.0.0.1:$port/one.bin=12157" \
    "http://127.0.0.1:$port/mirrored.bin|$s/mirror/mirrored.bin=saved"
  local f
  for f in one.bin two.bin three.bin slow/big.bin; do
    check "https: ${f#slow/} is the server's, byte for byte" cmp -s "$sroot/$f" "$work/secure-https/${f#slow/}"
  done
  check "https: the file with a secure mirror is the server's, byte for byte" \
    cmp -s "$www/mirrored.bin" "$work/secure-https/mirrored.bin"
  check "https: the secure mirror was probed over TLS" grep -q "^$good|GET /mirror/mirrored.bin HTTP/1.1|.*|TLSv" \
    "$work/secure-access.log"
  check "https: the paused file was resumed with a range" \
    grep -qE "^$good\|GET /slow/big.bin HTTP/1.1\|206\|bytes=[1-9][0-9]*-" "$work/secure-access.log"
  echo "# TLS agreed under Wine: $(cut -d'|' -f5 "$work/secure-access.log" | grep . | sort | uniq -c | tr -s ' \n' ' ')"

  alive "https"

  # --- a fixed proxy from Internet Settings, with <local> bypassed ----------
  check "Internet Settings name a proxy, <local> bypassed" internet_settings 3 "127.0.0.1:$proxy" "<local>"
  secure_fetch proxy "http://127.0.0.1:$port/one.bin=saved" "$s/two.bin=saved" \
    "http://localhost:$port/two.bin=saved"
  check "proxy: a plain request goes to the proxy naming the server" \
    grep -qx "GET http://127.0.0.1:$port/one.bin HTTP/1.1" <(proxied)
  check "proxy: https goes through a CONNECT tunnel" grep -qx "CONNECT 127.0.0.1:$good HTTP/1.1" <(proxied)
  check "proxy: a name without a dot goes direct under <local>" test -z "$(proxied | grep localhost)"
  check "proxy: the tunnelled file is the server's, byte for byte" cmp -s "$sroot/two.bin" "$work/secure-proxy/two.bin"
  check "proxy: the proxied file is the server's, byte for byte" cmp -s "$www/one.bin" "$work/secure-proxy/one.bin"

  # --- the same from the 32-bit script host and DLL ----------------------------
  if [ "$run32" = 1 ]; then
    : >"$work/tinyproxy.log"
    secure_host="$wow\\cscript.exe" secure_fetch proxy-32 "$s/one.bin=saved" "http://127.0.0.1:$port/two.bin=saved"
    check "32-bit: https goes through a CONNECT tunnel" grep -qx "CONNECT 127.0.0.1:$good HTTP/1.1" <(proxied)
    check "32-bit: a plain request goes to the proxy naming the server" \
      grep -qx "GET http://127.0.0.1:$port/two.bin HTTP/1.1" <(proxied)
    check "32-bit: the tunnelled file is the server's, byte for byte" cmp -s "$sroot/one.bin" "$work/secure-proxy-32/one.bin"
  fi

  # --- a proxy for https only, and a bypass pattern --------------------------
  : >"$work/tinyproxy.log"
  check "Internet Settings name a proxy for https only, and a bypass list" \
    internet_settings 3 "https=127.0.0.1:$proxy" "*.0.0.1:$expired;localhost"
  secure_fetch per-scheme "http://127.0.0.1:$port/one.bin=saved" "$s/one.bin=saved" \
    "https://localhost:$good/two.bin=saved" "https://127.0.0.1:$expired/two.bin=12037" \
    "https://127.0.0.1:$self/two.bin=403"
  check "per scheme: plain http goes direct without an http= entry" test -z "$(proxied | grep '^GET')"
  check "per scheme: https goes through the https= proxy" grep -qx "CONNECT 127.0.0.1:$good HTTP/1.1" <(proxied)
  check "per scheme: the bypass list's name and pattern with a port go direct" \
    test -z "$(proxied | grep -e localhost -e ":$expired ")"

  # --- an auto-config script from Internet Settings ---------------------------
  : >"$work/tinyproxy.log"
  printf '%s\n' 'function FindProxyForURL(url, host) {' '  if (host == "localhost") return "DIRECT";' \
    "  return \"PROXY 127.0.0.1:$proxy\";" '}' >"$www/proxy.pac"
  check "Internet Settings name an auto-config script" internet_settings 5 "" "" "http://127.0.0.1:$port/proxy.pac"
  secure_fetch script "http://127.0.0.1:$port/one.bin=saved" "$s/two.bin=saved" "https://localhost:$good/one.bin=saved"
  check "script: a plain request goes to the script's proxy" \
    grep -qx "GET http://127.0.0.1:$port/one.bin HTTP/1.1" <(proxied)
  check "script: https goes through the script's proxy" grep -qx "CONNECT 127.0.0.1:$good HTTP/1.1" <(proxied)
  check "script: what the script sends DIRECT goes direct" test -z "$(proxied | grep localhost)"

  alive "proxies"

  # --- no proxy in Internet Settings: the environment's -----------------------
  : >"$work/tinyproxy.log"
  check "Internet Settings hold no proxy" internet_settings 1 "" ""
  http_proxy=http://127.0.0.1:$proxy no_proxy=localhost secure_fetch environment \
    "http://127.0.0.1:$port/two.bin=saved" "http://localhost:$port/one.bin=saved"
  check "environment: http_proxy is followed when Internet Settings name no proxy" \
    grep -qx "GET http://127.0.0.1:$port/two.bin HTTP/1.1" <(proxied)
  check "environment: no_proxy is followed" test -z "$(proxied | grep localhost)"
}

secure_stop() {
  local pid
  for pid in "${secure_nginx_pid:-}" "${tinyproxy_pid:-}"; do
    [ -n "$pid" ] || continue
    kill "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
  done
  secure_nginx_pid='' tinyproxy_pid=''
}
