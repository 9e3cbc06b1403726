# The daytime run of the real executable: a NIST line on port 13 (HTTP/0.9), xinetd's daytime service, HTTP answers
# of the fake web server and lighttpd (also redirected to https), the web cache, a proxy, a missing URL module.
source "$(dirname "$0")/lib.sh"
unset CURL_CA_BUNDLE SSL_CERT_FILE SSL_CERT_DIR  # this test says what is trusted
install_app
NIST_LINE=$'\n64754 35-11-30 12:34:56 00 0 0 50.0 UTC(NIST) * \n'
CACHE=$WORK/cache/horolan/web
WEB=http://127.0.0.1:8080
fake_peer 13 line "$NIST_LINE"
fake_peer 1300 line ""  # a reset and no line
mkdir -p "$WORK/web" && fake_peer 8080 web "$WORK/web"

# Runs start from the real time: "set" when the virtual clock reads the NIST line's time, "kept" while it has not moved.
START_SECONDS=0
LINE_AT="2035-11-30 12:34"
clock_state() {
  [ "$(offset_ns)" = 0 ] && echo kept && return
  [ "$(virtual_date '+%F %R')" = "$LINE_AT" ] && echo set
}

LAST=00000000 expect "NIST line on port 13" 0 set '#SERVER(daytime.e2e.test)'
check "NIST line on port 13: message with the server and the time, a copy in the web cache" \
  eval 'out_has "Server daytime.e2e.test:13" && out_has "2035/11/30 12:34:5" &&
    [ -f "$CACHE/daytime.e2e.test[1]" ]'
# Before a fetch the host's old copies go, unless #KEEPCACHE.
touch "$CACHE/daytime.old" "$CACHE/ntp.old"
expect "show-only, keeping the cache" 0 kept --nist --only-show --keep-cache --server=daytime.e2e.test
check "#KEEPCACHE: the host's old copy stays" [ -f "$CACHE/daytime.old" ]
expect "show-only" 0 kept --only-show --server=daytime.e2e.test
check "the host's old copy is purged, another host's stays" eval '[ ! -e "$CACHE/daytime.old" ] && [ -f "$CACHE/ntp.old" ]'

# The status decides; redirects go between http and https only; over 1 MiB or not a byte is no answer.
for status in 200 299 300 404 410 500; do response "s$status" "$status" "$NIST_LINE"; done
response moved 302 "" "Location: $WEB/s200\r\n"
response ftp 302 "" "Location: ftp://127.0.0.1/x\r\n"
response empty 200 ""
for size in 1048576 1048577; do
  { printf 'HTTP/1.1 200 X\r\nContent-Length: %s\r\n\r\n%s' "$size" "$NIST_LINE"
    head -c $((size - ${#NIST_LINE})) /dev/zero; } > "$WORK/web/big$size"
done
for answer in s200:0:set s299:0:set s300:8:kept s410:5:kept s500:8:kept moved:0:set ftp:13:kept missing:8:kept \
  empty:255:kept big1048576:0:set big1048577:8:kept s404:5:kept; do
  IFS=: read -r name expected clock <<< "$answer"
  expect "HTTP answer $name" "$expected" "$clock" "#SERVER($WEB/$name)"
done
check "HTTP 404: message, LastResult 05000C80, the reason" eval 'out_has "Resource not found" &&
  [ "$(last_result)" = 05000C80 ] && grep -qxF "horolan: 127.0.0.1:8080/s404: Resource not found (0x800C0005): HTTP status 404" "$WORK/err"'
expect "ftp URL: as written, refused" 13 kept '#SERVER(FTP://127.0.0.1/x)'


# A time is never answered from the web cache, however fresh the server says its copy is.
response fresh 200 "$NIST_LINE" "Cache-Control: max-age=999999999\r\n"
expect "a fresh answer" 0 kept --only-show "#SERVER($WEB/fresh)"
rm "$WORK/web/fresh"
expect "the server gone, its copy kept and fresh: fetched anew" 8 kept --keep-cache "#SERVER($WEB/fresh)"

# The proxy of the environment is asked for a host no one else knows.
response index 200 "$NIST_LINE"
RUN_ENV=(http_proxy="$WEB")
expect "through the proxy" 0 set '#SERVER(unknown.e2e.test)'
RUN_ENV=()
check "the proxy got the request for the whole URL" grep -q "^GET http://unknown.e2e.test:13/ HTTP/1.1" "$WORK/requests"
expect "unknown host" 5 kept '#SERVER(unknown.e2e.test)'
check "unknown host: why" grep -qxF "horolan: unknown.e2e.test:13: Resource not found (0x800C0005): Could not resolve host: unknown.e2e.test" "$WORK/err"
expect "a reset before any line" 8 kept '#SERVER(127.0.0.1:1300)'

# xinetd's daytime service closes with the request unread, a reset at times: its line still arrives, without "NIST".
printf '%s\n' "service daytime" "{" "type = INTERNAL UNLISTED" "id = daytime-stream" "socket_type = stream" \
  "protocol = tcp" "port = 1313" "bind = 127.0.0.1" "wait = no" "user = root" "}" > "$WORK/xinetd.conf"
if start_peer xinetd -dontfork -filelog "$WORK/xinetd.log" -f "$WORK/xinetd.conf" && wait_until listening tcp 1313; then
  for try in 1 2 3 4 5; do expect "xinetd's daytime line, try $try" 253 kept '#SERVER(127.0.0.1:1313)'; done
  check "no NIST: error line and an empty last line" eval 'out_has "Error -3" && [ -z "$(tail -n 1 "$WORK/out")" ]'
else
  echo "SKIPPED part: xinetd did not start"
fi

# lighttpd: http, a redirect to https and https itself; a private CA trusted through the curl program's variables.
# Over https the line's time lies within the certificate's dates (made now, 2 days): an hour ahead.
LINE_AT=$(date -u -d '+1 hour' '+%F %R')
mkdir -p "$WORK/www" && make_test_ca "$WORK/ca" &&
  date -u -d "$LINE_AT" '+%n64000 %y-%m-%d %H:%M:00 00 0 0 50.0 UTC(NIST) * ' > "$WORK/www/nist.txt"
cat > "$WORK/lighttpd.conf" <<CONF
server.document-root = "$WORK/www"
server.bind = "127.0.0.1"
server.port = 8013
server.modules += ("mod_redirect", "mod_openssl")
url.redirect = ("^/secure$" => "https://127.0.0.1:8443/nist.txt")
\$SERVER["socket"] == "127.0.0.1:8443" { ssl.engine = "enable" ssl.pemfile = "$WORK/ca/server.pem" ssl.privkey = "$WORK/ca/server.key" }
CONF
if start_peer lighttpd -D -f "$WORK/lighttpd.conf" && wait_until listening tcp 8443; then
  expect "lighttpd NIST line" 0 set '#SERVER(http://127.0.0.1:8013/nist.txt)'
  expect "redirect to https, certificate not trusted" 8 kept '#SERVER(http://127.0.0.1:8013/secure)'
  for trust in SSL_CERT_FILE="$WORK/ca/ca.pem" SSL_CERT_DIR="$WORK/ca/hashed" "CURL_CA_BUNDLE=$WORK/ca/ca.pem SSL_CERT_FILE=/none"; do
    read -ra RUN_ENV <<< "$trust"
    expect "https as written, trusted through $trust" 0 set '#SERVER(https://127.0.0.1:8443/nist.txt)'
  done
  expect "redirect to https, trusted" 0 set '#SERVER(http://127.0.0.1:8013/secure)'; RUN_ENV=()
else
  echo "SKIPPED part: lighttpd with TLS did not start"
fi
LINE_AT="2035-11-30 12:34"

mkdir -p "$WORK/lib/horolan" && mv "$APP/libhorolan_url.so" "$WORK/lib/horolan/"
expect "URL module in ../lib/horolan" 0 set '#SERVER(daytime.e2e.test)'
touch "$APP/libhorolan_url.so" && expect "a broken URL module beside it is not passed over" 8 kept daytime.e2e.test
rm -r "$WORK/lib" "$APP/libhorolan_url.so" && LAST=08000C80 expect "no URL module at all" 8 kept '#SERVER(daytime.e2e.test)'
finish
