#!/usr/bin/env python3
"""A local http server for tests: serves one folder on 127.0.0.1 at a free port.

  http_server.py start --root DIR --state FILE   start it in the background; returns once it answers
  http_server.py stop --state FILE               stop the server that FILE records
  http_server.py serve --root DIR --state FILE   run in the foreground (what start launches)

The state file holds "port=N", "pid=N" and "root=DIR" lines. Besides plain files
the server knows two query words, for tests of a client's edge cases:
  ?nolength   the file's bytes without a Content-Length (the end is the connection's end)
  ?truncate   a Content-Length of the whole file, then only its first half
"""
import argparse
import http.server
import os
import signal
import socket
import subprocess
import sys
import threading
import time
import urllib.parse

IDLE_LIMIT_S = 3600  # a server whose stop step never ran does not outlive the day


def read_state(path):
    state = {}
    try:
        with open(path, encoding="utf-8") as f:
            for line in f:
                key, sep, value = line.rstrip("\n").partition("=")
                if sep:
                    state[key] = value
    except OSError:
        pass
    return state


def is_our_server(pid, state_path):
    """True if pid runs this script's serve command for this state file."""
    try:
        with open(f"/proc/{pid}/cmdline", "rb") as f:
            args = f.read().split(b"\0")
    except OSError:
        return False
    me = os.path.basename(__file__).encode()
    return any(a.endswith(me) for a in args) and b"serve" in args and os.fsencode(state_path) in args


class Handler(http.server.SimpleHTTPRequestHandler):
    server_version = "KvTestHTTP/1"

    def log_message(self, format, *args):  # quiet: ctest captures nothing useful from it
        pass

    def do_GET(self):
        self.server.last_request = time.monotonic()
        query = urllib.parse.urlsplit(self.path).query
        if query in ("nolength", "truncate"):
            self.send_partial(query)
        else:
            super().do_GET()

    def send_partial(self, mode):
        path = self.translate_path(self.path)
        try:
            with open(path, "rb") as f:
                data = f.read()
        except OSError:
            self.send_error(404, "File not found")
            return
        self.send_response(200)
        self.send_header("Content-Type", self.guess_type(path))
        if mode == "truncate":
            self.send_header("Content-Length", str(len(data)))
            data = data[: len(data) // 2]
        self.send_header("Connection", "close")
        self.end_headers()
        self.wfile.write(data)
        self.wfile.flush()
        self.close_connection = True


def serve(args):
    root = os.path.abspath(args.root)
    os.makedirs(root, exist_ok=True)

    class Server(http.server.ThreadingHTTPServer):
        daemon_threads = True

    server = Server(("127.0.0.1", 0), lambda *a, **k: Handler(*a, directory=root, **k))
    server.last_request = time.monotonic()
    stopping = threading.Event()

    def stop(*_):
        stopping.set()

    signal.signal(signal.SIGTERM, stop)
    signal.signal(signal.SIGINT, stop)

    tmp = args.state + ".tmp"
    with open(tmp, "w", encoding="utf-8") as f:
        f.write(f"port={server.server_address[1]}\npid={os.getpid()}\nroot={root}\n")
    os.replace(tmp, args.state)

    thread = threading.Thread(target=server.serve_forever, kwargs={"poll_interval": 0.2}, daemon=True)
    thread.start()
    while not stopping.wait(1.0):
        if time.monotonic() - server.last_request > IDLE_LIMIT_S:
            break
    server.shutdown()
    server.server_close()
    if read_state(args.state).get("pid") == str(os.getpid()):
        try:
            os.remove(args.state)
        except OSError:
            pass
    return 0


def stop_server(state_path, quiet=False):
    state = read_state(state_path)
    pid = int(state.get("pid", "0") or 0)
    if pid > 0 and is_our_server(pid, state_path):
        os.kill(pid, signal.SIGTERM)
        for _ in range(50):
            if not is_our_server(pid, state_path):
                break
            time.sleep(0.1)
        else:
            os.kill(pid, signal.SIGKILL)
    elif pid > 0 and not quiet:
        print(f"http_server: no server of ours runs as pid {pid}", file=sys.stderr)
    try:
        os.remove(state_path)
    except OSError:
        pass
    return 0


def answers(port):
    try:
        with socket.create_connection(("127.0.0.1", port), timeout=1):
            return True
    except OSError:
        return False


def start(args):
    state_path = os.path.abspath(args.state)
    stop_server(state_path, quiet=True)  # one left over from an interrupted run
    log_path = state_path + ".log"
    with open(log_path, "w") as log, open(os.devnull, "rb") as devnull:
        # Own session and no inherited pipes: ctest waits for the streams of
        # what it started, and must not wait for this.
        child = subprocess.Popen(
            [sys.executable, os.path.abspath(__file__), "serve", "--root", args.root, "--state", state_path],
            stdin=devnull, stdout=log, stderr=log, start_new_session=True, close_fds=True)
    deadline = time.monotonic() + 15
    while time.monotonic() < deadline:
        if child.poll() is not None:
            print(f"http_server: server exited with {child.returncode}; see {log_path}", file=sys.stderr)
            return 1
        state = read_state(state_path)
        if state.get("pid") == str(child.pid) and answers(int(state["port"])):
            print(f"http_server: serving {state['root']} on 127.0.0.1:{state['port']}")
            return 0
        time.sleep(0.05)
    child.kill()
    print("http_server: server did not answer in time", file=sys.stderr)
    return 1


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("command", choices=["start", "stop", "serve"])
    parser.add_argument("--root", help="folder to serve")
    parser.add_argument("--state", required=True, help="file that records port, pid and root")
    args = parser.parse_args()
    if args.command != "stop" and not args.root:
        parser.error("--root is required")
    args.state = os.path.abspath(args.state)
    if args.command == "serve":
        return serve(args)
    if args.command == "start":
        return start(args)
    return stop_server(args.state)


if __name__ == "__main__":
    sys.exit(main())
