// SPDX-License-Identifier: MIT
// kvx studio's page in Debian's Chromium: it starts `kvx studio` on each subject, opens the page
// with its token, and checks what a person would see and hear.
// Usage: node studio_page_test.mjs KVX ARTEFACT_DIR ENVELOPE VCA OSC PATCH...
import {spawn, execFileSync} from "node:child_process";
import {mkdirSync, readFileSync} from "node:fs";
import {join} from "node:path";
import {chromium} from "playwright-core";

const [kvx, artefacts, envelope, vca, osc, ...patches] = process.argv.slice(2);
mkdirSync(artefacts, {recursive: true});
const RATE = 48000;
let failures = 0;
const check = (ok, what) => {
  console.log(`${ok ? "ok  " : "FAIL"} ${what}`);
  if (!ok) failures += 1;
};

// Starts the server and resolves with its URL once it prints it.
function serve(subject) {
  const child = spawn(kvx, ["studio", "--port", "0", subject], {stdio: ["ignore", "pipe", "pipe"]});
  return new Promise((resolve, reject) => {
    let said = "";
    const timer = setTimeout(() => reject(new Error(`kvx studio ${subject}: no URL within 10 s: ${said}`)), 10000);
    const listen = (chunk) => {
      said += chunk;
      const url = /http:\/\/\S+token=\S+/.exec(said);
      if (url) { clearTimeout(timer); resolve({child, url: url[0]}); }
    };
    child.stdout.on("data", listen);
    child.stderr.on("data", listen);
    child.on("exit", (code) => { clearTimeout(timer); reject(new Error(`kvx studio ${subject} exited ${code}: ${said}`)); });
  });
}

function stop(child) {
  child.removeAllListeners("exit");
  child.kill("SIGTERM");
}

async function open(browser, url, viewport = {width: 1280, height: 800}, colorScheme = "light") {
  const page = await browser.newPage({viewport, colorScheme});
  const errors = [];
  page.on("console", (m) => { if (m.type() === "error") errors.push(m.text()); });
  page.on("pageerror", (e) => errors.push(e.message));
  await page.goto(url);
  await page.evaluate(() => window.kvxStudio.ready);
  return {page, errors};
}

const renders = (page) => page.evaluate(() => Number(document.body.dataset.renders));
const nextRender = (page, after) =>
  page.waitForFunction((n) => Number(document.body.dataset.renders) > n, after, {timeout: 20000});
const attackSpan = (page) => page.evaluate(() => {
  const attack = window.kvxStudio.render.segments.find((s) => s.stage === "attack");
  return attack ? attack.end - attack.start : null;
});
const picture = (page) => page.evaluate(() => document.querySelector("#tracks canvas").toDataURL());

// The exported command line, split as a shell would (words, '...' and "..." quoting).
function words(command) {
  const out = [];
  for (const m of command.matchAll(/'([^']*)'|"((?:\\.|[^"])*)"|(\S+)/g)) out.push(m[1] ?? m[2] ?? m[3]);
  return out;
}

// A 32-bit float WAV's samples, as kvx render writes them.
function wavSamples(path) {
  const bytes = readFileSync(path);
  for (let at = 12; at + 8 <= bytes.length;) {
    const id = bytes.toString("ascii", at, at + 4), size = bytes.readUInt32LE(at + 4);
    if (id === "data") return new Float32Array(bytes.buffer.slice(bytes.byteOffset + at + 8, bytes.byteOffset + at + 8 + size));
    at += 8 + size + (size & 1);
  }
  throw new Error(`${path}: no data chunk`);
}

async function envelopeChecks(browser) {
  const {child, url} = await serve(envelope);
  try {
    const {page, errors} = await open(browser, url);
    const before = await picture(page);
    // Typed entry: 250 ms is 12000 samples of attack.
    let n = await renders(page);
    await page.fill("#control-attack ~ input[type=text]", "250ms");
    await page.press("#control-attack ~ input[type=text]", "Enter");
    await nextRender(page, n);
    check(Math.abs((await attackSpan(page)) - 0.25 * RATE) <= 1, "a typed attack of 250ms gives an attack segment of 12000 samples");
    check((await picture(page)) !== before, "the drawn curve changed with the attack");
    check(Number(await page.getAttribute("#tracks", "data-attack-end")) > 0.25 * RATE - 2, "the plot marks the new attack end");

    // Redraw time, measured in the page: from the Enter of a typed change to the new curve drawn
    // (the page waits 15 ms for a burst of changes to end, renders, then draws), five times.
    await page.evaluate(() => {
      window.redraws = [];
      document.querySelector("#control-attack ~ input[type=text]").addEventListener("keydown", (e) => {
        if (e.key === "Enter") window.pressed = performance.now();
      }, true);
      new MutationObserver(() => window.redraws.push(performance.now() - window.pressed))
        .observe(document.body, {attributes: true, attributeFilter: ["data-renders"]});
    });
    for (const attack of ["200ms", "300ms", "400ms", "30ms", "250ms"]) {
      n = await renders(page);
      await page.fill("#control-attack ~ input[type=text]", attack);
      await page.press("#control-attack ~ input[type=text]", "Enter");
      await nextRender(page, n);
    }
    const redraws = (await page.evaluate(() => window.redraws)).sort((a, b) => a - b);
    console.log(`redraw after a typed change: median ${redraws[2].toFixed(0)} ms, slowest ${redraws[4].toFixed(0)} ms`);
    check(redraws.length === 5 && redraws[2] < 100, "the median redraw after a change takes under 100 ms");

    // The LV2 preset of these settings: the attack port at 0.25 s, and where the host finds it.
    await page.click("#make-preset");
    await page.waitForSelector("#export-preset:not([hidden])");
    const ttl = await page.evaluate(() => fetch(document.getElementById("export-preset").href).then((r) => r.text()));
    check(/lv2:symbol "attack" ;\s*pset:value 0\.25\s/.test(ttl), "the LV2 preset holds the typed attack in seconds");
    check((await page.textContent("#status")).includes(".preset.lv2/manifest.ttl"), "the page says where to save the preset");

    // The slider, one step by keyboard: the value follows the log mapping 1 ms .. 10 s.
    n = await renders(page);
    await page.focus("#control-attack");
    await page.keyboard.press("ArrowRight");
    await nextRender(page, n);
    const position = Number(await page.inputValue("#control-attack"));
    const seconds = Number((0.001 * Math.pow(10000, position / 1000)).toPrecision(4));
    const span = await attackSpan(page);
    check(Math.abs(span - seconds * RATE) <= 1,
          `slider position ${position} is ${seconds} s on the log scale; attack segment ${span} samples`);

    // Bad entry: refused in place, nothing sent.
    n = await renders(page);
    await page.fill("#control-attack ~ input[type=text]", "11s");
    await page.press("#control-attack ~ input[type=text]", "Enter");
    check(await page.getAttribute("#control-attack ~ input[type=text]", "aria-invalid") === "true", "an attack past 10 s is marked invalid");
    await page.waitForTimeout(100);
    check((await renders(page)) === n, "an invalid entry does not render");
    await page.fill("#control-attack ~ input[type=text]", "250ms");
    await page.press("#control-attack ~ input[type=text]", "Enter");
    await nextRender(page, n);

    // Play: the PCM that leaves the player node equals kvx render's WAV of the exported command.
    const recorded = page.evaluate(() => window.kvxStudio.recordNextPlay().then((s) => Array.from(s)));
    await page.click("#play");
    const pcm = Float32Array.from(await recorded);
    const command = words(await page.inputValue("#command"));
    const args = [];
    for (let i = 1; i < command.length; ++i) {
      if (["--out", "--csv", "--plot", "--format"].includes(command[i])) { ++i; continue; }
      args.push(command[i]);
    }
    const wav = join(artefacts, "envelope-cli.wav");
    execFileSync(kvx, [...args, "--format", "float", "--out", wav, "--csv", join(artefacts, "envelope-cli.csv"),
                       "--plot", join(artefacts, "envelope-cli.svg")], {stdio: "ignore"});
    const cli = wavSamples(wav);
    let first = -1;
    for (let i = 0; i < Math.max(cli.length, pcm.length) && first < 0; ++i)
      if (Object.is(cli[i], pcm[i]) === false) first = i;
    check(pcm.length === cli.length && first < 0,
          `played PCM (${pcm.length} samples) is bit-identical to \`kvx render\` (${cli.length})${first >= 0 ? `; first difference at ${first}` : ""}`);

    // A note dragged later moves the gate.
    n = await renders(page);
    const span0 = page.locator("#timeline .span").first();
    const box = await span0.boundingBox();
    await page.mouse.move(box.x + box.width / 2, box.y + box.height / 2);
    await page.mouse.down();
    await page.mouse.move(box.x + box.width / 2 + 60, box.y + box.height / 2, {steps: 3});
    await page.mouse.up();
    await nextRender(page, n);
    const gate = await page.evaluate(() => window.kvxStudio.render.gate[0][0]);
    check(gate > 0, `dragging the note moves its gate on (now sample ${gate})`);

    await page.screenshot({path: join(artefacts, "envelope.png")});
    await page.setViewportSize({width: 420, height: 900});
    await page.click("#theme");
    await page.waitForTimeout(50);
    await page.screenshot({path: join(artefacts, "envelope-narrow-dark.png"), fullPage: true});
    check(await page.evaluate(() => document.documentElement.scrollWidth <= window.innerWidth + 1), "nothing overflows a 420 px window");
    check(errors.length === 0, `envelope: no console errors ${errors.join(" | ")}`);
    await page.close();
  } finally {
    stop(child);
  }
}

// Each subject loads, renders, plots a track per output and, for a patch, draws its modules.
async function subjectChecks(browser, subject, shot) {
  const {child, url} = await serve(subject);
  try {
    const {page, errors} = await open(browser, url);
    const answer = await page.evaluate(() => ({tracks: window.kvxStudio.render.tracks.length,
                                               canvases: document.querySelectorAll("#tracks canvas").length,
                                               kind: window.kvxStudio.state.subject.kind,
                                               modules: window.kvxStudio.state.subject.patch?.modules?.length ?? 0,
                                               boxes: document.querySelectorAll("#graph .module").length,
                                               outputs: window.kvxStudio.state.subject.patch?.outputs?.length ?? 0}));
    const name = subject.split("/").pop();
    check(answer.tracks > 0 && answer.canvases === answer.tracks, `${name}: ${answer.tracks} tracks rendered and plotted`);
    if (answer.kind === "patch")
      check(answer.boxes === answer.modules + answer.outputs, `${name}: the graph shows ${answer.modules} modules and ${answer.outputs} outputs`);
    if (shot) await page.screenshot({path: join(artefacts, shot)});
    check(errors.length === 0, `${name}: no console errors ${errors.join(" | ")}`);
    await page.close();
  } finally {
    stop(child);
  }
}

// The instrument: a MIDI file chosen on the page renders as kvx render --midi renders it, and plays.
async function instrumentChecks(browser, patch) {
  const {child, url} = await serve(patch);
  try {
    const {page, errors} = await open(browser, url);
    const midi = join(patch, "..", "..", "midi", "demo.mid");
    check(await page.isVisible("#midi-file"), "an instrument offers a MIDI file");
    const n = await renders(page);
    await page.setInputFiles("#midi-file", midi);
    await nextRender(page, n);
    const drawn = Float32Array.from(await page.evaluate(() => Array.from(window.kvxStudio.render.tracks[0].samples)));
    const wav = join(artefacts, "demo-cli.wav");
    execFileSync(kvx, ["render", patch, "--midi", midi, "--format", "float", "--out", wav], {stdio: "ignore"});
    const cli = wavSamples(wav);
    check(drawn.length === cli.length && drawn.every((v, i) => Object.is(v, cli[i])),
          `demo.mid on the page (${drawn.length} samples) is kvx render --midi's WAV bit for bit (${cli.length})`);
    check((await page.inputValue("#command")).includes("--midi demo.mid"), "the exported command plays demo.mid");
    check(errors.length === 0, `instrument: no console errors ${errors.join(" | ")}`);
    await page.close();
  } finally {
    stop(child);
  }
}

const browser = await chromium.launch({
  executablePath: process.env.KVX_CHROMIUM ?? "/usr/bin/chromium",
  args: ["--autoplay-policy=no-user-gesture-required", "--no-sandbox"],
  ignoreDefaultArgs: ["--mute-audio"],
});
try {
  await envelopeChecks(browser);
  await subjectChecks(browser, vca);
  await subjectChecks(browser, osc);
  for (const patch of patches) await subjectChecks(browser, patch, patch.endsWith("envelope-vca-osc.kvxpatch.json") ? "patch.png" : undefined);
  await instrumentChecks(browser, patches.find((p) => p.endsWith("/instrument.kvxpatch.json")));
} catch (error) {
  console.log(`FAIL ${error.stack ?? error}`);
  failures += 1;
} finally {
  await browser.close();
}
console.log(failures === 0 ? "all passed" : `${failures} failed`);
process.exit(failures === 0 ? 0 : 1);
