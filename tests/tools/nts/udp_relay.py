#!/usr/bin/env python3
"""A man in the middle for NTP over UDP: relays LISTEN_HOST:PORT to TARGET_HOST:PORT and back,
doing MODE (joined by commas): pass, flip:N (bit 0 of answer byte N), strip (the header alone),
replay (the first answer to every request), drop (no answer), junk (byte 1 flipped, then the
answer), lose:N (request N, from 1, is lost), hold:S (answers held S seconds), hold-first:S (the
first only).
LOG: each request's cookie in hex, a line each."""
import heapq, select, socket, sys, time

listen_host, port, target_host, target_port, modes = sys.argv[1:6]
log = open(sys.argv[6], "a", buffering=1) if len(sys.argv) > 6 else None
mode = dict((m.split(":") + [""])[:2] for m in modes.split(","))
relay = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
relay.bind((listen_host, int(port)))
upstream = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
upstream.connect((target_host, int(target_port)))
due, client, first, requests, answers = [], None, None, 0, 0  # due: (when, order, answer) held back
while True:
    wait = max(0, due[0][0] - time.monotonic()) if due else None
    ready = select.select([relay, upstream], [], [], wait)[0]
    while due and due[0][0] <= time.monotonic():
        relay.sendto(heapq.heappop(due)[2], client)
    if relay in ready:
        request, client = relay.recvfrom(4096)
        requests += 1
        # The cookie field follows the Unique Identifier's.
        size = int.from_bytes(request[86:88], "big") if request[84:86] == b"\x02\x04" else 4
        log and log.write((request[88:84 + size].hex() or "none") + "\n")
        if "replay" in mode and first is not None:
            relay.sendto(first, client)
        elif mode.get("lose") != str(requests):
            upstream.send(request)
    if upstream in ready and client:
        answer = upstream.recv(4096)
        answers, first = answers + 1, first or answer
        if "flip" in mode or "junk" in mode:
            relay.sendto(answer[:1] + bytes([answer[1] ^ 1]) + answer[2:] if "junk" in mode else
                         bytes(b ^ (i == int(mode["flip"])) for i, b in enumerate(answer)), client)
        if "drop" in mode or "flip" in mode:
            continue
        hold = float(mode.get("hold") or (answers == 1 and mode.get("hold-first")) or 0)
        answer = answer[:48] if "strip" in mode else answer
        heapq.heappush(due, (time.monotonic() + hold, answers, answer))
