// SPDX-License-Identifier: MIT
// Values in a pin's unit: what a person types, what the slider's position means, what is sent.
// Settings go to the API as text carrying the unit ("250ms", "-6dB", "440Hz"), which the render
// reads as a user value; a bare number would be the raw pin value for a time pin.

const SUFFIXES = {s: [["ms", 1e-3], ["smp", null], ["s", 1]], ms: [["ms", 1], ["s", 1e3]],
                  dB: [["dB", 1], ["db", 1]], Hz: [["kHz", 1e3], ["Hz", 1]], "%": [["%", 1]]};

export const isTime = (unit) => unit === "s" || unit === "ms";

// The pin's mapping as the description gives it, or as a patch control names it.
export function isLogarithmic(entry) {
  const mapping = entry.mapping;
  const kind = typeof mapping === "string" ? mapping : mapping?.kind;
  return kind === "log" || kind === "logarithmic" || entry.scale === "logarithmic";
}

// "250ms" -> 0.25 for a pin in seconds; a plain number is taken in the pin's unit. NaN if unreadable.
export function parseValue(text, unit) {
  if (typeof text === "number") return text;
  let t = String(text).trim();
  let factor = 1;
  for (const [suffix, f] of SUFFIXES[unit] ?? []) {
    if (t.endsWith(suffix)) {
      if (f === null) return NaN;
      t = t.slice(0, -suffix.length).trim();
      factor = f;
      break;
    }
  }
  if (!/^[-+]?(\d+\.?\d*|\.\d+)(e[-+]?\d+)?$/i.test(t)) return NaN;
  return Number(t) * factor;
}

// Four significant digits: fine enough for a slider, short enough for a command line.
export const round = (value) => Number(value.toPrecision(4));

// What is shown in the entry box and sent to the render.
export function formatValue(value, unit) {
  const v = round(value);
  if (unit === "s") return Math.abs(v) < 1 ? `${round(v * 1000)}ms` : `${v}s`;
  if (unit === "ms") return `${v}ms`;
  if (unit === "dB") return `${v}dB`;
  if (unit === "Hz") return `${v}Hz`;
  if (unit === "%") return `${v}%`;
  return `${v}`;
}

// The slider runs 0..1000; logarithmic entries spread their range evenly in log.
const STEPS = 1000;
export function toPosition(value, entry) {
  const {minimum: lo, maximum: hi} = entry;
  const t = isLogarithmic(entry) && lo > 0 ? Math.log(value / lo) / Math.log(hi / lo) : (value - lo) / (hi - lo);
  return Math.round(Math.min(1, Math.max(0, t)) * STEPS);
}
export function fromPosition(position, entry) {
  const {minimum: lo, maximum: hi} = entry;
  const t = position / STEPS;
  return isLogarithmic(entry) && lo > 0 ? lo * Math.pow(hi / lo, t) : lo + t * (hi - lo);
}
export const SLIDER_STEPS = STEPS;
