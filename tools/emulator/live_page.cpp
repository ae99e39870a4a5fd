#include "live_page.h"

namespace vdlemu {

const char *const kLivePage = R"PAGE(<!DOCTYPE html>
<html lang="en">
<head>
<meta charset="utf-8">
<title>vdl-emulator</title>
<style>
body { margin: 0; font: 14px system-ui, sans-serif; display: flex; flex-direction: column; height: 100vh; }
header { display: flex; gap: 1.5em; align-items: center; padding: 6px 12px; background: #2d3e50; color: #fff; flex-wrap: wrap; }
header h1 { font-size: 16px; margin: 0; }
header label { white-space: nowrap; }
main { flex: 1; display: flex; min-height: 0; }
#labels { width: 9em; overflow-y: auto; border-right: 1px solid #ccc; margin: 0; padding: 0; list-style: none; }
#labels li { padding: 6px 10px; cursor: pointer; border-bottom: 1px solid #eee; }
#labels li.selected { background: #dde8f3; font-weight: bold; }
#view { flex: 1; overflow: auto; background: #888; padding: 16px; }
#paper { position: relative; display: inline-block; box-shadow: 0 0 6px #333; background: #fff; }
#paper img { display: block; image-rendering: pixelated; }
#highlight { position: absolute; border: 2px solid #e0301e; background: rgba(224, 48, 30, .15); pointer-events: none; display: none; }
#commands { width: 42%; overflow: auto; margin: 0; padding: 0; list-style: none; font: 12px ui-monospace, monospace; border-left: 1px solid #ccc; }
#commands li { padding: 3px 8px; border-bottom: 1px solid #eee; white-space: pre-wrap; word-break: break-all; }
#commands li.drawn { cursor: pointer; }
#commands li.drawn:hover { background: #f3f3d0; }
#commands li.selected { background: #ffe2a8; }
#commands li.fault { color: #b00020; }
#empty { color: #fff; }
</style>
</head>
<body>
<header>
  <h1>vdl-emulator</h1>
  <span><button id="zoom-out" title="zoom out">&minus;</button> <span id="zoom">fit</span>
    <button id="zoom-in" title="zoom in">+</button> <button id="zoom-fit">fit</button></span>
  <span id="status" title="the printer's answer to the status query">status:</span>
  <span id="connection"></span>
</header>
<main>
  <ul id="labels"></ul>
  <div id="view"><p id="empty">No label printed yet: print to the printer port, and it appears here.</p>
    <div id="paper" hidden><img id="preview" alt="label preview"><div id="highlight"></div></div></div>
  <ul id="commands"></ul>
</main>
<script src="/page.js"></script>
</body>
</html>
)PAGE";

const char *const kLivePageScript = R"SCRIPT('use strict';
// Every text from the emulator is set with textContent: a label's text is
// shown as it is, never taken for markup.
const $ = (id) => document.getElementById(id);
const shown = new Map();  // label number -> its list entry
let current = null;       // the label on view: its JSON
let zoom = 0;             // 0: fit the view

async function json(url, options) {
  const answer = await fetch(url, options);
  if (!answer.ok) throw new Error(url + ': ' + answer.status);
  return answer.json();
}

function describe(entry) {
  const words = [entry.connection + '.' + entry.sequence];
  if (entry.outcome !== 'decoded') words.push(entry.outcome.toUpperCase());
  if (entry.code) words.push(entry.code, entry.command + ':');
  for (const [name, value] of Object.entries(entry.fields || {})) words.push(name + '=' + JSON.stringify(value));
  if (entry.problem) words.push(entry.problem);
  for (const [key, value] of Object.entries(entry.notes || {})) words.push('| ' + key + ': ' + [].concat(value).join('; '));
  return words.join(' ');
}

function scale() {
  if (!current) return 1;
  if (zoom > 0) return zoom;
  const view = $('view');
  return Math.min((view.clientWidth - 32) / current.width, (view.clientHeight - 32) / current.height, 4);
}

function layout() {
  if (!current) return;
  const s = scale();
  $('preview').style.width = current.width * s + 'px';
  $('preview').style.height = current.height * s + 'px';
  $('zoom').textContent = zoom > 0 ? Math.round(zoom * 100) + ' %' : 'fit';
  const selected = document.querySelector('#commands li.selected');
  highlight(selected ? selected.box : null);
}

function highlight(box) {
  const mark = $('highlight');
  mark.style.display = box ? 'block' : 'none';
  if (!box) return;
  const s = scale();
  mark.style.left = box.x * s - 2 + 'px';
  mark.style.top = box.y * s - 2 + 'px';
  mark.style.width = box.width * s + 'px';
  mark.style.height = box.height * s + 'px';
}

function select(entry, box) {
  for (const other of document.querySelectorAll('#commands li.selected')) other.classList.remove('selected');
  entry.classList.add('selected');
  highlight(box);
}

async function view(number) {
  const label = await json('/labels/' + number + '.json');
  current = label;
  for (const [n, item] of shown) item.classList.toggle('selected', n === number);
  $('empty').hidden = true;
  $('paper').hidden = false;
  $('preview').src = '/labels/' + number + '.png';
  const boxes = new Map(label.elements.map((e) => [e.connection + '.' + e.sequence, e]));
  const list = $('commands');
  list.replaceChildren();
  for (const entry of label.log) {
    const item = document.createElement('li');
    item.textContent = describe(entry);
    item.box = boxes.get(entry.connection + '.' + entry.sequence) || null;
    if (entry.outcome !== 'decoded') item.classList.add('fault');
    if (item.box) {
      item.classList.add('drawn');
      item.title = 'show where it was drawn';
      item.addEventListener('click', () => select(item, item.box));
    }
    list.append(item);
  }
  if (label.logLinesLeftOut > 0) {
    const item = document.createElement('li');
    item.textContent = label.logLinesLeftOut + ' more commands not kept';
    list.append(item);
  }
  layout();
}

// Adds the labels not shown yet and shows the newest.
async function sync() {
  const { labels } = await json('/labels');
  let newest = null;
  for (const label of labels) {
    if (shown.has(label.number)) continue;
    const item = document.createElement('li');
    item.textContent = 'label ' + label.number;
    item.addEventListener('click', () => view(label.number));
    $('labels').prepend(item);
    shown.set(label.number, item);
    newest = label.number;
  }
  if (newest !== null) await view(newest);
}

// One checkbox per status bit, kept as the service says the status is: the
// event stream tells each change, by this page or any other client.
const statusBoxes = new Map();  // bit name -> its checkbox

function showStatus({ bits }) {
  for (const bit of bits) {
    let box = statusBoxes.get(bit.name);
    if (!box) {
      box = document.createElement('input');
      box.type = 'checkbox';
      box.name = bit.name;
      box.value = bit.bit;
      box.addEventListener('change', setStatus);
      const label = document.createElement('label');
      label.append(box, ' ' + bit.name);
      $('status').append(' ', label);
      statusBoxes.set(bit.name, box);
    }
    box.checked = bit.set;
  }
}

// As JSON: the service takes no status from a form, which any site's page could send.
async function setStatus() {
  let status = 0;
  for (const box of statusBoxes.values()) if (box.checked) status |= Number(box.value);
  showStatus(await json('/status', {
    method: 'POST', headers: { 'Content-Type': 'application/json' }, body: JSON.stringify({ status }),
  }));
}

// The browser retries a stream that broke, but not one the service refused
// (too many open): that one is opened again here, waiting longer each time.
let retryDelay = 1000;

function listen() {
  const events = new EventSource('/events');
  // Labels printed before the stream (re)opened came with no event: look.
  events.onopen = () => { $('connection').textContent = 'live'; retryDelay = 1000; sync(); };
  events.onmessage = () => sync();
  events.addEventListener('status', (event) => showStatus(JSON.parse(event.data)));
  events.onerror = () => {
    $('connection').textContent = 'reconnecting…';
    if (events.readyState !== EventSource.CLOSED) return;
    setTimeout(listen, retryDelay);
    retryDelay = Math.min(retryDelay * 2, 30000);
  };
}

$('zoom-in').addEventListener('click', () => { zoom = Math.min(scale() * 1.5, 16); layout(); });
$('zoom-out').addEventListener('click', () => { zoom = Math.max(scale() / 1.5, 0.1); layout(); });
$('zoom-fit').addEventListener('click', () => { zoom = 0; layout(); });
window.addEventListener('resize', layout);
json('/status').then(showStatus);
listen();
)SCRIPT";

}  // namespace vdlemu
