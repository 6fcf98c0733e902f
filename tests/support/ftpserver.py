#!/usr/bin/python3
"""Loopback FTP server for the tests, built on pyftpdlib.

Prints "PORT <n>" on stdout once it listens, then serves until terminated.
"""
import argparse
import logging
import sys

from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.handlers import FTPHandler
from pyftpdlib.servers import FTPServer


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--host", default="127.0.0.1")
    parser.add_argument("--port", type=int, default=0)
    parser.add_argument("--root", required=True)
    parser.add_argument("--user", default="")
    parser.add_argument("--password", default="")
    parser.add_argument("--anonymous", action="store_true")
    parser.add_argument("--perm", default="elr")
    args = parser.parse_args()

    logging.basicConfig(level=logging.ERROR)
    authorizer = DummyAuthorizer()
    if args.user:
        authorizer.add_user(args.user, args.password, args.root, perm=args.perm)
    if args.anonymous:
        authorizer.add_anonymous(args.root, perm=args.perm)

    handler = FTPHandler
    handler.authorizer = authorizer
    handler.banner = "test server ready"
    # No artificial delay after a failed login: the tests time it.
    handler.auth_failed_timeout = 0

    server = FTPServer((args.host, args.port), handler)
    server.max_cons = 64
    port = server.socket.getsockname()[1]
    sys.stdout.write("PORT %d\n" % port)
    sys.stdout.flush()
    try:
        server.serve_forever(handle_exit=True)
    finally:
        server.close_all()


if __name__ == "__main__":
    main()
