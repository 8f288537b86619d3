// SPDX-License-Identifier: MIT
// Plays the rendered samples exactly as they came, one float32 after another. Output 0 carries the
// samples; output 1 is 1 while they play and 0 otherwise, so that a tap can tell them from silence.
class Player extends AudioWorkletProcessor {
  constructor() {
    super();
    this.samples = null;
    this.next = 0;
    this.port.onmessage = ({data}) => {
      if (data.samples) { this.samples = data.samples; this.next = 0; }
      if (data.stop) this.samples = null;
    };
  }

  process(_inputs, outputs) {
    const [out, flag] = [outputs[0][0], outputs[1][0]];
    out.fill(0);
    flag.fill(0);
    if (!this.samples) return true;
    const count = Math.min(out.length, this.samples.length - this.next);
    out.set(this.samples.subarray(this.next, this.next + count));
    flag.fill(1, 0, count);
    this.next += count;
    this.port.postMessage({position: this.next});
    if (this.next >= this.samples.length) {
      this.samples = null;
      this.port.postMessage({ended: true});
    }
    return true;
  }
}
registerProcessor("kvx-player", Player);
