"""Failures of the link, stop() from another thread, discovery, initialisation."""
import builtins
import os
import socket
import subprocess
import sys
import threading
import time
import uuid

import pytest

import vantrel

WAIT = 10.0


def closed_port():
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


def test_an_unreachable_server_raises_connection_error(library):
    server = vantrel.Server(f"127.0.0.1:{closed_port()}")
    for attempt in (lambda: server.ping(), lambda: server.root, lambda: server.display_name):
        with pytest.raises(vantrel.ConnectionError, match="Connection refused") as raised:
            attempt()
        assert isinstance(raised.value, builtins.ConnectionError)
        assert isinstance(raised.value, vantrel.Error)


def test_stop_from_another_thread_cuts_a_waiting_call_short(library):
    silent = socket.socket()  # accepts connections (backlog) and never answers
    silent.bind(("127.0.0.1", 0))
    silent.listen(4)
    server = vantrel.Server("127.0.0.1:%d" % silent.getsockname()[1])
    outcome = []

    def wait_for_root():
        try:
            server.root
            outcome.append("answered")
        except vantrel.Error as error:
            outcome.append(error)

    waiter = threading.Thread(target=wait_for_root)
    waiter.start()
    # This thread runs Python code while the other waits on the network.
    deadline = time.monotonic() + WAIT
    while waiter.is_alive() and time.monotonic() < deadline:
        server.stop("cut short")
        waiter.join(0.05)
    silent.close()
    assert not waiter.is_alive()
    assert isinstance(outcome[0], vantrel.StoppedError) and "cut short" in str(outcome[0])


def test_discovery_finds_a_server(library, start_vantreld, tmp_path):
    database = "PY" + uuid.uuid4().hex[:8].upper()
    config = tmp_path / "server.cfg"
    config.write_text(f"[Server]\nDisplayName = Python Test\nDatabase = {database}\n")
    daemon = start_vantreld("--config", str(config))
    deadline = time.monotonic() + WAIT
    found = []
    while not found and time.monotonic() < deadline:
        found = vantrel.servers(database)
        time.sleep(0.05) if not found else None
    assert len(found) == 1
    info = found[0]
    assert (info.display_name, info.database) == ("Python Test", database)
    assert info.address == daemon.address
    assert vantrel.Server(info).display_name == "Python Test"
    assert any(s.database == database for s in vantrel.servers())


def test_the_library_must_be_initialised_first():
    script = "import vantrel\ntry:\n    vantrel.Server('127.0.0.1:1')\nexcept vantrel.Error as e:\n    print(e)\n"
    result = subprocess.run([sys.executable, "-c", script], capture_output=True, text=True,
                            env=dict(os.environ), timeout=60)
    assert "not initialised" in result.stdout
