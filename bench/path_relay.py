#!/usr/bin/env python3
"""An impaired path for NTP over UDP, for the bench: relays LISTEN_HOST:PORT to TARGET_HOST:PORT and back, each
datagram each way lost with probability LOSS, delayed by DELAY_MS plus a one-sided Pareto jitter (shape 1.5, scale
JITTER_MS: most datagrams a little late, a few very late; datagrams overtake each other). SEED makes it repeatable.

    path_relay.py LISTEN_HOST PORT TARGET_HOST TARGET_PORT LOSS DELAY_MS JITTER_MS [SEED]"""
import heapq
import random
import select
import socket
import sys
import time

listen_host, port, target_host, target_port = sys.argv[1:5]
loss, delay_ms, jitter_ms = float(sys.argv[5]), float(sys.argv[6]), float(sys.argv[7])
chance = random.Random(int(sys.argv[8]) if len(sys.argv) > 8 else 1)
outside = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
outside.bind((listen_host, int(port)))
inside = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
inside.connect((target_host, int(target_port)))
due = []  # (when, order, socket, datagram, address)
order = 0
clients = {}  # the client behind each request we forwarded, by its transmit timestamp


def later(sock, datagram, address):
    global order
    if chance.random() < loss:
        return
    jitter = jitter_ms * (chance.paretovariate(1.5) - 1) if jitter_ms else 0
    order += 1
    heapq.heappush(due, (time.monotonic() + (delay_ms + jitter) / 1000, order, sock, datagram, address))


while True:
    wait = max(0.0, due[0][0] - time.monotonic()) if due else None
    ready = select.select([outside, inside], [], [], wait)[0]
    now = time.monotonic()
    while due and due[0][0] <= now:
        _, _, sock, datagram, address = heapq.heappop(due)
        sock.sendto(datagram, address) if address else sock.send(datagram)
    if outside in ready:
        datagram, client = outside.recvfrom(4096)
        clients[datagram[40:48]] = client
        later(inside, datagram, None)
    if inside in ready:
        datagram = inside.recv(4096)
        client = clients.get(datagram[24:32])
        if client:
            later(outside, datagram, client)
