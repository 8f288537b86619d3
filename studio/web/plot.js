// SPDX-License-Identifier: MIT
// The tracks as drawn from the returned samples: the gate, the segment boundaries, where the module
// said its output starts or stops streaming, and the spans the host let it sleep. The picture of
// each track is kept so that the playing position can be drawn over it at every frame.

const css = (name) => getComputedStyle(document.documentElement).getPropertyValue(name).trim();

export class Plot {
  constructor(container) {
    this.container = container;
    this.views = [];
    this.render = null;
    this.position = null;
  }

  // `render`: {rate, length, tracks: [{name, samples: Float32Array}], gate, segments, streaming, sleep}
  show(render) {
    this.render = render;
    if (this.views.length !== render.tracks.length ||
        this.views.some((v, i) => v.name !== render.tracks[i].name)) this.build(render.tracks);
    this.redraw();
  }

  build(tracks) {
    this.container.replaceChildren();
    this.container.classList.toggle("many", tracks.length > 1);
    this.views = tracks.map((track, index) => {
      const box = document.createElement("figure");
      box.className = "track";
      box.style.margin = "0";
      const canvas = document.createElement("canvas");
      canvas.setAttribute("role", "img");
      canvas.dataset.track = track.name;
      const name = document.createElement("figcaption");
      name.className = "name";
      name.textContent = index === 0 && tracks.length > 1 ? `${track.name} (what kvx render writes)` : track.name;
      box.append(canvas, name);
      this.container.append(box);
      return {name: track.name, canvas, picture: null};
    });
  }

  redraw() {
    if (!this.render) return;
    this.render.tracks.forEach((track, index) => this.drawTrack(this.views[index], track, index === 0));
    this.drawPosition();
  }

  drawTrack(view, track, primary) {
    const {canvas} = view;
    const scale = window.devicePixelRatio || 1;
    const width = Math.max(100, Math.round(canvas.clientWidth * scale));
    const height = Math.max(40, Math.round(canvas.clientHeight * scale));
    if (canvas.width !== width || canvas.height !== height) Object.assign(canvas, {width, height});
    const g = canvas.getContext("2d", {willReadFrequently: true});
    const r = this.render;
    const n = Math.max(1, r.length);
    const x = (sample) => (sample / n) * width;
    g.clearRect(0, 0, width, height);

    // A patch's tracks each have their module's sleep; a module's is the render's.
    for (const [start, end] of track.sleep ?? r.sleep ?? []) band(g, x(start), x(end), height, css("--sleep"));
    for (const [start, end] of r.gate ?? []) band(g, x(start), x(end), height, css("--gate"));

    const samples = track.samples;
    let lo = 0, hi = 0;
    for (const v of samples) { if (v < lo) lo = v; if (v > hi) hi = v; }
    if (hi - lo < 1e-9) hi = lo + 1;
    const pad = 8 * scale;
    const y = (v) => height - pad - ((v - lo) / (hi - lo)) * (height - 2 * pad);

    if (primary) {
      g.strokeStyle = css("--segment");
      g.fillStyle = css("--segment");
      g.setLineDash([4 * scale, 3 * scale]);
      g.font = `${10 * scale}px system-ui, sans-serif`;
      for (const segment of r.segments ?? []) {
        const at = Math.round(x(segment.start)) + 0.5;
        g.beginPath(); g.moveTo(at, 0); g.lineTo(at, height); g.stroke();
        if (x(segment.end) - x(segment.start) > 30 * scale) g.fillText(segment.stage, at + 3 * scale, height - 3 * scale);
      }
      g.setLineDash([]);
    }
    // A patch's tracks each have their module's streaming marks; a module's are the render's.
    g.fillStyle = css("--stream");
    for (const mark of track.streaming ?? (primary ? r.streaming : null) ?? []) triangle(g, x(mark.sample), mark.state === "start", height, 5 * scale);

    // One column per pixel, min to max of the samples it covers, so that no peak is lost.
    g.strokeStyle = css("--curve");
    g.lineWidth = 1.5 * scale;
    g.beginPath();
    const perPixel = samples.length / width;
    for (let px = 0; px < width; ++px) {
      const from = Math.floor(px * perPixel), to = Math.max(from + 1, Math.floor((px + 1) * perPixel));
      let a = Infinity, b = -Infinity;
      for (let i = from; i < to && i < samples.length; ++i) { const v = samples[i]; if (v < a) a = v; if (v > b) b = v; }
      if (a === Infinity) break;
      if (px === 0) g.moveTo(px, y(samples[0]));
      g.lineTo(px + 0.5, y(a));
      if (b !== a) g.lineTo(px + 0.5, y(b));
    }
    g.stroke();
    view.picture = g.getImageData(0, 0, width, height);
    canvas.setAttribute("aria-label", describe(track, r));
  }

  // The playing position in samples, or null when nothing plays.
  setPosition(sample) {
    this.position = sample;
    this.drawPosition();
  }

  drawPosition() {
    for (const view of this.views) {
      if (!view.picture) continue;
      const g = view.canvas.getContext("2d", {willReadFrequently: true});
      g.putImageData(view.picture, 0, 0);
      if (this.position === null || !this.render) continue;
      const at = (this.position / Math.max(1, this.render.length)) * view.canvas.width;
      g.fillStyle = css("--position");
      g.fillRect(Math.round(at), 0, Math.max(2, window.devicePixelRatio || 1), view.canvas.height);
    }
  }
}

function band(g, x0, x1, height, colour) {
  g.fillStyle = colour;
  g.fillRect(x0, 0, Math.max(1, x1 - x0), height);
}

// A start points up from the bottom edge, a stop down from the top edge.
function triangle(g, x, up, height, size) {
  const edge = up ? height : 0, tip = up ? height - 1.6 * size : 1.6 * size;
  g.beginPath();
  g.moveTo(x - size, edge);
  g.lineTo(x + size, edge);
  g.lineTo(x, tip);
  g.closePath();
  g.fill();
}

function describe(track, r) {
  const stages = (r.segments ?? []).map((s) => `${s.stage} ${((s.end - s.start) / r.rate * 1000).toFixed(1)} ms`).join(", ");
  const asleep = (track.sleep ?? r.sleep ?? []).reduce((sum, [a, b]) => sum + (b - a), 0);
  return `${track.name}: ${(r.length / r.rate).toFixed(3)} s; ${stages || "no segments"}; asleep ${(asleep / r.rate).toFixed(3)} s`;
}
