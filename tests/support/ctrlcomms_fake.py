"""A stand-in for the running server's control pipe "CtrlComms".

Speaks the named-message framing: a message is a u8 name length, the name
and the body, cut into frames with a 2-byte big-endian header (bit 15 marks
the last frame of a message, bits 0 to 14 the frame's length).

Usage: ctrlcomms_fake.py PATH LOG [options]
  --uid UID        listen (after binding as the caller) as this user, so
                   that a client sees UID as its peer
  --silent         never reply
  --close          close each connection at once
  --kill-peer      kill the connecting process (SIGKILL, by the pid its
                   socket reports) and end
  --config HEX,HEX,...  bodies of the successive "getConfigReply" messages
                   (the last one repeats)
  --connections N,M,...  connection counts of the successive
                   "getConnectionsReply" messages (fields "c<i>f<j>")

LOG gets "ready" once listening, then one line per message received:
the name, a space and the body in hexadecimal. Serves one client and ends
when it goes.
"""
import os
import signal
import socket
import struct
import sys


def recv_exact(conn, n):
    data = b""
    while len(data) < n:
        chunk = conn.recv(n - len(data))
        if not chunk:
            raise EOFError
        data += chunk
    return data


def read_message(conn):
    payload = b""
    while True:
        (header,) = struct.unpack(">H", recv_exact(conn, 2))
        payload += recv_exact(conn, header & 0x7FFF)
        if header & 0x8000:
            break
    n = payload[0]
    return payload[1:1 + n].decode("utf-8", "replace"), payload[1 + n:]


def send_message(conn, name, body=b""):
    raw = name.encode()
    payload = bytes([len(raw)]) + raw + body
    out = b""
    while True:
        piece, payload = payload[:32766], payload[32766:]
        out += struct.pack(">H", len(piece) | (0 if payload else 0x8000)) + piece
        if not payload:
            break
    conn.sendall(out)


def short(text):
    raw = text.encode()
    return bytes([len(raw)]) + raw


def main():
    path, log_path = sys.argv[1], sys.argv[2]
    args = sys.argv[3:]
    opts = {"uid": None, "silent": False, "close": False, "kill": False, "config": [b""], "connections": []}
    while args:
        a = args.pop(0)
        if a == "--uid":
            opts["uid"] = int(args.pop(0))
        elif a == "--silent":
            opts["silent"] = True
        elif a == "--close":
            opts["close"] = True
        elif a == "--kill-peer":
            opts["kill"] = True
        elif a == "--config":
            opts["config"] = [bytes.fromhex(h) for h in args.pop(0).split(",")]
        elif a == "--connections":
            opts["connections"] = [int(n) for n in args.pop(0).split(",")]
    log = open(log_path, "w")
    if os.path.exists(path):
        os.unlink(path)
    srv = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
    srv.bind(path)
    if opts["uid"] is not None:
        # The peer credentials a client sees are those of the listener.
        os.chown(path, opts["uid"], -1)
        os.setgroups([])
        os.setresgid(opts["uid"], opts["uid"], opts["uid"])
        os.setresuid(opts["uid"], opts["uid"], opts["uid"])
    srv.listen(1)
    log.write("ready\n")
    log.flush()
    conn, _ = srv.accept()
    counts = list(opts["connections"])
    configs = list(opts["config"])
    try:
        if opts["close"]:
            conn.close()
            return
        if opts["kill"]:
            creds = conn.getsockopt(socket.SOL_SOCKET, socket.SO_PEERCRED, struct.calcsize("3i"))
            os.kill(struct.unpack("3i", creds)[0], signal.SIGKILL)
            log.write("killed\n")
            return
        while True:
            name, body = read_message(conn)
            log.write("%s %s\n" % (name, body.hex()))
            log.flush()
            if opts["silent"]:
                continue
            if name == "verifyChannel":
                send_message(conn, "channelCreds")
            elif name == "getConfig":
                body = configs.pop(0) if len(configs) > 1 else configs[0]
                send_message(conn, "getConfigReply", body)
            elif name == "getConnections":
                n = counts.pop(0) if counts else 0
                body = struct.pack(">H", n)
                for i in range(n):
                    body += b"".join(short("c%df%d" % (i, j)) for j in range(6))
                send_message(conn, "getConnectionsReply", body)
    except (EOFError, ConnectionResetError, BrokenPipeError):
        pass
    finally:
        try:
            os.unlink(path)
        except OSError:
            pass


if __name__ == "__main__":
    main()
