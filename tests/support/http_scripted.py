"""A scripted HTTP/1.1 (or HTTPS) server for tests of HTTP clients.

Usage: http_scripted.py SCRIPT LOG [CERT KEY [CLIENTCA]]

SCRIPT is a JSON object: response name -> object with
  "raw":   the response bytes (latin-1 text), sent as the mode asks;
  "close": close the connection after sending (default: keep it open);
  "closeAfterMs": close an idle kept connection after that long;
  "skipBody": answer right after the request head, reading no body;
  "silent": send nothing and keep the connection open.
A request for "/<name>/<mode>" or "/<name>/<mode>/<file name>" (any method;
a query and the file name are ignored) is answered with that response,
mode being "whole", "bytes" (one byte at a time), "split-N" (the first N
bytes, a pause, the rest) or "hold-N" (the first N bytes, then the rest
once a file named LOG + ".go" exists). Any other target gets 404 with an
empty body.

Listens on 127.0.0.1 and, when it can, ::1 on the same port (TLS with CERT
and KEY when given), prints the port, then serves each connection on its
own thread. LOG gets one line per request, "conn N req HEX" with the
request's bytes (head and body as received), and "conn N eof" when the
client has closed. Stops when its standard input ends.

A response may also have "delayMs": wait that long before answering. A
name that begins with "/" is a whole path (query ignored), answered whole.
With CLIENTCA, a TLS client must present a certificate issued by it; LOG
then gets "conn N cert SUBJECT" (the subject's commonName) per connection.
"""
import json
import os
import socket
import ssl
import sys
import threading
import time

script = json.load(open(sys.argv[1], encoding="utf-8"))
logpath = sys.argv[2]
context = None
if len(sys.argv) > 4:
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    context.load_cert_chain(sys.argv[3], sys.argv[4])
    if len(sys.argv) > 5:
        context.verify_mode = ssl.CERT_REQUIRED
        context.load_verify_locations(sys.argv[5])
lock = threading.Lock()
counter = [0]


def log(text):
    with lock, open(logpath, "a") as f:
        f.write(text + "\n")


def read_head(conn, buf):
    """(request head, rest of buf) or (None, buf) at end of stream."""
    while b"\r\n\r\n" not in buf:
        data = conn.recv(65536)
        if not data:
            return None, buf
        buf += data
    head, rest = buf.split(b"\r\n\r\n", 1)
    return head + b"\r\n\r\n", rest


def read_body(conn, head, rest):
    """(head and body, what follows)."""
    length = 0
    for line in head.split(b"\r\n")[1:]:
        name, _, value = line.partition(b":")
        if name.strip().lower() == b"content-length":
            length = int(value.strip())
    while len(rest) < length:
        data = conn.recv(65536)
        if not data:
            break
        rest += data
    return head + rest[:length], rest[length:]


def send(conn, raw, mode):
    if mode == "whole":
        conn.sendall(raw)
    elif mode == "bytes":
        for i in range(len(raw)):
            conn.sendall(raw[i:i + 1])
            time.sleep(0.001)
    elif mode.startswith("split-"):
        n = int(mode[6:])
        conn.sendall(raw[:n])
        time.sleep(0.005)
        conn.sendall(raw[n:])
    elif mode.startswith("hold-"):
        n = int(mode[5:])
        conn.sendall(raw[:n])
        while not os.path.exists(logpath + ".go"):
            time.sleep(0.01)
        conn.sendall(raw[n:])


def target_of(request):
    line = request.split(b"\r\n", 1)[0].decode("latin-1").split(" ")
    path = line[1].split("?", 1)[0] if len(line) > 1 else ""
    if path in script:
        return path, "whole"
    parts = path.strip("/").split("/")
    return (parts[0], parts[1]) if len(parts) in (2, 3) else (None, None)


def serve(conn, n):
    buf = b""
    try:
        if context:
            conn = context.wrap_socket(conn, server_side=True)
            if context.verify_mode == ssl.CERT_REQUIRED:
                subject = dict(x[0] for x in conn.getpeercert()["subject"])
                log("conn %d cert %s" % (n, subject.get("commonName", "")))
        conn.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
        while True:
            head, buf = read_head(conn, buf)
            if head is None:
                log("conn %d eof" % n)
                return
            name, mode = target_of(head)
            entry = script.get(name) if name else None
            request = head
            if not (entry and entry.get("skipBody")):
                request, buf = read_body(conn, head, buf)
            log("conn %d req %s" % (n, request.hex()))
            if entry is None:
                conn.sendall(b"HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\n\r\n")
                continue
            if entry.get("silent"):
                while conn.recv(65536):
                    pass
                return
            if "delayMs" in entry:
                time.sleep(entry["delayMs"] / 1000.0)
            send(conn, entry["raw"].encode("latin-1"), mode)
            if entry.get("close"):
                return
            if "closeAfterMs" in entry:
                conn.settimeout(entry["closeAfterMs"] / 1000.0)
                try:
                    data = conn.recv(65536)
                except socket.timeout:
                    return
                conn.settimeout(None)
                if not data:
                    log("conn %d eof" % n)
                    return
                buf += data
    except (OSError, ssl.SSLError):
        pass
    finally:
        try:
            conn.close()
        except OSError:
            pass


def accept(listener):
    while True:
        conn, _ = listener.accept()
        with lock:
            counter[0] += 1
            n = counter[0]
        threading.Thread(target=serve, args=(conn, n), daemon=True).start()


v4 = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
v4.bind(("127.0.0.1", 0))
v4.listen(64)
port = v4.getsockname()[1]
listeners = [v4]
try:
    v6 = socket.socket(socket.AF_INET6, socket.SOCK_STREAM)
    v6.setsockopt(socket.IPPROTO_IPV6, socket.IPV6_V6ONLY, 1)
    v6.bind(("::1", port))
    v6.listen(64)
    listeners.append(v6)
except OSError:
    pass
for l in listeners:
    threading.Thread(target=accept, args=(l,), daemon=True).start()
print(port, flush=True)
sys.stdin.read()
os._exit(0)
