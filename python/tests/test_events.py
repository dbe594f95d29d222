"""Events delivered to Python callables on the library's event thread."""
import queue
import threading

import pytest

import vantrel

DAILIES = "/Volume 1/Commercial/Shared Vault/Library A/Dailies"
WAIT = 10.0  # seconds; a bound for a failing test, never reached by a passing one


def collector():
    events = queue.Queue()
    return events, lambda event: events.put((threading.current_thread().name, event))


def test_events_reach_the_callback_on_the_event_thread(server):
    folder = server.resolve(DAILIES)
    events, callback = collector()
    with server.watch(folder, callback):
        child = folder.create("New", "FOLDER")
        thread, event = events.get(timeout=WAIT)
        assert thread != threading.current_thread().name
        assert (event.node_id, event.type) == (folder.id, "ChildCreated")
        assert event.details["Child"] == child.id
        assert (event.details["Name"], event.details["Type"]) == ("New", "FOLDER")
        folder.metadata["notes"] = "x"
        event = events.get(timeout=WAIT)[1]
        assert (event.type, event.details["Stream"]) == ("MetaDataChanged", "notes")


def test_a_raising_callback_is_reported_and_the_next_event_still_arrives(server, monkeypatch):
    reported = queue.Queue()
    monkeypatch.setattr("sys.unraisablehook", reported.put)
    folder = server.resolve(DAILIES)
    events = queue.Queue()

    def callback(event):
        events.put(event.details["Name"])
        if event.details["Name"] == "first":
            raise ValueError("callback failed")

    with server.watch(folder.id, callback):
        folder.create("first", "FOLDER")
        folder.create("second", "FOLDER")
        assert [events.get(timeout=WAIT), events.get(timeout=WAIT)] == ["first", "second"]
    report = reported.get(timeout=WAIT)
    assert isinstance(report.exc_value, ValueError) and "callback failed" in str(report.exc_value)
    assert folder.id in str(report.object)  # names the watch


def test_a_cancelled_watch_gets_no_more_events(server):
    folder = server.resolve(DAILIES)
    cancelled, cancelled_callback = collector()
    sentinel, sentinel_callback = collector()
    watch = server.watch(folder, cancelled_callback)
    with server.watch(folder, sentinel_callback):
        folder.create("one", "FOLDER")
        sentinel.get(timeout=WAIT)
        cancelled.get(timeout=WAIT)
        server.unwatch(watch)
        folder.create("two", "FOLDER")
        assert sentinel.get(timeout=WAIT)[1].details["Name"] == "two"
    assert cancelled.empty()
    watch.cancel()  # a second cancel does nothing


def test_watch_needs_a_callable(server):
    with pytest.raises(TypeError):
        server.watch(server.root, None)


def test_a_callback_may_call_the_library(server):
    folder = server.resolve(DAILIES)
    types = queue.Queue()

    def callback(event):
        types.put(server.resolve(DAILIES + "/" + event.details["Name"]).type)

    with server.watch(folder, callback):
        folder.create("Clip in callback", "CLIP", vantrel.ClipFormat(2, 2))
        folder.create("Folder in callback", "FOLDER")
        assert [types.get(timeout=WAIT), types.get(timeout=WAIT)] == ["CLIP", "FOLDER"]


@pytest.mark.parametrize("end", ["cancel", "with"])
def test_a_watch_ends_quietly_after_the_server_stopped(library, start_vantreld, end):
    daemon = start_vantreld("--no-discovery")
    server = vantrel.Server(daemon.address)
    if end == "cancel":
        watch = server.watch(server.root, lambda event: None)
        daemon.stop()
        watch.cancel()
    else:
        with server.watch(server.root, lambda event: None):
            daemon.stop()


def test_watching_a_node_that_does_not_exist_raises(server):
    with pytest.raises(vantrel.NotFoundError, match="no-such-node"):
        server.watch("no-such-node", lambda event: None)
