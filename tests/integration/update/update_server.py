#!/usr/bin/python3
"""Loopback update servers for the update tests.

Plain mode serves a folder with pyftpdlib, optionally throttling downloads.
Hostile mode speaks just enough FTP by hand to log in and then answer the
passive-mode request with the given reply, so that a client can be checked
against data-connection replies that point elsewhere or are malformed.

Prints "PORT <n>" once it listens. In hostile mode it also listens on
127.0.0.2 as a decoy and prints "DECOY CONNECTED" if anything reaches it.
"""
import argparse
import socket
import sys
import threading


def serve_plain(args):
    from pyftpdlib.authorizers import DummyAuthorizer
    from pyftpdlib.handlers import FTPHandler, ThrottledDTPHandler
    from pyftpdlib.servers import FTPServer
    import logging

    logging.basicConfig(level=logging.ERROR)
    authorizer = DummyAuthorizer()
    authorizer.add_user(args.user, args.password, args.root, perm="elr")
    handler = FTPHandler
    handler.authorizer = authorizer
    handler.auth_failed_timeout = 0
    if args.throttle > 0:
        dtp = ThrottledDTPHandler
        dtp.write_limit = args.throttle
        handler.dtp_handler = dtp
    server = FTPServer((args.host, 0), handler)
    print("PORT %d" % server.socket.getsockname()[1], flush=True)
    server.serve_forever(handle_exit=True)


def serve_hostile(args):
    decoy = socket.socket(socket.AF_INET)
    decoy.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    decoy.bind(("127.0.0.2", 0))
    decoy.listen(4)
    decoy_port = decoy.getsockname()[1]

    def watch():
        while True:
            conn, _ = decoy.accept()
            print("DECOY CONNECTED", flush=True)
            conn.close()

    threading.Thread(target=watch, daemon=True).start()
    family = socket.AF_INET6 if ":" in args.host else socket.AF_INET
    listener = socket.socket(family)
    listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    listener.bind((args.host, 0))
    listener.listen(4)
    print("PORT %d" % listener.getsockname()[1], flush=True)
    reply = args.reply.replace("{decoy_hi}", str(decoy_port >> 8)).replace("{decoy_lo}", str(decoy_port & 255))
    while True:
        conn, _ = listener.accept()
        threading.Thread(target=session, args=(conn, reply), daemon=True).start()


def session(conn, reply):
    stream = conn.makefile("rb")

    def send(line):
        conn.sendall((line + "\r\n").encode())

    try:
        send("220 ready")
        for raw in stream:
            words = raw.decode("utf-8", "replace").strip().split(" ", 1)
            verb = words[0].upper()
            if verb == "USER":
                send("331 password please")
            elif verb == "PASS":
                send("230 logged in")
            elif verb == "TYPE":
                send("200 type set")
            elif verb == "SIZE":
                send("213 100")
            elif verb in ("PASV", "EPSV"):
                send(reply)
            elif verb == "QUIT":
                send("221 bye")
                break
            else:
                send("500 not here")
    except OSError:
        pass
    finally:
        conn.close()


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--host", default="127.0.0.1")
    parser.add_argument("--root", default="")
    parser.add_argument("--user", default="dlaccess42")
    parser.add_argument("--password", default="Kq#71Vx3")
    parser.add_argument("--throttle", type=int, default=0, help="bytes per second sent")
    parser.add_argument("--reply", default="", help="hostile mode: answer to PASV/EPSV")
    args = parser.parse_args()
    if args.reply:
        serve_hostile(args)
    else:
        serve_plain(args)


if __name__ == "__main__":
    try:
        main()
    except KeyboardInterrupt:
        sys.exit(0)
