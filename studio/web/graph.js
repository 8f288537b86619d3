// SPDX-License-Identifier: MIT
// The patch as a picture: its modules as boxes in columns by how far they are from an input,
// a line for each connection (dashed where it feeds back), and the patch's outputs at the right.

const SVG = "http://www.w3.org/2000/svg";
const BOX_W = 120, BOX_H = 44, GAP_X = 60, GAP_Y = 20;

const element = (name, attributes = {}, text) => {
  const e = document.createElementNS(SVG, name);
  for (const [k, v] of Object.entries(attributes)) e.setAttribute(k, v);
  if (text !== undefined) e.textContent = text;
  return e;
};
const moduleOf = (ref) => String(ref).split(".")[0];
const pinOf = (ref) => String(ref).split(".").slice(1).join(".");

export function drawGraph(container, patch) {
  const modules = patch.modules ?? [];
  const names = modules.map((m) => m.name);
  const outputs = (patch.outputs ?? []).map((o) => ({name: o.name, from: o.from}));
  const edges = (patch.connections ?? []).map((c) => ({from: moduleOf(c.from), to: moduleOf(c.to),
                                                        fromPin: pinOf(c.from), toPin: pinOf(c.to)}));
  // Column: the longest chain of connections leading into a module; a connection that would
  // lengthen a chain around a loop is a feedback one and does not count.
  const column = Object.fromEntries(names.map((n) => [n, 0]));
  for (let pass = 0; pass < names.length; ++pass)
    for (const e of edges)
      if (e.from !== e.to && column[e.to] < column[e.from] + 1 && column[e.from] + 1 < names.length) column[e.to] = column[e.from] + 1;
  const rows = {};
  const place = {};
  for (const n of names) {
    const c = column[n] ?? 0;
    rows[c] = (rows[c] ?? 0) + 1;
    place[n] = {x: 10 + c * (BOX_W + GAP_X), y: 10 + (rows[c] - 1) * (BOX_H + GAP_Y)};
  }
  const lastColumn = Math.max(0, ...Object.values(column)) + 1;
  outputs.forEach((o, i) => { place[`output:${o.name}`] = {x: 10 + lastColumn * (BOX_W + GAP_X), y: 10 + i * (BOX_H + GAP_Y)}; });
  const width = 20 + (lastColumn + 1) * (BOX_W + GAP_X) - GAP_X;
  const height = 20 + Math.max(1, ...Object.values(rows), outputs.length) * (BOX_H + GAP_Y) - GAP_Y;
  const svg = element("svg", {viewBox: `0 0 ${width} ${height}`, "aria-hidden": "true"});

  const wire = (a, b, back, label) => {
    const x0 = a.x + BOX_W, y0 = a.y + BOX_H / 2, x1 = b.x, y1 = b.y + BOX_H / 2;
    const d = back
      ? `M${x0},${y0} C${x0 + 40},${y0 + BOX_H} ${x1 - 40},${y1 + BOX_H} ${x1},${y1}`
      : `M${x0},${y0} C${x0 + GAP_X / 2},${y0} ${x1 - GAP_X / 2},${y1} ${x1},${y1}`;
    const path = element("path", {class: back ? "wire back" : "wire", d});
    path.append(element("title", {}, label));
    svg.append(path);
  };
  for (const e of edges) if (place[e.from] && place[e.to])
    wire(place[e.from], place[e.to], column[e.to] <= column[e.from], `${e.from}.${e.fromPin} → ${e.to}.${e.toPin}`);
  for (const o of outputs) if (place[moduleOf(o.from)])
    wire(place[moduleOf(o.from)], place[`output:${o.name}`], false, `${o.from} → ${o.name}`);

  const box = (at, title, kind) => {
    const g = element("g", {class: "module", transform: `translate(${at.x},${at.y})`});
    g.append(element("rect", {width: BOX_W, height: BOX_H, rx: 6}),
             element("text", {x: 8, y: 18}, title), element("text", {class: "kind", x: 8, y: 34}, kind));
    svg.append(g);
  };
  for (const m of modules) box(place[m.name], m.name, m.module);
  for (const o of outputs) box(place[`output:${o.name}`], o.name, "patch output");

  container.replaceChildren(svg);
  const text = modules.map((m) => `${m.name} (${m.module})`).join(", ");
  const wires = (patch.connections ?? []).map((c) => `${c.from} to ${c.to}`).join("; ");
  container.setAttribute("aria-label", `The patch: modules ${text}; connections ${wires}; outputs ${outputs.map((o) => `${o.name} from ${o.from}`).join(", ")}`);
}
