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
      offer(link, preset.ttl, "text/turtle", `${slug(name)}.ttl`);
      link.textContent = `${slug(name)}.ttl`;
      link.dataset.uri = preset.uri ?? "";
      link.focus();
      say(`Preset ready: ${preset.uri ?? name}`);
    } catch (error) {
      say(String(error.message ?? error), true);
    }
  });
}
