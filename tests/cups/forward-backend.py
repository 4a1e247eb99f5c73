#!/usr/bin/env python3
"""A CUPS backend for the tests: sends each job unchanged to the virtual printer named by the device URI,
tessera-forward://127.0.0.1:PORT. Only loopback addresses are taken."""

import os
import socket
import sys

if len(sys.argv) == 1:
    print('network tessera-forward "Unknown" "Forward raw jobs to a virtual printer"')
    sys.exit(0)
uri = os.environ.get("DEVICE_URI", "")
host, _, port = uri.partition("://")[2].strip("/").rpartition(":")
if not host.startswith("127."):
    print(f"ERROR: {uri}: only loopback", file=sys.stderr)
    sys.exit(1)
data = open(sys.argv[6], "rb").read() if len(sys.argv) > 6 else sys.stdin.buffer.read()
with socket.create_connection((host, int(port)), timeout=10) as s:
    s.sendall(data)
    s.shutdown(socket.SHUT_WR)
    while s.recv(4096):
        pass
sys.exit(0)
