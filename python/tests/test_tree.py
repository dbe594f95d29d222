"""The tree: walking it, changing it, metadata both ways."""
import inspect
import os
import pydoc
import stat

import pytest

import vantrel

REEL = "/Volume 1/Commercial/Shared Vault/Library A/Reel 1"
DAILIES = "/Volume 1/Commercial/Shared Vault/Library A/Dailies"


def walk(node, depth=0):
    yield depth, node.name, node.type
    for child in node.children:
        yield from walk(child, depth + 1)


def test_walking_the_sample_tree(server):
    tree = list(walk(server.root))
    assert tree[:4] == [(0, tree[0][1], "HOST"), (1, "Volume 1", "VOLUME"),
                        (2, "Commercial", "PROJECT"), (3, "Shared Vault", "SHARED_VAULT")]
    assert len(tree) == 20
    assert (5, "Coucher de soleil \u2014 caf\u00e9", "CLIP") in tree
    assert (6, "Opening", "CLIP") in tree and (6, "Colour Bars", "CLIP") in tree


def test_server_record_as_attributes(server):
    assert server.display_name
    assert server.storage_id
    assert server.protocol_version[:2] == (2015, 0)
    assert server.product == "vantreld"
    assert server.ping() >= 0.0
    info = server.info
    assert (info.display_name, info.storage_id) == (server.display_name, server.storage_id)


def test_a_server_record_copies_and_pickles_whole(server):
    import copy
    import pickle
    info = server.info
    fields = ("display_name", "host_name", "host_uuid", "storage_id", "database", "product",
              "vendor", "product_version", "protocol_version", "address")
    for twin in (copy.copy(info), copy.deepcopy(info), pickle.loads(pickle.dumps(info))):
        assert [getattr(twin, f) for f in fields] == [getattr(info, f) for f in fields]
    with pytest.raises(ValueError):
        vantrel.ServerInfo.__new__(vantrel.ServerInfo).__setstate__((b"not a record",))


def test_resolve_parent_and_clip_facts(server):
    clip = server.resolve(REEL + "/Shot 010")
    assert clip.name == "Shot 010" and clip.type == "CLIP"
    assert clip.parent == server.resolve(REEL)
    assert server.root.parent is None
    assert len(clip.frame_ids) == 3
    form = clip.clip_format
    assert (form.width, form.height, form.channels, form.bits_per_pixel) == (8, 4, 3, 24)
    assert (form.format_tag, form.frame_buffer_size, form.scan_format) == ("rgb", 96, "progressive")
    assert form.array_shape == (4, 8, 3) and form.array_dtype == "uint8"


def test_resolving_names_that_hold_separators(server):
    dailies = "/Volume 1/Commercial/Shared Vault/Library A/Dailies"
    folder = server.resolve(dailies).create("Cut/Day 2", "FOLDER")
    inner = folder.create("a\\b", "FOLDER")
    assert server.resolve(dailies + "/Cut\\/Day 2") == folder
    assert server.resolve(dailies + "/Cut\\/Day 2/a\\\\b") == inner


@pytest.mark.parametrize("path", [REEL + "/Shot 999", "/Volume 2", "/Volume 1/Commercial/x/y"])
def test_resolving_a_missing_path_raises_not_found(server, path):
    with pytest.raises(vantrel.NotFoundError, match="No child named") as raised:
        server.resolve(path)
    assert isinstance(raised.value, LookupError)


def test_create_rename_destroy(server):
    reel = server.resolve(REEL)
    folder = server.resolve("/Volume 1/Commercial/Shared Vault/Library A/Dailies")
    sub = folder.create("Selects", "FOLDER")
    clip = sub.create("Take 9", "CLIP", vantrel.ClipFormat(16, 8))
    assert [c.name for c in server.resolve(folder_path(folder)).children][-1] == "Selects"
    assert (clip.type, clip.clip_format.width, clip.clip_format.frame_buffer_size) == ("CLIP", 16, 384)

    clip.rename("Take 10")
    assert clip.name == "Take 10"
    assert server.resolve(folder_path(folder) + "/Selects/Take 10") == clip

    sub.destroy()
    assert "Selects" not in [c.name for c in folder.children]
    clip.refresh()  # drops what the handle learnt: the node has gone with its parent
    with pytest.raises(vantrel.Error):
        clip.name  # noqa: B018
    assert reel.children  # the rest of the tree is untouched


def folder_path(node):
    names = []
    while node.parent is not None:
        names.append(node.name)
        node = node.parent
    return "/" + "/".join(reversed(names))


def test_creating_under_a_clip_is_refused(server):
    clip = server.resolve(REEL + "/Shot 010")
    with pytest.raises(vantrel.Error) as raised:
        clip.create("inside", "FOLDER")
    assert str(raised.value)


def test_metadata_both_ways(server, start_vantreld):
    clip = server.resolve(REEL + "/Shot 020")
    assert dict(clip.metadata) == {"comments": "second shot, close-up", "timecode": "01:00:00:00"}
    clip.metadata["comments"] = "re-framed \u2014 ok"
    clip.metadata["notes"] = "line 1\nline 2 with spaces"
    other = vantrel.Server(server.id).resolve(REEL + "/Shot 020")  # a second handle reads it
    assert other.metadata["comments"] == "re-framed \u2014 ok"
    assert set(other.metadata) == {"comments", "timecode", "notes"}
    assert other.metadata["notes"] == "line 1\nline 2 with spaces"
    assert "missing" not in other.metadata
    with pytest.raises(KeyError):
        other.metadata["missing"]
    with pytest.raises(TypeError):
        del other.metadata["notes"]


def test_a_node_behaves_as_a_container_of_its_children(server):
    reel = server.resolve(REEL)
    names = [child.name for child in reel.children]
    assert [child.name for child in reel] == names and len(reel) == len(names)
    assert reel["Shot 010"] == server.resolve(REEL + "/Shot 010")
    with pytest.raises(KeyError):
        reel["No such shot"]
    shot = reel["Shot 010"]
    assert len(shot) == 0 and bool(shot)  # no children, still a node
    assert (shot.path, server.root.path) == (REEL + "/Shot 010", "/")
    assert shot.num_frames == len(shot.frame_ids) == 3
    assert repr(shot) == f"Node('Shot 010', CLIP, id={shot.id!r})"


def test_version_help_and_server_as_context_manager(library, start_vantreld):
    assert vantrel.__version__ == "%d.%d.%d" % vantrel.library_version
    assert "display-name path" in vantrel.Server.resolve.__doc__
    assert str(inspect.signature(vantrel.Server.resolve)) == "(self, path: str) -> Node"
    page = pydoc.render_doc(vantrel.Server, renderer=pydoc.plaintext)
    assert "resolve(self, path: str) -> Node" in page and "display-name path" in page
    assert repr(vantrel.Node) == "<class 'vantrel.Node'>"
    daemon = start_vantreld("--no-discovery")
    with vantrel.Server(daemon.address) as server:
        watch = server.watch(server.root, lambda event: None)
        assert server.root.name
    watch.cancel()  # already ended with the block
    assert server.root.name  # the next call opens the link again


def test_events_as_an_iterator(server):
    folder = server.resolve("/Volume 1/Commercial/Shared Vault/Library A/Dailies")
    with server.events(folder, timeout=10) as events:
        folder.create("Iterated", "FOLDER")
        event = next(events)
        assert (event.type, event.details["Name"]) == ("ChildCreated", "Iterated")
    assert list(server.events(folder, timeout=0.2)) == []  # nothing happens: the loop ends


def test_push_and_pull_files(server, tmp_path):
    tmp_path = tmp_path / "files"
    tmp_path.mkdir()
    sent = tmp_path / "notes.txt"
    sent.write_bytes(b"cut 3\n" * 1000)
    server.push(sent, "notes.txt")
    received = tmp_path / "received.txt"
    received.write_text("old")
    server.pull("notes.txt", received)
    assert received.read_bytes() == sent.read_bytes()
    with pytest.raises(vantrel.Error):
        server.pull("missing.txt", received)
    assert received.read_bytes() == sent.read_bytes()  # a failed pull leaves the target alone
    assert sorted(p.name for p in tmp_path.iterdir()) == ["notes.txt", "received.txt"]
    # A target that is no plain file is written in place: a link stays a link, a device a device.
    link = tmp_path / "link.txt"
    link.symlink_to(received)
    received.write_text("old")
    server.pull("notes.txt", link)
    assert link.is_symlink() and received.read_bytes() == sent.read_bytes()
    server.pull("notes.txt", "/dev/null")
    assert stat.S_ISCHR(os.stat("/dev/null").st_mode)


def test_texts_holding_nul_are_refused_not_cut(server, start_vantreld):
    folder = server.resolve(DAILIES)
    for attempt in (lambda: folder.set_metadata("s", "before\0after"),
                    lambda: folder.set_metadata("s\0t", "x"),
                    lambda: folder.create("a\0b", "FOLDER"),
                    lambda: folder.rename("a\0b"),
                    lambda: server.resolve(DAILIES + "\0/x"),
                    lambda: server.watch("a\0b", print),
                    lambda: vantrel.Server(server.id + "\0:1")):
        with pytest.raises(ValueError, match="NUL"):
            attempt()
    assert "s" not in folder.metadata and folder.name == "Dailies"


@pytest.mark.parametrize("node, error", [("\udcff", ValueError), (7, TypeError)])
def test_watch_refuses_what_is_no_node_id(server, node, error):
    with pytest.raises(error):
        server.watch(node, print)
