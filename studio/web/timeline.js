// SPDX-License-Identifier: MIT
// Notes as gate spans on a timeline: drag a span to move it, an end to resize it; with a span
// focused, the arrow keys move it (Shift: its end), Up/Down change its key, Delete removes it.

const SVG = "http://www.w3.org/2000/svg";
const HEIGHT = 56;
const MIN_GATE = 0.001;
const NAMES = ["C", "C#", "D", "D#", "E", "F", "F#", "G", "G#", "A", "A#", "B"];
export const keyName = (key) => `${NAMES[key % 12]}${Math.floor(key / 12) - 1}`;

const element = (name, attributes = {}) => {
  const e = document.createElementNS(SVG, name);
  for (const [k, v] of Object.entries(attributes)) e.setAttribute(k, v);
  return e;
};
const round3 = (t) => Math.round(t * 1000) / 1000;

export class Timeline {
  constructor(container, onChange) {
    this.container = container;
    this.onChange = onChange;
    this.notes = [];
    this.length = 1;
    this.showKeys = false;
    this.focused = -1;
  }

  set(notes, length, showKeys) {
    this.notes = notes.map((n) => ({...n}));
    this.length = length;
    this.showKeys = showKeys;
    this.draw();
  }

  changed() {
    this.draw();
    this.onChange(this.notes.map((n) => ({...n})));
  }

  draw() {
    const width = Math.max(200, this.container.clientWidth || 600);
    const svg = element("svg", {viewBox: `0 0 ${width} ${HEIGHT}`, preserveAspectRatio: "none",
                                role: "group", "aria-label": "Notes on the timeline"});
    const x = (t) => (t / this.length) * width;
    const step = niceStep(this.length);
    for (let t = 0; t <= this.length + 1e-9; t += step) {
      svg.append(element("line", {class: "tick", x1: x(t), x2: x(t), y1: HEIGHT - 10, y2: HEIGHT}));
      const label = element("text", {class: "ticklabel", x: x(t) + 2, y: HEIGHT - 2});
      label.textContent = `${round3(t)}s`;
      svg.append(label);
    }
    this.notes.forEach((note, index) => {
      const x0 = x(note.on), x1 = x(Math.min(note.off, this.length));
      const span = element("rect", {class: "span", x: x0, y: 6, width: Math.max(2, x1 - x0), height: HEIGHT - 22,
                                    tabindex: 0, role: "button", "data-index": index,
                                    "aria-label": this.describe(note, index)});
      const text = element("text", {class: "label", x: x0 + 4, y: 22});
      text.textContent = this.showKeys ? `${keyName(note.key ?? 60)}` : `${index + 1}`;
      const left = element("rect", {class: "edge", x: x0 - 4, y: 6, width: 8, height: HEIGHT - 22});
      const right = element("rect", {class: "edge", x: x1 - 4, y: 6, width: 8, height: HEIGHT - 22});
      this.drag(span, index, "move");
      this.drag(left, index, "on");
      this.drag(right, index, "off");
      span.addEventListener("keydown", (e) => this.key(e, index));
      span.addEventListener("focus", () => { this.focused = index; });
      svg.append(span, text, left, right);
    });
    this.container.replaceChildren(svg);
    if (this.focused >= 0 && this.focused < this.notes.length && this.refocus) {
      svg.querySelector(`[data-index="${this.focused}"]`)?.focus();
      this.refocus = false;
    }
  }

  describe(note, index) {
    const key = this.showKeys ? `, key ${keyName(note.key ?? 60)}` : "";
    return `Note ${index + 1}: on at ${round3(note.on)} s, off at ${round3(note.off)} s${key}`;
  }

  drag(target, index, what) {
    target.addEventListener("pointerdown", (down) => {
      down.preventDefault();
      target.setPointerCapture(down.pointerId);
      const start = {...this.notes[index]};
      const move = (e) => {
        const dt = ((e.clientX - down.clientX) / target.ownerSVGElement.getBoundingClientRect().width) * this.length;
        const note = this.notes[index];
        if (what === "move") {
          const gate = start.off - start.on;
          note.on = round3(Math.min(Math.max(0, start.on + dt), this.length - MIN_GATE));
          note.off = round3(note.on + gate);
        } else if (what === "on") {
          note.on = round3(Math.min(Math.max(0, start.on + dt), start.off - MIN_GATE));
        } else {
          note.off = round3(Math.max(start.on + MIN_GATE, start.off + dt));
        }
        this.changed();
      };
      const up = () => { target.removeEventListener("pointermove", move); target.removeEventListener("pointerup", up); };
      target.addEventListener("pointermove", move);
      target.addEventListener("pointerup", up);
    });
  }

  key(e, index) {
    const note = this.notes[index];
    const step = e.altKey ? 0.001 : 0.01;
    if (e.key === "ArrowLeft" || e.key === "ArrowRight") {
      const dt = e.key === "ArrowLeft" ? -step : step;
      if (e.shiftKey) note.off = round3(Math.max(note.on + MIN_GATE, note.off + dt));
      else {
        const gate = note.off - note.on;
        note.on = round3(Math.max(0, note.on + dt));
        note.off = round3(note.on + gate);
      }
    } else if (this.showKeys && (e.key === "ArrowUp" || e.key === "ArrowDown")) {
      note.key = Math.min(127, Math.max(0, (note.key ?? 60) + (e.key === "ArrowUp" ? 1 : -1)));
    } else if (e.key === "Delete" || e.key === "Backspace") {
      this.notes.splice(index, 1);
      this.focused = Math.min(index, this.notes.length - 1);
    } else {
      return;
    }
    e.preventDefault();
    this.refocus = true;
    this.changed();
  }

  add() {
    const last = this.notes.reduce((t, n) => Math.max(t, n.off), 0);
    const on = round3(last + 0.1 < this.length ? last + 0.1 : 0);
    const gate = round3(Math.min(0.5, Math.max(0.05, (this.length - on) / 2)));
    this.notes.push({on, off: round3(on + gate), key: 60, velocity: 100});
    this.focused = this.notes.length - 1;
    this.refocus = true;
    this.changed();
  }
}

function niceStep(length) {
  for (const step of [0.01, 0.02, 0.05, 0.1, 0.2, 0.25, 0.5, 1, 2, 5, 10]) if (length / step <= 12) return step;
  return 30;
}
