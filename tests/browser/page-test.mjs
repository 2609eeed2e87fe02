// The web page in a real browser: Debian's chromium, headless, driven by
// playwright-core, loads the page from a server on the loopback address
// (nothing else is reachable: every other request is refused and fails the
// test), and checks what a visitor relies on:
//   - an offline render of the embedded drums and bass with two factory
//     presets picked on the page equals kestrune-render's float output bit
//     for bit, both as the AudioWorklet wrote it and as the
//     OfflineAudioContext's destination delivered it, and so does one with
//     an external sidechain file;
//   - the meter shows the gain reduction, Bypass passes the input through,
//     and turning a control on the page changes the output it downloads,
//     a float WAV;
//   - a dropped FLAC or WAV file is decoded at its own sample rate;
//   - the editor the page draws in its canvas has kestrune-render's editor
//     picture's pixels at 1x and 2x, and a drag on a knob there turns the
//     parameter as the page's own control shows;
//   - the page's files stay under 3 MB compressed (without the 2x images,
//     which only a screen with twice the pixels fetches).
// It prints the time to interactive (not asserted) and writes a screenshot.
//
// usage: node page-test.mjs --web DIR --render KESTRUNE_RENDER --presets DIR
//                           --out DIR [--chromium PATH]
import {execFileSync} from 'node:child_process';
import fs from 'node:fs';
import http from 'node:http';
import path from 'node:path';
import zlib from 'node:zlib';
import {chromium} from 'playwright-core';

const args = {chromium: '/usr/bin/chromium'};
for (let i = 2; i + 1 < process.argv.length; i += 2) args[process.argv[i].replace(/^--/, '')] = process.argv[i + 1];
for (const key of ['web', 'render', 'presets', 'out'])
  if (!args[key]) throw new Error(`--${key} is required`);
fs.mkdirSync(args.out, {recursive: true});

let passed = 0, failed = 0;
function check(name, ok, detail = '') {
  console.log(`${ok ? 'ok  ' : 'FAIL'} ${name}${detail ? `: ${detail}` : ''}`);
  ok ? ++passed : ++failed;
}

// ---- kestrune-render's float output, the reference ----
const kPresets = ['Drum Bus Glue', 'Gentle Master'];
const references = {}, referenceFiles = {};
for (const preset of kPresets) {
  const file = path.join(args.out, `${preset.replaceAll(' ', '-')}.f32`);
  execFileSync(args.render, ['--preset', path.join(args.presets, `${preset}.vstpreset`), '--type', 'raw',
                             '--sample-format', 'float', '--no-pictures', '-q', '-o', file]);
  references[preset] = `/reference/${path.basename(file)}`;
  referenceFiles[preset] = file;
}

// "Bass Ducked by Kick" with an external sidechain (a float WAV at the
// material's rate, shorter than it: padded with silence).
const sidechainFile = path.join(args.out, 'sidechain.wav');
execFileSync('sox', ['-n', '-r', '48000', '-c', '2', '-e', 'floating-point', '-b', '32', sidechainFile,
                     'synth', '3', 'sine', '200', 'vol', '0.9']);
// kestrune-render takes a sidechain only with an input file: the drums and
// bass as one, through Bypass.
const materialFile = path.join(args.out, 'material.wav');
execFileSync(args.render, ['--set', 'BYPASS=on', '--sample-format', 'float', '--no-pictures', '-q', '-o', materialFile]);
const kSidechainPreset = 'Bass Ducked by Kick';
const sidechainReference = path.join(args.out, 'sidechain-reference.f32');
execFileSync(args.render, [materialFile, '--preset', path.join(args.presets, `${kSidechainPreset}.vstpreset`),
                           '--sidechain', sidechainFile,
                           '--type', 'raw', '--sample-format', 'float', '--no-pictures', '-q', '-o', sidechainReference]);

// ---- kestrune-render's editor picture, the reference for the canvas ----
// At the defaults, over silence: the meter shows no reduction, as on a page
// that has played nothing.
const silence = path.join(args.out, 'silence.wav');
execFileSync('sox', ['-n', '-r', '48000', '-c', '2', '-b', '16', silence, 'trim', '0', '0.05']);
const editorPictures = {};
for (const scale of [1, 2]) {
  const picture = path.join(args.out, `editor-${scale}x.png`);
  execFileSync(args.render, [silence, '-q', '-o', path.join(args.out, `silence-${scale}x.wav`),
                             '--editor-png', picture, '--editor-scale', String(scale)]);
  const {width, height, rgba} = decodePng(fs.readFileSync(picture));
  fs.writeFileSync(path.join(args.out, `editor-${scale}x.rgba`), rgba);
  editorPictures[scale] = {width, height};
}

// An 8-bit RGBA or RGB PNG, not interlaced (what kestrune-render writes), as
// {width, height, rgba}.
function decodePng(file) {
  let at = 8, width = 0, height = 0, channels = 0;
  const idat = [];
  while (at < file.length) {
    const size = file.readUInt32BE(at), type = file.toString('latin1', at + 4, at + 8);
    const body = file.subarray(at + 8, at + 8 + size);
    if (type === 'IHDR') {
      [width, height, channels] = [body.readUInt32BE(0), body.readUInt32BE(4), body[9] === 6 ? 4 : 3];
      if (body[8] !== 8 || (body[9] !== 6 && body[9] !== 2) || body[12]) throw new Error('unexpected PNG');
    }
    if (type === 'IDAT') idat.push(body);
    at += 12 + size;
  }
  const raw = zlib.inflateSync(Buffer.concat(idat)), stride = width * channels;
  const rgba = new Uint8Array(width * height * 4);
  let previous = new Uint8Array(stride);
  for (let y = 0; y < height; ++y) {
    const filter = raw[y * (stride + 1)], row = raw.subarray(y * (stride + 1) + 1, (y + 1) * (stride + 1));
    for (let x = 0; x < stride; ++x) {
      const a = x >= channels ? row[x - channels] : 0, b = previous[x], c = x >= channels ? previous[x - channels] : 0;
      const p = a + b - c, pa = Math.abs(p - a), pb = Math.abs(p - b), pc = Math.abs(p - c);
      const add = [0, a, b, (a + b) >> 1, pa <= pb && pa <= pc ? a : pb <= pc ? b : c][filter];
      row[x] = (row[x] + add) & 255;
    }
    for (let x = 0; x < width; ++x)
      for (let k = 0; k < 4; ++k) rgba[(y * width + x) * 4 + k] = k < channels ? row[x * channels + k] : 255;
    previous = row;
  }
  return {width, height, rgba};
}

// The page's editor canvas against kestrune-render's picture (its RGBA
// bytes served from /reference/), compared in the page: the pixels that
// differ and the rectangle around them.
async function compareEditor(page, scale) {
  return page.evaluate(async ({url, width, height}) => {
    const shown = await window.kestrunePage.state.editor.shown;
    const canvas = document.getElementById('editor');
    if (canvas.width !== width || canvas.height !== height)
      return {shown, differing: -1, detail: `${canvas.width} x ${canvas.height}, not ${width} x ${height}`};
    const drawn = new Uint32Array(canvas.getContext('2d').getImageData(0, 0, width, height).data.buffer);
    const reference = new Uint32Array(await (await fetch(url)).arrayBuffer());
    let differing = 0;
    const box = [width, height, -1, -1];
    for (let i = 0; i < reference.length; ++i) {
      if (drawn[i] === reference[i]) continue;
      ++differing;
      const x = i % width, y = Math.floor(i / width);
      box.splice(0, 4, Math.min(box[0], x), Math.min(box[1], y), Math.max(box[2], x), Math.max(box[3], y));
    }
    return {shown, differing, detail: `${differing} of ${width * height} pixels differ` +
                                      (differing ? ` within (${box.join(', ')})` : '')};
  }, {url: `/reference/editor-${scale}x.rgba`, ...editorPictures[scale]});
}

// ---- the page's server: the built web folder, and the references ----
const types = {'.html': 'text/html', '.js': 'text/javascript', '.css': 'text/css', '.wasm': 'application/wasm',
               '.png': 'image/png', '.json': 'application/json'};
const server = http.createServer((request, response) => {
  const url = decodeURIComponent(new URL(request.url, 'http://localhost').pathname);
  const [root, name] = url.startsWith('/reference/') ? [args.out, url.slice(11)]
                                                     : [args.web, url === '/' ? 'index.html' : url.slice(1)];
  const file = path.join(root, path.basename(name));
  if (!fs.existsSync(file)) { response.writeHead(404); response.end(); return; }
  response.writeHead(200, {'Content-Type': types[path.extname(file)] || 'application/octet-stream'});
  response.end(fs.readFileSync(file));
});
await new Promise((resolve) => server.listen(0, '127.0.0.1', resolve));
const origin = `http://127.0.0.1:${server.address().port}`;

// ---- the browser ----
const browser = await chromium.launch({
  executablePath: args.chromium,
  downloadsPath: args.out,
  args: ['--no-sandbox', '--autoplay-policy=no-user-gesture-required', '--disable-gpu'],
});
let exitCode = 1;
try {
  const page = await browser.newPage({viewport: {width: 1100, height: 900}});
  const outside = [];
  // Only what goes elsewhere is intercepted: the page's own requests go
  // straight to the server, so the time to interactive is the page's.
  await page.route((url) => url.origin !== origin, (route) => {
    outside.push(route.request().url());
    return route.abort();
  });
  const pageErrors = [];
  page.on('pageerror', (error) => pageErrors.push(String(error)));
  page.on('console', (message) => { if (message.type() === 'error') pageErrors.push(message.text()); });

  await page.goto(`${origin}/`);
  const readyMs = await page.evaluate(() => window.kestrunePage.ready);
  const editorTimes = await page.evaluate(() => (({decodingMs, firstDrawMs}) => ({decodingMs, firstDrawMs}))(
    window.kestrunePage.state.editor));
  console.log(`time to interactive: ${readyMs.toFixed(0)} ms after navigation began; decoding the 1x images ` +
              `as they came took ${editorTimes.decodingMs.toFixed(0)} ms of it, drawing the editor ` +
              `${editorTimes.firstDrawMs.toFixed(0)} ms`);
  const controls = await page.locator('#controls input[type=range]').count();
  check('the page shows one control per parameter', controls === 14, `${controls} controls`);

  // The editor in the canvas: kestrune-render's picture, pixel for pixel;
  // a drag up on the INPUT knob turns INPUT up (the page's slider follows),
  // a double click sets it back to its default, and a wheel turn up turns it
  // up again; a drag from the bottom-right corner leaves the editor's size
  // (the page keeps it at the screen's scale).
  const editor1x = await compareEditor(page, 1);
  check('the editor in the canvas at 1x has kestrune-render\'s pixels',
        editor1x.shown === 1 && editor1x.differing === 0, editor1x.detail);
  const inputSlider = page.locator('#controls input[data-name="INPUT"]');
  const inputDefault = await inputSlider.inputValue();
  const knob = await page.evaluate(() => {
    const box = document.getElementById('editor').getBoundingClientRect();
    return {x: box.left + 132, y: box.top + 88};  // the INPUT knob's middle, in design units
  });
  await page.mouse.move(knob.x, knob.y);
  await page.mouse.down();
  await page.mouse.move(knob.x, knob.y - 40, {steps: 4});
  await page.mouse.up();
  const inputTurned = await inputSlider.inputValue();
  await page.mouse.dblclick(knob.x, knob.y);
  const inputBack = await inputSlider.inputValue();
  await page.mouse.wheel(0, -100);
  const inputWheeled = await inputSlider.inputValue();
  const corner = await page.evaluate(() => {
    const box = document.getElementById('editor').getBoundingClientRect();
    return {x: box.right - 3, y: box.bottom - 3};
  });
  await page.mouse.move(corner.x, corner.y);
  await page.mouse.down();
  await page.mouse.move(corner.x + 200, corner.y + 60, {steps: 4});
  await page.mouse.up();
  const canvasWidth = await page.evaluate(() => document.getElementById('editor').width);
  check('on the editor\'s INPUT knob a drag up turns INPUT up, a double click sets its default, the wheel turns it',
        Number(inputTurned) > Number(inputDefault) && inputBack === inputDefault &&
        Number(inputWheeled) > Number(inputDefault) && canvasWidth === 912,
        `slider ${inputDefault} -> ${inputTurned} -> ${inputBack} -> ${inputWheeled}; canvas ${canvasWidth} px wide`);
  await page.mouse.dblclick(knob.x, knob.y);

  // The module checks what the page hands it, as a plug-in checks a host.
  const refused = await page.evaluate(async () => {
    const {KestruneModule} = await import('./kestrune-module.js');
    const module = new KestruneModule(window.kestrunePage.state.module);
    const e = module.exports, plug = module.create(48000, 128), h = plug.handle;
    return {
      unknownInstance: e.kestrune_process(h + 4, 128) === 0 && e.kestrune_input(h + 4, 0) === 0,
      channel: e.kestrune_input(h, 4) === 0 && e.kestrune_input(h, -1) === 0 && e.kestrune_output(h, 2) === 0,
      parameter: e.kestrune_set_param(h, 14, 0) === 0 && e.kestrune_param_name(h, -1) === 0,
      notANumber: e.kestrune_set_param_normalized(h, 0, NaN) === 0,
      block: e.kestrune_process(h, 129) === 0 && e.kestrune_process(h, 128) === 1,
      preset: e.kestrune_apply_preset(h, 7) === 0 && e.kestrune_preset_name(h, 7) === 0,
      rate: e.kestrune_create(0, 128, 0) === 0 && e.kestrune_create(48000, 1 << 20, 0) === 0,
      editorFiles: !module.setImagePack(2, new Uint8Array(64)) && !module.setImagePack(4, new Uint8Array(64)) &&
                   !module.setGlyphs(new TextEncoder().encode('KSTGLYF1\x01\0\0\0')) &&
                   e.kestrune_add_image(104, 0, 0) === 0 &&
                   !module.addImage(120, (await (await fetch('kestrune-images-1x.bin')).arrayBuffer()).slice(0, 100)),
      noEditor: !plug.hasEditor() && e.kestrune_editor_draw(h, 1) === 0 && e.kestrune_editor_pointer(h, 0, 1, 1, 1, 0, 0) === 0,
    };
  });
  const accepted = Object.keys(refused).filter((what) => !refused[what]);
  check('the module refuses unknown instances, channels, parameters, presets, rates, oversized blocks and damaged editor files',
        accepted.length === 0, accepted.length ? `accepted: ${accepted.join(', ')}` : '');

  await page.click('#material');

  // Compares a render with a reference in the page: the number of float32
  // samples whose bits differ (left and right interleaved, as the raw file).
  const compareWithReference = (referenceUrl) => page.evaluate(async (url) => {
    const reference = new Uint32Array(await (await fetch(url)).arrayBuffer());
    const {output, recorded} = await window.kestrunePage.renderOffline({record: true});
    const differing = (channels) => {
      const bits = channels.map((c) => new Uint32Array(c.buffer, c.byteOffset, c.length));
      let count = Math.abs(reference.length - 2 * bits[0].length);
      for (let i = 0; i < bits[0].length; ++i)
        for (let c = 0; c < 2; ++c) if (bits[c][i] !== reference[2 * i + c]) ++count;
      return count;
    };
    return {samples: reference.length, worklet: differing(recorded), destination: differing(output)};
  }, referenceUrl);

  let last = null;
  for (const preset of kPresets) {
    await page.selectOption('#preset', {label: preset});
    const result = await compareWithReference(references[preset]);
    check(`"${preset}": the worklet's output equals kestrune-render's`, result.worklet === 0,
          `${result.worklet} of ${result.samples} samples differ`);
    check(`"${preset}": the OfflineAudioContext's output equals kestrune-render's`,
          result.destination === 0, `${result.destination} of ${result.samples} samples differ`);
    last = preset;
  }
  const meter = await page.locator('#meter-text').textContent();
  check('the meter shows the gain reduction the render ended with', /^-\d+\.\d dB$/.test(meter), meter);

  // A sidechain file on the page: the render equals kestrune-render's with
  // --sidechain; then the last preset again, with Sidechain on INT.
  await page.selectOption('#preset', {label: kSidechainPreset});
  await page.setInputFiles('#sidechain-file', sidechainFile);
  await page.waitForFunction(() => document.getElementById('sidechain-name').textContent.startsWith('Sidechain:'),
                             null, {timeout: 10000}).catch(() => {});
  const keyed = await compareWithReference(`/reference/${path.basename(sidechainReference)}`);
  check(`"${kSidechainPreset}" with an external sidechain file: the page's output equals kestrune-render's`,
        keyed.worklet === 0 && keyed.destination === 0,
        `${keyed.worklet} (worklet), ${keyed.destination} (destination) of ${keyed.samples} samples differ`);
  await page.selectOption('#preset', {label: last});
  await page.locator('#controls input[data-name="Sidechain"]').fill('1');

  // Bypass: what comes out is what went in.
  await page.click('#bypass');
  const bypassed = await page.evaluate(async () => {
    const {output} = await window.kestrunePage.renderOffline();
    const source = window.kestrunePage.state.source.channels;
    let count = 0;
    for (let c = 0; c < 2; ++c)
      for (let i = 0; i < source[c].length; ++i) if (!Object.is(output[c][i], source[c][i])) ++count;
    return count;
  });
  check('with Bypass pressed the output is the input', bypassed === 0, `${bypassed} samples differ`);
  await page.click('#bypass');

  // A control turned on the page (INPUT up by a tenth of its travel), then
  // the page's download: a float WAV of the render, which now differs.
  const input = page.locator('#controls input[data-name="INPUT"]');
  const before = Number(await input.inputValue());
  await input.fill(String(before + 100));
  const shown = await input.locator('xpath=..').locator('output').textContent();
  const [download] = await Promise.all([page.waitForEvent('download'), page.click('#download')]);
  const wav = fs.readFileSync(await download.path());
  const header = {
    riff: wav.toString('latin1', 0, 4) + wav.toString('latin1', 8, 12), format: wav.readUInt16LE(20),
    channels: wav.readUInt16LE(22), rate: wav.readUInt32LE(24), bits: wav.readUInt16LE(34),
    data: wav.toString('latin1', 50, 54), dataBytes: wav.readUInt32LE(54),
  };
  const reference = fs.readFileSync(referenceFiles[last]);
  check('the download is a 32-bit float stereo WAV of the whole render',
        header.riff === 'RIFFWAVE' && header.format === 3 && header.channels === 2 && header.rate === 48000 &&
        header.bits === 32 && header.data === 'data' && header.dataBytes === reference.length &&
        wav.length === 58 + reference.length, JSON.stringify(header));
  let differing = 0;
  for (let i = 0; i + 4 <= Math.min(reference.length, wav.length - 58); i += 4)
    if (wav.readUInt32LE(58 + i) !== reference.readUInt32LE(i)) ++differing;
  check('turning INPUT on the page changes the output', differing > reference.length / 40,
        `INPUT now ${shown}; ${differing} of ${reference.length / 4} samples differ from "${last}"`);

  const screenshot = path.join(args.out, 'web-page.png');
  await page.screenshot({path: screenshot, fullPage: true});
  console.log(`screenshot: ${screenshot}`);

  // A visitor's own files, decoded at the rate they declare (decodeAudioData
  // would resample them to its context's): FLAC and WAV at 44.1 kHz.
  for (const [name, sox] of [['tone-flac.flac', ['-b', '16']], ['tone-wav.wav', ['-b', '24']]]) {
    const file = path.join(args.out, name);
    execFileSync('sox', ['-n', '-r', '44100', '-c', '2', ...sox, file, 'synth', '0.5', 'sine', '440']);
    await page.setInputFiles('#file', file);
    const wanted = `${path.basename(name, path.extname(name))}:`;
    await page.waitForFunction((prefix) => document.getElementById('source-name').textContent.startsWith(prefix),
                               wanted, {timeout: 10000}).catch(() => {});
    const shown = await page.locator('#source-name').textContent();
    check(`a visitor's ${path.extname(name)} file is taken at its own rate and length`,
          shown === `${wanted} stereo, 44100 Hz, 0.5 s`, shown);
  }

  // Near silence, where the modules' processor flushes subnormal numbers and
  // WebAssembly has no such mode: a float WAV of a tone, then subnormal
  // floats, then noise about the smallest normal float (written by the
  // page's own WAV writer). The page equals kestrune-render bit for bit there.
  const quiet = path.join(args.out, 'near-silence.wav');
  fs.writeFileSync(quiet, Buffer.from(await page.evaluate(async (frames) => {
    const left = new Float32Array(3 * frames);
    let seed = 12345;
    for (let i = 0; i < 3 * frames; ++i) {
      seed = (seed * 1103515245 + 12345) % 2147483648;
      left[i] = i < frames ? 0.5 * Math.sin(2 * Math.PI * 110 * i / 48000)
              : i < 2 * frames ? 1e-40 : 2e-38 * (seed / 1073741824 - 1);
    }
    const wav = window.kestrunePage.wavFile([left, left.map((x) => -0.7 * x)], 48000);
    return [...new Uint8Array(await wav.arrayBuffer())];
  }, 24000)));
  const quietReference = path.join(args.out, 'near-silence-reference.f32');
  execFileSync(args.render, [quiet, '--preset', path.join(args.presets, `${kPresets[0]}.vstpreset`),
                             '--type', 'raw', '--sample-format', 'float', '--no-pictures', '-q', '-o', quietReference]);
  await page.setInputFiles('#file', quiet);
  await page.waitForFunction(() => document.getElementById('source-name').textContent.startsWith('near-silence:'),
                             null, {timeout: 10000}).catch(() => {});
  await page.selectOption('#preset', {label: kPresets[0]});
  const nearSilence = await compareWithReference(`/reference/${path.basename(quietReference)}`);
  check(`"${kPresets[0]}" on near silence (subnormal floats): the page's output equals kestrune-render's`,
        nearSilence.worklet === 0 && nearSilence.destination === 0,
        `${nearSilence.worklet} (worklet), ${nearSilence.destination} (destination) of ${nearSilence.samples} samples differ`);

  // A screen with twice the pixels: the editor from the 2x images, at 2x.
  const page2x = await browser.newPage({viewport: {width: 1100, height: 900}, deviceScaleFactor: 2});
  page2x.on('pageerror', (error) => pageErrors.push(String(error)));
  await page2x.goto(`${origin}/`);
  await page2x.evaluate(() => window.kestrunePage.ready);
  const editor2x = await compareEditor(page2x, 2);
  check('the editor in the canvas at 2x has kestrune-render\'s pixels',
        editor2x.shown === 2 && editor2x.differing === 0, editor2x.detail);
  await page2x.close();

  check('nothing was requested from outside the page\'s server', outside.length === 0, outside.join(' '));
  check('the page reported no errors', pageErrors.length === 0, pageErrors.join(' | '));
} finally {
  await browser.close();
  server.close();
}

// ---- size: every file of the page, compressed; the 2x images apart ----
let raw = 0, compressed = 0, raw2x = 0, compressed2x = 0;
for (const entry of fs.readdirSync(args.web, {withFileTypes: true})) {
  if (!entry.isFile()) continue;
  const bytes = fs.readFileSync(path.join(args.web, entry.name));
  const packed = zlib.gzipSync(bytes, {level: 9}).length;
  if (entry.name.endsWith('.pack')) {
    raw2x += bytes.length;
    compressed2x += packed;
  } else {
    raw += bytes.length;
    compressed += packed;
  }
}
check('the page\'s files are under 3 MB compressed', compressed < 3 * 1024 * 1024,
      `${(compressed / 1024).toFixed(0)} KiB gzip (${(raw / 1024).toFixed(0)} KiB as served); ` +
      `the 2x images add ${(compressed2x / 1024).toFixed(0)} KiB gzip (${(raw2x / 1024).toFixed(0)} KiB)`);

console.log(`${passed} passed, ${failed} failed`);
exitCode = failed === 0 ? 0 : 1;
process.exit(exitCode);
