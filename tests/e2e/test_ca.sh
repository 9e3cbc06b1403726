# The test CA of the end-to-end scripts and the benchmarks; sourced, it only defines make_test_ca.

# make_test_ca DIR: DIR/ca.pem (also in the hashed folder DIR/hashed), DIR/server.pem and .key
# for localhost, 127.0.0.1, .4, .7 to .10 and ::1 signed by it, and DIR/other-ca.pem that signed
# nothing.
make_test_ca() {
  local dir=$1 ca key=(-newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes)
  mkdir -p "$dir/hashed"
  for ca in ca other-ca; do
    openssl req -x509 "${key[@]}" -keyout "$dir/$ca.key" -out "$dir/$ca.pem" -days 2 \
      -subj "/CN=Horolan test $ca" -addext basicConstraints=critical,CA:TRUE \
      -addext keyUsage=critical,keyCertSign 2>/dev/null || return 1
  done
  openssl req "${key[@]}" -keyout "$dir/server.key" -out "$dir/server.csr" -subj /CN=localhost \
    2>/dev/null || return 1
  local ips=IP:127.0.0.1,IP:127.0.0.4,IP:127.0.0.7,IP:127.0.0.8,IP:127.0.0.9,IP:127.0.0.10,IP:::1
  printf 'subjectAltName=DNS:localhost,%s\nextendedKeyUsage=serverAuth\n' "$ips" > "$dir/server.ext"
  openssl x509 -req -in "$dir/server.csr" -CA "$dir/ca.pem" -CAkey "$dir/ca.key" -CAcreateserial \
    -days 2 -extfile "$dir/server.ext" -out "$dir/server.pem" 2>/dev/null &&
    cp "$dir/ca.pem" "$dir/hashed/" && openssl rehash "$dir/hashed"
}
