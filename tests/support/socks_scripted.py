"""A scripted SOCKS 5 proxy for tests: plays one script per accepted
connection and records what the client sent.

usage: socks_scripted.py LOGFILE SCRIPT [SCRIPT...]
Prints the listening port (127.0.0.1) on stdout, then serves one connection
per SCRIPT in order and exits. A SCRIPT is space-separated operations:
  g        read a greeting (version, count, methods)
  a        read a user/password request
  q        read a CONNECT request
  sHEX     send the bytes
  oHEX     send the bytes one at a time, 30 ms apart
  hold     wait until the client closes (or 20 s)
  close    close now
Each connection writes one line to LOGFILE: the hex of every message read,
separated by spaces.
"""
import socket
import sys
import time


def read_exact(conn, n):
    data = b""
    while len(data) < n:
        chunk = conn.recv(n - len(data))
        if not chunk:
            raise EOFError()
        data += chunk
    return data


def read_greeting(conn):
    head = read_exact(conn, 2)
    return head + read_exact(conn, head[1])


def read_auth(conn):
    head = read_exact(conn, 2)
    user = read_exact(conn, head[1])
    plen = read_exact(conn, 1)
    return head + user + plen + read_exact(conn, plen[0])


def read_request(conn):
    head = read_exact(conn, 4)
    atyp = head[3]
    if atyp == 1:
        addr = read_exact(conn, 4)
    elif atyp == 4:
        addr = read_exact(conn, 16)
    else:
        n = read_exact(conn, 1)
        addr = n + read_exact(conn, n[0])
    return head + addr + read_exact(conn, 2)


def play(conn, script):
    seen = []
    try:
        for op in script.split():
            if op == "g":
                seen.append(read_greeting(conn).hex())
            elif op == "a":
                seen.append(read_auth(conn).hex())
            elif op == "q":
                seen.append(read_request(conn).hex())
            elif op[0] == "s":
                conn.sendall(bytes.fromhex(op[1:]))
            elif op[0] == "o":
                for b in bytes.fromhex(op[1:]):
                    conn.sendall(bytes([b]))
                    time.sleep(0.03)
            elif op == "hold":
                conn.settimeout(20)
                while conn.recv(4096):
                    pass
            elif op == "close":
                break
    except (EOFError, OSError, socket.timeout):
        seen.append("eof")
    return seen


def main():
    logfile, scripts = sys.argv[1], sys.argv[2:]
    srv = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    srv.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    srv.bind(("127.0.0.1", 0))
    srv.listen(4)
    srv.settimeout(20)
    print(srv.getsockname()[1], flush=True)
    with open(logfile, "w") as log:
        for script in scripts:
            try:
                conn, _ = srv.accept()
            except socket.timeout:
                break
            conn.settimeout(20)
            seen = play(conn, script)
            log.write(" ".join(seen) + "\n")
            log.flush()
            conn.close()


if __name__ == "__main__":
    main()
