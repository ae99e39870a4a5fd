#!/usr/bin/env python3
"""A fake label printer on 127.0.0.1 for tests that run whole programs.

As a module: FakePrinter() listens on an ephemeral port in a thread, records
every byte received and answers the model query ("^PI0\\r\\n") and the status
query ("^cu\\r").

As a program:
    fakeprinter.py [--model NAME] [--status BYTE] [--expect TEXT]... -- PROGRAM ARGS...
runs PROGRAM with every "{port}" in its arguments replaced by the fake's port,
then checks that each TEXT was received. Exit status: the program's, or 1 when
something expected did not arrive.
"""

import argparse
import socket
import subprocess
import sys
import threading

MODEL_QUERY = b"^PI0\r\n"
STATUS_QUERY = b"^cu\r"


class FakePrinter:
    def __init__(self, model: str = "VRL-408", status: int = 0):
        self.model = model
        self.status = status
        self._received = bytearray()
        self._lock = threading.Lock()
        self._listener = socket.create_server(("127.0.0.1", 0))
        self._listener.settimeout(0.2)
        self.port = self._listener.getsockname()[1]
        self._stopping = threading.Event()
        self._idle = threading.Event()  # set while no connection is open
        self._idle.set()
        self._thread = threading.Thread(target=self._serve, daemon=True)
        self._thread.start()

    @property
    def port_name(self) -> str:
        return f"127.0.0.1:{self.port}"

    @property
    def received(self) -> bytes:
        """Everything received, once the client has closed its connection."""
        self._idle.wait(timeout=10)
        with self._lock:
            return bytes(self._received)

    def close(self) -> None:
        self._stopping.set()
        self._thread.join(timeout=5)
        self._listener.close()

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()

    def _serve(self) -> None:
        while not self._stopping.is_set():
            try:
                connection, _ = self._listener.accept()
            except socket.timeout:
                continue
            except OSError:
                return
            self._idle.clear()
            with connection:
                self._converse(connection)
            self._idle.set()

    def _converse(self, connection: socket.socket) -> None:
        connection.settimeout(0.2)
        pending = b""
        while not self._stopping.is_set():
            try:
                chunk = connection.recv(65536)
            except socket.timeout:
                continue
            except OSError:
                return
            if not chunk:
                return
            with self._lock:
                self._received += chunk
            pending += chunk
            pending = self._answer(connection, pending)

    def _answer(self, connection: socket.socket, pending: bytes) -> bytes:
        """Answers every complete query in pending; returns what may start one."""
        while True:
            found = [(pending.find(q), q) for q in (MODEL_QUERY, STATUS_QUERY) if pending.find(q) >= 0]
            if not found:
                return pending[-(len(MODEL_QUERY) - 1):]
            at, query = min(found)
            reply = (self.model + "\r\n").encode() if query == MODEL_QUERY else bytes([self.status])
            connection.sendall(reply)
            pending = pending[at + len(query):]


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--model", default="VRL-408")
    parser.add_argument("--status", type=lambda s: int(s, 0), default=0)
    parser.add_argument("--expect", action="append", default=[])
    parser.add_argument("program", nargs=argparse.REMAINDER)
    args = parser.parse_args()
    program = [a for a in args.program if a != "--"]
    if not program:
        parser.error("no program to run")
    with FakePrinter(args.model, args.status) as printer:
        command = [a.replace("{port}", str(printer.port)) for a in program]
        result = subprocess.run(command, timeout=120)
        received = printer.received
    missing = [e for e in args.expect if e.encode().decode("unicode_escape").encode("latin-1") not in received]
    for text in missing:
        print(f"fakeprinter: expected {text!r}, received {received[:400]!r}", file=sys.stderr)
    return result.returncode if result.returncode != 0 else (1 if missing else 0)


if __name__ == "__main__":
    sys.exit(main())
