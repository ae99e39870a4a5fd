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
#list { width: 9em; overflow-y: auto; border-right: 1px solid #ccc; }
#list ul { margin: 0; padding: 0; list-style: none; }
#list li { padding: 6px 10px; cursor: pointer; border-bottom: 1px solid #eee; }
#drafts li { font-style: italic; }
#list li.selected { background: #dde8f3; font-weight: bold; }
#view { flex: 1; overflow: auto; background: #888; padding: 16px; }
#paper { position: relative; display: inline-block; box-shadow: 0 0 6px #333; background: #fff; }
#sheet { position: absolute; left: 0; top: 0; transform-origin: 0 0; }
#paper img { display: block; }
#highlight { position: absolute; border: 2px solid #e0301e; background: rgba(224, 48, 30, .15); pointer-events: none; display: none; }
#side { width: 42%; display: flex; flex-direction: column; border-left: 1px solid #ccc; min-height: 0; }
#editor { height: 9em; resize: vertical; font: 12px ui-monospace, monospace; border: 0; border-bottom: 1px solid #ccc; padding: 6px 8px; }
#warnings { margin: 0; padding: 0; list-style: none; font: 12px ui-monospace, monospace; max-height: 30%; overflow: auto; }
#warnings li { padding: 3px 8px; color: #8a4b00; background: #fff4dc; border-bottom: 1px solid #f0e0c0; white-space: pre-wrap; word-break: break-all; }
#commands { flex: 1; overflow: auto; margin: 0; padding: 0; list-style: none; font: 12px ui-monospace, monospace; }
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
  <label>turn <select id="rotation" title="how the preview is turned on the screen (the label is not changed)">
    <option value="0">0°</option><option value="90">90°</option><option value="180">180°</option><option value="270">270°</option>
  </select></label>
  <span>save <button id="save-png" disabled>PNG</button> <button id="save-pdf" disabled>PDF</button></span>
  <span id="status" title="the printer's answer to the status query">status:</span>
  <span id="connection"></span>
</header>
<main>
  <nav id="list"><ul id="drafts"></ul><ul id="labels"></ul></nav>
  <div id="view"><p id="empty">No label printed yet: print to the printer port, or type commands on the right, and it appears here.</p>
    <div id="paper" hidden><div id="sheet"><img id="preview" alt="label preview"><div id="highlight"></div></div></div></div>
  <div id="side">
    <textarea id="editor" spellcheck="false" aria-label="commands to draw, one a line"
      placeholder="Commands to draw, one a line, or a ZPL II label (^XA ... ^XZ), as:&#10;SW406&#10;SL203,24,G,0&#10;BD10,10,395,192,B,3&#10;T20,20,5,1,1,0,0,N,N,'Hello'&#10;B120,60,1,2,4,80,0,1,'PKG-123'&#10;P1,1"></textarea>
    <ul id="warnings"></ul>
    <ul id="commands"></ul>
  </div>
</main>
<script src="/page.js"></script>
</body>
</html>
)PAGE";

const char *const kLivePageScript = R"SCRIPT('use strict';
// Every text from the emulator or the editor is set with textContent: a
// label's text is shown as it is, never taken for markup.
const $ = (id) => document.getElementById(id);
const shown = new Map();  // label number -> its list entry
let current = null;       // the label on view: its JSON, its name, png (a URL) and pdf()
let zoom = 0;             // 0: fit the view
let rotation = 0;         // degrees clockwise: how the view is turned, not the label

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

// CSS pixels a dot. Enlarged, a dot covers a whole number of the screen's
// own pixels and is drawn unsmoothed: small text stays sharp, every dot the
// same size. Reduced, the browser smooths, so thin strokes fade, not vanish.
function scale() {
  if (!current) return 1;
  const turned = rotation % 180 !== 0;
  const [width, height] = turned ? [current.height, current.width] : [current.width, current.height];
  const view = $('view');
  const wanted = zoom > 0 ? zoom : Math.min((view.clientWidth - 32) / width, (view.clientHeight - 32) / height, 4);
  const device = wanted * devicePixelRatio;
  if (device < 1) return wanted;
  return (zoom > 0 ? Math.round(device) : Math.floor(device)) / devicePixelRatio;
}

// The sheet (image and highlight) turns about its top left corner and is
// moved back into the paper's box, which takes the turned size.
function layout() {
  if (!current) return;
  const s = scale();
  const width = current.width * s, height = current.height * s;
  const turned = rotation % 180 !== 0;
  $('paper').style.width = (turned ? height : width) + 'px';
  $('paper').style.height = (turned ? width : height) + 'px';
  const [x, y] = { 0: [0, 0], 90: [height, 0], 180: [width, height], 270: [0, width] }[rotation];
  $('sheet').style.transform = `translate(${x}px, ${y}px) rotate(${rotation}deg)`;
  const preview = $('preview');
  preview.style.width = width + 'px';
  preview.style.height = height + 'px';
  preview.style.imageRendering = s * devicePixelRatio > 1 ? 'pixelated' : 'auto';
  $('zoom').textContent = zoom > 0 ? Math.round(s * 100) + ' %' : 'fit';
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

// A label on view: its image, and the log beside it, where each command that
// drew something shows, when clicked, where it drew.
function show(label, log, linesLeftOut, listItem) {
  current = label;
  for (const other of document.querySelectorAll('#list li.selected')) other.classList.remove('selected');
  listItem.classList.add('selected');
  $('empty').hidden = true;
  $('paper').hidden = false;
  $('preview').src = label.png;
  $('save-png').disabled = $('save-pdf').disabled = false;
  const boxes = new Map(label.elements.map((e) => [e.connection + '.' + e.sequence, e]));
  const list = $('commands');
  list.replaceChildren();
  for (const entry of log) {
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
  if (linesLeftOut > 0) {
    const item = document.createElement('li');
    item.textContent = linesLeftOut + ' more commands not kept';
    list.append(item);
  }
  layout();
}

async function view(number) {
  const label = await json('/labels/' + number + '.json');
  const url = '/labels/' + number;
  Object.assign(label, { name: 'label-' + number, png: url + '.png', pdf: async () => url + '.pdf' });
  show(label, label.log, label.logLinesLeftOut, shown.get(number));
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

// A URL or a Blob, saved as a download under `name`.
function save(target, name) {
  const link = document.createElement('a');
  link.href = target instanceof Blob ? URL.createObjectURL(target) : target;
  link.download = name;
  link.click();
  if (target instanceof Blob) setTimeout(() => URL.revokeObjectURL(link.href), 60000);
}

$('save-png').addEventListener('click', () => save(current.png, current.name + '.png'));
$('save-pdf').addEventListener('click', () => {
  const label = current;  // the one on view when clicked, whatever is shown once its PDF comes
  label.pdf().then((pdf) => save(pdf, label.name + '.pdf'), (error) => showWarnings([error.message]));
});

// The editor: what is typed is drawn by POST /render, on a printer of its
// own, once the typing pauses. The printer's commands end with CR: each
// line end typed is sent as one, and the last line gets one too. Text that
// begins as ZPL II does (^XA, a comment, a download) is ZPL II: the service translates it first
// and goes by its own line ends.
const draftImages = [];  // the drafts' PNGs as blob URLs, freed when replaced
let pause = 0;           // the typing pause's timer
let drafts = 0;          // renders asked for: only the newest one's answer is shown

const isZpl = (text) => /^\s*(\^(XA|FX)|~(DG|DY|SD|TA|CT|CC|CD|JA))/i.test(text);  // as VdlZplDetect

function commandStream(text) {
  if (isZpl(text)) return text;
  const stream = text.replace(/\r\n?|\n/g, '\r');
  return stream === '' || stream.endsWith('\r') ? stream : stream + '\r';
}

function showWarnings(lines) {
  $('warnings').replaceChildren(...lines.map((line) => {
    const item = document.createElement('li');
    item.textContent = line;
    return item;
  }));
}

async function render(stream, type) {
  const url = isZpl(stream) ? '/render?from=zpl' : '/render';
  return fetch(url, { method: 'POST', headers: { Accept: type }, body: stream });
}

async function drawDraft() {
  const run = ++drafts;
  const stream = commandStream($('editor').value);
  let answer = null, body = null;
  if (stream !== '') {
    try {
      answer = await render(stream, 'application/json');
      body = await answer.json();  // a refusal too, asked for JSON
    } catch (error) {
      body = { error: 'the render service did not answer: ' + error.message };
    }
  }
  if (run !== drafts) return;
  if (!answer || !answer.ok) return showWarnings(body ? [body.error, ...(body.faults || [])] : []);
  const more = body.warningsLeftOut > 0 ? [body.warningsLeftOut + ' more warnings'] : [];
  showWarnings(body.warnings.concat(more));
  for (const url of draftImages.splice(0)) URL.revokeObjectURL(url);
  const list = $('drafts');
  const before = [...list.children].findIndex((item) => item.classList.contains('selected'));
  list.replaceChildren();
  for (const label of body.labels) {
    const png = new Blob([Uint8Array.from(atob(label.png), (c) => c.charCodeAt(0))], { type: 'image/png' });
    draftImages.push(URL.createObjectURL(png));
    Object.assign(label, { name: 'draft-' + label.number, png: draftImages.at(-1),
                           pdf: async () => {
                             const answer = await render(stream, 'application/pdf');
                             if (!answer.ok) throw new Error('the PDF was refused: ' + answer.status);
                             return answer.blob();
                           } });
    const item = document.createElement('li');
    item.textContent = 'draft ' + label.number;
    item.title = 'drawn from the commands typed on the right';
    item.addEventListener('click', () => show(label, body.log, body.logLinesLeftOut, item));
    list.append(item);
  }
  list.children[Math.min(Math.max(before, 0), list.children.length - 1)].click();
}

$('editor').addEventListener('input', () => {
  clearTimeout(pause);
  pause = setTimeout(drawDraft, 300);
});

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
$('rotation').addEventListener('change', (event) => { rotation = Number(event.target.value); layout(); });
window.addEventListener('resize', layout);
json('/status').then(showStatus);
listen();
)SCRIPT";

}  // namespace vdlemu
