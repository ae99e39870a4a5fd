"""A TCP relay in front of a printer (the emulator) that misbehaves on request,
as the links and printers of a warehouse do: slow, frozen, or closing."""

import socket
import threading
import time


class Relay:
    """Listens on a free loopback port and relays each connection to upstream.
    mode: "pass"; "slow" (rate bytes a second towards the printer); "freeze"
    (connections are taken, nothing is relayed either way); "close" (each
    connection is closed after the printer's first answer)."""

    def __init__(self, upstream_port, mode="pass", rate=20000):
        self.upstream_port = upstream_port
        self.mode = mode
        self.rate = rate
        self.relayed = 0           # bytes relayed towards the printer
        self.connections = []      # every connection's client socket, open or closed
        self._server = socket.create_server(("127.0.0.1", 0))
        self.port_name = f"127.0.0.1:{self._server.getsockname()[1]}"
        self._closed = False
        threading.Thread(target=self._accept, daemon=True).start()

    def open_connections(self):
        return [c for c in self.connections if c.fileno() != -1]

    def close_all(self):
        for c in self.connections:
            self._shut(c)

    def close(self):
        self._closed = True
        self._shut(self._server)  # a shutdown wakes the accept under way; close alone would not
        self.close_all()

    @staticmethod
    def _shut(sock):
        try:
            sock.shutdown(socket.SHUT_RDWR)
        except OSError:
            pass
        sock.close()

    def _accept(self):
        while not self._closed:
            try:
                client, _ = self._server.accept()
            except OSError:
                return
            self.connections.append(client)
            threading.Thread(target=self._serve, args=(client,), daemon=True).start()

    def _serve(self, client):
        if self.mode == "freeze":
            try:
                while client.recv(65536):  # taken, never answered
                    pass
            except OSError:
                pass
            self._shut(client)
            return
        try:
            upstream = socket.create_connection(("127.0.0.1", self.upstream_port), timeout=5)
        except OSError:
            self._shut(client)
            return
        upstream.settimeout(None)
        threading.Thread(target=self._answers, args=(upstream, client), daemon=True).start()
        try:
            while True:
                data = client.recv(1024 if self.mode == "slow" else 65536)
                if not data:
                    break
                if self.mode == "slow":
                    time.sleep(len(data) / self.rate)
                upstream.sendall(data)
                self.relayed += len(data)
        except OSError:
            pass
        self._shut(upstream)
        self._shut(client)

    def _answers(self, upstream, client):
        try:
            while True:
                data = upstream.recv(65536)
                if not data:
                    break
                client.sendall(data)
                if self.mode == "close":
                    break
        except OSError:
            pass
        self._shut(upstream)
        self._shut(client)
