// kinetra dashboard: the page. Plain JavaScript, no build step; plots with dygraphs.
'use strict';

const WINDOW_SECONDS = 20;        // what a live plot shows
const REDRAW_MS = 100;            // plots redraw at most this often
const MAX_POINTS = 200 * 30;      // kept per node: 30 s at the highest rate
const MAX_LATENCIES = 100000;     // batch latencies kept for a benchmark
const SETPOINTS = [
  { action: 'position', unit: 'turns' },
  { action: 'velocity', unit: 'turns/s' },
  { action: 'torque', unit: 'Nm' },
];
const MOVING = new Set(['active', 'position', 'velocity', 'torque']);
const DEFAULT_VISIBLE = new Set(['position', 'set_point', 'velocity', 'roll', 'pitch', 'yaw', 'angle']);
const CONFIG_UNITS = {
  brake_resistance_value: 'Ohm', current_controller_bandwidth: 'rad/s', gear_ratio: ':1',
  motor_calib_current: 'A', motor_calib_voltage: 'V', motor_current_limit: 'A', motor_kv_rating: 'rpm/V',
  motor_phase_inductance: 'H', motor_phase_resistance: 'Ohm', motor_temperature_lower_limit: 'degC',
  motor_temperature_upper_limit: 'degC', motor_thermistor_r_ref: 'Ohm', overvoltage_level: 'V',
  undervoltage_level: 'V', regen_current_trip_level: 'A', position_gain: '(turns/s)/turn',
  vel_gain: 'Nm/(turns/s)', vel_integrator_gain: 'Nm/turn', can_baud_rate: 'selector',
};

const token = new URLSearchParams(location.search).get('token');
const withToken = (path) => token ? path + (path.includes('?') ? '&' : '?') + 'token=' + encodeURIComponent(token) : path;

// What tests and the benchmark read: the latest values, samples received and lost.
const state = {
  nodes: new Map(),      // node id -> view
  latest: {},            // node id -> {channel: value}
  received: 0, lost: 0, armed: false, recording: false, bus: '?', lastFlash: null, latencies: [],
};
window.kinetraDashboard = state;

let socket = null;
let nextId = 1;
const pending = new Map();  // request id -> callback

function $(selector, root = document) { return root.querySelector(selector); }

function say(text, error = false) {
  const box = $('#message');
  box.textContent = text;
  box.className = error ? 'error' : '';
}

function send(message, callback) {
  if (!socket || socket.readyState !== WebSocket.OPEN) { say('not connected', true); return; }
  message.id = nextId++;
  if (callback) pending.set(message.id, callback);
  socket.send(JSON.stringify(message));
}

function replyHandler(what) {
  return (reply) => { if (reply.ok) say(what + ': done'); else say(what + ': ' + reply.error, true); };
}

// Controls that move a motor ask once after the page is opened.
function whenArmed(action) {
  if (state.armed) { action(); return; }
  const modal = $('#confirm');
  modal.hidden = false;
  $('#confirm-yes').onclick = () => {
    modal.hidden = true;
    send({ type: 'arm' }, (reply) => {
      if (!reply.ok) { say(reply.error, true); return; }
      state.armed = true;
      action();
    });
  };
  $('#confirm-no').onclick = () => { modal.hidden = true; say('nothing sent'); };
}

function motor(node, action, value) {
  const message = { type: 'motor', node, action };
  if (value !== undefined) message.value = value;
  const go = () => send(message, replyHandler('node ' + node + ' ' + action));
  if (MOVING.has(action)) whenArmed(go); else go();
}

function stopAll() {
  send({ type: 'stop_all' }, (reply) => {
    if (reply.ok) say('emergency stop: ' + reply.stopped + ' stopped');
    else say('emergency stop: ' + JSON.stringify(reply.error), true);
  });
}

function makeNode(info) {
  const section = $('#node-template').content.firstElementChild.cloneNode(true);
  section.id = 'node-' + info.node;
  section.dataset.node = info.node;
  const view = { info, section, rows: [], graph: null, paused: false, dirty: false, lastSeq: null };
  const motorClass = info.class === 'driver' || info.class === 'actuator';
  if (motorClass) {
    const controls = $('.controls', section);
    controls.hidden = false;
    controls.querySelectorAll('button[data-action]').forEach((button) => {
      button.onclick = () => motor(info.node, button.dataset.action);
    });
    const setpoints = $('.setpoints', controls);
    for (const { action, unit } of SETPOINTS) {
      const limit = info.limits[action];
      const label = document.createElement('label');
      label.innerHTML = `${action} <input class="${action}-value" type="number" step="any" value="0"> ${unit}` +
        ` <button class="${action}-send">Send</button> limit &plusmn;<input class="${action}-limit" type="number"` +
        ` min="0" step="any" value="${limit}">`;
      setpoints.appendChild(label);
      $(`.${action}-send`, label).onclick = () => {
        const value = Number($(`.${action}-value`, label).value);
        const max = Number($(`.${action}-limit`, label).value);
        if (!Number.isFinite(value)) { say(action + ': not a number', true); return; }
        if (Math.abs(value) > max) { say(`${action} ${value} is beyond the limit of ${max} ${unit}`, true); return; }
        motor(info.node, action, value);
      };
      $(`.${action}-limit`, label).onchange = (event) => {
        const value = Number(event.target.value);
        if (Number.isFinite(value) && value >= 0) {
          send({ type: 'limit', node: info.node, action, limit: value }, replyHandler(action + ' limit'));
        }
      };
    }
  }
  if (info.class === 'driver') setUpConfig(view);
  if (info.class === 'driver') setUpFlash(view);
  if (info.class === 'encoder') setUpCalibration(view);
  // The plot: every channel of the class, a choice of which to show.
  const labels = ['t'].concat(info.channels.map((c) => c.name));
  const visibility = info.channels.map((c) => DEFAULT_VISIBLE.has(c.name));
  const channelBox = $('.channels', section);
  info.channels.forEach((channel, index) => {
    const label = document.createElement('label');
    label.innerHTML = `<input type="checkbox" ${visibility[index] ? 'checked' : ''}> ${channel.name} (${channel.unit})`;
    label.firstChild.onchange = (event) => { if (view.graph) view.graph.setVisibility(index, event.target.checked); };
    channelBox.appendChild(label);
  });
  $('.pause', section).onclick = (event) => {
    view.paused = !view.paused;
    event.target.textContent = view.paused ? 'Resume' : 'Pause';
  };
  view.labels = labels;
  view.visibility = visibility;
  return view;
}

function showIdentity(view) {
  const info = view.info;
  $('.title', view.section).textContent = `node ${info.node} ${info.class}`;
  $('.identity', view.section).textContent =
    `type ${info.type}, hardware ${info.hardware || '?'}, firmware ${info.firmware || '?'}, commit ${info.commit || '?'}`;
}

function setNodes(list) {
  const seen = new Set();
  for (const info of list) {
    seen.add(info.node);
    let view = state.nodes.get(info.node);
    if (!view || view.info.class !== info.class) {
      if (view) view.section.remove();
      view = makeNode(info);
      state.nodes.set(info.node, view);
      insertInOrder(view);
    }
    view.info = info;
    view.section.classList.remove('gone');
    showIdentity(view);
  }
  for (const [node, view] of state.nodes) {
    if (!seen.has(node)) {
      view.section.classList.add('gone');
      $('.status', view.section).textContent = 'not on the bus';
    }
  }
  $('#no-nodes').hidden = state.nodes.size > 0;
}

function insertInOrder(view) {
  const main = $('#nodes');
  const after = [...main.querySelectorAll('section.node')].find((s) => Number(s.dataset.node) > view.info.node);
  main.insertBefore(view.section, after || null);
}

function setStatus(status) {
  for (const entry of status.nodes || []) {
    const view = state.nodes.get(entry.node);
    if (!view) continue;
    const box = $('.status', view.section);
    box.textContent = entry.answered
      ? `state ${entry.state}, error ${entry.error_text}, fault ${entry.fault_text}`
      : 'no reply';
    box.classList.toggle('fault', entry.error !== 0 || entry.fault !== 0);
    box.dataset.state = entry.state_code;
    state.latest[entry.node] = Object.assign(state.latest[entry.node] || {}, { state: entry.state_code });
  }
  if (status.recording !== undefined) setRecording(status.recording);
}

function setRecording(on) {
  state.recording = on;
  $('#record').textContent = on ? 'Stop recording' : 'Start recording';
}

function telemetry(rows) {
  for (const row of rows) {
    const [seq, t, node] = row;
    const view = state.nodes.get(node);
    if (!view) continue;
    // Every round carries every node: a gap in a node's numbers is a lost sample.
    if (view.lastSeq !== null && seq > view.lastSeq + 1) state.lost += seq - view.lastSeq - 1;
    view.lastSeq = seq;
    state.received += 1;
    const values = row.slice(3);
    const latest = state.latest[node] || (state.latest[node] = {});
    view.info.channels.forEach((channel, index) => { latest[channel.name] = values[index]; });
    latest.seq = seq;
    latest.t = t;
    view.rows.push([t].concat(values));
    if (view.rows.length > MAX_POINTS) view.rows.splice(0, view.rows.length - MAX_POINTS);
    view.dirty = true;
  }
  $('#stats').textContent = `samples ${state.received}, lost ${state.lost}`;
}

function redraw() {
  for (const view of state.nodes.values()) {
    if (!view.dirty || view.paused || view.rows.length === 0) continue;
    view.dirty = false;
    const last = view.rows[view.rows.length - 1][0];
    if (!view.graph) {
      view.graph = new Dygraph($('.plot', view.section), view.rows, {
        labels: view.labels, visibility: view.visibility, xlabel: 's', legend: 'always',
        labelsSeparateLines: false, connectSeparatedPoints: false, animatedZooms: false,
        dateWindow: [last - WINDOW_SECONDS, last],
        // A zoom by the user holds until a double-click returns to the live window.
        zoomCallback: () => { view.zoomedByUser = true; },
      });
      $('.plot', view.section).addEventListener('dblclick', () => { view.zoomedByUser = false; view.dirty = true; });
    } else if (!view.zoomedByUser) {
      view.graph.updateOptions({ file: view.rows, dateWindow: [last - WINDOW_SECONDS, last] });
    } else {
      view.graph.updateOptions({ file: view.rows });
    }
  }
}
setInterval(redraw, REDRAW_MS);

// ---- configuration
function setUpConfig(view) {
  const box = $('.config', view.section);
  const node = view.info.node;
  box.hidden = false;
  $('.config-export', box).href = withToken('api/config?node=' + node);
  $('.config-read', box).onclick = () => readConfig(view);
  $('.config-save', box).onclick = () => whenArmed(() => send({ type: 'config_save', node }, replyHandler('save')));
  $('.config-import', box).onchange = (event) => {
    const file = event.target.files[0];
    if (!file) return;
    const save = $('.config-import-save', box).checked ? '&save=1' : '';
    whenArmed(() => upload('api/config?node=' + node + save, file, 'import').then(() => readConfig(view)));
  };
  $('.config-diff', box).onchange = async (event) => {
    const file = event.target.files[0];
    if (!file) return;
    try {
      view.diff = flatten(JSON.parse(await file.text()));
      showConfig(view);
    } catch (error) { say('diff: ' + error.message, true); }
  };
}

function flatten(document) {
  const members = {};
  for (const group of Object.values(document)) {
    if (group && typeof group === 'object') Object.assign(members, group);
  }
  return members;
}

function readConfig(view) {
  send({ type: 'config_read', node: view.info.node }, (reply) => {
    if (!reply.ok) { say('configuration: ' + reply.error, true); return; }
    view.config = flatten(reply.document);
    showConfig(view);
    say('configuration of node ' + view.info.node + ' read');
  });
}

function showConfig(view) {
  const body = $('.config-table tbody', view.section);
  body.textContent = '';
  const config = view.config || {};
  for (const [name, value] of Object.entries(config).sort()) {
    const row = document.createElement('tr');
    row.dataset.member = name;
    const editable = typeof value === 'number' || typeof value === 'boolean';
    const other = view.diff ? view.diff[name] : undefined;
    if (view.diff && JSON.stringify(other) !== JSON.stringify(value)) row.classList.add('differs');
    row.innerHTML = `<td>${name}</td><td></td><td>${other === undefined ? '' : JSON.stringify(other)}</td><td></td>`;
    const cell = row.children[1];
    if (editable) {
      const input = document.createElement('input');
      input.value = typeof value === 'boolean' ? (value ? 1 : 0) : value;
      input.className = 'config-value';
      cell.appendChild(input);
      cell.append(' ' + (CONFIG_UNITS[name] || ''));
      const write = document.createElement('button');
      write.textContent = 'Write';
      write.className = 'config-write';
      write.onclick = () => {
        const number = Number(input.value);
        if (!Number.isFinite(number)) { say(name + ': not a number', true); return; }
        whenArmed(() => send({ type: 'config_write', node: view.info.node, member: name, value: number }, (reply) => {
          if (!reply.ok) { say(name + ': ' + reply.error, true); return; }
          readConfig(view);
        }));
      };
      row.children[3].appendChild(write);
    } else {
      cell.textContent = JSON.stringify(value);
    }
    body.appendChild(row);
  }
}

async function upload(path, file, what) {
  say(what + ': sending ' + file.name);
  const response = await fetch(withToken(path), { method: 'POST', body: file });
  const text = await response.text();
  let result = {};
  try { result = JSON.parse(text); } catch (error) { result = { error: text.trim() }; }
  if (!response.ok) { say(what + ': ' + (result.error || response.status), true); throw new Error(result.error); }
  say(what + ': done');
  return result;
}

// ---- firmware update
function setUpFlash(view) {
  const box = $('.flash', view.section);
  box.hidden = false;
  $('.flash-start', box).onclick = () => {
    const file = $('.flash-file', box).files[0];
    if (!file) { say('choose a HEX file first', true); return; }
    const verify = $('.flash-verify', box).checked ? '&verify=1' : '';
    const backup = $('.flash-backup', box).checked ? '&backup=1' : '';
    whenArmed(async () => {
      $('.flash-result', box).textContent = 'flashing ' + file.name + ' ...';
      try {
        const result = await upload('api/flash?node=' + view.info.node + verify + backup, file, 'flash');
        $('.flash-result', box).textContent = `flashed in ${result.seconds.toFixed(1)} s`;
        if (result.backup) offerDownload(result.backup, `node${view.info.node}-backup.json`, box);
        state.lastFlash = { node: view.info.node, ok: true };
      } catch (error) {
        $('.flash-result', box).textContent = 'failed: ' + error.message;
        state.lastFlash = { node: view.info.node, ok: false };
      }
    });
  };
}

function offerDownload(document, name, box) {
  const a = window.document.createElement('a');
  a.href = URL.createObjectURL(new Blob([JSON.stringify(document, null, 4)], { type: 'application/json' }));
  a.download = name;
  a.textContent = ' backup: ' + name;
  $('.flash-result', box).appendChild(a);
}

function flashProgress(message) {
  const view = state.nodes.get(message.node);
  if (!view) return;
  const box = $('.flash', view.section);
  const bar = $('.flash-progress', box);
  bar.max = message.total || 1;
  bar.value = message.done;
  // The rate within the stage: the time and count since the stage began.
  if (!view.flashStage || view.flashStage.name !== message.stage) {
    view.flashStage = { name: message.stage, seconds: message.seconds, done: message.done };
  }
  const spent = message.seconds - view.flashStage.seconds;
  const rate = spent > 0 ? ` ${((message.done - view.flashStage.done) / spent).toFixed(1)}/s` : '';
  $('.flash-stage', box).textContent = `${message.stage} ${message.done}/${message.total}${rate}`;
  state.lastFlash = { node: message.node, stage: message.stage, done: message.done, total: message.total };
}

// ---- sensor calibration
function setUpCalibration(view) {
  const box = $('.calibration', view.section);
  box.hidden = false;
  $('.calibration-start', box).onclick = () => {
    const speed = Number($('.calibration-speed', box).value);
    if (!Number.isFinite(speed) || speed === 0) { say('calibration: the speed must be a nonzero number', true); return; }
    view.measurements = {};
    whenArmed(() => {
      $('.calibration-result', box).textContent = 'calibrating; the shaft must turn at ' + speed + ' deg/s';
      send({ type: 'calibrate', node: view.info.node, speed }, (reply) => {
        const errors = (reply.measurements || []).map((m) => m.error.toFixed(3));
        const text = errors.length ? `error before ${errors[0]} deg, after ${errors[errors.length - 1]} deg ` +
          '(half peak to peak)' : '';
        $('.calibration-result', box).textContent = reply.ok ? text : `not calibrated: ${reply.error}. ${text}`;
        state.lastCalibration = { node: view.info.node, ok: reply.ok, measurements: reply.measurements || [] };
      });
    });
  };
}

function calibrationProgress(message) {
  const view = state.nodes.get(message.node);
  if (!view) return;
  const box = $('.calibration', view.section);
  if (message.stage !== undefined) {
    $('.calibration-stage', box).textContent = message.sample ? `${message.stage}: sample ${message.sample}/500`
      : message.stage;
    return;
  }
  // A measurement: its error against the shaft angle; the first and the last are plotted.
  view.measurements = view.measurements || {};
  view.measurements[message.measurement] = message;
  const keys = Object.keys(view.measurements).map(Number).sort();
  const first = view.measurements[keys[0]];
  const last = view.measurements[keys[keys.length - 1]];
  const rows = first.angle.map((x, i) => [x, first.deviation[i], null]);
  if (last !== first) last.angle.forEach((x, i) => rows.push([x, null, last.deviation[i]]));
  rows.sort((a, b) => a[0] - b[0]);
  const labels = ['shaft angle (deg)', `before (${first.error.toFixed(2)} deg)`,
    last !== first ? `after (${last.error.toFixed(2)} deg)` : 'after'];
  const plot = $('.calibration-plot', box);
  plot.textContent = '';
  new Dygraph(plot, rows, { labels, connectSeparatedPoints: true, xlabel: 'shaft angle (deg)', ylabel: 'error (deg)',
    legend: 'always' });
}

// ---- connection
function connect() {
  const scheme = location.protocol === 'https:' ? 'wss://' : 'ws://';
  socket = new WebSocket(withToken(scheme + location.host + '/ws'));
  socket.onopen = () => { $('#connection').textContent = 'connected'; $('#connection').className = 'badge ok'; };
  socket.onclose = () => {
    $('#connection').textContent = 'disconnected';
    $('#connection').className = 'badge lost';
    state.armed = false;
    setTimeout(connect, 1000);
  };
  socket.onmessage = (event) => {
    let message;
    try { message = JSON.parse(event.data); } catch (error) { return; }
    switch (message.type) {
      case 'welcome':
        setNodes(message.nodes);
        if (message.status && message.status.nodes) setStatus(message.status);
        $('#rate').value = message.rate;
        setBus(message.bus);
        setRecording(message.recording);
        break;
      case 'nodes': setNodes(message.nodes); break;
      case 'telemetry':
        telemetry(message.rows);
        // From the read of the batch's oldest round to its arrival here (same machine, same clock).
        if (state.latencies.length < MAX_LATENCIES) state.latencies.push(Date.now() - message.wall);
        break;
      case 'status': setStatus(message); break;
      case 'bus': setBus(message.state); break;
      case 'rate': $('#rate').value = message.hz; break;
      case 'recording': setRecording(message.on); break;
      case 'flash': flashProgress(message); break;
      case 'calibration': calibrationProgress(message); break;
      case 'reply': {
        const callback = pending.get(message.id);
        pending.delete(message.id);
        if (callback) callback(message); else if (!message.ok) say(message.error, true);
        break;
      }
      default: break;
    }
  };
}

function setBus(value) {
  state.bus = value;
  $('#bus').textContent = 'bus ' + value;
  $('#bus').className = 'badge ' + (value === 'ok' ? 'ok' : 'lost');
}

$('#estop-all').onclick = stopAll;
document.addEventListener('keydown', (event) => {
  if (event.key === 'Escape') { event.preventDefault(); stopAll(); }
});
$('#record').onclick = () => send({ type: 'record', on: !state.recording }, replyHandler('recording'));
$('#rate').onchange = (event) => send({ type: 'rate', hz: Number(event.target.value) }, replyHandler('rate'));
for (const id of ['download-csv', 'download-jsonl', 'download-candump']) {
  const link = $('#' + id);
  link.href = withToken(link.getAttribute('href'));
}
connect();
