// SPDX-License-Identifier: MIT
// Playback through WebAudio: the rendered samples go out of an AudioWorklet unchanged. A module's
// output in 0..1 (an envelope) sets the gain of a sine tone; any other output is played as sound.

import {withToken} from "./api.js";

export const TONE_HZ = 220;

export class Player {
  constructor(onPosition) {
    this.context = null;
    this.node = null;
    this.onPosition = onPosition;
    this.reported = null;
    this.pendingRecording = null;
    this.chain = [];
  }

  async ready(rate) {
    if (this.context && this.context.sampleRate === rate) return;
    if (this.context) await this.context.close();
    this.context = new AudioContext({sampleRate: rate, latencyHint: "interactive"});
    await Promise.all([this.context.audioWorklet.addModule(withToken("player-worklet.js")),
                       this.context.audioWorklet.addModule(withToken("recorder-worklet.js"))]);
  }

  // `asTone`: the samples are a gain applied to a TONE_HZ sine rather than a sound of their own.
  async play(samples, rate, asTone) {
    await this.ready(rate);
    this.stop();
    const c = this.context;
    await c.resume();
    const node = new AudioWorkletNode(c, "kvx-player", {numberOfInputs: 0, numberOfOutputs: 2, outputChannelCount: [1, 1]});
    const master = new GainNode(c, {gain: 0.7});
    master.connect(c.destination);
    this.chain = [node, master];
    if (asTone) {
      const tone = new OscillatorNode(c, {frequency: TONE_HZ});
      const shaped = new GainNode(c, {gain: 0});
      node.connect(shaped.gain, 0);
      tone.connect(shaped).connect(master);
      tone.start();
      this.chain.push(tone, shaped);
    } else {
      node.connect(master, 0);
    }
    if (this.pendingRecording) this.attachRecorder(node, this.pendingRecording);
    this.pendingRecording = null;
    this.node = node;
    return new Promise((resolve) => {
      node.port.onmessage = ({data}) => {
        if (data.position !== undefined) this.reported = {frame: data.position, time: c.currentTime};
        if (data.ended) { this.finish(node); resolve(); }
      };
      node.port.postMessage({samples: samples.slice()});
      this.tick();
    });
  }

  // The next play's PCM as it leaves the player node (for the tests: it must equal the render).
  recordNextPlay() {
    return new Promise((resolve) => { this.pendingRecording = resolve; });
  }

  attachRecorder(node, resolve) {
    const recorder = new AudioWorkletNode(this.context, "kvx-recorder", {numberOfInputs: 2, numberOfOutputs: 1,
                                                                       channelCount: 1, channelCountMode: "explicit"});
    node.connect(recorder, 0, 0);
    node.connect(recorder, 1, 1);
    recorder.connect(this.context.destination);
    // The recorder stays connected (and so running) until it has handed the samples over.
    recorder.port.onmessage = ({data}) => { recorder.disconnect(); resolve(data.samples); };
  }

  tick() {
    if (!this.node) return;
    if (this.reported) {
      const c = this.context;
      this.onPosition(this.reported.frame + (c.currentTime - this.reported.time) * c.sampleRate);
    }
    requestAnimationFrame(() => this.tick());
  }

  finish(node) {
    if (this.node !== node) return;
    this.node = null;
    this.reported = null;
    this.onPosition(null);
    const chain = this.chain;
    this.chain = [];
    // A moment later, so that a recorder sees the flag fall before the player goes.
    setTimeout(() => chain.forEach(release), 100);
  }

  stop() {
    if (!this.node) return;
    this.node.port.postMessage({stop: true});
    this.finish(this.node);
  }

  get playing() { return this.node !== null; }
}

function release(node) {
  if (node instanceof OscillatorNode) node.stop();
  node.disconnect();
}
