"""A stand-in of the hosted authentication service: several HTTPS nodes on
free ports of 127.0.0.1, each answering from its own queue of scripted
answers and recording every request.

Usage: auth_standin.py CERT KEY LOG NODES [TOOL KEYS CA OUTDIR]

With TOOL (the project's mkcloudconfig), KEYS (its directory of live.key
and integration.key), CA (the PEM files the package trusts, separated by
",") and OUTDIR, writes
OUTDIR/CloudConfig.pkg whose bootstrap address is "https://127.0.0.1:P0/btp/",
discovery address "https://127.0.0.1:P0/discovery/" and parameter
"enterprise/auth-uris" the other nodes, "https://127.0.0.1:Pn" joined by ";".

Prints the ports on one line, then reads one JSON command per line from
standard input and answers each with "ok":
  {"node": N, "status": 200, "reason": "OK", "headers": [[name, value]],
   "body": text (latin-1), "date": true, "reset": false}
      queues an answer on node N; "reset" closes the connection instead
      ("RST", no answer); "sticky" keeps it queued for every later
      request; "date" false leaves out the "Date" header; "delayMs"
      waits that long before answering;
  {"dateOffset": seconds}: the "Date" of later answers runs that far off;
  {"clear": true}: empties every queue.
A request that finds its node's queue empty gets 404. LOG gets one JSON
line per request: node, method, path, headers ([name, value] in order),
body (hex). Stops when standard input ends.
"""
import email.utils
import json
import socket
import ssl
import struct
import subprocess
import sys
import threading
import time

cert, key, logpath, count = sys.argv[1], sys.argv[2], sys.argv[3], int(sys.argv[4])
context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
context.load_cert_chain(cert, key)
lock = threading.Lock()
queues = [[] for _ in range(count)]
offset = [0.0]


def log(entry):
    with lock, open(logpath, "a") as f:
        f.write(json.dumps(entry) + "\n")


def read_request(conn, buf):
    """(method, path, headers, body, rest) or None at end of stream."""
    while b"\r\n\r\n" not in buf:
        data = conn.recv(65536)
        if not data:
            return None
        buf += data
    head, rest = buf.split(b"\r\n\r\n", 1)
    lines = head.decode("latin-1").split("\r\n")
    method, path = (lines[0].split(" ") + ["", ""])[:2]
    headers = []
    length = 0
    for line in lines[1:]:
        name, _, value = line.partition(":")
        headers.append([name, value.strip()])
        if name.strip().lower() == "content-length":
            length = int(value.strip())
    while len(rest) < length:
        data = conn.recv(65536)
        if not data:
            break
        rest += data
    return method, path, headers, rest[:length], rest[length:]


def answer(entry):
    body = entry.get("body", "").encode("latin-1")
    now = time.time() + offset[0]
    out = "HTTP/1.1 %d %s\r\n" % (entry.get("status", 200), entry.get("reason", "OK"))
    if entry.get("date", True):
        out += "Date: %s\r\n" % email.utils.formatdate(now, usegmt=True)
    for name, value in entry.get("headers", []):
        if value.startswith("@date+"):
            value = email.utils.formatdate(now + int(value[6:]), usegmt=True)
        out += "%s: %s\r\n" % (name, value)
    out += "Content-Length: %d\r\n\r\n" % len(body)
    return out.encode("latin-1") + body


def serve(conn, node):
    buf = b""
    try:
        conn = context.wrap_socket(conn, server_side=True)
        while True:
            got = read_request(conn, buf)
            if got is None:
                return
            method, path, headers, body, buf = got
            log({"node": node, "method": method, "path": path, "headers": headers,
                 "body": body.hex()})
            with lock:
                entry = queues[node][0] if queues[node] else None
                if entry and not entry.get("sticky"):
                    queues[node].pop(0)
            if entry is None:
                entry = {"status": 404, "reason": "Not Found"}
            if entry.get("reset"):
                conn.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
                return
            time.sleep(entry.get("delayMs", 0) / 1000.0)
            conn.sendall(answer(entry))
    except (OSError, ssl.SSLError):
        pass
    finally:
        conn.close()


def accept(listener, node):
    while True:
        try:
            conn, _ = listener.accept()
        except OSError:
            return
        threading.Thread(target=serve, args=(conn, node), daemon=True).start()


listeners = []
for n in range(count):
    s = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    s.bind(("127.0.0.1", 0))
    s.listen(64)
    listeners.append(s)
ports = [s.getsockname()[1] for s in listeners]

if len(sys.argv) > 8:
    tool, keys, ca, outdir = sys.argv[5:9]
    nodes = ";".join("https://127.0.0.1:%d" % p for p in ports[1:])
    certs = [a for c in ca.split(",") for a in ("--certificate", c)]
    subprocess.run([tool, "--live-key", keys + "/live.key", "--integration-key",
                    keys + "/integration.key", *certs, "--out", outdir,
                    "--bootstrap-uri", "https://127.0.0.1:%d/btp/" % ports[0],
                    "--discovery-uri", "https://127.0.0.1:%d/discovery/" % ports[0],
                    "--parameter", "enterprise/auth-uris=" + nodes], check=True)

for n, s in enumerate(listeners):
    threading.Thread(target=accept, args=(s, n), daemon=True).start()
print(" ".join(str(p) for p in ports), flush=True)

for line in sys.stdin:
    command = json.loads(line)
    with lock:
        if "node" in command:
            queues[command["node"]].append(command)
        if "dateOffset" in command:
            offset[0] = command["dateOffset"]
        if command.get("clear"):
            for q in queues:
                q.clear()
    print("ok", flush=True)
