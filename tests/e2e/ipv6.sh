# SNTP and daytime over IPv6: chronyd and a NIST line server on ::1 only, a name with only an IPv6 address.
source "$(dirname "$0")/lib.sh"
install_app
echo "::1 six.e2e.test" >> "$WORK/hosts"
# chronyd answers on [::1] only: its IPv4 side moves away from 127.0.0.1.
start_ready_chrony ::1 "bindaddress 127.0.0.9" "bindaddress ::1" "allow ::1"
fake_peer 13 line $'\n64754 35-11-30 12:34:56 00 0 0 50.0 UTC(NIST) * \n' ::1

# The server line names the server as given.
for server in ::1 '[::1]' six.e2e.test; do OUT="Server $server" expect "SNTP to $server" 0 set --sntp "--server=$server"; done
expect "(nothing answers on IPv4: refused, 10061)" 77 kept --sntp --server=127.0.0.1 --only-show

set_offset_seconds 0
run '#SERVER([::1])'
check "daytime from [::1]: exit 0, the server shown as [::1]:13, the clock reads the line's time" \
  eval '[ "$(status)" = 0 ] && out_has "Server [::1]:13" &&
    [ "$(virtual_date "+%F %R")" = "2035-11-30 12:34" ]'

finish
