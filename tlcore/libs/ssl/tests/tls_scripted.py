"""A scripted TLS 1.2 server for byte and close timings s_server cannot give.

Usage: tls_scripted.py SCENARIO ADDRESS CERT KEY [CHAIN...]
Listens on ADDRESS (port chosen by the system) and prints "ACCEPT
ADDRESS:PORT", then serves each connection on its own thread through memory
BIOs, so that it decides which bytes go out in which write. Prints "sni
NAME" (or "sni none") from the server-name callback and, per scenario:
  hello     reads the ClientHello, prints "hello", closes TCP (no handshake)
  hold      prints "hello" on the first bytes and never answers
  notify    after the handshake, "last words" and close_notify in one write
  notify:N  after the handshake, as source:N, then close_notify
  truncate  after the handshake, "last words", then a TCP close without
            close_notify
  sink      reads; at the peer's close_notify prints "close_notify N SHA256"
            of what came before it
  source:N  sends N pseudo-random bytes, one record per 16384, prints
            "sent N SHA256", then acts as sink
  bulk:N    on the first data from the client, N bytes in writes of 1 MiB,
            then close_notify (for benchmarks: Python does little per byte)
Every connection prints "conn" when accepted and "eof" when the client has
closed TCP.
"""
import hashlib
import random
import socket
import ssl
import sys
import tempfile
import threading

scenario, address, cert, key = sys.argv[1:5]
lock = threading.Lock()


def say(text):
    with lock:
        print(text, flush=True)


def send_out(sock, outgoing):
    data = outgoing.read()
    if data:
        sock.sendall(data)


def wait_eof(sock):
    try:
        while sock.recv(65536):
            pass
    except OSError:
        pass
    say("eof")


def handshake(sock, obj, incoming, outgoing):
    while True:
        try:
            obj.do_handshake()
            send_out(sock, outgoing)
            return True
        except ssl.SSLWantReadError:
            send_out(sock, outgoing)
            data = sock.recv(65536)
            if not data:
                return False
            incoming.write(data)


def sink(sock, obj, incoming, outgoing):
    digest, total = hashlib.sha256(), 0
    while True:
        try:
            chunk = obj.read(65536)
        except ssl.SSLWantReadError:
            data = sock.recv(65536)
            if not data:
                return
            incoming.write(data)
            continue
        except ssl.SSLZeroReturnError:
            chunk = b""
        if not chunk:
            say("close_notify %d %s" % (total, digest.hexdigest()))
            return
        digest.update(chunk)
        total += len(chunk)


def source(sock, obj, outgoing, n):
    rng, digest, left = random.Random(n), hashlib.sha256(), n
    while left:
        chunk = rng.randbytes(min(16384, left))
        digest.update(chunk)
        obj.write(chunk)
        send_out(sock, outgoing)
        left -= len(chunk)
    say("sent %d %s" % (n, digest.hexdigest()))


def bulk(sock, obj, incoming, outgoing, n):
    while True:
        try:
            if obj.read(65536):
                break
        except ssl.SSLWantReadError:
            data = sock.recv(65536)
            if not data:
                return
            incoming.write(data)
    block = memoryview(random.Random(n).randbytes(1 << 20))
    while n:
        obj.write(block[:min(n, len(block))])
        send_out(sock, outgoing)
        n -= min(n, len(block))
    try:
        obj.unwrap()
    except ssl.SSLWantReadError:
        pass
    send_out(sock, outgoing)


def serve(ctx, sock):
    with sock:
        if scenario in ("hello", "hold"):
            data = sock.recv(65536)
            while scenario == "hello" and len(data) >= 5 and \
                    len(data) < 5 + int.from_bytes(data[3:5], "big"):
                data += sock.recv(65536)
            if data:
                say("hello")
            if scenario == "hold":
                wait_eof(sock)
            return
        incoming, outgoing = ssl.MemoryBIO(), ssl.MemoryBIO()
        obj = ctx.wrap_bio(incoming, outgoing, server_side=True)
        if not handshake(sock, obj, incoming, outgoing):
            say("eof")
            return
        if scenario.startswith("notify"):
            if scenario == "notify":
                obj.write(b"last words")
            else:
                source(sock, obj, outgoing, int(scenario[7:]))
            try:
                obj.unwrap()
            except ssl.SSLWantReadError:
                pass
            send_out(sock, outgoing)
        elif scenario == "truncate":
            obj.write(b"last words")
            send_out(sock, outgoing)
            sock.shutdown(socket.SHUT_WR)
        elif scenario.startswith("bulk:"):
            bulk(sock, obj, incoming, outgoing, int(scenario[5:]))
        else:
            if scenario.startswith("source:"):
                source(sock, obj, outgoing, int(scenario[7:]))
            sink(sock, obj, incoming, outgoing)
        wait_eof(sock)


def main():
    with tempfile.NamedTemporaryFile("w", suffix=".pem") as chain:
        for path in [cert] + sys.argv[5:]:
            with open(path) as f:
                chain.write(f.read())
        chain.flush()
        ctx = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        ctx.load_cert_chain(chain.name, key)
    ctx.minimum_version = ctx.maximum_version = ssl.TLSVersion.TLSv1_2
    # GCM records: 29 bytes of overhead each.
    ctx.set_ciphers("ECDHE-ECDSA-AES128-GCM-SHA256:ECDHE-RSA-AES128-GCM-SHA256")
    ctx.sni_callback = lambda obj, name, c: say("sni " + (name or "none"))
    family = socket.AF_INET6 if ":" in address else socket.AF_INET
    listener = socket.socket(family, socket.SOCK_STREAM)
    listener.bind((address, 0))
    listener.listen(16)
    port = listener.getsockname()[1]
    say("ACCEPT %s:%d" % ("[%s]" % address if ":" in address else address, port))
    while True:
        conn, _ = listener.accept()
        say("conn")
        threading.Thread(target=serve, args=(ctx, conn), daemon=True).start()


main()
