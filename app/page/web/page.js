// The bench's page: one tile per port, the totals and the last results,
// redrawn from each state the station pushes. Texts from devices and files
// are set as text, never as markup.
'use strict';

// Each state's word and symbol: told apart without its colour.
const LOOKS = {
  'empty': ['EMPTY', '\u25CB'],
  'probing': ['PROBING', '?'],
  'not-ours': ['NOT OURS', '\u2013'],
  'waiting': ['WAITING', '\u22EF'],
  'checking': ['CHECKING', '?'],
  'writing': ['WRITING', '\u21E9'],
  'success': ['SUCCESS', '\u2713'],
  'failed': ['FAILED', '\u2717'],
  'refused': ['REFUSED', '\u2298'],
  'skipped': ['SKIPPED', '='],
  'not-written': ['NOT WRITTEN', '\u2205'],
};
// After a lost connection, a new one is tried this often.
const RECONNECT_MS = 3000;

let last = null;

function el(tag, className, text) {
  const node = document.createElement(tag);
  if (className) node.className = className;
  if (text !== undefined) node.textContent = text;
  return node;
}

function seconds(value) {
  return value === null || value === undefined ? '' : value.toFixed(1) + ' s';
}

function tile(port) {
  const look = LOOKS[port.state] || [port.state.toUpperCase(), '?'];
  const node = el('div', 'tile s-' + port.state);
  node.dataset.port = port.label;
  node.dataset.state = port.state;
  node.appendChild(el('div', 'port', port.label));
  const state = el('div', 'state');
  state.appendChild(el('span', 'symbol', look[1]));
  const word = port.state === 'writing' && port.percent !== null ? look[0] + ' ' + port.percent + ' %' : look[0];
  state.appendChild(el('span', 'word', word));
  node.appendChild(state);
  if (port.state === 'writing') {
    const bar = el('div', 'bar');
    const fill = el('div');
    fill.style.width = (port.percent || 0) + '%';
    bar.appendChild(fill);
    node.appendChild(bar);
  }
  const facts = [port.serial ? 'SN ' + port.serial : '', port.model, seconds(port.seconds)].filter(Boolean);
  if (facts.length) node.appendChild(el('div', 'detail facts', facts.join('  \u00B7  ')));
  if (port.where) node.appendChild(el('div', 'detail where', 'at ' + port.where));
  if (port.why) node.appendChild(el('div', 'why', port.why));
  if (port.state === 'empty' && port.last) {
    const was = LOOKS[port.last] || [port.last, ''];
    const text = 'last: ' + was[1] + ' ' + was[0].toLowerCase() + (port.last_serial ? ', SN ' + port.last_serial : '');
    node.appendChild(el('div', 'detail last', text));
    if (port.last_why) node.appendChild(el('div', 'why', port.last_why));
  }
  return node;
}

function percent(value) {
  return value === null ? '\u2013' : (value * 100).toFixed(1) + ' %';
}

function header(s) {
  const state = document.getElementById('station-state');
  state.textContent = s.station.state;
  state.className = s.station.state === 'ended' ? 'ended' : '';
  document.getElementById('station-id').textContent = s.station.id ? 'run ' + s.station.id : '';
  document.getElementById('log-banner').hidden = !s.station.log_failed;
  const firmware = document.getElementById('firmware');
  firmware.replaceChildren(...s.firmware.map((f) => el('li', '',
    'Firmware ' + f.model + ' \u00B7 ' + f.sensor + ' \u00B7 version ' + f.version +
    ' \u00B7 checksum ' + f.checksum + ' \u00B7 ' + f.file)));
  const t = s.totals;
  document.getElementById('total-written').textContent = t.written;
  document.getElementById('total-failed').textContent = t.failed;
  document.getElementById('total-refused').textContent = t.refused;
  document.getElementById('total-skipped').textContent = t.skipped;
  document.getElementById('total-rate').textContent = t.units_per_hour === null ? '\u2013' : Math.round(t.units_per_hour);
  document.getElementById('total-yield').textContent = percent(t.first_pass_yield);
  // --publish only: whether the line's broker has every record.
  const record = document.getElementById('record-link');
  const line = s.station.link;
  record.hidden = !line;
  if (line) {
    record.textContent = 'MQTT: ' + line.text;
    record.className = 'record-link ' + (line.sent ? 'sent' : 'behind');
  }
  document.getElementById('notices').replaceChildren(...s.station.notices.map((text) => el('li', '', text)));
}

function results(list) {
  document.getElementById('results').replaceChildren(...list.map((r) => {
    const row = el('tr');
    const look = LOOKS[r.result === 'no-answer' ? 'failed' : r.result] || [r.result, ''];
    const cells = [new Date(r.at).toLocaleTimeString(), r.port, look[1] + ' ' + r.result, r.serial, r.model,
                   r.seconds.toFixed(1), [r.where, r.why].filter(Boolean).join(': ')];
    cells.forEach((text, i) => row.appendChild(el('td', i === 2 ? 'r-' + r.result : '', text)));
    return row;
  }));
}

function render(s) {
  if (last && s.version < last.version) return;  // the status came after a newer event
  last = s;
  header(s);
  document.getElementById('tiles').replaceChildren(...s.ports.map(tile));
  results(s.results);
  document.body.dataset.version = s.version;
}

function link(text) {
  const banner = document.getElementById('link-banner');
  banner.textContent = text;
  banner.hidden = !text;
}

function follow() {
  const events = new EventSource('events');
  events.onmessage = (event) => {
    link('');
    render(JSON.parse(event.data));
  };
  events.onerror = () => {
    if (last && last.station.state === 'ended') {
      link('The station has ended: this is how it left the bench.');
      events.close();
      return;
    }
    link('No connection to the station: trying again.');
    if (events.readyState === EventSource.CLOSED) setTimeout(follow, RECONNECT_MS);
  };
}

// The status at once, then each change as it comes.
fetch('status.json').then((reply) => reply.ok ? reply.json() : null).then((s) => s && render(s)).catch(() => {});
follow();
