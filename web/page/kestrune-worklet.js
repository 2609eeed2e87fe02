// The AudioWorkletProcessor that runs Kestrune: one instance of the
// WebAssembly module per node, fed each render quantum: input 0 the signal,
// input 1 the external sidechain.
//
// processorOptions: {wasm: the compiled module (or its bytes), values: the plain
// value of every parameter, offline: true in an OfflineAudioContext, record:
// frames to keep of the output (0: none)}.
// Messages in: {set: index, normalized}, {values: [...]}, {preset: index}.
// Messages out: {meter: reading} about every 20 ms, and {recorded: [left,
// right]} once `record` frames have run: the samples as the processor wrote
// them, before anything of the browser's touches them.
import {KestruneModule} from './kestrune-module.js';

const kNoInput = Object.freeze([]);

class KestruneProcessor extends AudioWorkletProcessor {
  constructor(options) {
    super();
    const settings = options.processorOptions;
    const wasm = settings.wasm instanceof WebAssembly.Module ? settings.wasm
                                                              : new WebAssembly.Module(settings.wasm);
    this.kestrune = new KestruneModule(wasm).create(sampleRate, 128, settings.offline);
    this.applyValues(settings.values || []);
    this.recordFrames = settings.record || 0;
    this.recorded = this.recordFrames ? [new Float32Array(this.recordFrames),
                                         new Float32Array(this.recordFrames)] : null;
    this.framesRun = 0;
    this.meterEvery = Math.max(1, Math.round(sampleRate * 0.02 / 128));
    this.quanta = 0;
    this.port.onmessage = (event) => this.receive(event.data);
  }

  applyValues(values) {
    values.forEach((value, index) => this.kestrune.setValue(index, value));
  }

  receive(message) {
    if (message.set !== undefined) this.kestrune.setNormalized(message.set, message.normalized);
    if (message.values) this.applyValues(message.values);
    if (message.preset !== undefined) this.kestrune.applyPreset(message.preset);
  }

  process(inputs, outputs) {
    const output = outputs[0];
    if (!output || output.length < 2) return true;
    this.kestrune.process(inputs[0] || kNoInput, output, inputs[1] || kNoInput);
    if (this.recorded && this.framesRun < this.recordFrames) {
      const count = Math.min(output[0].length, this.recordFrames - this.framesRun);
      for (let c = 0; c < 2; ++c)
        this.recorded[c].set(output[c].subarray(0, count), this.framesRun);
      if (this.framesRun + count === this.recordFrames)
        this.port.postMessage({recorded: this.recorded});
    }
    this.framesRun += output[0].length;
    const reading = this.kestrune.meter();
    if (reading >= 0 && ++this.quanta % this.meterEvery === 0)
      this.port.postMessage({meter: reading});
    return true;
  }
}

registerProcessor('kestrune', KestruneProcessor);
