// SPDX-License-Identifier: MIT
// Export: the score the page rendered, its `kvx render` command line, an LV2 preset of the settings.
import {postPreset} from "./api.js";

const urls = new Map();
function offer(link, text, type, filename) {
  if (urls.has(link)) URL.revokeObjectURL(urls.get(link));
  const url = URL.createObjectURL(new Blob([text], {type}));
  urls.set(link, url);
  link.href = url;
  link.download = filename;
  link.hidden = false;
}

const slug = (text) => String(text).toLowerCase().replace(/[^a-z0-9]+/g, "-").replace(/^-|-$/g, "") || "preset";

export function showExports(render, score, subjectName) {
  offer(document.getElementById("export-score"), JSON.stringify(score, null, 2) + "\n",
        "application/json", `${slug(subjectName)}-score.json`);
  document.getElementById("command").value = render.command ?? "";
}

export function wireExports(currentSettings, say) {
  document.getElementById("copy-command").addEventListener("click", async () => {
    const box = document.getElementById("command");
    try {
      await navigator.clipboard.writeText(box.value);
      say("Command copied");
    } catch {
      box.focus();
      box.select();
      say("Select all and copy: the clipboard is not available here");
    }
  });
  document.getElementById("make-preset").addEventListener("click", async () => {
    const name = document.getElementById("preset-name").value.trim() || "Studio preset";
    try {
      const preset = await postPreset({settings: currentSettings(), name});
      const link = document.getElementById("export-preset");
      // The file is a preset bundle's manifest.ttl: the host finds it in that folder.
      offer(link, preset.ttl, "text/turtle", "manifest.ttl");
      link.textContent = "manifest.ttl";
      link.dataset.uri = preset.uri ?? "";
      link.focus();
      const left = preset.leftOut?.length ? `; not in a preset: ${preset.leftOut.join(", ")}` : "";
      const warned = preset.warnings?.length ? `; ${preset.warnings.join("; ")}` : "";
      say(`Preset ready: save it as ${preset.install}${left}${warned}`);
    } catch (error) {
      say(String(error.message ?? error), true);
    }
  });
}
