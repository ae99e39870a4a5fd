"""The printer emulator (vdl-emulator) as the printer of tests that run whole programs."""

import os
import re
import subprocess
import tempfile
import time


class Emulator:
    """vdl-emulator on a free port, with its decoded log and previews in a temporary directory."""

    def __init__(self, *options: str, port: int = 0):
        self._directory = tempfile.TemporaryDirectory()
        self.directory = self._directory.name
        self.log_path = os.path.join(self.directory, "log")
        self._process = subprocess.Popen(
            [os.environ["VDL_EMULATOR"], "--port", str(port), "--log", self.log_path, "--preview-dir", self.directory, *options],
            stderr=subprocess.PIPE, text=True)
        said = self._process.stderr.readline()
        self.port_name = re.search(r"listening on (\S+:\d+)", said).group(1)
        # With --http, the render service's address is said next.
        self.http_url = None
        if "--http" in options:
            self.http_url = re.search(r"render service on (\S+)/", self._process.stderr.readline()).group(1)

    def log(self, *texts: str) -> str:
        """The decoded log once it holds every one of texts (or after ten seconds)."""
        deadline = time.monotonic() + 10
        while True:
            with open(self.log_path, encoding="utf-8", errors="replace") as file:
                content = file.read()
            if all(t in content for t in texts) or time.monotonic() > deadline:
                return content
            time.sleep(0.02)

    def preview(self, number: int = 1) -> str:
        return os.path.join(self.directory, f"label-{number:04d}.png")

    def __enter__(self) -> "Emulator":
        return self

    def __exit__(self, *exc) -> None:
        self._process.terminate()
        self._process.wait(timeout=10)
        self._process.stderr.close()
        self._directory.cleanup()
