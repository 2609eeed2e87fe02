// The page: the modules' editor, drawn by the module into a canvas at the
// screen's scale (1x, or 2x from the 2x images where the screen has twice
// the pixels) and turned with the pointer as in a host; the controls, made
// from the parameter table the module exports, in step with it; a file or
// the embedded material as the source; live playback through the
// AudioWorklet; the same worklet in an OfflineAudioContext for the download.
// window.kestrunePage is what the browser test drives.
import {KestruneModule} from './kestrune-module.js';

const $ = (id) => document.getElementById(id);
const kSliderSteps = 1000;

const state = {
  module: null,      // kestrune.wasm, compiled
  instance: null,    // the main thread's instance: parameter texts and values
  parameters: [],
  bypassIndex: -1,
  source: null,      // {name, sampleRate, channels: [Float32Array...]}
  sidechain: null,   // the external sidechain, as the source
  live: null,        // {context, node}
  editor: null,      // {canvas, scale: pixels per CSS pixel, shown: Promise of the scale drawn,
                     //  decodingMs: handing the 1x images in, as they came, decoding them,
                     //  firstDrawMs: the first picture's time}
  sentValues: [],    // the plain values the live worklet has
};

function status(text) { $('status').textContent = text; }

// ---- Controls ----

function sliderPosition(parameter) {
  const n = state.instance.normalized(parameter.index);
  return parameter.steps ? Math.round(n * (parameter.steps - 1)) : Math.round(n * kSliderSteps);
}

function refreshControls() {
  for (const parameter of state.parameters) {
    parameter.slider.value = sliderPosition(parameter);
    parameter.output.textContent = state.instance.display(parameter.index);
  }
  const bypassed = state.bypassIndex >= 0 && state.instance.value(state.bypassIndex) >= 0.5;
  $('bypass').setAttribute('aria-pressed', String(bypassed));
}

function setNormalized(index, normalized) {
  state.instance.setNormalized(index, normalized);
  sendValues();
  refreshControls();
}

// The main thread's values to the live worklet, when any changed.
function sendValues() {
  const values = state.instance.values();
  if (state.live && values.some((value, i) => value !== state.sentValues[i]))
    state.live.node.port.postMessage({values});
  state.sentValues = values;
}

// ---- The editor ----

const kPointer = {press: 0, drag: 1, release: 2, doubleClick: 3, wheel: 4};

async function bytesOf(name) {
  const response = await fetch(name);
  if (!response.ok) throw new Error(`${name}: HTTP ${response.status}`);
  return response.arrayBuffer();
}

// The 1x images (one file, in the manifest's order) and the glyph table
// handed to the module (a promise of it) as they arrive: each image as soon
// as its bytes are in, and decoded then. The manifest, or null where the
// page has no editor picture.
let decodingMs = 0;  // handing the editor's files in: decoding the images
async function handEditorAssets(modulePromise) {
  try {
    const file = 'kestrune-images-1x.bin';
    const bundle = fetch(file);  // while the manifest comes
    const glyphs = Promise.all([modulePromise, bytesOf('kestrune-glyphs.bin')])
        .then(([module, table]) => module.setGlyphs(table));
    glyphs.catch(() => {});  // awaited below, unless an image fails first
    const manifest = await (await fetch('kestrune-images.json')).json();
    const response = await bundle;
    if (!response.ok) throw new Error(`${file}: HTTP ${response.status}`);
    const images = manifest.images;
    const bytes = new Uint8Array(images.reduce((end, [, at, length]) => Math.max(end, at + length), 0));
    const module = await modulePromise;
    const reader = response.body.getReader();
    for (let received = 0, next = 0; next < images.length;) {
      const {done, value} = await reader.read();
      if (done) throw new Error(`${file} ends at ${received} bytes`);
      if (value.length > bytes.length - received) throw new Error(`${file} is longer than its manifest says`);
      bytes.set(value, received);
      received += value.length;
      for (; next < images.length && images[next][1] + images[next][2] <= received; ++next) {
        const [id, at, length] = images[next];
        const started = performance.now();
        if (!module.addImage(id, bytes.subarray(at, at + length))) throw new Error(`image ${id} refused`);
        decodingMs += performance.now() - started;
      }
    }
    if (!await glyphs) throw new Error('the glyph table was refused');
    return manifest;
  } catch (error) {
    console.warn(`No editor picture: ${error.message || error}`);
    return null;
  }
}

// Draws the editor into its canvas every frame it changes and passes it the
// pointer. At a device pixel ratio of 1.5 or more the 2x images are fetched
// after the page is ready and the editor is drawn from them at 2x.
function showEditor(manifest) {
  const canvas = $('editor');
  const instance = state.instance;
  if (!instance.hasEditor()) return null;
  canvas.hidden = false;
  const context = canvas.getContext('2d');
  const editor = {canvas, scale: 1};
  const show = (image) => {
    if (!image) return;
    if (canvas.width !== image.width || canvas.height !== image.height) {
      canvas.width = image.width;
      canvas.height = image.height;
      canvas.style.width = `${image.width / editor.scale}px`;
    }
    context.putImageData(image, 0, 0);
  };
  const drawing = performance.now();
  show(instance.drawEditor(true));
  editor.firstDrawMs = performance.now() - drawing;
  const frame = () => {
    show(instance.drawEditor());
    requestAnimationFrame(frame);
  };
  requestAnimationFrame(frame);

  // Canvas pixels under the pointer.
  const at = (event) => {
    const box = canvas.getBoundingClientRect();
    return [Math.floor((event.clientX - box.left) * canvas.width / box.width),
            Math.floor((event.clientY - box.top) * canvas.height / box.height)];
  };
  const keys = (event, buttons) => ({buttons, shift: event.shiftKey, control: event.ctrlKey, alt: event.altKey});
  const button = (event) => (event.button === 0 ? 1 : event.button === 2 ? 2 : 0);
  const changed = () => {
    sendValues();
    refreshControls();
  };
  let pressed = false;
  canvas.addEventListener('mousedown', (event) => {
    event.preventDefault();
    pressed = true;
    instance.pointer(event.detail === 2 ? kPointer.doubleClick : kPointer.press, ...at(event),
                     keys(event, button(event)));
    changed();
  });
  window.addEventListener('mousemove', (event) => {
    if (!pressed) return;
    instance.pointer(kPointer.drag, ...at(event), keys(event, event.buttons & 3));
    changed();
  });
  window.addEventListener('mouseup', (event) => {
    if (!pressed) return;
    pressed = false;
    instance.pointer(kPointer.release, ...at(event), keys(event, button(event)));
    changed();
  });
  canvas.addEventListener('wheel', (event) => {
    event.preventDefault();
    if (!event.deltaY) return;
    instance.pointer(kPointer.wheel, ...at(event), keys(event, 0), event.deltaY < 0 ? 1 : -1);
    changed();
  }, {passive: false});
  canvas.addEventListener('contextmenu', (event) => event.preventDefault());

  const pack = manifest.packs && manifest.packs['2'];
  editor.shown = window.devicePixelRatio >= 1.5 && pack
      ? bytesOf(pack).then((bytes) => {
        if (!instance.module.setImagePack(2, bytes) || !instance.setEditorScale(2)) return 1;
        editor.scale = 2;
        canvas.width = 0;  // the size, and so the CSS size, is set anew
        show(instance.drawEditor(true));
        return 2;
      }).catch((error) => {
        console.warn(`The editor stays at 1x: ${error.message || error}`);
        return 1;
      })
      : Promise.resolve(1);
  return editor;
}

function buildControls() {
  const box = $('controls');
  for (const parameter of state.parameters) {
    const id = `param-${parameter.index}`;
    const control = document.createElement('div');
    control.className = 'control';
    const label = document.createElement('label');
    label.htmlFor = id;
    label.textContent = parameter.name;
    const slider = document.createElement('input');
    slider.type = 'range';
    slider.id = id;
    slider.min = 0;
    slider.max = parameter.steps ? parameter.steps - 1 : kSliderSteps;
    slider.step = 1;
    slider.dataset.name = parameter.name;
    const output = document.createElement('output');
    output.htmlFor = id;
    slider.addEventListener('input', () => {
      const position = Number(slider.value);
      const range = parameter.steps ? parameter.steps - 1 : kSliderSteps;
      setNormalized(parameter.index, position / range);
    });
    slider.addEventListener('dblclick', () => setNormalized(parameter.index, parameter.defaultNormalized));
    control.append(label, slider, output);
    box.append(control);
    Object.assign(parameter, {slider, output});
    if (parameter.name.toUpperCase() === 'BYPASS') state.bypassIndex = parameter.index;
  }
  refreshControls();
}

function buildPresets() {
  const select = $('preset');
  for (const preset of state.instance.presets()) {
    const option = document.createElement('option');
    option.value = preset.index;
    option.textContent = preset.name;
    option.title = preset.description || '';
    select.append(option);
  }
  select.addEventListener('change', () => {
    if (select.value === '') return;
    const index = Number(select.value);
    state.instance.applyPreset(index);
    if (state.live) state.live.node.port.postMessage({preset: index});
    state.sentValues = state.instance.values();
    $('preset-description').textContent = select.selectedOptions[0].title;
    refreshControls();
  });
}

// ---- Sources ----

// The sample rate a WAV or FLAC file declares, so that it is decoded at its
// own rate (decodeAudioData resamples to its context's); null when unknown.
function declaredRate(bytes) {
  const view = new DataView(bytes);
  const tag = (offset) => String.fromCharCode(...new Uint8Array(bytes, offset, 4));
  if (bytes.byteLength >= 42 && tag(0) === 'fLaC') {
    const b = new Uint8Array(bytes, 18, 3);
    return (b[0] << 12) | (b[1] << 4) | (b[2] >> 4);
  }
  if (bytes.byteLength >= 12 && tag(0) === 'RIFF' && tag(8) === 'WAVE') {
    for (let offset = 12; offset + 8 <= bytes.byteLength;) {
      const size = view.getUint32(offset + 4, true);
      if (tag(offset) === 'fmt ' && offset + 16 <= bytes.byteLength) return view.getUint32(offset + 12, true);
      offset += 8 + size + (size & 1);
    }
  }
  return null;
}

// A WAV or FLAC file to `use` as {name, sampleRate, channels}.
async function useFile(file, use = setSource) {
  try {
    status(`Decoding ${file.name}…`);
    const bytes = await file.arrayBuffer();
    const rate = declaredRate(bytes) || 48000;
    const decoded = await new OfflineAudioContext(1, 1, rate).decodeAudioData(bytes);
    const channels = [];
    for (let c = 0; c < Math.min(2, decoded.numberOfChannels); ++c) channels.push(decoded.getChannelData(c));
    use({name: file.name.replace(/\.[^.]*$/, ''), sampleRate: decoded.sampleRate, channels});
  } catch (error) {
    status(`Could not read ${file.name}: ${error.message || error}`);
  }
}

// The external sidechain, as kestrune-render takes one: it switches
// Sidechain to EXT, and plays along with the source from its start.
function setSidechain(sidechain) {
  stop();
  state.sidechain = sidechain;
  const seconds = sidechain.channels[0].length / sidechain.sampleRate;
  $('sidechain-name').textContent = `Sidechain: ${sidechain.name}, ${sidechain.sampleRate} Hz, ${seconds.toFixed(1)} s`;
  const index = state.parameters.findIndex((p) => p.name.toUpperCase() === 'SIDECHAIN');
  if (index >= 0) state.instance.setValue(index, 0);  // EXT
  refreshControls();
  status('Ready.');
}

// The sidechain at the source's rate (resampled by the browser where the
// rates differ) and length (a shorter one padded with silence, a longer one
// trimmed), so that the two loop together; null without one.
async function fittedSidechain() {
  const {source, sidechain} = state;
  if (!sidechain) return null;
  let channels = sidechain.channels;
  if (sidechain.sampleRate !== source.sampleRate) {
    const frames = Math.ceil(channels[0].length * source.sampleRate / sidechain.sampleRate);
    const context = new OfflineAudioContext(channels.length, frames, source.sampleRate);
    const player = context.createBufferSource();
    player.buffer = audioBufferOf(sidechain, context);
    player.connect(context.destination);
    player.start();
    const rendered = await context.startRendering();
    channels = channels.map((_, c) => rendered.getChannelData(c));
  }
  const length = source.channels[0].length;
  return {sampleRate: source.sampleRate, channels: channels.map((samples) => {
    const fitted = new Float32Array(length);
    fitted.set(samples.subarray(0, length));
    return fitted;
  })};
}

// The source, and the sidechain if any, into `node` (inputs 0 and 1).
async function connectSources(context, node, {loop}) {
  const players = [state.source, await fittedSidechain()].map((source, input) => {
    if (!source) return null;
    const player = context.createBufferSource();
    player.buffer = audioBufferOf(source, context);
    player.loop = loop;
    player.connect(node, 0, input);
    return player;
  }).filter(Boolean);
  return () => players.forEach((player) => player.start(0));
}

function useMaterial() {
  const material = new KestruneModule(state.module).material();
  setSource({name: 'kestrune-drums-and-bass', ...material});
}

function setSource(source) {
  stop();
  state.source = source;
  const seconds = source.channels[0].length / source.sampleRate;
  $('source-name').textContent = `${source.name}: ${source.channels.length === 1 ? 'mono' : 'stereo'}, ` +
      `${source.sampleRate} Hz, ${seconds.toFixed(1)} s`;
  $('play').disabled = false;
  $('download').disabled = false;
  status('Ready.');
}

function audioBufferOf(source, context) {
  const buffer = context.createBuffer(source.channels.length, source.channels[0].length, source.sampleRate);
  source.channels.forEach((samples, c) => buffer.copyToChannel(samples, c));
  return buffer;
}

// The worklet node, set as the controls are, in `context`.
async function kestruneNode(context, {offline = false, record = 0} = {}) {
  await context.audioWorklet.addModule('kestrune-worklet.js');
  return new AudioWorkletNode(context, 'kestrune', {
    numberOfInputs: 2, numberOfOutputs: 1, outputChannelCount: [2],
    channelCount: 2, channelCountMode: 'explicit', channelInterpretation: 'speakers',
    processorOptions: {wasm: state.module, values: state.instance.values(), offline, record},
  });
}

// ---- Playback ----

async function play() {
  if (state.live) return stop();
  const context = new AudioContext({sampleRate: state.source.sampleRate});
  const node = await kestruneNode(context);
  const start = await connectSources(context, node, {loop: true});
  node.connect(context.destination);
  node.port.onmessage = (event) => { if (event.data.meter !== undefined) showMeter(event.data.meter); };
  start();
  state.live = {context, node};
  state.sentValues = state.instance.values();
  $('play').textContent = 'Stop';
}

function stop() {
  if (!state.live) return;
  state.live.context.close();
  state.live = null;
  $('play').textContent = 'Play';
  showMeter(0);
}

function showMeter(reading) {
  const fraction = Math.min(Math.max(reading, 0), 1);
  $('meter-bar').style.width = `${(fraction * 100).toFixed(1)}%`;
  const db = fraction >= 1 ? -Infinity : 20 * Math.log10(1 - fraction);
  $('meter-text').textContent = `${db > -0.05 ? '0.0' : db.toFixed(1)} dB`;
  if (state.editor) state.instance.showEditorMeter(fraction);
}

// ---- Offline render and download ----

// The source (and the sidechain) through Kestrune in an OfflineAudioContext
// at the source's own rate: the destination's samples, and with `record`
// the worklet's own.
async function renderOffline({record = false} = {}) {
  const source = state.source;
  const frames = source.channels[0].length;
  const context = new OfflineAudioContext({numberOfChannels: 2, length: frames, sampleRate: source.sampleRate});
  const node = await kestruneNode(context, {offline: true, record: record ? frames : 0});
  let failure = null;
  const recorded = new Promise((resolve, reject) => {
    node.port.onmessage = (event) => {
      if (event.data.recorded) resolve(event.data.recorded);
      if (event.data.meter !== undefined && !state.live) showMeter(event.data.meter);
    };
    node.onprocessorerror = () => reject(failure = new Error('Kestrune failed in the audio worklet'));
  });
  if (!record) recorded.catch(() => {});
  const start = await connectSources(context, node, {loop: false});
  node.connect(context.destination);
  start();
  const rendered = await context.startRendering();
  if (failure) throw failure;
  const output = [rendered.getChannelData(0), rendered.getChannelData(1)];
  return {output, recorded: record ? await recorded : null, sampleRate: source.sampleRate};
}

// 32-bit float WAV (WAVE_FORMAT_IEEE_FLOAT: a format chunk with its
// extension size, and the fact chunk such files carry): the processed
// samples exactly.
function wavFile(channels, sampleRate) {
  const frames = channels[0].length, count = channels.length, header = 58;
  const bytes = new ArrayBuffer(header + frames * count * 4);
  const view = new DataView(bytes);
  const put = (offset, text) => [...text].forEach((ch, i) => view.setUint8(offset + i, ch.charCodeAt(0)));
  put(0, 'RIFF'); view.setUint32(4, bytes.byteLength - 8, true); put(8, 'WAVE');
  put(12, 'fmt '); view.setUint32(16, 18, true); view.setUint16(20, 3, true); view.setUint16(22, count, true);
  view.setUint32(24, sampleRate, true); view.setUint32(28, sampleRate * count * 4, true);
  view.setUint16(32, count * 4, true); view.setUint16(34, 32, true); view.setUint16(36, 0, true);
  put(38, 'fact'); view.setUint32(42, 4, true); view.setUint32(46, frames, true);
  put(50, 'data'); view.setUint32(54, frames * count * 4, true);
  for (let i = 0, offset = header; i < frames; ++i)
    for (let c = 0; c < count; ++c, offset += 4) view.setFloat32(offset, channels[c][i], true);
  return new Blob([bytes], {type: 'audio/wav'});
}

async function download() {
  status('Rendering…');
  const {output, sampleRate} = await renderOffline();
  const link = document.createElement('a');
  link.href = URL.createObjectURL(wavFile(output, sampleRate));
  link.download = `${state.source.name}-kestrune.wav`;
  link.click();
  setTimeout(() => URL.revokeObjectURL(link.href), 10000);
  status('Done.');
}

// ---- Start ----

async function start() {
  // Compiled while it downloads where the server names its type; the
  // worklets get the compiled module, not the bytes.
  const response = fetch('kestrune.wasm');
  const compiled = WebAssembly.compileStreaming(response)
      .catch(async () => WebAssembly.compile(await (await fetch('kestrune.wasm')).arrayBuffer()));
  const modulePromise = compiled.then((compiledModule) => new KestruneModule(compiledModule));
  // The editor's files go in before the instance that builds the editor.
  const manifest = await handEditorAssets(modulePromise);
  state.module = await compiled;
  const module = await modulePromise;
  state.instance = module.create(48000, 128);
  state.parameters = state.instance.parameters();
  if (manifest) state.editor = showEditor(manifest);
  if (state.editor) state.editor.decodingMs = decodingMs;
  buildControls();
  buildPresets();
  const drop = $('drop');
  $('file').addEventListener('change', (event) => event.target.files[0] && useFile(event.target.files[0]));
  $('sidechain-file').addEventListener('change',
                                       (event) => event.target.files[0] && useFile(event.target.files[0], setSidechain));
  drop.addEventListener('dragover', (event) => { event.preventDefault(); drop.classList.add('over'); });
  drop.addEventListener('dragleave', () => drop.classList.remove('over'));
  drop.addEventListener('drop', (event) => {
    event.preventDefault();
    drop.classList.remove('over');
    if (event.dataTransfer.files[0]) useFile(event.dataTransfer.files[0]);
  });
  $('material').addEventListener('click', useMaterial);
  $('play').addEventListener('click', play);
  $('download').addEventListener('click', download);
  $('bypass').addEventListener('click', () => {
    if (state.bypassIndex < 0) return;
    const on = state.instance.value(state.bypassIndex) >= 0.5;
    setNormalized(state.bypassIndex, on ? 0 : 1);
  });
  const readyMs = performance.now();  // since the navigation began
  status(`Ready in ${readyMs.toFixed(0)} ms: choose a file or the drums and bass.`);
  return readyMs;
}

const ready = start().catch((error) => { status(`Kestrune could not start: ${error.message || error}`); throw error; });
window.kestrunePage = {ready, useMaterial, renderOffline, wavFile, state};
