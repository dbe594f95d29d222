// The web view's page: servers, a lazily loaded tree, node details and a clip player, all from
// the same JSON routes a program can use, kept current by the server's event stream.
"use strict";

const PAGE = 100;          // children asked for at a time
const THUMB_WIDTH = 160;   // thumbnails of the clip strip
const VIEW_WIDTH = 640;    // the player's frames
const MAX_STRIP = 200;     // thumbnails drawn at once in the strip

const state = {
  server: null,            // the chosen server's id
  node: null,              // details of the node shown
  folders: new Map(),      // "server\0id" -> {element, loaded}
  player: null,
  allowChanges: false,
};

function el(tag, props = {}, ...children) {
  const node = document.createElement(tag);
  for (const [key, value] of Object.entries(props)) {
    if (key === "class") node.className = value;
    else if (key.startsWith("on")) node.addEventListener(key.slice(2), value);
    else if (key === "text") node.textContent = value;   // never innerHTML: names are data
    else node.setAttribute(key, value);
  }
  for (const child of children) node.append(child);
  return node;
}

function query(params) { return new URLSearchParams(params).toString(); }

async function getJson(path, params = {}) {
  const response = await fetch(path + "?" + query(params));
  const body = await response.json();
  if (!response.ok) throw new Error(body.error || response.statusText);
  return body;
}

async function postJson(path, body) {
  const response = await fetch(path, {
    method: "POST", headers: {"Content-Type": "application/json"}, body: JSON.stringify(body)});
  const answer = await response.json();
  if (!response.ok) throw new Error(answer.error || response.statusText);
  return answer;
}

function frameUrl(server, id, index, width, stamp) {
  return "/api/frame?" + query({server, id, index, width, v: stamp});
}

// ---- servers

async function loadServers() {
  const {servers} = await getJson("/api/servers");
  showServers(servers);
}

function showServers(servers) {
  const list = document.getElementById("servers");
  list.replaceChildren();
  for (const s of servers) {
    const item = el("li", {"data-server": s.server,
                           class: (s.server === state.server ? "chosen " : "") +
                                  (s.reachable ? "" : "unreachable"),
                           onclick: () => chooseServer(s.server)},
                    el("div", {text: s.displayName || s.server}),
                    el("div", {class: "sub", text: s.server + (s.database ? " · " + s.database : "")}));
    list.append(item);
  }
}

async function chooseServer(server) {
  state.server = server;
  state.folders.clear();
  for (const item of document.querySelectorAll("#servers li"))
    item.classList.toggle("chosen", item.dataset.server === server);
  const tree = document.getElementById("tree");
  tree.replaceChildren();
  try {
    const root = await getJson("/api/node", {server, id: ""});
    tree.append(folderRow(server, root, 0));
  } catch (error) {
    tree.append(el("div", {class: "error", text: error.message}));
  }
}

// ---- tree

function folderKey(server, id) { return server + "\0" + id; }

function folderRow(server, node) {
  const kids = el("div", {class: "kids", hidden: ""});
  const label = el("div", {class: "row", "data-id": node.id, "data-name": node.name},
                   (node.clip ? "▶ " : "▸ ") + node.name,
                   el("span", {class: "type", text: node.type + (node.clip ? " · " + node.frames + " frames" : "")}));
  label.addEventListener("click", () => {
    for (const row of document.querySelectorAll(".row.chosen")) row.classList.remove("chosen");
    label.classList.add("chosen");
    showNode(server, node.id);
    if (!node.clip) toggleFolder(server, node.id, kids);
  });
  return el("div", {class: "entry"}, label, kids);
}

async function toggleFolder(server, id, kids) {
  const key = folderKey(server, id);
  if (!kids.hidden && state.folders.has(key)) {
    kids.hidden = true;
    state.folders.delete(key);
    return;
  }
  kids.hidden = false;
  state.folders.set(key, {kids});
  await reloadFolder(server, id);
}

async function reloadFolder(server, id) {
  const folder = state.folders.get(folderKey(server, id));
  if (!folder) return;
  folder.kids.replaceChildren();
  await appendPage(server, id, folder.kids, 0);
}

async function appendPage(server, id, kids, offset) {
  const page = await getJson("/api/children", {server, id, offset, limit: PAGE});
  for (const child of page.children) kids.append(folderRow(server, child));
  const next = offset + page.children.length;
  if (next < page.total) {
    const more = el("div", {class: "more", text: `more… (${next} of ${page.total})`});
    more.addEventListener("click", async () => { more.remove(); await appendPage(server, id, kids, next); });
    kids.append(more);
  }
}

// ---- node details and the clip player

async function showNode(server, id) {
  stopPlayer();
  const pane = document.getElementById("node");
  try {
    const node = await getJson("/api/node", {server, id});
    state.node = node;
    document.getElementById("node-title").textContent = node.name;
    pane.replaceChildren(detailsTable(node));
    if (node.clip && node.frames > 0) pane.append(clipView(server, node));
    for (const stream of node.streams)
      pane.append(el("h2", {text: "metadata: " + stream.name}),
                  el("pre", {class: "stream", text: stream.text + (stream.truncated ? "\n…" : "")}));
    if (state.allowChanges) pane.append(changeButtons(server, node));
  } catch (error) {
    pane.replaceChildren(el("div", {class: "error", text: error.message}));
  }
}

function detailsTable(node) {
  const rows = [["type", node.type], ["id", node.id], ["children", String(node.children)]];
  if (node.clip) {
    const f = node.format;
    rows.push(["frames", String(node.frames)],
              ["format", `${f.width}x${f.height} ${f.tag}, ${f.bitsPerPixel} bits/pixel, ${f.frameRate} fps`]);
  }
  return el("table", {}, ...rows.map(([k, v]) => el("tr", {}, el("td", {class: "sub", text: k}), el("td", {text: v}))));
}

function clipView(server, node) {
  const stamp = Date.now();
  const viewer = el("img", {id: "viewer", alt: "frame", src: frameUrl(server, node.id, 0, VIEW_WIDTH, stamp)});
  const slider = el("input", {type: "range", min: "0", max: String(node.frames - 1), value: "0"});
  const counter = el("span", {class: "sub", text: `0 / ${node.frames}`});
  const play = el("button", {text: "Play"});
  const strip = el("div", {class: "strip", id: "strip"});
  const player = {server, node, viewer, slider, counter, strip, index: 0, timer: null, stamp, play};
  state.player = player;
  for (let i = 0; i < Math.min(node.frames, MAX_STRIP); ++i) {
    const thumb = el("img", {alt: `frame ${i}`, "data-index": String(i),
                             src: frameUrl(server, node.id, i, THUMB_WIDTH, stamp)});
    thumb.addEventListener("click", () => showFrame(player, i));
    strip.append(thumb);
  }
  slider.addEventListener("input", () => showFrame(player, Number(slider.value)));
  play.addEventListener("click", () => (player.timer ? stopPlayer() : startPlayer(player)));
  showFrame(player, 0);
  return el("div", {}, strip, viewer, el("div", {class: "controls"}, play, slider, counter));
}

function showFrame(player, index) {
  player.index = index;
  player.viewer.src = frameUrl(player.server, player.node.id, index, VIEW_WIDTH, player.stamp);
  player.slider.value = String(index);
  player.counter.textContent = `${index} / ${player.node.frames}`;
  for (const thumb of player.strip.children)
    thumb.classList.toggle("current", Number(thumb.dataset.index) === index);
}

function startPlayer(player) {
  const rate = player.node.format.frameRate > 0 ? player.node.format.frameRate : 24;
  player.play.textContent = "Stop";
  player.timer = setInterval(() => showFrame(player, (player.index + 1) % player.node.frames), 1000 / rate);
}

function stopPlayer() {
  const player = state.player;
  if (player && player.timer) {
    clearInterval(player.timer);
    player.timer = null;
    player.play.textContent = "Play";
  }
}

function changeButtons(server, node) {
  const act = (what) => async () => {
    try { await what(); } catch (error) { alert(error.message); }
  };
  return el("div", {class: "controls"},
    el("button", {text: "New folder", onclick: act(async () => {
      const name = prompt("Name of the new folder");
      if (name) await postJson("/api/create", {server, id: node.id, name});
    })}),
    el("button", {text: "Rename", onclick: act(async () => {
      const name = prompt("New name", node.name);
      if (name) await postJson("/api/rename", {server, id: node.id, name});
    })}),
    el("button", {text: "Destroy", onclick: act(async () => {
      if (confirm(`Destroy ${node.name} and everything below it?`))
        await postJson("/api/destroy", {server, id: node.id});
    })}),
    el("button", {text: "Edit metadata", onclick: act(async () => {
      const stream = prompt("Metadata stream", node.streams.length ? node.streams[0].name : "comments");
      if (!stream) return;
      const old = node.streams.find((s) => s.name === stream);
      const text = prompt("Text of " + stream, old ? old.text : "");
      if (text !== null) await postJson("/api/metadata", {server, id: node.id, stream, text});
    })}));
}

// ---- live updates

function onNodeEvent(event) {
  if (event.server !== state.server) return;
  const shown = state.node && state.node.id;
  if (event.type.startsWith("Child") && state.folders.has(folderKey(event.server, event.node)))
    reloadFolder(event.server, event.node);
  const child = event.details && event.details.Child;
  if (shown && (event.node === shown || child === shown)) {
    if (event.type === "Destroyed" || (child === shown && event.type === "ChildDestroyed")) {
      document.getElementById("node").replaceChildren(el("div", {class: "sub", text: "destroyed"}));
      state.node = null;
    } else {
      showNode(event.server, shown);
    }
  }
}

function listen() {
  const status = document.getElementById("status");
  const events = new EventSource("/api/events");
  events.addEventListener("open", () => { status.textContent = "live"; status.className = ""; });
  events.addEventListener("error", () => { status.textContent = "reconnecting…"; status.className = "down"; });
  events.addEventListener("servers", (e) => showServers(JSON.parse(e.data).servers));
  events.addEventListener("node", (e) => onNodeEvent(JSON.parse(e.data)));
  events.addEventListener("lost", () => {
    loadServers();
    for (const key of state.folders.keys()) reloadFolder(...key.split("\0"));
  });
}

async function start() {
  state.allowChanges = (await getJson("/api/about")).allowChanges;
  listen();
  await loadServers();
}

start();
