# NTS peers for the end-to-end tests: a test CA with a server certificate,
# and chronyd as an NTS server. Source after lib.sh (WORK, PIDS, skip,
# wait_until).

# make_nts_ca DIR: DIR/ca.pem (the CA to trust) and DIR/server.pem with
# DIR/server.key for localhost, 127.0.0.1, 127.0.0.4 and ::1, signed by it; also
# DIR/other-ca.pem, a CA that signed nothing here.
make_nts_ca() {
  local dir=$1 ca
  local key=(-newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes)
  mkdir -p "$dir"
  for ca in ca other-ca; do
    openssl req -x509 "${key[@]}" -keyout "$dir/$ca.key" -out "$dir/$ca.pem" -days 2 -subj "/CN=Horolan test $ca" \
      -addext basicConstraints=critical,CA:TRUE -addext keyUsage=critical,keyCertSign 2>/dev/null || return 1
  done
  openssl req "${key[@]}" -keyout "$dir/server.key" -out "$dir/server.csr" -subj /CN=localhost 2>/dev/null || return 1
  printf 'subjectAltName=DNS:localhost,IP:127.0.0.1,IP:127.0.0.4,IP:::1\nextendedKeyUsage=serverAuth\n' > "$dir/server.ext"
  openssl x509 -req -in "$dir/server.csr" -CA "$dir/ca.pem" -CAkey "$dir/ca.key" -CAcreateserial -days 2 \
    -extfile "$dir/server.ext" -out "$dir/server.pem" 2>/dev/null
}

# The chronyd to run: the installed one, else one unpacked from Debian's
# package into the build (never installed as the machine's package).
nts_chronyd() {
  local unpacked=$BIN/../peers/chrony
  if [ -x /usr/sbin/chronyd ]; then echo /usr/sbin/chronyd; return; fi
  if [ ! -x "$unpacked/usr/sbin/chronyd" ]; then
    mkdir -p "$unpacked" && (cd "$unpacked" && apt-get download chrony && dpkg -x chrony_*.deb .) >/dev/null 2>&1 || return 1
  fi
  echo "$unpacked/usr/sbin/chronyd"
}

# start_nts_chrony DIR [LINE...]: chronyd with the certificate of make_nts_ca
# DIR as a synchronised NTP server on 127.0.0.1:123 and NTS-KE server on
# 127.0.0.1:4460 and [::1]:4460; LINEs are added to its configuration (a later "port N"
# wins). Never touches the clock (-x), runs without CAP_SYS_TIME, in the
# foreground; its PID in NTS_CHRONY_PID. Skips when it does not come up.
start_nts_chrony() {
  local dir=$1 chronyd
  shift
  chronyd=$(nts_chronyd) || skip "no chronyd"
  printf '%s\n' "port 123" "bindaddress 127.0.0.1" "bindaddress ::1" "allow 127.0.0.1" "allow ::1" "cmdport 0" "local stratum 8" \
    "driftfile $dir/drift" "pidfile $dir/chronyd.pid" "ntsdumpdir $dir" "ntsport 4460" \
    "ntsservercert $dir/server.pem" "ntsserverkey $dir/server.key" "$@" > "$dir/chrony.conf"
  setpriv --bounding-set -sys_time --inh-caps -sys_time \
    "$chronyd" -x -d -u root -f "$dir/chrony.conf" >"$dir/chrony.log" 2>&1 &
  NTS_CHRONY_PID=$!
  PIDS+=("$NTS_CHRONY_PID")
  wait_until bash -c "ss -tln | grep -q '127.0.0.1:4460 '" || skip "chronyd did not start: $(tail -3 "$dir/chrony.log")"
}
