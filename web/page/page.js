// The station's page: its status, and its messages newest first, live from
// /api/events or as searched for in /api/messages. Message text comes from the air:
// it only ever becomes text nodes, with its control characters made visible.
"use strict";

const PageSize = 50;
const LiveKept = 500; // messages the live list keeps
const StatusEvery = 5000; // ms
const ListenAgain = 5000; // ms after the server refused the live messages

const byId = (id) => document.getElementById(id);
let live = true; // the newest messages, following the events
let seenId = 0; // the newest message the events brought
let shownIds = []; // of the listed messages, newest first
let missed = 0; // live messages not listed while searching

// A piece of text as nodes: control characters (C0, DEL, C1) as \xHH, set apart in
// colour so that they are not read as those four characters.
function visibleText(text) {
  const nodes = document.createDocumentFragment();
  let plain = "";
  const flush = () => { if (plain) nodes.append(document.createTextNode(plain)); plain = ""; };
  for (const character of text) {
    const code = character.codePointAt(0);
    if (code >= 0x20 && (code < 0x7f || code >= 0xa0)) { plain += character; continue; }
    flush();
    nodes.append(element("span", "ctl", "\\x" + code.toString(16).toUpperCase().padStart(2, "0")));
  }
  flush();
  return nodes;
}

function element(tag, className, text) {
  const node = document.createElement(tag);
  if (className) node.className = className;
  if (text !== undefined) node.textContent = text;
  return node;
}

const localTime = (iso) => new Date(iso).toLocaleString();

function signalText(message) {
  const parts = [];
  const add = (key, label, unit, digits) => {
    if (typeof message[key] === "number") parts.push(`${label} ${message[key].toFixed(digits)}${unit}`);
  };
  add("level_dbfs", "level", " dBFS", 1);
  add("snr_db", "SNR", " dB", 1);
  add("offset_hz", "offset", " Hz", 0);
  add("shift_hz", "shift", " Hz", 0);
  add("clock_ppm", "clock", " ppm", 0);
  add("confidence", "confidence", "", 2);
  if (message.clipped === true) parts.push("clipped");
  return parts.join(" · ");
}

function messageItem(message) {
  const item = element("li");
  item.dataset.id = String(message.id);
  const meta = element("div", "meta");
  const time = element("time", "", localTime(message.time));
  time.dateTime = message.time;
  const kind = message.headed === false ? `headerless ${message.kind}` : message.kind;
  meta.append(time, element("span", "kind", kind));
  const signal = signalText(message);
  if (signal) meta.append(element("span", "signal", signal));
  const text = element("div", "text");
  text.append(visibleText(message.text));
  item.append(meta, text);
  return item;
}

function note(text) {
  byId("note").hidden = !text;
  byId("note").textContent = text || "";
}

function show(messages) {
  byId("messages").replaceChildren(...messages.map(messageItem));
  shownIds = messages.map((message) => message.id);
  byId("older").disabled = messages.length < PageSize;
  byId("newer").disabled = live || !messages.length;
}

function filters() {
  const query = new URLSearchParams();
  const q = byId("q").value;
  if (q) query.set("q", q);
  if (byId("kind").value) query.set("kind", byId("kind").value);
  for (const key of ["since", "until"])
    if (byId(key).value) query.set(key, new Date(byId(key).value).toISOString());
  return query;
}

async function fetchMessages(query) {
  query.set("limit", String(PageSize));
  const response = await fetch("/api/messages?" + query);
  // The server's own refusals (a request too long) are not JSON.
  const body = await response.json().catch(() => ({}));
  if (!response.ok) throw new Error(body.error || `${response.status} ${response.statusText}`);
  return body.messages;
}

async function showPage(query, oldestFirst) {
  try {
    const messages = await fetchMessages(query);
    if (oldestFirst) messages.reverse();
    show(messages);
    note(live || messages.length ? "" : "No messages found.");
    return messages;
  } catch (error) {
    note("Cannot read the messages: " + error.message);
    return [];
  }
}

async function goLive() {
  live = true;
  missed = 0;
  const messages = await showPage(new URLSearchParams(), false);
  if (messages.length) seenId = Math.max(seenId, messages[0].id);
  listen();
}

function search(event) {
  event.preventDefault();
  if (!filters().toString()) return goLive();
  live = false;
  missed = 0;
  showPage(filters(), false);
}

function page(older) {
  const query = filters();
  if (older) {
    query.set("before", String(shownIds[shownIds.length - 1]));
  } else {
    query.set("after", String(shownIds[0]));
  }
  live = false;
  // Short of a whole page, the newer ones reached the newest: those, as a full page.
  showPage(query, !older).then((messages) => {
    if (older || messages.length === PageSize) return;
    if (filters().toString()) showPage(filters(), false);
    else goLive();
  });
}

let events = null;
function listen() {
  if (events) return;
  events = new EventSource("/api/events?after=" + seenId);
  events.onopen = () => { byId("live").textContent = "connected"; byId("live").className = "good"; };
  events.onerror = () => {
    byId("live").textContent = "reconnecting…";
    byId("live").className = "bad";
    // A stream refused (too many open) is given up by the browser: the page tries again.
    if (events.readyState !== EventSource.CLOSED) return;
    events = null;
    setTimeout(listen, ListenAgain);
  };
  events.onmessage = (event) => {
    const message = JSON.parse(event.data);
    if (message.id <= seenId) return; // never twice
    seenId = message.id;
    refreshStatus();
    if (!live) {
      missed += 1;
      return note(`${missed} new message${missed === 1 ? "" : "s"}: clear the search to see them.`);
    }
    const list = byId("messages");
    list.prepend(messageItem(message));
    shownIds.unshift(message.id);
    while (list.children.length > LiveKept) list.lastElementChild.remove();
    shownIds.length = list.children.length;
  };
}

function state(id, up, since, upWord, downWord) {
  const node = byId(id);
  node.textContent = `${up ? upWord : downWord} since ${localTime(since)}`;
  node.className = up ? "good" : "bad";
}

let stationShown = false;
async function refreshStatus() {
  try {
    const response = await fetch("/api/status");
    const status = await response.json();
    if (!stationShown) {
      byId("station").textContent = status.station;
      document.title = `${status.station} · ZEL Text Receiver`;
      stationShown = true;
    }
    state("input", status.input.listening, status.input.since, "listening", "input lost");
    byId("broker-row").hidden = !status.broker;
    if (status.broker)
      state("broker", status.broker.connected, status.broker.since, "connected", "not connected");
    const location = status.last_location;
    if (location) {
      byId("location").replaceChildren(visibleText(location.text),
        document.createTextNode(` (${localTime(location.time)})`));
    }
  } catch (error) {
    byId("input").textContent = "the service does not answer";
    byId("input").className = "bad";
  }
}

byId("search").addEventListener("submit", search);
byId("clear").addEventListener("click", () => { byId("search").reset(); goLive(); });
byId("older").addEventListener("click", () => page(true));
byId("newer").addEventListener("click", () => page(false));
refreshStatus();
setInterval(refreshStatus, StatusEvery);
goLive();
