"""Failures of the link, stop() from another thread, discovery, initialisation."""
import builtins
import math
import os
import signal
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


@pytest.mark.parametrize("call", [lambda server: server.root,
                                  lambda server: server.watch("folder 1", lambda event: None)],
                         ids=["root", "watch"])
def test_stop_from_another_thread_cuts_a_waiting_call_short(library, call):
    silent = socket.socket()  # accepts connections (backlog) and never answers
    silent.bind(("127.0.0.1", 0))
    silent.listen(4)
    server = vantrel.Server("127.0.0.1:%d" % silent.getsockname()[1])
    outcome = []

    def wait_for_root():
        try:
            call(server)
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


@pytest.fixture
def module_timeout():
    yield
    vantrel.set_timeout(vantrel.DEFAULT_TIMEOUT)


@pytest.mark.parametrize("limit_by", ["server", "module"])
def test_a_call_that_gets_no_answer_times_out(library, silent_address, module_timeout, limit_by):
    if limit_by == "module":
        vantrel.set_timeout(0.5)
        server = vantrel.Server(silent_address)
    else:
        server = vantrel.Server(silent_address, timeout=0.5)
    assert server.timeout == 0.5
    with pytest.raises(vantrel.ConnectionError, match="timed out"):
        server.root


def test_timeout_settings(library, module_timeout):
    server = vantrel.Server("127.0.0.1:1")
    assert vantrel.get_timeout() == server.timeout == vantrel.DEFAULT_TIMEOUT == 30
    server.timeout = 2
    vantrel.set_timeout(None)
    assert (server.timeout, vantrel.get_timeout()) == (2, None)
    server.timeout = None  # follows the module again
    assert server.timeout is None
    server.timeout = math.inf
    vantrel.set_timeout(5)
    assert server.timeout is None
    for wrong in (0, -1, "x"):
        with pytest.raises((ValueError, TypeError)):
            vantrel.set_timeout(wrong)


def run_script(script, timeout=60, **popen):
    """Runs a Python script in a child; the library's own ceiling unset, so only the module's
    settings bound its calls."""
    env = dict(os.environ)
    env.pop("VANTREL_CALL_TIMEOUT_MS", None)
    return subprocess.Popen([sys.executable, "-c", script], env=env, text=True,
                            stdout=subprocess.PIPE, stderr=subprocess.PIPE, **popen)


def test_ctrl_c_ends_a_blocked_call_with_keyboard_interrupt(silent_address):
    script = f"""
import vantrel
vantrel.set_timeout(None)
with vantrel.Client():
    server = vantrel.Server("{silent_address}")
    print("calling", flush=True)
    try:
        server.root
    except KeyboardInterrupt:
        print("interrupted")
"""
    child = run_script(script)
    assert child.stdout.readline() == "calling\n"
    time.sleep(0.5)  # lets the call start waiting; an earlier signal passes the test as well
    child.send_signal(signal.SIGINT)
    try:
        out, err = child.communicate(timeout=WAIT * 3)
    except subprocess.TimeoutExpired:
        child.kill()
        child.communicate()
        pytest.fail("the blocked call ignored SIGINT")
    assert (child.returncode, out) == (0, "interrupted\n"), err


def test_library_messages_go_to_logging_not_stdout(start_vantreld):
    daemon = start_vantreld("--no-discovery")
    script = f"""
import logging, queue, vantrel
records = queue.Queue()
class Keep(logging.Handler):
    def emit(self, record):
        records.put(record)
logging.getLogger("vantrel").addHandler(Keep())
logging.getLogger("vantrel").propagate = False
with vantrel.Client():
    server = vantrel.Server("{daemon.address}")
    watch = server.watch(server.root, lambda event: None)
    print("watching", flush=True)
    input()  # the server is stopped now
    watch.cancel()  # the library tells why it cannot unregister
    record = records.get(timeout=20)
    print("logged", record.name, record.levelname, record.getMessage())
"""
    child = run_script(script, stdin=subprocess.PIPE)
    assert child.stdout.readline() == "watching\n"
    daemon.stop()
    out, err = child.communicate("\n", timeout=WAIT * 6)
    lines = out.splitlines()
    assert len(lines) == 1 and lines[0].startswith("logged vantrel "), (out, err)


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


def start_with_database(start_vantreld, tmp_path, name, database):
    config = tmp_path / f"{name}.cfg"
    config.write_text(f"[Server]\nDisplayName = {name}\nDatabase = {database}\n")
    return start_vantreld("--config", str(config), sample=False)  # a storage id of its own


def wait_until_discovered(counts):
    deadline = time.monotonic() + WAIT
    while time.monotonic() < deadline:
        if all(len(vantrel.servers(db)) == n for db, n in counts.items()):
            return
        time.sleep(0.05)
    pytest.fail(f"discovery did not find the servers: {[(s.display_name, s.database) for s in vantrel.servers()]}")


def test_an_address_without_a_port_names_the_one_server_discovery_finds_there(
        library, start_vantreld, tmp_path):
    shared, alone = ("PY" + uuid.uuid4().hex[:8].upper() for _ in range(2))
    first = start_with_database(start_vantreld, tmp_path, "First", shared)
    second = start_with_database(start_vantreld, tmp_path, "Second", shared)
    start_with_database(start_vantreld, tmp_path, "Alone", alone)
    wait_until_discovered({shared: 2, alone: 1})
    assert vantrel.Server(first.address).display_name == "First"  # a link this process holds

    def in_this_process(id):
        try:
            return vantrel.Server(id).display_name
        except vantrel.Error as error:
            return str(error)

    def in_a_fresh_process(id):
        script = ("import vantrel\nwith vantrel.Client():\n    try:\n"
                  f"        print(vantrel.Server('{id}').display_name)\n"
                  "    except vantrel.Error as error:\n        print(error)\n")
        return subprocess.run([sys.executable, "-c", script], capture_output=True, text=True,
                              timeout=60).stdout.strip()

    def with_the_tool(id):
        result = subprocess.run([os.environ["VANTREL_TOOL"], "--json", "info", id],
                                capture_output=True, text=True, timeout=60)
        return result.stdout if result.returncode == 0 else result.stderr

    for answer in (in_this_process, in_a_fresh_process, with_the_tool):
        assert "Alone" in answer(f"127.0.0.1:{alone}"), answer.__name__
        refusal = answer(f"127.0.0.1:{shared}")
        assert "Several servers match" in refusal, (answer.__name__, refusal)
        assert first.address in refusal and second.address in refusal, refusal
        assert "Server not found" in answer(f"127.0.0.1:NONE{alone}"), answer.__name__


def test_the_library_must_be_initialised_first():
    script = "import vantrel\ntry:\n    vantrel.Server('127.0.0.1:1')\nexcept vantrel.Error as e:\n    print(e)\n"
    result = subprocess.run([sys.executable, "-c", script], capture_output=True, text=True,
                            env=dict(os.environ), timeout=60)
    assert "not initialised" in result.stdout
