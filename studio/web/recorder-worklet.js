// SPDX-License-Identifier: MIT
// Records what reaches input 0 while input 1 (the player's flag) is 1, and hands it over when
// the flag falls: the PCM the page fed to the audio graph, sample for sample.
class Recorder extends AudioWorkletProcessor {
  constructor() {
    super();
    this.chunks = [];
    this.recording = false;
  }

  process(inputs) {
    const samples = inputs[0][0], flag = inputs[1][0];
    if (!samples || !flag) {
      if (this.recording) this.finish();
      return true;
    }
    let count = 0;
    while (count < flag.length && flag[count] === 1) ++count;
    if (count > 0) {
      this.recording = true;
      this.chunks.push(samples.slice(0, count));
    }
    if (this.recording && count < flag.length) this.finish();
    return true;
  }

  finish() {
    const length = this.chunks.reduce((n, c) => n + c.length, 0);
    const all = new Float32Array(length);
    let at = 0;
    for (const chunk of this.chunks) { all.set(chunk, at); at += chunk.length; }
    this.port.postMessage({samples: all}, [all.buffer]);
    this.chunks = [];
    this.recording = false;
  }
}
registerProcessor("kvx-recorder", Recorder);
