// SPDX-License-Identifier: MIT
// The control panel, built from the subject: a slider with typed entry for a number (in the pin's
// unit and mapping), a checkbox for a bool, a select for a list of choices.
import {formatValue, fromPosition, isLogarithmic, parseValue, round, SLIDER_STEPS, toPosition} from "./values.js";

// The entries a person sets: a module's parameter inputs, or a patch's controls.
export function controlEntries(subject) {
  if (subject.kind === "patch") {
    return (subject.patch?.controls ?? []).map((c) => ({
      key: c.name, label: c.title ?? c.name, unit: c.unit ?? "none", datatype: c.datatype ?? "float",
      minimum: c.minimum, maximum: c.maximum, mapping: c.mapping, scale: c.scale,
      choices: c.choices ?? c.values ?? c.enum,
      default: parseValue(c.default ?? c.minimum ?? 0, c.unit ?? "none"),
    }));
  }
  // The settings go by the name kvx render's flags use (attack-curve); the envelope's default
  // score gives the values it starts from.
  const pins = subject.description?.pins ?? [];
  const start = subject.defaults?.score?.parameters ?? {};
  return pins.filter((p) => p.direction === "in" && p.role === "parameter").map((p) => {
    const key = p.name ?? p.symbol, unit = p.unit ?? "none";
    const scored = typeof start[key] === "string" || unit === "none" ? parseValue(start[key] ?? NaN, unit) : NaN;
    const fallback = Number(p.default ?? p.minimum ?? 0);
    return {
      key, label: p.title ?? p.name, unit, datatype: p.datatype,
      minimum: p.minimum, maximum: p.maximum, mapping: p.mapping, scale: p.scale,
      choices: p.choices ?? p.enum ?? choicesFromName(p.title ?? p.name),
      default: p.datatype === "bool" ? Boolean(p.default) : (Number.isFinite(scored) ? scored : fallback),
    };
  });
}

// "Waveform (0 sine, 1 saw, 2 square)": a whole-number pin whose name lists what each number means.
function choicesFromName(title) {
  const match = /\(([^)]*)\)\s*$/.exec(title ?? "");
  if (!match) return undefined;
  const items = match[1].split(",").map((s) => /^\s*(-?\d+)\s+(.+?)\s*$/.exec(s));
  if (items.length < 2 || items.some((m) => !m)) return undefined;
  return items.map((m) => ({value: Number(m[1]), label: m[2]}));
}

const labelOf = (entry) => entry.label.replace(/\s*\([^)]*\)\s*$/, "");
const unitText = (unit) => (unit && unit !== "none" ? ` (${unit})` : "");

// The value as the render takes it: text with the unit, true/false, or a choice's number.
export function settingText(entry, value) {
  if (entry.datatype === "bool") return value ? "true" : "false";
  if (entry.choices) return String(value);
  return formatValue(value, entry.unit);
}

export function buildControls(form, entries, values, onChange) {
  form.replaceChildren();
  if (entries.length === 0) {
    const p = document.createElement("p");
    p.className = "hint";
    p.textContent = "This subject has no parameters to set.";
    form.append(p);
  }
  for (const entry of entries) {
    const id = `control-${entry.key}`;
    const row = document.createElement("div");
    row.className = "control";
    row.dataset.key = entry.key;
    const label = document.createElement("label");
    label.htmlFor = id;
    label.textContent = labelOf(entry);
    if (entry.datatype === "bool") {
      row.classList.add("bool");
      const box = document.createElement("input");
      box.type = "checkbox";
      box.id = id;
      box.checked = Boolean(values[entry.key]);
      box.addEventListener("change", () => onChange(entry.key, box.checked));
      row.append(box, label);
    } else if (entry.choices) {
      row.classList.add("choice");
      const select = document.createElement("select");
      select.id = id;
      for (const choice of entry.choices) {
        const option = new Option(choice.label ?? String(choice.value ?? choice), String(choice.value ?? choice));
        select.append(option);
      }
      select.value = String(values[entry.key]);
      select.addEventListener("change", () => onChange(entry.key, Number(select.value)));
      label.textContent += ":";
      row.append(label, select);
    } else {
      label.insertAdjacentHTML("beforeend", `<span class="unit">${unitText(entry.unit)}${isLogarithmic(entry) ? ", log scale" : ""}</span>`);
      const slider = document.createElement("input");
      slider.type = "range";
      slider.id = id;
      slider.min = "0";
      slider.max = String(SLIDER_STEPS);
      slider.step = "1";
      const text = document.createElement("input");
      text.type = "text";
      text.inputMode = "decimal";
      text.setAttribute("aria-label", `${labelOf(entry)}, typed${unitText(entry.unit)}`);
      text.title = `From ${formatValue(entry.minimum, entry.unit)} to ${formatValue(entry.maximum, entry.unit)}`;
      const show = (value) => {
        slider.value = String(toPosition(value, entry));
        slider.setAttribute("aria-valuetext", formatValue(value, entry.unit));
        text.value = formatValue(value, entry.unit);
        text.removeAttribute("aria-invalid");
      };
      show(values[entry.key]);
      slider.addEventListener("input", () => {
        const value = round(fromPosition(Number(slider.value), entry));
        slider.setAttribute("aria-valuetext", formatValue(value, entry.unit));
        text.value = formatValue(value, entry.unit);
        onChange(entry.key, value);
      });
      const typed = () => {
        const value = parseValue(text.value, entry.unit);
        if (!(value >= entry.minimum && value <= entry.maximum)) {
          text.setAttribute("aria-invalid", "true");
          text.title = `Expected ${formatValue(entry.minimum, entry.unit)} to ${formatValue(entry.maximum, entry.unit)}`;
          return;
        }
        show(value);
        onChange(entry.key, value);
      };
      text.addEventListener("change", typed);
      text.addEventListener("keydown", (e) => { if (e.key === "Enter") typed(); });
      row.append(label, slider, text);
    }
    form.append(row);
  }
}
