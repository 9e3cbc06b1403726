#!/usr/bin/env python3
"""A hostile NTS key-exchange server on HOST:4460 (TLS 1.3, ALPN ntske/1, CERT and KEY); after the
request: silent (nothing, kept open), unfinished (records without End, kept open), no-end (the
same, then closed), or names:SERVER (a whole reply naming SERVER as the NTP server)."""
import socket, ssl, sys, time

host, cert, key, mode = sys.argv[1:5]
context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
context.minimum_version = ssl.TLSVersion.TLSv1_3
context.load_cert_chain(cert, key)
context.set_alpn_protocols(["ntske/1"])
server = socket.create_server((host, 4460))
record = lambda kind, body: kind.to_bytes(2, "big") + len(body).to_bytes(2, "big") + body
records = record(0x8001, b"\0\0") + record(0x8004, b"\0\x0f") + record(5, bytes(100))
if mode.startswith("names:"):
    records += record(0x8006, mode[6:].encode()) + record(0x8000, b"")
while True:
    try:
        connection = context.wrap_socket(server.accept()[0], server_side=True)
        connection.recv(1024)
        mode == "silent" or connection.sendall(records)
        mode in ("silent", "unfinished") and time.sleep(30)
        connection.close()
    except (OSError, ssl.SSLError):
        pass
