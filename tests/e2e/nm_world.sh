# A real NetworkManager for "#CONNECT" runs, sourced after lib.sh: unpacked by fetch-peers.sh, on a
# private system bus without service activation (its dispatcher never runs), managing only nmv0,
# one end of a veth pair whose other end, 10.77.0.2, lies in the namespace "ts" where chronyd
# serves the time. Profiles: nm_profile.
NM_PEER=$PEERS/networkmanager
NM=$WORK/nm
export DBUS_SYSTEM_BUS_ADDRESS=unix:path=$NM/bus
nmcli() { "$NM_PEER/usr/bin/nmcli" "$@"; }
active_profiles() { nmcli -g NAME connection show --active | sort | tr '\n' ' '; }
# started PROFILE: how often NetworkManager began to bring it up.
started() { grep -c "Activation: starting connection '$1'" "$WORK/peers.log"; }

# nm_profile NAME PRIORITY DEVICE [IPV4-LINE...]: an ethernet profile NetworkManager never brings
# up by itself.
nm_profile() {
  printf '%s\n' "[connection]" "id=$1" "uuid=$(cat /proc/sys/kernel/random/uuid)" type=ethernet \
    autoconnect=false "autoconnect-priority=$2" "interface-name=$3" "[ipv6]" method=disabled \
    "[ipv4]" "${@:4}" > "$NM/profiles/$1.nmconnection"
  chmod 600 "$NM/profiles/$1.nmconnection"
}

start_nm_world() {
  [ -x "$NM_PEER/usr/sbin/NetworkManager" ] || skip "NetworkManager is not unpacked"
  # This namespace's /sys, read-only: no udev to wait for. Its own /run and state folder.
  mount -t sysfs -o ro sysfs /sys && mount -t tmpfs tmpfs /run || skip "cannot mount /sys and /run"
  [ -d /var/lib/NetworkManager ] && mount -t tmpfs tmpfs /var/lib/NetworkManager ||
    mount -t tmpfs tmpfs /var/lib
  [ -d /etc/NetworkManager ] && mount -t tmpfs tmpfs /etc/NetworkManager
  mkdir -p -m 755 "$NM/profiles" "$NM/conf.d"

  ip netns add ts && ip link add nmv0 type veth peer name nmv1 netns ts &&
    ip -n ts addr add 10.77.0.2/24 dev nmv1 && ip -n ts link set nmv1 up ||
    skip "cannot make the veth pair"
  PEER_IN=(ip netns exec ts)
  start_chrony synchronised "bindaddress 10.77.0.2" "allow 10.77.0.0/24"
  PEER_IN=()
  serving() { ss -N ts -Hlnu 'sport = :123' | grep -q 10.77.0.2; }
  wait_until serving || skip "chronyd did not start: $(tail -3 "$WORK/peers.log")"

  printf '%s' "<busconfig><type>system</type><listen>unix:path=$NM/bus</listen>" \
    '<auth>EXTERNAL</auth><policy context="default"><allow user="*"/><allow own="*"/>' \
    '<allow send_destination="*"/><allow receive_sender="*"/></policy></busconfig>' > "$NM/bus.conf"
  start_peer dbus-daemon --nofork --nopidfile --nosyslog --config-file="$NM/bus.conf" ||
    skip "no dbus-daemon"
  printf '%s\n' "[main]" plugins=keyfile "no-auto-default=*" dns=none rc-manager=unmanaged \
    hostname-mode=none auth-polkit=root-only "[keyfile]" "path=$NM/profiles" \
    unmanaged-devices=except:interface-name:nmv0 "[connectivity]" enabled=false > "$NM/nm.conf"
  wait_until [ -S "$NM/bus" ] || skip "the private bus did not start"
  start_peer NetworkManager --no-daemon --debug --log-level=INFO --config="$NM/nm.conf" \
    --config-dir="$NM/conf.d" --system-config-dir="$NM/conf.d" --intern-config="$NM/intern.conf" \
    --state-file="$NM/state" --pid-file="$NM/pid"
  NM_PID=$!
  nm_ready() { nmcli -g DEVICE,STATE device 2>/dev/null | grep -qx 'nmv0:disconnected'; }
  wait_until nm_ready || skip "NetworkManager did not manage nmv0: $(tail -3 "$WORK/peers.log")"
}
