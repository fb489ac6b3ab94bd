// The owner's page: reads the player through the tool's routes
// (docs/web-api.md), shows it in plain words, and runs the actions with
// their progress, their question and their outcome.
'use strict';

const token = new URLSearchParams(location.search).get('token') || '';
const $ = (id) => document.getElementById(id);

// ---- talking to the tool --------------------------------------------------

async function api(path, options = {}) {
  const init = { method: options.method || 'GET', headers: { 'X-Orvik-Token': token } };
  if (options.body !== undefined) {
    init.headers['Content-Type'] = 'application/json';
    init.body = JSON.stringify(options.body);
  }
  const response = await fetch(path, init);
  let body = null;
  try { body = await response.json(); } catch (e) { body = null; }
  return { status: response.status, body };
}

function query(path, params) {
  const search = new URLSearchParams();
  for (const [name, value] of Object.entries(params)) if (value) search.set(name, value);
  const text = search.toString();
  return text ? `${path}?${text}` : path;
}

// ---- small helpers for the page -------------------------------------------

function setFacts(list, facts) {
  list.replaceChildren();
  for (const [label, value] of facts) {
    if (value === undefined || value === null || value === '') continue;
    const term = document.createElement('dt');
    term.textContent = label;
    const text = document.createElement('dd');
    text.textContent = value;
    list.append(term, text);
  }
}

function hex(value, digits) {
  return '0x' + Number(value).toString(16).toUpperCase().padStart(digits, '0');
}

function megaBytes(bytes) {
  const mib = bytes / (1024 * 1024);
  return mib >= 1024 ? `${(mib / 1024).toFixed(1)} GiB` : `${Math.round(mib)} MiB`;
}

function showNotice(text) {
  const notice = $('notice');
  notice.textContent = text || '';
  notice.hidden = !text;
}

function manifestPath() {
  return $('manifest').value.trim();
}

// The library's words for a failure, for the detail line.
function problemDetail(error) {
  if (!error) return '';
  const parts = [`code ${error.code}`];
  if (error.operation) parts.push(`operation ${error.operation}`);
  if (error.statusName) parts.push(`status ${error.statusName} (${error.status})`);
  return parts.join(' · ');
}

// ---- the state: target, device, health -------------------------------------

const state = { busy: false, fixNeedsSet: false };

function showTarget(answer) {
  const target = $('target');
  target.dataset.kind = answer.simulated ? 'simulator' : 'device';
  target.textContent = answer.simulated
    ? `A simulated player, kept in ${answer.targetText.replace(/^simulated player in /, '')}`
    : `The player attached to this computer (${answer.targetText})`;
}

function deviceFacts(info) {
  const device = info.device || {}, flash = info.flash || {}, card = info.card || {};
  const facts = [];
  if (device.status) facts.push(['Status', device.status.text]);
  if (device.chip) facts.push(['Chip', `model ${device.chip.model} (${hex(device.chip.identifier, 8)})`]);
  if (device.deviceVersion !== undefined) facts.push(['Version', hex(device.deviceVersion, 4)]);
  if (flash.known) {
    facts.push(['Flash', `type ${flash.type}, ${megaBytes(flash.dataBytes || 0)}`]);
    facts.push(['Blocks', `${flash.blockCount} of ${(flash.blockBytes || 0) / 1024} KB`]);
  } else {
    facts.push(['Flash', flash.answered ? 'not recognised' : 'no answer']);
  }
  if (card.present) {
    const product = card.cid ? ` (${card.cid.product})` : '';
    facts.push(['Card', `${megaBytes((card.capacityBlocks || 0) * 512)}${product}`]);
  } else {
    facts.push(['Card', 'none in the slot']);
  }
  return facts;
}

function showDevice(answer) {
  if (!answer.ok) {
    setFacts($('device-facts'), [['Player', answer.error.message]]);
    $('device-detail').textContent = problemDetail(answer.error);
    return;
  }
  setFacts($('device-facts'), deviceFacts(answer.result));
  const status = answer.result.device && answer.result.device.status;
  $('device-detail').textContent = status ? `device status ${status.code} · ${answer.target.deviceObjectOpened || ''}` : '';
}

function volumeWords(volume) {
  if (!volume) return 'unknown';
  if (volume.state === 'consistent') return `sound, ${volume.files} file${volume.files === 1 ? '' : 's'}`;
  if (volume.state === 'absent') return 'no file system yet';
  return volume.why ? `${volume.state}: ${volume.why}` : volume.state;
}

function healthFacts(check) {
  const starts = check.starts === 'normally' ? 'normally' : 'only in recovery mode (its firmware does not start)';
  const facts = [['Starts', starts], ['Firmware', check.firmware]];
  if (check.cutOperation) facts.push(['Cut off', `an ${check.cutOperation}`]);
  facts.push(['Files', volumeWords(check.fileSystem)]);
  facts.push(['Card', check.card ? volumeWords(check.card) : 'none in the slot']);
  return facts;
}

function showProblems(problems) {
  const list = $('problems');
  list.replaceChildren();
  for (const problem of problems) {
    const item = document.createElement('li');
    item.textContent = problem.text;
    const fix = document.createElement('span');
    fix.className = 'fix';
    fix.textContent = `Fix: ${problem.fix}`;
    item.append(fix);
    list.append(item);
  }
}

function showHealth(answer) {
  const verdict = $('verdict');
  const fixButton = $('fix-button');
  fixButton.hidden = true;
  if (!answer.result || answer.result.healthy === undefined) {
    verdict.dataset.state = 'unreachable';
    verdict.textContent = answer.error ? answer.error.message : 'The player could not be checked.';
    setFacts($('health-facts'), [['What to do', answer.error && answer.error.action]]);
    showProblems([]);
    $('health-detail').textContent = problemDetail(answer.error);
    return;
  }
  const check = answer.result;
  verdict.dataset.state = check.healthy ? 'healthy' : 'problems';
  verdict.textContent = check.healthy ? 'Healthy: nothing is wrong with the player.'
    : `Problems found (${check.problems.length})`;
  setFacts($('health-facts'), healthFacts(check));
  showProblems(check.problems || []);
  state.fixNeedsSet = !check.healthy && !check.fix;
  fixButton.hidden = check.healthy || (check.steps || []).length === 0;
  fixButton.textContent = state.fixNeedsSet ? 'Repair it (give the firmware set first)' : 'Repair it';
  const verdictWords = check.assessment ? `system area ${check.assessment.verdict}` : '';
  const startup = check.startupCopy ? `startup copy ${check.startupCopy.state}` : '';
  $('health-detail').textContent = [`exit code ${answer.exitCode}`, verdictWords, startup,
    check.fix ? `next: ${check.fix}` : ''].filter(Boolean).join(' · ');
}

async function loadState() {
  $('verdict').dataset.state = 'unknown';
  $('verdict').textContent = 'Checking the player…';
  const { status, body } = await api(query('/api/state', { manifest: manifestPath() }));
  if (status === 409) return showNotice(`${body.error.message}`);
  if (status !== 200) return showNotice(body && body.error ? body.error.message : `The tool answered ${status}.`);
  showNotice('');
  if (body.presetManifest && !$('manifest').value) $('manifest').value = body.presetManifest;
  showTarget(body);
  showDevice(body.info);
  showHealth(body.check);
}

// ---- versions --------------------------------------------------------------

// The tool's words for a file's state, and how the page marks them.
const versionMarks = {
  'up to date': 'current', 'update available': 'older', 'not on the player': 'missing',
  incomplete: 'missing', "older than the player's": 'newer',
};

function versionRow(file) {
  const row = document.createElement('tr');
  const stored = file.storedVersion ? file.storedVersion.text : '—';
  const inSet = file.fileVersion ? file.fileVersion.text : '—';
  for (const text of [`${file.tag} (${file.path})`, stored, inSet, file.state]) {
    const cell = document.createElement('td');
    cell.textContent = text;
    row.append(cell);
  }
  row.lastChild.className = `state-${versionMarks[file.state] || 'older'}`;
  return row;
}

async function loadVersions() {
  const manifest = manifestPath();
  if (!manifest) return showNotice('Type the path of the firmware set’s manifest.json first.');
  $('versions-summary').textContent = 'Reading the versions…';
  const { status, body } = await api(query('/api/versions', { manifest }));
  if (status !== 200) {
    $('versions-summary').textContent = body && body.error ? body.error.message : `The tool answered ${status}.`;
    return;
  }
  const table = $('versions-table');
  if (!body.ok) {
    table.hidden = true;
    $('versions-summary').textContent = body.error.message;
    $('versions-detail').textContent = problemDetail(body.error);
    return;
  }
  const result = body.result;
  $('versions-summary').textContent = result.upToDate
    ? 'The player’s firmware is up to date with this set.'
    : 'The set has firmware the player does not: update it.';
  table.tBodies[0].replaceChildren(...(result.files || []).map(versionRow));
  table.hidden = false;
  $('versions-detail').textContent = `system area ${result.systemArea} · exit code ${body.exitCode}`;
}

// ---- block map -------------------------------------------------------------

const blockColours = {
  '.': ['#e6e9ee', 'free (good, erased)'], X: ['#c62828', 'bad'], C: ['#6a1b9a', 'CIS block'],
  S: ['#37474f', 'system, no file data'], F: ['#2e7d32', 'files (data area)'],
  '?': ['#ef6c00', 'written, no block address'],
};
const tagColours = ['#1565c0', '#00838f', '#ad1457', '#4e342e', '#283593', '#558b2f'];

function colourOf(symbol, tags) {
  if (blockColours[symbol]) return blockColours[symbol][0];
  const index = tags.indexOf(symbol);
  return tagColours[(index < 0 ? 0 : index) % tagColours.length];
}

function drawBlocks(map, tags) {
  const canvas = $('block-canvas');
  const width = canvas.clientWidth || 640;
  // Wide rows on a wide screen keep the map short; never cells under 4 px.
  const perRow = width >= 128 * 5 ? 128 : 64;
  const cell = Math.max(2, Math.floor(width / perRow));
  const rows = Math.ceil(map.length / perRow);
  const scale = window.devicePixelRatio || 1;
  canvas.width = perRow * cell * scale;
  canvas.height = rows * cell * scale;
  canvas.style.height = `${rows * cell * (canvas.clientWidth / (perRow * cell) || 1)}px`;
  const context = canvas.getContext('2d');
  context.scale(scale, scale);
  for (let block = 0; block < map.length; ++block) {
    context.fillStyle = colourOf(map[block], tags);
    const gap = cell > 4 ? 1 : 0;
    context.fillRect((block % perRow) * cell, Math.floor(block / perRow) * cell, cell - gap, cell - gap);
  }
}

function legendEntries(map, counts) {
  const seen = {};
  for (const symbol of map) seen[symbol] = (seen[symbol] || 0) + 1;
  const files = (counts && counts.files) || {};
  return Object.keys(seen).sort().map((symbol) => {
    const known = blockColours[symbol];
    const meaning = known ? known[1] : `firmware file ${symbol}`;
    return { symbol, meaning, count: files[symbol] !== undefined && !known ? files[symbol] : seen[symbol] };
  });
}

function showLegend(entries, tags) {
  const legend = $('block-legend');
  legend.replaceChildren();
  for (const entry of entries) {
    const item = document.createElement('li');
    const swatch = document.createElement('span');
    swatch.className = 'swatch';
    swatch.style.background = colourOf(entry.symbol, tags);
    const text = document.createElement('span');
    text.textContent = `${entry.meaning}: ${entry.count}`;
    item.append(swatch, text);
    legend.append(item);
  }
}

async function loadBlocks() {
  $('blocks-button').disabled = true;
  $('blocks-detail').textContent = 'Reading the block marks…';
  try {
    const { status, body } = await api(query('/api/blocks', { manifest: manifestPath() }));
    if (status !== 200) return showNotice(body && body.error ? body.error.message : `The tool answered ${status}.`);
    if (!body.ok) {
      $('blocks-detail').textContent = `${body.error.message} (${problemDetail(body.error)})`;
      return;
    }
    const result = body.result;
    const map = result.map || '';
    const tags = Object.keys((result.counts && result.counts.files) || {});
    drawBlocks(map, tags);
    showLegend(legendEntries(map, result.counts), tags);
    $('blocks-detail').textContent = `CIS block ${result.cisBlock} · ${result.systemBlockCount} system blocks · reserved area from block ${result.firstReservedBlock}`;
  } finally {
    $('blocks-button').disabled = state.busy;
  }
}

// ---- operations: progress, question, outcome --------------------------------

const operationTitles = {
  update: 'Updating the firmware', fix: 'Repairing the player', backup: 'Backing up your files',
  restore: 'Restoring your files', reflash: 'Full reflash',
};

function setBusy(busy) {
  state.busy = busy;
  for (const button of document.querySelectorAll('main button')) button.disabled = busy;
}

function resetOperation(name) {
  $('operation-title').textContent = operationTitles[name] || 'Working';
  $('unplug').hidden = false;
  $('phase').textContent = 'Starting…';
  $('percent').textContent = '0%';
  $('time-left').textContent = '';
  $('bar-fill').style.width = '0%';
  $('outcome').hidden = true;
  $('log-lines').replaceChildren();
  $('operation').hidden = false;
}

async function startOperation(name, body) {
  if (state.busy) return;
  resetOperation(name);
  setBusy(true);
  const { status, body: answer } = await api(`/api/operations/${name}`, { method: 'POST', body });
  if (status !== 202) {
    showOutcome({ operation: name, error: answer ? answer.error : { code: String(status), message: `The tool answered ${status}.` } });
  }
}

function logLine(text, kind) {
  const item = document.createElement('li');
  item.textContent = text;
  if (kind) item.className = kind;
  $('log-lines').append(item);
}

function timeLeft(seconds) {
  if (seconds === null || seconds === undefined) return '';
  const minutes = Math.floor(seconds / 60);
  return `about ${minutes}:${String(seconds % 60).padStart(2, '0')} left`;
}

function showProgress(update) {
  $('phase').textContent = update.label;
  const percent = Math.round(update.percent);
  $('bar-fill').style.width = `${update.percent}%`;
  $('percent').textContent = `${percent}%`;
  document.querySelector('.bar').setAttribute('aria-valuenow', String(percent));
  $('time-left').textContent = update.done ? '' : timeLeft(update.secondsLeft);
}

function successWords(end) {
  const result = end.result || {};
  if (end.operation === 'update') {
    if (result.updated === false) return 'Nothing to do: the firmware is already up to date.';
    return 'Done: the firmware is up to date.';
  }
  if (end.operation === 'fix') return end.exitCode === 0 ? 'Fixed: the player is healthy.' : 'Done, but the check still finds problems.';
  if (end.operation === 'backup') return `Done: your files are saved in ${result.file}.`;
  if (end.operation === 'reflash' && result.backupFile) return `Done: reflashed, and your files are back from ${result.backupFile}.`;
  if (end.operation === 'reflash') return 'Done: the player is reflashed with an empty file system.';
  return 'Done.';
}

function showOutcome(end) {
  $('unplug').hidden = true;
  const outcome = $('outcome');
  outcome.hidden = false;
  const next = $('outcome-next');
  next.hidden = true;
  if (!end.error) {
    outcome.dataset.state = 'done';
    $('outcome-message').textContent = successWords(end);
    setFacts($('outcome-facts'), []);
    $('outcome-detail').textContent = `${end.operation} · exit code ${end.exitCode}`;
  } else {
    const error = end.error;
    outcome.dataset.state = 'failed';
    $('outcome-message').textContent = error.message;
    setFacts($('outcome-facts'), [['Why', error.cause], ['The player now', error.playerState], ['What to do', error.action]]);
    $('outcome-detail').textContent = [end.operation, `exit code ${end.exitCode}`, problemDetail(error)].filter(Boolean).join(' · ');
    // After a failure that changed the player, its next step is the repair.
    next.hidden = !(error.playerState && end.operation !== 'fix') && error.code !== 'interrupted';
  }
  setBusy(false);
  $('outcome-close').focus();
}

function askQuestion(question) {
  $('question-target').textContent = question.target;
  $('question-what').textContent = question.what;
  $('question-lost').textContent = question.lost;
  $('question-backup').textContent = question.backupMade
    ? `Your files were saved to ${question.backupMade} first; they are put back afterwards.`
    : question.backup ? `None made. To keep your files, back them up first (${question.backup}).`
      : 'Not needed: nothing of yours is lost.';
  $('question-detail').textContent = question.command;
  const dialog = $('question');
  dialog.dataset.question = String(question.id);
  dialog.returnValue = '';
  if (!dialog.open) dialog.showModal();
  $('question-no').focus();
}

async function answerQuestion(yes) {
  const id = Number($('question').dataset.question);
  await api('/api/answer', { method: 'POST', body: { question: id, yes } });
}

function closeQuestion(id) {
  const dialog = $('question');
  if (dialog.open && dialog.dataset.question === String(id)) dialog.close('answered');
}

function listen() {
  const events = new EventSource(`/api/events?token=${encodeURIComponent(token)}`);
  const on = (type, handle) => events.addEventListener(type, (event) => handle(JSON.parse(event.data)));
  on('start', (data) => { if ($('operation').hidden) { resetOperation(data.operation); setBusy(true); } });
  on('line', (data) => logLine(data.text));
  on('fact', (data) => logLine(`${data.label}: ${data.value}`));
  on('step', (data) => logLine(data.text));
  on('warning', (data) => logLine(`warning: ${data.text}`, 'warning'));
  on('progress', showProgress);
  on('question', askQuestion);
  on('answered', (data) => closeQuestion(data.id));
  on('result', (end) => { showOutcome(end); loadState(); });
  on('failure', (end) => { showOutcome(end); loadState(); });
}

// ---- wiring -----------------------------------------------------------------

function fixBody() {
  return { manifest: manifestPath() };
}

function wire() {
  $('manifest-form').addEventListener('submit', (event) => { event.preventDefault(); loadVersions(); loadState(); });
  $('recheck-button').addEventListener('click', loadState);
  $('blocks-button').addEventListener('click', loadBlocks);
  $('fix-button').addEventListener('click', () => {
    if (state.fixNeedsSet && !manifestPath()) return showNotice('Repairing needs the firmware set: type the path of its manifest.json under Firmware.');
    startOperation('fix', fixBody());
  });
  $('fix-action-button').addEventListener('click', () => startOperation('fix', fixBody()));
  $('outcome-next').addEventListener('click', () => startOperation('fix', fixBody()));
  $('update-button').addEventListener('click', () => {
    if (!manifestPath()) return showNotice('Type the path of the firmware set’s manifest.json under Firmware first.');
    startOperation('update', { manifest: manifestPath() });
  });
  $('backup-button').addEventListener('click', () => startOperation('backup', { file: $('backup-file').value.trim() }));
  $('restore-button').addEventListener('click', () => {
    if (!$('restore-file').value.trim()) return showNotice('Type the path of the backup image to put back.');
    startOperation('restore', { file: $('restore-file').value.trim() });
  });
  $('reflash-button').addEventListener('click', () => {
    if (!manifestPath()) return showNotice('Type the path of the firmware set’s manifest.json under Firmware first.');
    startOperation('reflash', { manifest: manifestPath(), backupFirst: $('reflash-backup').checked });
  });
  $('question').addEventListener('close', () => {
    const value = $('question').returnValue;
    if (value === 'yes' || value === 'no' || value === '') answerQuestion(value === 'yes');
  });
  $('outcome-close').addEventListener('click', () => { $('operation').hidden = true; });
}

wire();
listen();
loadState();
