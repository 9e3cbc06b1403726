#!/usr/bin/env python3
"""A man in the middle for NTP over UDP: relays LISTEN_HOST:PORT to TARGET_HOST:PORT and back, doing MODE to the
answer: pass, flip:N (bit 0 of byte N), strip (the header alone), replay (the first answer to every request), drop
(none), or junk (byte 1 flipped, then the answer itself)."""
import socket
import sys

listen_host, port, target_host, target_port, mode = sys.argv[1:6]
relay = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
relay.bind((listen_host, int(port)))
upstream = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
upstream.settimeout(2)
first = None
while True:
    request, client = relay.recvfrom(4096)
    if mode == "replay" and first is not None:
        relay.sendto(first, client)
        continue
    upstream.sendto(request, (target_host, int(target_port)))
    try:
        answer = upstream.recv(4096)
    except socket.timeout:
        continue
    first = first or answer
    if mode.startswith("flip:") or mode == "junk":
        flipped = bytearray(answer)
        flipped[1 if mode == "junk" else int(mode[5:])] ^= 1
        relay.sendto(flipped, client)
    if mode != "drop" and not mode.startswith("flip:"):
        relay.sendto(answer[:48] if mode == "strip" else answer, client)
