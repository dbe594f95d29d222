"""Fixtures: real vantreld processes (path in $VANTRELD) on system-chosen loopback ports."""
import os
import select
import shutil
import signal
import socket
import subprocess
import time

import pytest

# No call of these tests may wait for ever, even when one is broken (read as the library loads).
os.environ.setdefault("VANTREL_CALL_TIMEOUT_MS", "20000")

import vantrel  # noqa: E402

READY = "vantreld ready: "


class Vantreld:
    """One vantreld process serving `tree`; the ready line's fields in `fields`."""

    def __init__(self, tree, *options):
        self.process = subprocess.Popen(
            [os.environ["VANTRELD"], "--port", "0", *options, str(tree)],
            stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
        self.fields = self._wait_until_ready(10.0)

    def _wait_until_ready(self, timeout):
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            if select.select([self.process.stdout], [], [], 0.1)[0]:
                line = self.process.stdout.readline()
                if not line:
                    break
                if line.startswith(READY):
                    words = [w.split("=", 1) for w in line[len(READY):].split() if "=" in w]
                    return dict(words)
        self.stop()
        raise RuntimeError("vantreld did not print its ready line")

    @property
    def address(self):
        return "127.0.0.1:" + self.fields["node_port"]

    def stop(self):
        if self.process.poll() is None:
            self.process.send_signal(signal.SIGTERM)
            try:
                self.process.wait(5)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait()
        self.process.stdout.close()


def sample_tree(directory):
    subprocess.run([os.environ["VANTRELD"], "--init-sample", str(directory)], check=True,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    return directory


@pytest.fixture(scope="session")
def library():
    with vantrel.Client():
        yield


@pytest.fixture(scope="session")
def sample_template(tmp_path_factory):
    """A sample tree made once; tests serve copies of it."""
    return sample_tree(tmp_path_factory.mktemp("template") / "tree")


@pytest.fixture
def start_vantreld(tmp_path, sample_template):
    """start_vantreld(*options, sample=True) -> a running Vantreld on a tree of its own."""
    started = []

    def start(*options, sample=True):
        tree = tmp_path / f"tree{len(started)}"
        if sample:
            shutil.copytree(sample_template, tree)
        daemon = Vantreld(tree, *options)
        started.append(daemon)
        return daemon

    yield start
    for daemon in started:
        daemon.stop()


@pytest.fixture
def server(library, start_vantreld):
    """A Server on a fresh sample tree (discovery off)."""
    return vantrel.Server(start_vantreld("--no-discovery").address)


@pytest.fixture
def silent_address():
    """ADDRESS:PORT of a socket that accepts connections (backlog) and never answers."""
    silent = socket.socket()
    silent.bind(("127.0.0.1", 0))
    silent.listen(4)
    yield "127.0.0.1:%d" % silent.getsockname()[1]
    silent.close()
