// SPDX-License-Identifier: MIT
// The studio page: controls and notes in, the real render out (drawn and played), exports.
import {decodeSamples, getSubject, postRender} from "./api.js";
import {Player, TONE_HZ} from "./audio.js";
import {buildControls, controlEntries, settingText} from "./controls.js";
import {showExports, wireExports} from "./export.js";
import {drawGraph} from "./graph.js";
import {Plot} from "./plot.js";
import {wireScheme} from "./scheme.js";
import {keyName, Timeline} from "./timeline.js";

const $ = (id) => document.getElementById(id);
const DEBOUNCE_MS = 15;
// Computer keys to semitones above the octave's C, as on a piano's white and black keys.
const KEYS = {a: 0, w: 1, s: 2, e: 3, d: 4, f: 5, t: 6, g: 7, y: 8, h: 9, u: 10, j: 11, k: 12};
const KEY_GATE_S = 0.4, KEY_TAIL_S = 1.2;

const state = {subject: null, entries: [], values: {}, notes: [], length: 2, rate: 48000, octave: 4};
let render = null;
let renders = 0;
let pending = null, inFlight = null, timer = 0;

const plot = new Plot($("tracks"));
const player = new Player((sample) => plot.setPosition(sample));
const timeline = new Timeline($("timeline"), (notes) => { state.notes = notes; scheduleRender(); });

function say(text, isError = false) {
  $("status").textContent = isError ? "" : text;
  $("error").hidden = !isError;
  if (isError) $("error").textContent = text;
}

function settings() {
  return Object.fromEntries(state.entries.map((e) => [e.key, settingText(e, state.values[e.key])]));
}

const isInstrument = () => Boolean(state.subject?.instrument);
// Keys and velocities (1..127, as --note ON:OFF:KEY:VELOCITY) only for a patch; a module has one gate.
const noteForRequest = (n) => (state.subject.kind === "patch" ? {on: n.on, off: n.off, key: n.key ?? 60, velocity: n.velocity ?? 100}
                                                              : {on: n.on, off: n.off});

function request(notes = state.notes, length = state.length) {
  return {settings: settings(), notes: notes.map(noteForRequest), length, rate: state.rate};
}

async function fetchRender(body) {
  inFlight?.abort();
  const abort = new AbortController();
  inFlight = abort;
  try {
    const answer = await postRender(body, abort.signal);
    return {...answer, tracks: answer.tracks.map((t) => ({...t, samples: decodeSamples(t.samples)}))};
  } finally {
    if (inFlight === abort) inFlight = null;
  }
}

// Changes come in bursts (a slider dragged): render once they pause, and drop a stale answer.
function scheduleRender() {
  clearTimeout(timer);
  timer = setTimeout(runRender, DEBOUNCE_MS);
}

async function runRender() {
  const body = request();
  pending = body;
  const started = performance.now();
  try {
    const answer = await fetchRender(body);
    if (pending !== body) return;
    show(answer);
    say(`Rendered in ${Math.round(performance.now() - started)} ms`);
  } catch (error) {
    if (error.name === "AbortError") return;
    say(String(error.message ?? error), true);
  }
}

function show(answer) {
  render = answer;
  plot.show(answer);
  const attack = (answer.segments ?? []).find((s) => s.stage === "attack");
  const tracks = $("tracks");
  tracks.dataset.attackEnd = attack ? String(attack.end) : "";
  tracks.dataset.length = String(answer.length);
  document.body.dataset.renders = String(++renders);
  $("summary").textContent = answer.summary?.text ?? JSON.stringify(answer.summary, null, 2);
  showExports(answer, answer.score ?? score(), state.subject.name ?? "kvx");
}

// The score of what was rendered, in kvx render's score format, when the server sends none back.
function score() {
  const parameters = Object.fromEntries(state.entries.map((e) => {
    const text = settingText(e, state.values[e.key]);
    return [e.key, e.datatype === "bool" ? Boolean(state.values[e.key]) : (e.unit === "none" ? Number(text) : text)];
  }));
  return {length: `${state.length}s`, parameters, notes: state.notes.map(noteForRequest)};
}

// A module's output in 0..1 is a control signal (an envelope): heard as the gain of a tone.
function playsAsTone() {
  if (state.subject.kind !== "module") return false;
  const out = (state.subject.description?.pins ?? []).find((p) => p.direction === "out");
  return out !== undefined && out.minimum === 0 && out.maximum === 1;
}

async function play(answer = render) {
  if (!answer) return;
  $("play").textContent = "Stop";
  $("play").setAttribute("aria-pressed", "true");
  try {
    await player.play(answer.tracks[0].samples, answer.rate, playsAsTone());
  } catch (error) {
    say(`Cannot play: ${error.message ?? error}`, true);
  }
  if (!player.playing) {
    $("play").textContent = "Play";
    $("play").setAttribute("aria-pressed", "false");
  }
}

function togglePlay() {
  if (player.playing) player.stop();
  else play();
}

// For an instrument: a key renders a note of its own and plays it (render, then play).
async function playKey(semitone) {
  const key = 12 * (state.octave + 1) + semitone;
  const note = {on: 0, off: KEY_GATE_S, key, velocity: 100};
  try {
    const answer = await fetchRender(request([note], KEY_GATE_S + KEY_TAIL_S));
    say(`Playing ${keyName(key)}`);
    play(answer);
  } catch (error) {
    if (error.name !== "AbortError") say(String(error.message ?? error), true);
  }
}

// A MIDI file chosen for an instrument: rendered by the server, drawn, then played.
async function playMidiFile(file) {
  const bytes = new Uint8Array(await file.arrayBuffer());
  let binary = "";
  for (let i = 0; i < bytes.length; i += 0x8000) binary += String.fromCharCode(...bytes.subarray(i, i + 0x8000));
  try {
    const answer = await fetchRender({midi: btoa(binary), rate: state.rate});
    answer.command = answer.command.replace("FILE.mid", /^[\w.,+-]+$/.test(file.name) ? file.name : "FILE.mid");
    show(answer);
    say(`Playing ${file.name}`);
    await play(answer);
  } catch (error) {
    if (error.name !== "AbortError") say(String(error.message ?? error), true);
  }
}

function typingInto(target) {
  return target instanceof HTMLInputElement || target instanceof HTMLTextAreaElement ||
         target instanceof HTMLSelectElement || target?.isContentEditable;
}

function wireKeys() {
  document.addEventListener("keydown", (e) => {
    if (e.repeat || e.ctrlKey || e.metaKey || e.altKey || typingInto(e.target)) return;
    if (e.key === " " && !(e.target instanceof HTMLButtonElement) && !(e.target instanceof SVGElement)) {
      e.preventDefault();
      togglePlay();
      return;
    }
    if (!isInstrument()) return;
    const k = e.key.toLowerCase();
    if (k in KEYS) { e.preventDefault(); playKey(KEYS[k]); }
    if (k === "z" || k === "x") {
      state.octave = Math.min(8, Math.max(0, state.octave + (k === "z" ? -1 : 1)));
      $("octave").textContent = `Octave: C${state.octave} to C${state.octave + 1}`;
    }
  });
}

function describePlayback() {
  if (state.subject.kind === "patch") return "Play: the patch's sound (its first output, as kvx render writes it)";
  return playsAsTone() ? `Play: the envelope as the gain of a ${TONE_HZ} Hz sine`
                       : "Play: the module's output as sound";
}

async function start() {
  wireScheme($("theme"), () => plot.redraw());
  wireExports(settings, say);
  wireKeys();
  $("play").addEventListener("click", togglePlay);
  $("add-note").addEventListener("click", () => timeline.add());
  $("midi-file").addEventListener("change", (e) => { if (e.target.files[0]) playMidiFile(e.target.files[0]); });
  $("length").addEventListener("change", () => {
    const length = Number($("length").value);
    if (!(length > 0 && length <= 60)) { $("length").setAttribute("aria-invalid", "true"); return; }
    $("length").removeAttribute("aria-invalid");
    state.length = length;
    timeline.set(state.notes, state.length, isInstrument());
    scheduleRender();
  });
  window.addEventListener("resize", () => { plot.redraw(); timeline.draw(); });

  const subject = await getSubject();
  state.subject = subject;
  state.entries = controlEntries(subject);
  state.values = Object.fromEntries(state.entries.map((e) => [e.key, e.default]));
  const defaults = subject.defaults ?? {};
  state.length = Number(defaults.length ?? 2);
  state.rate = Number(defaults.rate ?? 48000);
  state.notes = (defaults.notes ?? [{on: 0, off: Math.min(1, state.length / 2)}]).map((n) => ({key: 60, velocity: 100, ...n}));

  const title = subject.title ?? subject.name;
  $("subject-title").textContent = title;
  document.title = `${title} · kvx studio`;
  $("view-heading").textContent = subject.kind === "patch" ? "What the patch does" : "What the module does";
  $("length").value = String(state.length);
  $("play-what").textContent = describePlayback();
  $("keyboard").hidden = !isInstrument();
  $("octave").textContent = `Octave: C${state.octave} to C${state.octave + 1}`;
  if (subject.kind === "patch" && subject.patch) {
    $("graph-box").hidden = false;
    drawGraph($("graph"), subject.patch);
  }
  buildControls($("controls"), state.entries, state.values, (key, value) => {
    state.values[key] = value;
    scheduleRender();
  });
  timeline.set(state.notes, state.length, isInstrument());
  await runRender();
}

// For the tests and for the curious: the page's state and a tap on what it plays.
window.kvxStudio = {
  state, get render() { return render; },
  recordNextPlay: () => player.recordNextPlay(),
  ready: start().catch((error) => { say(String(error.message ?? error), true); throw error; }),
};
