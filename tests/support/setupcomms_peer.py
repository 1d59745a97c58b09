"""Both ends of the single-instance pipe "SetupComms", for tests.

After the version word (u32 big-endian) the pipe carries named messages,
framed as ctrlcomms_fake.py describes.

  setupcomms_peer.py client PATH STEP...
    conn        open a new connection and print "version <hex>" of its word
    fg          send "fg" on the newest connection
    uri:HEX     send "uri" with the bytes as a string (u32 length, bytes)
    old:HEX     the same on the first connection (errors ignored)
    raw:HEX     send raw bytes on the newest connection, then pause a moment
    wait        wait for the server to end the newest connection, print "closed"
  setupcomms_peer.py server PATH LOG [--version HEX] [--uid UID] [--silent]
    makes the private directory when missing, binds PATH (as UID when given),
    writes "ready" to LOG, then serves one client after another until killed:
    sends the version word (unless silent) and logs "<name> <body hex>" per
    message.
"""
import os
import socket
import struct
import sys
import time

from ctrlcomms_fake import read_message, recv_exact, send_message


def client(path, steps):
    conns = []
    for step in steps:
        kind, _, arg = step.partition(":")
        if kind == "conn":
            c = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
            c.connect(path)
            conns.append(c)
            print("version", recv_exact(c, 4).hex(), flush=True)
        elif kind == "fg":
            send_message(conns[-1], "fg")
        elif kind in ("uri", "old"):
            raw = bytes.fromhex(arg)
            body = struct.pack(">I", len(raw)) + raw
            try:
                send_message(conns[0] if kind == "old" else conns[-1], "uri", body)
            except OSError:
                if kind != "old":
                    raise
        elif kind == "raw":
            conns[-1].sendall(bytes.fromhex(arg))
            time.sleep(0.2)
        elif kind == "wait":
            conns[-1].settimeout(60)
            try:
                while conns[-1].recv(4096):
                    pass
            except ConnectionResetError:
                pass
            print("closed", flush=True)
    for c in conns:
        c.close()


def server(path, log_path, args):
    version, uid, silent = "5e7cbc03", None, False
    while args:
        a = args.pop(0)
        if a == "--version":
            version = args.pop(0)
        elif a == "--uid":
            uid = int(args.pop(0))
        elif a == "--silent":
            silent = True
    log = open(log_path, "w")
    os.makedirs(os.path.dirname(path), mode=0o700, exist_ok=True)
    if os.path.exists(path):
        os.unlink(path)
    srv = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
    srv.bind(path)
    if uid is not None:
        os.chown(path, uid, -1)
        os.setgroups([])
        os.setresgid(uid, uid, uid)
        os.setresuid(uid, uid, uid)
    srv.listen(4)
    log.write("ready\n")
    log.flush()
    while True:
        conn, _ = srv.accept()
        try:
            if not silent:
                conn.sendall(bytes.fromhex(version))
            while True:
                name, body = read_message(conn)
                log.write("%s %s\n" % (name, body.hex()))
                log.flush()
        except (EOFError, ConnectionResetError, BrokenPipeError):
            conn.close()


if __name__ == "__main__":
    if sys.argv[1] == "client":
        client(sys.argv[2], sys.argv[3:])
    else:
        server(sys.argv[2], sys.argv[3], sys.argv[4:])
