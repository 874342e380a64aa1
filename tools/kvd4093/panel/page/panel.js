// The KVD4093 panel's page. It shows what the server's "state" messages say
// and sends the server one JSON message per action; docs/panel.md lists the
// messages. Every text from the server goes into the page as text
// (textContent, option labels, attribute values), never as HTML.
'use strict';

const token = document.querySelector('meta[name="kvd4093-token"]').content;
const $ = (id) => document.getElementById(id);

// One colour per channel number, the same in the chart and its legend.
const palette = ['#1f77b4', '#d62728', '#2ca02c', '#ff7f0e', '#9467bd', '#8c564b', '#e377c2', '#17becf'];
const channelColour = (channel) => palette[channel % palette.length];

const LINES = 16;
const COLUMNS = 1000; // the chart's width in columns, as the server reduces them
const FRAME_HEADER = 24;

let socket = null;
let state = null;
let fields = [];
let paused = false;
let connections = 0; // more than 1: the page lost its connection and opened it again

function element(tag, properties = {}, children = []) {
  const node = document.createElement(tag);
  for (const [name, value] of Object.entries(properties)) {
    if (name === 'text') node.textContent = value;
    else if (name === 'dataset') Object.assign(node.dataset, value);
    else node[name] = value;
  }
  for (const child of children) node.append(child);
  return node;
}

function send(message) {
  if (socket && socket.readyState === WebSocket.OPEN) socket.send(JSON.stringify(message));
  else showError('not connected to the panel');
}

let errorTimer = null;
function showError(text) {
  const box = $('error');
  box.textContent = text;
  box.hidden = false;
  clearTimeout(errorTimer);
  errorTimer = setTimeout(() => { box.hidden = true; }, 10000);
}

// Sets an input from the state unless a person is typing in it.
function setInput(input, value) {
  if (document.activeElement !== input) input.value = value;
}

const hex16 = (word) => '0x' + word.toString(16).padStart(4, '0');

// ---- the chart -------------------------------------------------------------

class Chart {
  constructor(canvas) {
    this.canvas = canvas;
    this.context = canvas.getContext('2d');
    this.reset(0, 0, 1, 0);
  }

  reset(run, firstChannel, channels, scansPerColumn) {
    this.run = run;
    this.firstChannel = firstChannel;
    this.channels = channels;
    this.scansPerColumn = scansPerColumn;
    this.low = new Uint16Array(COLUMNS * channels).fill(0xffff);
    this.high = new Uint16Array(COLUMNS * channels);
    this.nextColumn = 0;
    this.gaps = 0; // frames that did not follow on from the one before
    this.dirty = true;
  }

  // A binary frame (docs/panel.md): columns of lowest and highest codes.
  frame(buffer) {
    const view = new DataView(buffer);
    if (buffer.byteLength < FRAME_HEADER || view.getUint8(0) !== 1) return;
    const firstChannel = view.getUint8(1);
    const channels = view.getUint16(2, true);
    const run = view.getUint32(4, true);
    const scansPerColumn = view.getUint32(8, true);
    const columns = view.getUint32(12, true);
    const firstColumn = Number(view.getBigUint64(16, true));
    if (buffer.byteLength !== FRAME_HEADER + columns * channels * 4) return;
    if (run !== this.run || channels !== this.channels || firstChannel !== this.firstChannel ||
        scansPerColumn !== this.scansPerColumn || firstColumn < this.nextColumn) {
      this.reset(run, firstChannel, channels, scansPerColumn);
    }
    // Columns the server dropped are left empty.
    if (firstColumn > this.nextColumn) this.gaps++;
    for (let column = Math.max(this.nextColumn, firstColumn - COLUMNS); column < firstColumn; column++) {
      this.low.fill(0xffff, (column % COLUMNS) * channels, (column % COLUMNS + 1) * channels);
      this.high.fill(0, (column % COLUMNS) * channels, (column % COLUMNS + 1) * channels);
    }
    const values = new Uint16Array(buffer, FRAME_HEADER);
    for (let i = 0; i < columns; i++) {
      const slot = ((firstColumn + i) % COLUMNS) * channels;
      for (let c = 0; c < channels; c++) {
        this.low[slot + c] = values[(i * channels + c) * 2];
        this.high[slot + c] = values[(i * channels + c) * 2 + 1];
      }
    }
    this.nextColumn = firstColumn + columns;
    this.dirty = true;
  }

  draw(triggerLevel) {
    if (!this.dirty) return;
    this.dirty = false;
    const { context, channels } = this;
    const width = this.canvas.width, height = this.canvas.height;
    context.fillStyle = '#fbfcfd';
    context.fillRect(0, 0, width, height);
    const lane = height / channels;
    const start = this.nextColumn - COLUMNS;
    for (let c = 0; c < channels; c++) {
      const top = Math.floor(c * lane);
      const span = Math.max(1, Math.floor(lane) - 3);
      const toY = (code) => top + 1 + Math.round((1 - code / 65535) * span);
      this.drawLane(top, lane, c, triggerLevel, toY);
      context.fillStyle = channelColour(this.firstChannel + c);
      let previousLow = 1, previousHigh = 0; // none yet
      for (let x = 0; x < COLUMNS; x++) {
        const column = start + x;
        if (column < 0) continue;
        const slot = (column % COLUMNS) * channels + c;
        let low = this.low[slot], high = this.high[slot];
        if (low > high) { previousLow = 1; previousHigh = 0; continue; }
        const [ownLow, ownHigh] = [low, high];
        // Reaching over to the column before joins a step between two columns.
        if (previousLow <= previousHigh) {
          low = Math.min(low, previousHigh);
          high = Math.max(high, previousLow);
        }
        [previousLow, previousHigh] = [ownLow, ownHigh];
        const y = toY(high);
        context.fillRect(x, y, 1, toY(low) - y + 1);
      }
    }
  }

  drawLane(top, lane, c, triggerLevel, toY) {
    const context = this.context;
    context.fillStyle = '#e3e7ec';
    context.fillRect(0, top, COLUMNS, 1);
    if (triggerLevel !== null && triggerLevel !== undefined) {
      context.fillStyle = '#b9c0ca';
      const y = toY(triggerLevel / 10000 * 65535);
      for (let x = 0; x < COLUMNS; x += 8) context.fillRect(x, y, 4, 1);
    }
    context.fillStyle = '#5b6473';
    context.font = '12px sans-serif';
    context.fillText('ch ' + (this.firstChannel + c), 4, top + 13);
  }
}

const chart = new Chart($('chart'));
function animate() {
  if (!paused) chart.draw(state ? state.triggerLevel : null);
  requestAnimationFrame(animate);
}
requestAnimationFrame(animate);

// ---- what the server says ----------------------------------------------------

function onHello(message) {
  fields = message.fields;
  const box = $('fields');
  box.replaceChildren();
  for (const field of fields) {
    box.append(element('label', {}, [field.name,
      element('input', { type: 'number', id: 'field-' + field.name, dataset: { field: field.name } })]));
  }
  $('log').tBodies[0].replaceChildren();
  addLogEntries(message.log);
  $('trace-off').hidden = message.traceOn;
  $('trace').textContent = '';
  addTraceLines(message.trace);
}

function showCards(s) {
  const select = $('card-select');
  const options = s.cards.map((card) => element('option', {
    value: String(card.number),
    text: `${card.number}: ` + (card.answers ? `ID ${card.physicalId ?? '?'}, version ${card.version ?? '?'}` : 'does not answer'),
  }));
  if (!s.card) options.unshift(element('option', { value: '', text: 'no card open' }));
  select.replaceChildren(...options);
  select.value = s.card ? String(s.card.number) : '';
  $('backend').textContent = `card backend: ${s.backend}`;
}

function showAnalogIn(s) {
  const r = s.record;
  setInput($('first-channel'), r.FirstChannel);
  setInput($('last-channel'), r.LastChannel);
  const channels = (r.LastChannel & 255) - (r.FirstChannel & 255) + 1;
  const perScan = $('rate-unit').value === 'scans';
  setInput($('rate'), perScan && channels > 0 ? Math.round(r.Frequency / channels) : r.Frequency);
  for (const field of fields) setInput($('field-' + field.name), r[field.name]);
  $('start').disabled = s.running || !s.card;
  $('stop').disabled = !s.running;
  const rate = `${s.sampleRate.toFixed(s.sampleRate % 1 ? 2 : 0)} samples/s (${s.scanRate.toFixed(2)} scans/s)`;
  const st = s.stream;
  const backlog = s.scanRate > 0 ? (st.backlog / s.scanRate).toFixed(2) : '0';
  const largest = s.scanRate > 0 ? (st.largestBacklog / s.scanRate).toFixed(2) : '0';
  const loss = st.gaps ? `, ${st.gaps} gaps (${st.scansLost} scans lost)` : ', no gaps';
  const figures = st.cardLost ? `card lost, waiting${loss}` : `backlog ${backlog} s (largest ${largest} s)${loss}`;
  $('run-status').textContent = s.running ? `running, run ${s.run}: ${rate}; ${figures}` : 'stopped';
  setInput($('view'), String(s.viewSeconds));
  if (s.triggerLevel !== null) setInput($('trigger'), s.triggerLevel);
  $('trigger-value').textContent = s.triggerLevel === null ? 'not set' : String(s.triggerLevel);
  $('chart-scale').textContent = s.running ?
    `${s.scansPerColumn} scans a column, ${(s.scansPerColumn * COLUMNS / s.scanRate).toPrecision(3)} s across` : '';
  const legend = $('legend');
  legend.replaceChildren();
  // The chart's lanes in order, the group's cards one after the other.
  s.channels.slice(0, 64).forEach((name, lane) => {
    const c = (r.FirstChannel & 255) + lane;
    const swatch = element('i', { dataset: { channel: String(c) } });
    swatch.style.backgroundColor = channelColour(c);
    legend.append(element('span', {}, [swatch, name]));
  });
}

function showRecording(s) {
  const rec = s.recording;
  const gaps = rec.gaps ? `, ${rec.gaps} gaps (${rec.scansLost} scans lost, marked in the file)` : '';
  const amount = (rec.planned ? `${rec.scans} of ${rec.planned} scans` : `${rec.scans} scans`) + gaps;
  const texts = {
    idle: 'Nothing recorded yet. Files go into the folder the panel runs in.',
    recording: `recording ${rec.file}: ${amount}`,
    done: `wrote ${rec.file}: ${amount}`,
    empty: `${rec.file}: ${rec.message}`,
    failed: `${rec.file} failed: ${rec.message}`,
  };
  $('record-status').textContent = texts[rec.state];
  $('record-start').disabled = !s.running || rec.state === 'recording';
  $('record-stop').disabled = rec.state !== 'recording';
}

function showDigital(s) {
  const inputs = s.digitalInputs;
  $('di-hex').textContent = inputs === null ? 'unknown' : hex16(inputs);
  for (let n = 0; n < LINES; n++) {
    const lamp = $('di-' + n);
    lamp.classList.toggle('on', inputs !== null && ((inputs >> n) & 1) === 1);
    lamp.classList.toggle('unknown', inputs === null);
    $('do-' + n).checked = ((s.digitalOutputs >> n) & 1) === 1;
  }
  setInput($('do-hex'), hex16(s.digitalOutputs));
}

function showAnalogOut(s) {
  for (let c = 0; c < s.daWritten.length; c++) {
    const written = s.daWritten[c];
    $('da-written-' + c).textContent = written === null ? '–' : String(written);
    const reported = s.daReported ? s.daReported[c] : null;
    $('da-reported-' + c).textContent = !s.daReported ? 'not reported' : reported === 0xffff ? 'never written' : String(reported);
  }
}

function onState(s) {
  state = s;
  showCards(s);
  showAnalogIn(s);
  showRecording(s);
  showDigital(s);
  showAnalogOut(s);
  chart.dirty = true;
}

function addLogEntries(entries) {
  const body = $('log').tBodies[0];
  for (const entry of entries) {
    body.prepend(element('tr', {}, [
      element('td', { text: entry.time }),
      element('td', { text: entry.function }),
      element('td', { text: entry.message, lang: 'zh' }),
      element('td', { text: entry.english || '(no rendering known)' }),
    ]));
  }
  while (body.rows.length > 200) body.deleteRow(-1);
  $('log-empty').hidden = body.rows.length > 0;
}

function addTraceLines(lines) {
  const trace = $('trace');
  const kept = (trace.textContent + lines.map((line) => line + '\n').join('')).split('\n');
  trace.textContent = kept.slice(Math.max(0, kept.length - 201)).join('\n');
  trace.scrollTop = trace.scrollHeight;
}

function onMessage(event) {
  if (event.data instanceof ArrayBuffer) {
    if (!paused) chart.frame(event.data);
    return;
  }
  const message = JSON.parse(event.data);
  switch (message.type) {
    case 'hello': onHello(message); break;
    case 'state': onState(message); break;
    case 'log': addLogEntries(message.entries); break;
    case 'trace': addTraceLines(message.lines); break;
    case 'error': showError(message.message); break;
  }
}

function connect() {
  socket = new WebSocket(`ws://${location.host}/ws?token=${encodeURIComponent(token)}`);
  socket.binaryType = 'arraybuffer';
  socket.onopen = () => {
    connections++;
    $('connection').textContent = 'connected';
    $('connection').classList.remove('off');
  };
  socket.onmessage = onMessage;
  socket.onclose = () => {
    $('connection').textContent = 'disconnected';
    $('connection').classList.add('off');
    setTimeout(connect, 1000);
  };
}

// ---- what a person does ----------------------------------------------------------

function number(input) {
  const value = Number(input.value);
  if (input.value.trim() === '' || !Number.isInteger(value)) throw new Error(`"${input.value}" is not a whole number`);
  return value;
}

function act(handler) {
  return (event) => {
    try { handler(event); } catch (error) { showError(error.message); }
  };
}

function buildLines() {
  for (let n = 0; n < LINES; n++) {
    $('di-lamps').append(element('span', { title: `input ${n}` }, [element('i', { className: 'lamp', id: 'di-' + n }), String(n)]));
    const box = element('input', { type: 'checkbox', id: 'do-' + n, title: `output ${n}` });
    box.addEventListener('change', act(() => {
      const word = state ? state.digitalOutputs : 0;
      send({ type: 'set-do', word: box.checked ? word | (1 << n) : word & ~(1 << n) });
    }));
    $('do-switches').append(element('label', {}, [box, String(n)]));
  }
}

function buildDaRows() {
  const body = $('da-table').tBodies[0];
  for (let c = 0; c < 8; c++) {
    const value = element('input', { type: 'number', min: 0, max: 4095, value: 0, id: 'da-value-' + c });
    const setup = element('input', { type: 'number', min: 0, max: 7, value: 0, id: 'da-setup-' + c });
    const write = element('button', { type: 'button', text: 'Write', id: 'da-write-' + c });
    write.addEventListener('click', act(() => send({ type: 'write-da', channel: c, value: number(value), setup: number(setup) })));
    body.append(element('tr', {}, [
      element('td', { text: String(c) }), element('td', {}, [value]), element('td', {}, [setup]),
      element('td', {}, [write]), element('td', { id: 'da-written-' + c }), element('td', { id: 'da-reported-' + c }),
    ]));
  }
}

function wireControls() {
  $('error').addEventListener('click', () => { $('error').hidden = true; });
  $('list-cards').addEventListener('click', () => send({ type: 'list-cards' }));
  $('card-select').addEventListener('change', act((event) => {
    if (event.target.value !== '') send({ type: 'select-card', card: Number(event.target.value) });
  }));
  $('apply-rate').addEventListener('click', act(() => {
    send({ type: 'set-record', record: { FirstChannel: number($('first-channel')), LastChannel: number($('last-channel')) } });
    send({ type: 'set-rate', rate: number($('rate')), unit: $('rate-unit').value });
  }));
  $('rate-unit').addEventListener('change', () => { if (state) { $('rate').blur(); onState(state); } });
  $('start').addEventListener('click', () => send({ type: 'start' }));
  $('stop').addEventListener('click', () => send({ type: 'stop' }));
  $('view').addEventListener('change', () => send({ type: 'set-view', seconds: Number($('view').value) }));
  $('pause').addEventListener('click', () => {
    paused = !paused;
    $('pause').setAttribute('aria-pressed', String(paused));
    $('pause').textContent = paused ? 'Resume view' : 'Pause view';
    chart.dirty = true;
  });
  $('trigger').addEventListener('input', () => { $('trigger-value').textContent = $('trigger').value; });
  $('trigger').addEventListener('change', act(() => send({ type: 'set-trigger', level: number($('trigger')) })));
  $('apply-fields').addEventListener('click', act(() => {
    const record = {};
    for (const field of fields) record[field.name] = number($('field-' + field.name));
    send({ type: 'set-record', record });
  }));
  for (const action of ['load', 'save', 'reset']) {
    $('settings-' + action).addEventListener('click', () => send({ type: 'settings', action }));
  }
  $('record-start').addEventListener('click', act(() => {
    const message = { type: 'record', file: $('record-file').value.trim() };
    const seconds = $('record-seconds').value.trim();
    if (seconds !== '') message.seconds = Number(seconds);
    send(message);
  }));
  $('record-stop').addEventListener('click', () => send({ type: 'stop-recording' }));
  $('do-hex').addEventListener('change', act(() => {
    const text = $('do-hex').value.trim();
    const word = /^(0x)?[0-9a-f]{1,4}$/i.test(text) ? parseInt(text.replace(/^0x/i, ''), 16) : NaN;
    if (Number.isNaN(word)) throw new Error(`"${text}" is not a 16-bit hexadecimal word such as 0x00ff`);
    send({ type: 'set-do', word });
  }));
}

buildLines();
buildDaRows();
wireControls();
connect();
