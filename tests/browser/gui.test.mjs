// The page of `orvik gui` as its owner uses it, in headless Chromium: the
// built tool serves a simulated player, and each flow clicks through the
// page and reads what it shows.  A screenshot of each flow is saved in
// build/browser-screenshots.
import { test, before, after } from 'node:test';
import assert from 'node:assert/strict';
import { spawn, spawnSync, execFileSync } from 'node:child_process';
import { mkdtempSync, rmSync, cpSync, readFileSync, writeFileSync, existsSync } from 'node:fs';
import { tmpdir } from 'node:os';
import path from 'node:path';
import { chromium } from 'playwright-core';

const tool = process.env.ORVIK_TOOL;
const source = process.env.ORVIK_SOURCE_DIR;
const screenshots = process.env.ORVIK_SCREENSHOTS;
const trust = ['--trust-dir', path.join(source, 'samples/keys')];
const sampleManifest = path.join(source, 'samples/firmware/manifest.json');
// Long enough for a reflash of a simulated player on a busy machine.
const slow = 240_000;

let browser;
before(async () => {
  browser = await chromium.launch({
    executablePath: process.env.ORVIK_CHROMIUM || '/usr/bin/chromium',
    args: ['--headless', '--no-sandbox', '--disable-gpu', '--disable-background-networking',
      '--disable-component-update', '--disable-sync', '--no-first-run'],
  });
});
after(async () => { await browser?.close(); });

// A scratch folder with a simulated player, reflashed with the sample set.
function newPlayer() {
  const scratch = mkdtempSync(path.join(tmpdir(), 'orvik-browser-'));
  const player = path.join(scratch, 'player');
  orvik(scratch, ['--player', player, 'sim', 'create']);
  orvik(scratch, ['--player', player, '--yes', ...trust, 'reflash', '--manifest', sampleManifest]);
  orvik(scratch, ['--player', player, 'sim', 'replug']);
  return { scratch, player };
}

function orvik(cwd, args) {
  return execFileSync(tool, args, { cwd, env: testEnv(cwd), encoding: 'utf8' });
}

function testEnv(scratch) {
  const env = { ...process.env, NO_COLOR: '1', XDG_STATE_HOME: path.join(scratch, 'state'),
    XDG_CONFIG_HOME: path.join(scratch, 'config') };
  for (const name of Object.keys(env)) if (name.startsWith('ORVIK_')) delete env[name];
  return env;
}

// A firmware set newer than the sample: its raw file's trailer says 2.0.1.4,
// and its checksums and signature are made anew, as its maker would.
function newerSet(scratch) {
  const set = path.join(scratch, 'newer');
  cpSync(path.join(source, 'samples/firmware'), set, { recursive: true });
  const raw = readFileSync(path.join(set, 'resources.bin'));
  raw[raw.length - 2] = 4;
  writeFileSync(path.join(set, 'resources.bin'), raw);
  const manifest = path.join(set, 'manifest.json');
  orvik(scratch, ['manifest', 'hash', '--manifest', manifest]);
  orvik(scratch, ['manifest', 'sign', '--key', path.join(source, 'samples/keys/sample-test.key'),
    '--manifest', manifest]);
  return manifest;
}

// Starts orvik gui on the player and resolves with its printed address.
function startGui({ scratch, player }, extra = []) {
  const gui = spawn(tool, ['--player', player, ...trust, 'gui', '--no-browser', ...extra],
    { cwd: scratch, env: testEnv(scratch), stdio: ['ignore', 'pipe', 'pipe'] });
  let printed = '';
  return new Promise((resolve, reject) => {
    const timer = setTimeout(() => reject(new Error(`no address printed: ${printed}`)), 20_000);
    gui.stdout.on('data', (chunk) => {
      printed += chunk;
      const found = printed.match(/http:\/\/127\.0\.0\.1:\d+\/\?token=[0-9a-f]{64}/);
      if (found) { clearTimeout(timer); resolve({ gui, url: found[0] }); }
    });
    gui.stderr.on('data', (chunk) => { printed += chunk; });
    gui.on('exit', (code) => reject(new Error(`orvik gui ended (${code}): ${printed}`)));
  });
}

async function stopGui(gui) {
  if (gui.exitCode !== null) return;
  const ended = new Promise((resolve) => gui.once('exit', resolve));
  gui.kill('SIGINT');
  await ended;
}

// Runs one flow with the page open on a fresh player, and saves its
// screenshot whatever happens.  A flow may return a check to run once the
// page's server has let the player go.
async function withPage(name, prepare, flow, width = 1000) {
  const player = newPlayer();
  const setup = prepare ? prepare(player) : {};
  const { gui, url } = await startGui(player, setup.guiArgs || []);
  const context = await browser.newContext({ viewport: { width, height: 900 } });
  const page = await context.newPage();
  const errors = [];
  page.on('pageerror', (error) => errors.push(error.message));
  let afterwards;
  try {
    await page.goto(url);
    afterwards = await flow(page, { ...player, ...setup });
    assert.deepEqual(errors, [], 'the page\'s script failed');
  } finally {
    await page.screenshot({ path: path.join(screenshots, `${name}.png`), fullPage: true });
    await context.close();
    await stopGui(gui);
    try {
      if (afterwards) afterwards();
    } finally {
      rmSync(player.scratch, { recursive: true, force: true });
    }
  }
}

async function confirmQuestion(page, facts, shot) {
  const dialog = page.locator('#question');
  await dialog.waitFor({ state: 'visible', timeout: slow });
  if (shot) await page.screenshot({ path: path.join(screenshots, `${shot}.png`) });
  for (const [field, text] of Object.entries(facts || {}))
    assert.match(await page.locator(`#question-${field}`).innerText(), text);
  await page.click('#question-yes');
}

test('the page names the player, its device and its health', async () => {
  await withPage('state', null, async (page, { player }) => {
    await page.locator('#verdict[data-state="healthy"]').waitFor({ timeout: slow });
    assert.match(await page.locator('#verdict').innerText(), /Healthy/);
    assert.match(await page.locator('#target').innerText(), new RegExp(`simulated player.*${player}`, 'i'));
    assert.equal(await page.locator('#target').getAttribute('data-kind'), 'simulator');
    const device = await page.locator('#device-facts').innerText();
    assert.match(device, /type 7/);
    assert.match(device, /32 MiB/);  // the card
    // The block map is drawn with its legend.
    await page.click('#blocks-button');
    await page.locator('#block-legend li').first().waitFor({ timeout: slow });
    assert.match(await page.locator('#block-legend').innerText(), /bad: 2/);
    assert.ok(await page.locator('#block-canvas').evaluate((canvas) => canvas.height > 0));
  });
});

test('an update asks, shows its progress and ends up to date', async () => {
  await withPage('update', ({ scratch }) => ({ manifest: newerSet(scratch) }), async (page, { manifest }) => {
    await page.locator('#verdict[data-state="healthy"]').waitFor({ timeout: slow });
    await page.fill('#manifest', manifest);
    await page.click('#versions-button');
    await page.locator('#versions-table:not([hidden])').waitFor({ timeout: slow });
    assert.match(await page.locator("#versions-table").innerText(), /update available/);
    await page.click('#update-button');
    await confirmQuestion(page, { target: /simulated player/, what: /firmware/ }, 'update-question');
    assert.ok(await page.locator('#unplug').isVisible());
    await page.locator('#outcome:not([hidden])').waitFor({ timeout: slow });
    await page.screenshot({ path: path.join(screenshots, 'update-outcome.png') });
    assert.match(await page.locator('#outcome-message').innerText(), /up to date/);
    assert.equal(await page.locator('#percent').innerText(), '100%');
    await page.click('#outcome-close');
    await page.click('#versions-button');
    await page.waitForFunction(() => /up to date with this set/.test(document.querySelector('#versions-summary').textContent), null, { timeout: slow });
  });
});

test('a player whose update was cut shows the problem, and its repair button fixes it', async () => {
  const prepare = ({ scratch, player }) => {
    const manifest = newerSet(scratch);
    // The update's transfers, counted on a copy; then the real one is cut
    // by a power cut in the middle of them, as a pulled cable would.
    const copy = path.join(scratch, 'copy');
    cpSync(player, copy, { recursive: true });
    const traced = spawnSync(tool, ['--player', copy, ...trust, '-v', 'update', '--manifest', manifest],
      { cwd: scratch, env: testEnv(scratch), encoding: 'utf8' });
    assert.equal(traced.status, 0, traced.stderr);
    let transfers = 0;
    for (const match of traced.stderr.matchAll(/player: #(\d+) /g)) transfers = Math.max(transfers, Number(match[1]));
    assert.ok(transfers > 100, 'the update\'s transfers were counted');
    orvik(scratch, ['--player', player, 'sim', 'faults', '--power-cut-after', String(Math.floor(transfers * 2 / 3))]);
    const cut = spawnSync(tool, ['--player', player, ...trust, 'update', '--manifest', manifest],
      { cwd: scratch, env: testEnv(scratch), encoding: 'utf8' });
    assert.equal(cut.status, 1, `the update was not cut: ${cut.stdout}${cut.stderr}`);
    return { manifest, guiArgs: ['--manifest', manifest] };
  };
  await withPage('cut-update', prepare, async (page, { manifest }) => {
    await page.locator('#verdict[data-state="problems"]').waitFor({ timeout: slow });
    assert.equal(await page.inputValue('#manifest'), manifest);  // from gui --manifest
    assert.ok((await page.locator('#problems li').count()) > 0);
    assert.match(await page.locator('#problems').innerText(), /Fix:/);
    await page.screenshot({ path: path.join(screenshots, 'cut-update-problem.png'), fullPage: true });
    await page.click('#fix-button');
    await confirmQuestion(page, { target: /simulated player/ });
    await page.locator('#outcome[data-state="done"]').waitFor({ timeout: slow });
    assert.match(await page.locator('#outcome-message').innerText(), /Fixed/);
    await page.click('#outcome-close');
    await page.locator('#verdict[data-state="healthy"]').waitFor({ timeout: slow });
  });
});

// A song on the player's volume, put there as its owner would: the volume
// backed up, the file copied into the image with mtools, the image restored.
function putSong({ scratch, player }) {
  const image = path.join(scratch, 'before.img');
  orvik(scratch, ['--player', player, 'backup', '--output', image]);
  const song = path.join(scratch, 'song.mp3');
  writeFileSync(song, Buffer.from(Array.from({ length: 70_000 }, (_, i) => (i * 7) & 0xff)));
  execFileSync('mcopy', ['-i', image, song, '::SONG.MP3']);
  orvik(scratch, ['--player', player, '--yes', 'restore', '--input', image]);
  return { song };
}

function songOnPlayer({ scratch, player }) {
  const image = path.join(scratch, 'after.img');
  orvik(scratch, ['--player', player, 'backup', '--force', '--output', image]);
  return execFileSync('mtype', ['-i', image, '::SONG.MP3'], { encoding: 'buffer' });
}

test('a full reflash backs the files up first and puts them back', async () => {
  await withPage('reflash', putSong, async (page, setup) => {
    const { scratch } = setup;
    await page.locator('#verdict[data-state="healthy"]').waitFor({ timeout: slow });
    await page.fill('#manifest', sampleManifest);
    assert.ok(await page.isChecked('#reflash-backup'));  // ticked unless the owner says otherwise
    await page.click('#reflash-button');
    await confirmQuestion(page, { backup: /saved to player-backup-.*\.img/, lost: /file/ }, 'reflash-question');
    await page.locator('#outcome:not([hidden])').waitFor({ timeout: slow });
    const backup = (await page.locator('#question-backup').innerText()).match(/player-backup-\S+\.img/)[0];
    assert.ok(existsSync(path.join(scratch, backup)), 'the backup image was written');
    assert.equal(await page.locator('#outcome').getAttribute('data-state'), 'done',
      await page.locator('#outcome').innerText());
    assert.match(await page.locator('#outcome-message').innerText(), /files are back/);
    return () => assert.deepEqual(songOnPlayer(setup), readFileSync(setup.song), 'the song came back whole');
  }, 800);
});

test('the page fits a phone\'s width', async () => {
  await withPage('phone', null, async (page) => {
    await page.locator('#verdict[data-state="healthy"]').waitFor({ timeout: slow });
    const overflow = await page.evaluate(() => document.documentElement.scrollWidth - window.innerWidth);
    assert.ok(overflow <= 0, `the page is ${overflow}px wider than the screen`);
  }, 375);
});
