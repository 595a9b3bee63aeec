#!/usr/bin/python3
"""FTP server stand-in: serves FTP on a loopback address and puts every
connection, login and access question to the client-check libraries that
the FTP server's configuration file names.

    /usr/bin/python3 tools/ftphost/ftphost.py --serv-u-dir DIR --port 2121
"""

import argparse
import ipaddress
import logging
import os
import signal
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

from client_event import Libraries  # noqa: E402
from ftp_glue import make_server  # noqa: E402
from servu_ini import ConfigError, plugin_paths  # noqa: E402


def parse_args(argv):
    parser = argparse.ArgumentParser(
        description="FTP server stand-in that asks the client-check libraries "
                    "named in ServUDaemon.ini or serv-u.ini.")
    parser.add_argument("--serv-u-dir", required=True,
                        help="the FTP server program directory (the servu_path setting)")
    parser.add_argument("--address", default="127.0.0.1",
                        help="loopback address to listen on (default 127.0.0.1)")
    parser.add_argument("--port", type=int, default=2121,
                        help="port to listen on; 0 picks a free one (default 2121)")
    parser.add_argument("--port-file",
                        help="write the port listened on to this file once listening")
    parser.add_argument("--max-users", type=int, default=0,
                        help="logged-in sessions the server allows at once; "
                             "0 for no limit (accounts that always log in pass it)")
    parser.add_argument("--idle-timeout", type=int, default=300,
                        help="seconds of silence before a session without an idle "
                             "time-out of its own is closed; 0 for never (default 300)")
    parser.add_argument("--login-failure-delay", type=float, default=1.0,
                        help="seconds before a failed login is answered (default 1)")
    parser.add_argument("--minute-length", type=float, default=60,
                        help="seconds in a minute of the accounts' idle and session "
                             "time-outs (default 60; shorter to try them quickly)")
    parser.add_argument("--trace", action="store_true",
                        help="log every question and answer")
    parser.add_argument("--verbose", action="store_true", help="log the FTP dialogue")
    args = parser.parse_args(argv)
    try:
        if not ipaddress.ip_address(args.address).is_loopback:
            parser.error("--address must be a loopback address: the stand-in "
                         "speaks plain FTP, passwords included")
    except ValueError:
        parser.error("--address must be an IP address, not %r" % args.address)
    if args.minute_length <= 0:
        parser.error("--minute-length must be above 0")
    if not 0 <= args.port <= 65535:
        parser.error("--port must be between 0 and 65535")
    return args


def write_port_file(path, port):
    """Writes the port so that a reader sees the whole number or nothing."""
    directory = os.path.dirname(os.path.abspath(path))
    fd, temp = tempfile.mkstemp(dir=directory, prefix=".port.")
    with os.fdopen(fd, "w") as f:
        f.write("%d\n" % port)
    os.replace(temp, path)


def trace_question(code, user, data, answer):
    shown = "******" if code in (3, 27, 34) else data
    logging.getLogger("ftphost").info(
        "event %d user=%r data=%r -> handled=%s flag=%s data=%r user=%r",
        code, user, shown, answer.handled, answer.flag,
        answer.data.split(b"\0", 1)[0][:80] if code not in (3, 27, 34) else b"",
        answer.user)


def main(argv=None):
    args = parse_args(argv)
    logging.basicConfig(level=logging.DEBUG if args.verbose else logging.INFO,
                        format="[%(asctime)s] %(name)s: %(message)s", stream=sys.stderr)
    program_dir = os.path.abspath(args.serv_u_dir)
    try:
        config, paths = plugin_paths(program_dir)
    except ConfigError as err:
        print("ftphost: %s" % err, file=sys.stderr)
        return 2
    try:
        libraries = Libraries(paths)
    except (OSError, AttributeError) as err:
        print("ftphost: cannot load a client-check library: %s" % err, file=sys.stderr)
        return 2
    if args.trace:
        libraries.trace_to(trace_question)

    server = make_server(libraries, program_dir, args.address, args.port,
                         max_users=args.max_users or None,
                         idle_timeout=args.idle_timeout,
                         login_failure_delay=args.login_failure_delay,
                         minute=args.minute_length)
    address, port = server.address
    if args.port_file:
        write_port_file(args.port_file, port)
    print("ftphost: %s loaded from %s; listening on %s:%d"
          % (", ".join(os.path.basename(p) for p in paths), config, address, port), flush=True)

    def stop(signum, frame):
        raise SystemExit(0)

    signal.signal(signal.SIGTERM, stop)
    # serve_forever ends on SystemExit and KeyboardInterrupt, closing every
    # session and joining its thread.
    server.serve_forever(timeout=1.0)
    print("ftphost: stopped", flush=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
