// The Kestrune WebAssembly module as the page and its AudioWorklet use it:
// instantiation with the few system calls wasi-libc may make (none of which
// the plug-in needs: output goes to the console, everything else is
// refused), and a small wrapper over the exports (WebExports.cpp).

const kNoSystem = 52;  // WASI's ENOSYS

// UTF-8 to a string. An AudioWorklet's scope has no TextDecoder: there the
// bytes are taken as Latin-1, which is exact for the plug-in's ASCII texts.
function decodeText(bytes) {
  if (typeof TextDecoder !== 'undefined') return new TextDecoder().decode(bytes);
  let text = '';
  for (const byte of bytes) text += String.fromCharCode(byte);
  return text;
}

function systemImports(memoryOf) {
  const calls = {
    // Text the C library writes to stdout or stderr: to the console.
    fd_write(fd, iovs, iovsLength, writtenOut) {
      const view = new DataView(memoryOf().buffer);
      let text = '', written = 0;
      for (let i = 0; i < iovsLength; ++i) {
        const base = view.getUint32(iovs + 8 * i, true);
        const length = view.getUint32(iovs + 8 * i + 4, true);
        text += decodeText(new Uint8Array(memoryOf().buffer, base, length));
        written += length;
      }
      view.setUint32(writtenOut, written, true);
      if (text.trim()) console.log(`kestrune.wasm (fd ${fd}): ${text.trimEnd()}`);
      return 0;
    },
    environ_sizes_get(countOut, bytesOut) {
      const view = new DataView(memoryOf().buffer);
      view.setUint32(countOut, 0, true);
      view.setUint32(bytesOut, 0, true);
      return 0;
    },
    environ_get() { return 0; },
    proc_exit(code) { throw new Error(`kestrune.wasm exited with status ${code}`); },
  };
  return new Proxy(calls, {
    get: (target, name) => target[name] || (() => kNoSystem),
  });
}

export class KestruneModule {
  // `module`: a compiled WebAssembly.Module of kestrune.wasm. Synchronous,
  // so that an AudioWorkletProcessor's constructor can make one.
  constructor(module) {
    let instance = null;
    const memoryOf = () => instance.exports.memory;
    instance = new WebAssembly.Instance(module, {wasi_snapshot_preview1: systemImports(memoryOf)});
    this.exports = instance.exports;
    this.exports._initialize();
  }

  // Views are made afresh: the memory's buffer changes when it grows.
  floats(address, length) { return new Float32Array(this.exports.memory.buffer, address, length); }

  text(address) {
    if (!address) return null;
    const bytes = new Uint8Array(this.exports.memory.buffer);
    let end = address;
    while (bytes[end] !== 0) ++end;
    return decodeText(bytes.subarray(address, end));
  }

  // A new instance, for an offline render or live playback; throws when the
  // rate or block size is refused.
  create(sampleRate, maxFrames, offline = false) {
    const handle = this.exports.kestrune_create(sampleRate, maxFrames, offline ? 1 : 0);
    if (!handle) throw new Error(`Kestrune refused ${sampleRate} Hz / ${maxFrames} frames`);
    return new KestruneInstance(this, handle, maxFrames);
  }

  // Calls export `name` with a copy of `bytes` in the module's memory (and
  // their length) after `leading` arguments; its answer.
  withBytes(name, bytes, ...leading) {
    const address = this.exports.kestrune_alloc(bytes.byteLength);
    if (!address) return 0;
    new Uint8Array(this.exports.memory.buffer, address, bytes.byteLength)
        .set(bytes instanceof Uint8Array ? bytes : new Uint8Array(bytes));
    const answer = this.exports[name](...leading, address, bytes.byteLength);
    this.exports.kestrune_free(address);
    return answer;
  }

  // What the editor draws with; each true when taken. The 1x images must be
  // in before the instance whose editor is drawn is made.
  addImage(resourceId, png) { return this.withBytes('kestrune_add_image', png, resourceId) === 1; }
  setImagePack(scale, pack) { return this.withBytes('kestrune_set_image_pack', pack, scale) === 1; }
  setGlyphs(table) { return this.withBytes('kestrune_set_glyphs', table) === 1; }

  // The embedded drums and bass, as the float samples a host feeds.
  material() {
    const e = this.exports;
    const frames = e.kestrune_material_frames();
    const scratch = e.kestrune_alloc(frames * 4);
    const channels = [0, 1].map((channel) => {
      e.kestrune_material_read(channel, 0, frames, scratch);
      return this.floats(scratch, frames).slice();
    });
    e.kestrune_free(scratch);
    return {sampleRate: e.kestrune_material_rate(), channels};
  }
}

export class KestruneInstance {
  constructor(module, handle, maxFrames) {
    this.module = module;
    this.e = module.exports;
    this.handle = handle;
    this.maxFrames = maxFrames;
  }

  // The parameter table, as the module reports it.
  parameters() {
    const list = [];
    for (let i = 0; i < this.e.kestrune_param_count(this.handle); ++i) {
      list.push({
        index: i,
        name: this.module.text(this.e.kestrune_param_name(this.handle, i)),
        steps: this.e.kestrune_param_steps(this.handle, i),
        defaultNormalized: this.e.kestrune_param_default_normalized(this.handle, i),
      });
    }
    return list;
  }
  normalized(index) { return this.e.kestrune_param_normalized(this.handle, index); }
  value(index) { return this.e.kestrune_param_value(this.handle, index); }
  display(index) { return this.module.text(this.e.kestrune_param_display(this.handle, index)); }
  values() {
    const values = [];
    for (let i = 0; i < this.e.kestrune_param_count(this.handle); ++i) values.push(this.value(i));
    return values;
  }
  setNormalized(index, normalized) {
    return this.e.kestrune_set_param_normalized(this.handle, index, normalized) === 1;
  }
  setValue(index, plain) { return this.e.kestrune_set_param(this.handle, index, plain) === 1; }

  presets() {
    const list = [];
    for (let i = 0; i < this.e.kestrune_preset_count(this.handle); ++i) {
      list.push({
        index: i,
        name: this.module.text(this.e.kestrune_preset_name(this.handle, i)),
        description: this.module.text(this.e.kestrune_preset_description(i)),
      });
    }
    return list;
  }
  applyPreset(index) { return this.e.kestrune_apply_preset(this.handle, index) === 1; }

  // Views on the instance's buffers, made again only when the memory has
  // grown (its buffer is then another): a block makes no garbage for the
  // audio thread's collector.
  buffers() {
    const memory = this.e.memory.buffer;
    if (this.views && this.views.memory === memory) return this.views;
    const view = (address) => new Float32Array(memory, address, this.maxFrames);
    this.views = {
      memory,
      inputs: [0, 1, 2, 3].map((c) => view(this.e.kestrune_input(this.handle, c))),
      outputs: [0, 1].map((c) => view(this.e.kestrune_output(this.handle, c))),
    };
    return this.views;
  }

  // Runs one block: `inputs` and the external `sidechain` (each no, one or
  // two Float32Arrays; a mono input feeds both sides, none gives silence)
  // into `outputs` (two Float32Arrays of the same length, at most the
  // instance's block size).
  process(inputs, outputs, sidechain = []) {
    const frames = outputs[0].length;
    const whole = frames === this.maxFrames;
    const views = this.buffers();
    for (let c = 0; c < 4; ++c) {
      const buffer = whole ? views.inputs[c] : views.inputs[c].subarray(0, frames);
      const from = c < 2 ? inputs : sidechain;
      const source = from[Math.min(c % 2, from.length - 1)];
      if (source) buffer.set(source); else buffer.fill(0);
    }
    if (this.e.kestrune_process(this.handle, frames) !== 1) throw new Error('block refused');
    for (let c = 0; c < 2; ++c)
      outputs[c].set(whole ? views.outputs[c] : views.outputs[c].subarray(0, frames));
  }

  // The gain-reduction meter's latest reading (0..1), or -1 when none is new.
  meter() { return this.e.kestrune_meter(this.handle); }

  // ---- The editor (where the module has its images) ----

  hasEditor() { return this.e.kestrune_editor_size(this.handle, 0) > 0; }
  setEditorScale(scale) { return this.e.kestrune_editor_set_scale(this.handle, scale) === 1; }
  // What changed since the last call (everything with `all`) as ImageData,
  // or null when nothing did.
  drawEditor(all = false) {
    const address = this.e.kestrune_editor_draw(this.handle, all ? 1 : 0);
    if (!address) return null;
    const width = this.e.kestrune_editor_size(this.handle, 0), height = this.e.kestrune_editor_size(this.handle, 1);
    const pixels = new Uint8ClampedArray(this.e.memory.buffer, address, width * height * 4);
    return new ImageData(pixels.slice(), width, height);
  }
  // The pointer, in the picture's pixels (kestrune_editor_pointer's kinds).
  pointer(kind, x, y, {buttons = 0, shift = false, control = false, alt = false} = {}, steps = 0) {
    const keys = (shift ? 1 : 0) | (control ? 2 : 0) | (alt ? 4 : 0);
    return this.e.kestrune_editor_pointer(this.handle, kind, x, y, buttons, keys, steps) === 1;
  }
  showEditorMeter(reading) { return this.e.kestrune_editor_show_meter(this.handle, reading) === 1; }
}
