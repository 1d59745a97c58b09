"""A scripted HTTP CONNECT proxy for replies that real proxies do not give.

Usage: connect_scripted.py SCENARIO LOGFILE. Listens on 127.0.0.1 (port
chosen by the system), prints the port, then serves each connection on its
own thread. The log gets "conn N", the request lines as "> line", and
"eof N BYTES" when the client has gone. After a 2xx the connection echoes.

Scenarios:
  onebyte   200 with a 5-byte body, sent one byte at a time
  record    200 at once
  digest    407 offering only Digest
  s503 s500 that status
  close     close without a reply
  http10 pconnclose connclose nolength
            407 (Basic) on a connection that cannot carry another request,
            left open; the second connection must carry the credentials
"""
import base64
import os
import socket
import sys
import threading
import time

scenario, logpath = sys.argv[1], sys.argv[2]
lock = threading.Lock()
EXPECTED_AUTH = "Basic " + base64.b64encode(b"user:password").decode()


def log(text):
    with lock, open(logpath, "a") as f:
        f.write(text + "\n")


def read_head(conn, buf):
    while b"\r\n\r\n" not in buf:
        data = conn.recv(4096)
        if not data:
            return None, buf
        buf += data
    head, rest = buf.split(b"\r\n\r\n", 1)
    return head.decode("latin-1").split("\r\n"), rest


def echo(conn, rest):
    if rest:
        conn.sendall(rest)
    while True:
        data = conn.recv(4096)
        if not data:
            return
        conn.sendall(data)


CHALLENGE_407 = {
    "http10": "HTTP/1.0 407 Auth\r\nProxy-Authenticate: Basic realm=\"t\"\r\nContent-Length: 2\r\n\r\nno",
    "pconnclose": "HTTP/1.1 407 Auth\r\nProxy-Authenticate: Basic realm=\"t\"\r\n"
                  "Proxy-Connection: close\r\nContent-Length: 2\r\n\r\nno",
    "connclose": "HTTP/1.1 407 Auth\r\nProxy-Authenticate: Basic realm=\"t\"\r\n"
                 "Connection: close\r\nContent-Length: 2\r\n\r\nno",
    "nolength": "HTTP/1.1 407 Auth\r\nProxy-Authenticate: Basic realm=\"t\"\r\n\r\nno",
}


def serve(conn, n):
    total = 0
    try:
        lines, rest = read_head(conn, b"")
        if lines is None:
            total = len(rest)
            return
        total = 1
        for line in lines:
            log("> " + line)
        auth = [l for l in lines if l.lower().startswith("proxy-authorization:")]
        if scenario == "onebyte":
            for b in b"HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\nhello":
                conn.sendall(bytes([b]))
                time.sleep(0.002)
            echo(conn, rest)
        elif scenario == "record":
            conn.sendall(b"HTTP/1.1 200 Connection established\r\n\r\n")
            echo(conn, rest)
        elif scenario == "digest":
            conn.sendall(b"HTTP/1.1 407 Auth\r\nProxy-Authenticate: Digest realm=\"x\"\r\n"
                         b"Content-Length: 0\r\n\r\n")
        elif scenario in ("s503", "s500"):
            conn.sendall(("HTTP/1.1 %s Err\r\nContent-Length: 0\r\n\r\n" % scenario[1:]).encode())
        elif scenario == "close":
            return
        elif scenario in CHALLENGE_407:
            if not auth:
                conn.sendall(CHALLENGE_407[scenario].encode())
            elif auth[0].split(":", 1)[1].strip() == EXPECTED_AUTH:
                conn.sendall(b"HTTP/1.1 200 OK\r\n\r\n")
                echo(conn, rest)
                return
            else:
                conn.sendall(b"HTTP/1.1 403 Bad\r\nContent-Length: 0\r\n\r\n")
        # Hold the connection until the client leaves.
        while conn.recv(4096):
            pass
    except OSError:
        pass
    finally:
        log("eof %d %d" % (n, total))
        conn.close()


def main():
    srv = socket.socket()
    srv.bind(("127.0.0.1", 0))
    srv.listen(8)
    # One write: the reader stops at the newline and closes its end.
    os.write(1, b"%d\n" % srv.getsockname()[1])
    n = 0
    while True:
        conn, _ = srv.accept()
        n += 1
        log("conn %d" % n)
        threading.Thread(target=serve, args=(conn, n), daemon=True).start()


main()
