#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""kvx studio's server as a client meets it: started with --port 0 and stopped with SIGTERM, its
renders compared with `kvx render`'s WAV bit for bit, its refusals, and a load of renders from
threads of this second process with every answer checked and the latencies printed.

Usage: studio_server_test.py KVX MODULE_FOLDER PATCH
"""
import base64
import http.client
import json
import os
import re
import signal
import struct
import subprocess
import sys
import tempfile
import threading
import time
import unittest

KVX, MODULES, PATCH = sys.argv[1:4]
ENV = dict(os.environ, KVX_PATH=MODULES)


class Server:
    def __init__(self, *args):
        self.process = subprocess.Popen([KVX, "studio", "--port", "0", *args], stdout=subprocess.PIPE,
                                        stderr=subprocess.PIPE, text=True, env=ENV)
        line = self.process.stdout.readline()
        match = re.search(r"http://127\.0\.0\.1:(\d+)/\?token=([0-9a-f]{32})$", line.strip())
        if not match:
            self.process.kill()
            raise AssertionError("no URL printed: " + line + self.process.stderr.read())
        self.port, self.token = int(match.group(1)), match.group(2)

    def request(self, method, path, body=None, headers=None, token=True):
        sent = {"Host": f"127.0.0.1:{self.port}"}
        if token:
            sent["X-Kvx-Token"] = self.token
        sent.update(headers or {})
        connection = http.client.HTTPConnection("127.0.0.1", self.port, timeout=30)
        connection.request(method, path, body=body, headers=sent)
        response = connection.getresponse()
        data = response.read()
        connection.close()
        return response.status, data

    def render(self, request):
        status, data = self.request("POST", "/api/render", json.dumps(request))
        return status, json.loads(data)

    def stop(self):
        self.process.send_signal(signal.SIGTERM)
        out, _ = self.process.communicate(timeout=10)
        return self.process.returncode, out


def wav_floats(path):
    """The data chunk of a 32-bit float WAV as raw bytes."""
    with open(path, "rb") as file:
        data = file.read()
    position = 12
    while position < len(data):
        name, size = data[position:position + 4], struct.unpack("<I", data[position + 4:position + 8])[0]
        if name == b"data":
            return data[position + 8:position + 8 + size]
        position += 8 + size + (size & 1)
    raise AssertionError("no data chunk in " + path)


def cli(*args):
    return subprocess.run([KVX, "render", *args], capture_output=True, text=True, env=ENV)


def cli_wav(command_args, folder, name):
    out = os.path.join(folder, name)
    run = cli(*command_args, "--out", out)
    assert run.returncode == 0, run.stderr
    return wav_floats(out)


def cli_error(*args):
    run = cli(*args, "--out", os.path.join(tempfile.gettempdir(), "kvx-studio-never.wav"))
    assert run.returncode == 1, run.stderr
    line = run.stderr.strip().splitlines()[-1]
    assert line.startswith("kvx render: "), line
    return line[len("kvx render: "):]


def percentile(values, fraction):
    ordered = sorted(values)
    return ordered[min(len(ordered) - 1, int(fraction * len(ordered)))]


class ModuleStudio(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.server = Server()
        cls.folder = tempfile.TemporaryDirectory()

    @classmethod
    def tearDownClass(cls):
        status, out = cls.server.stop()
        cls.folder.cleanup()
        assert status == 0 and out.strip().endswith("stopped"), (status, out)

    def test_default_render_is_the_cli_wav_bit_for_bit(self):
        status, answer = self.server.render({})
        self.assertEqual(status, 200, answer)
        expected = cli_wav([], self.folder.name, "default.wav")
        self.assertEqual(base64.b64decode(answer["tracks"][0]["samples"]), expected)
        self.assertEqual(answer["length"] * 4, len(expected))
        # The envelope's stages in order, covering the render; it sleeps in sustain and idle.
        stages = [s["stage"] for s in answer["segments"]]
        self.assertEqual(stages, ["attack", "decay", "sustain", "release", "idle"])
        self.assertEqual(answer["segments"][-1]["end"], answer["length"])
        self.assertEqual(answer["gate"], [[0, 57600]])  # the default note, 0 to 1.2 s at 48 kHz
        self.assertTrue(answer["sleep"] and all(a < b for a, b in answer["sleep"]))
        self.assertIn("segments", answer["summary"]["text"])

    def test_settings_and_notes_equal_the_command_line_they_name(self):
        request = {"settings": {"attack": "20ms", "sustain": 0.25, "release": "1.5s"},
                   "notes": [{"on": 0.05, "off": 0.4}, {"on": "0.6s", "off": "700ms"}],
                   "length": 1.5, "rate": 44100}
        status, answer = self.server.render(request)
        self.assertEqual(status, 200, answer)
        words = answer["command"].split()
        self.assertEqual(words[:2], ["kvx", "render"])
        expected = cli_wav(words[2:], self.folder.name, "set.wav")
        self.assertEqual(base64.b64decode(answer["tracks"][0]["samples"]), expected)
        self.assertEqual(answer["rate"], 44100)
        self.assertEqual(answer["gate"], [[2205, 17640], [26460, 30870]])
        # A score sent whole renders as the same score from a file.
        score = {"length": "0.5s", "parameters": {"attack": "5ms"}, "notes": [{"on": 0, "off": "0.2s"}]}
        status, answer = self.server.render({"score": score})
        self.assertEqual(status, 200, answer)
        path = os.path.join(self.folder.name, "score.json")
        with open(path, "w") as file:
            json.dump(score, file)
        self.assertEqual(base64.b64decode(answer["tracks"][0]["samples"]),
                         cli_wav(["--score", path], self.folder.name, "score.wav"))

    def test_bad_values_get_the_cli_message(self):
        cases = [({"settings": {"attack": "abc"}}, ["--set", "attack=abc"]),
                 ({"settings": {"nosuch": 1}}, ["--set", "nosuch=1"]),
                 ({"rate": 0}, ["--rate", "0"]),
                 ({"rate": 768001}, ["--rate", "768001"]),
                 ({"length": -1}, ["--length", "-1s"]),
                 ({"notes": [{"on": 0.5, "off": 0.2}]}, ["--note", "0.5s:0.2s"]),
                 ({"notes": [{"on": 0, "off": 1, "key": 60}]}, ["--note", "0s:1s:60"])]
        for request, args in cases:
            with self.subTest(request=request):
                status, answer = self.server.render(request)
                self.assertEqual(status, 400)
                self.assertEqual(answer["error"], cli_error(*args))
        for body in [b"{", b"[1]", b'{"settings": 3}', b'{"notes": [{"off": 1}]}', b'{"plugin": "/etc"}',
                     b"\xff\xfe", b""]:
            with self.subTest(body=body):
                status, data = self.server.request("POST", "/api/render", body)
                self.assertEqual(status, 400, data)
                self.assertTrue(json.loads(data)["error"])

    def test_preset_route(self):
        status, data = self.server.request("POST", "/api/preset",
                                           json.dumps({"name": "Fast", "settings": {"attack": "5ms"}}))
        self.assertEqual(status, 200, data)
        answer = json.loads(data)
        self.assertIn('lv2:symbol "attack" ;\n\t\tpset:value 0.005\n', answer["ttl"])
        self.assertEqual(answer["uri"], "https://kvx.example.org/modules/adsr/midi/presets/studio-fast")
        status, data = self.server.request("POST", "/api/preset", json.dumps({"settings": {"attack": "abc"}}))
        self.assertEqual((status, json.loads(data)["error"]), (400, cli_error("--set", "attack=abc")))
        self.assertEqual(self.server.request("GET", "/api/preset")[0], 405)

    def test_a_score_cannot_name_a_file(self):
        status, answer = self.server.render({"score": {"inputs": {"gate": "/etc/passwd"}}})
        self.assertEqual(status, 400)

    def test_refusals(self):
        port = self.server.port
        wrong = "0" * 32 if self.server.token != "0" * 32 else "1" * 32
        for name, (method, path, headers, token, expected) in {
            "no token": ("GET", "/api/subject", {}, False, 403),
            "wrong token": ("GET", "/api/subject", {"X-Kvx-Token": wrong}, False, 403),
            "token in the query": ("GET", f"/api/subject?token={self.server.token}", {}, False, 200),
            "token prefix": ("GET", f"/?token={self.server.token[:-1]}", {}, False, 403),
            "token wrong in its last digit": ("GET", f"/?token={self.server.token[:-1]}"
                                              f"{'1' if self.server.token[-1] == '0' else '0'}", {}, False, 403),
            "foreign Host": ("GET", "/api/subject", {"Host": f"evil.example:{port}"}, True, 403),
            "Host on another port": ("GET", "/api/subject", {"Host": f"127.0.0.1:{port + 1}"}, True, 403),
            "localhost": ("GET", "/api/subject", {"Host": f"localhost:{port}"}, True, 200),
            "foreign Origin": ("GET", "/api/subject", {"Origin": "http://evil.example"}, True, 403),
            "Origin on another port": ("GET", "/", {"Origin": f"http://localhost:{port + 1}"}, True, 403),
            "own Origin": ("GET", "/", {"Origin": f"http://127.0.0.1:{port}"}, True, 200),
            "climbing out": ("GET", "/../CMakeLists.txt", {}, True, 404),
            "climbing out, encoded": ("GET", "/%2e%2e/%2e%2e/etc/passwd", {}, True, 404),
            "climbing out, slash encoded": ("GET", "/..%2f..%2fetc%2fpasswd", {}, True, 404),
            "absolute": ("GET", "//etc/passwd", {}, True, 404),
            "unknown path": ("GET", "/nosuch.html", {}, True, 404),
            "unknown API": ("GET", "/api/nosuch", {}, True, 404),
            "render by GET": ("GET", "/api/render", {}, True, 405),
            "subject by POST": ("POST", "/api/subject", {}, True, 405),
            "DELETE": ("DELETE", "/index.html", {}, True, 405),
        }.items():
            with self.subTest(name):
                status, data = self.server.request(method, path, b"" if method != "GET" else None, headers, token)
                self.assertEqual(status, expected, data[:200])
                if expected != 200:
                    self.assertTrue(json.loads(data)["error"])
        status, data = self.server.request("GET", "/", None, {}, True)
        self.assertIn(b"<html", data)

    def test_body_limit(self):
        just = json.dumps({"settings": {}}).encode()
        padded = just[:-1] + b" " * (1024 * 1024 - len(just)) + b"}"
        self.assertEqual(len(padded), 1024 * 1024)
        self.assertEqual(self.server.request("POST", "/api/render", padded)[0], 200)
        status, data = self.server.request("POST", "/api/render", padded + b" ")
        self.assertEqual(status, 413, data)

    def test_load_from_threads_every_answer_correct(self):
        requests = [{"settings": {"attack": f"{1 + i % 7}ms"}, "length": 0.5} for i in range(7)]
        expected = [base64.b64decode(self.server.render(r)[1]["tracks"][0]["samples"]) for r in requests]
        latencies, failures, lock = [], [], threading.Lock()

        def client(offset):
            for i in range(75):
                index = (offset + i) % len(requests)
                start = time.perf_counter()
                status, answer = self.server.render(requests[index])
                elapsed = time.perf_counter() - start
                ok = status == 200 and base64.b64decode(answer["tracks"][0]["samples"]) == expected[index]
                with lock:
                    latencies.append(elapsed)
                    if not ok:
                        failures.append((index, status))

        threads = [threading.Thread(target=client, args=(n,)) for n in range(4)]
        for thread in threads:
            thread.start()
        for thread in threads:
            thread.join()
        self.assertEqual(failures, [])
        self.assertEqual(len(latencies), 300)
        print(f"\nload: 300 renders from 4 threads, p50 {percentile(latencies, 0.5) * 1e3:.1f} ms, "
              f"p99 {percentile(latencies, 0.99) * 1e3:.1f} ms", file=sys.stderr)
        # The default envelope one at a time: the latency a person dragging a slider sees.
        single = []
        for _ in range(50):
            start = time.perf_counter()
            self.assertEqual(self.server.render({})[0], 200)
            single.append(time.perf_counter() - start)
        print(f"default envelope: p50 {percentile(single, 0.5) * 1e3:.1f} ms, "
              f"p99 {percentile(single, 0.99) * 1e3:.1f} ms", file=sys.stderr)


class PatchStudio(unittest.TestCase):
    def test_patch_render_has_every_module_output(self):
        server = Server(PATCH)
        try:
            status, data = server.request("GET", "/api/subject")
            self.assertEqual(status, 200)
            subject = json.loads(data)
            self.assertEqual(subject["kind"], "patch")
            status, answer = server.render({"notes": [{"on": 0.1, "off": 0.6, "key": 57, "velocity": 100}],
                                            "length": 1})
            self.assertEqual(status, 200, answer)
            modules = subject["patch"]["modules"]
            outputs = [f"{m['name']}.{p['symbol']}" for m in modules for p in m["pins"]
                       if p["direction"] == "out" and p["datatype"] == "audio"]
            names = [t["name"] for t in answer["tracks"]]
            self.assertEqual(names, [o["name"] for o in subject["patch"]["outputs"]] + outputs)
            with tempfile.TemporaryDirectory() as folder:
                expected = cli_wav(answer["command"].split()[2:], folder, "patch.wav")
            self.assertEqual(base64.b64decode(answer["tracks"][0]["samples"]), expected)
            # The envelope's streaming marks: held at 0 until the note's sample, moving from there,
            # and between a stop and the next start its samples hold one value.
            env = next(t for t in answer["tracks"] if t["name"] == "env.output")
            marks = [(m["sample"], m["state"]) for m in env["streaming"]]
            self.assertEqual(marks[:2], [(0, "stop"), (answer["gate"][0][0], "start")])
            self.assertEqual(marks[-1][1], "stop")
            samples = struct.unpack(f"<{answer['length']}f", base64.b64decode(env["samples"]))
            for i, (sample, state) in enumerate(marks):
                if state == "stop":
                    end = marks[i + 1][0] if i + 1 < len(marks) else answer["length"]
                    self.assertEqual(len(set(samples[sample:end])), 1, (sample, end))
            self.assertEqual(answer["tracks"][0]["streaming"],
                             next(t for t in answer["tracks"] if t["name"] == "vca.output")["streaming"])
        finally:
            self.assertEqual(server.stop()[0], 0)


class StartingOptions(unittest.TestCase):
    def test_open_runs_xdg_open_with_the_url_and_host_warns(self):
        with tempfile.TemporaryDirectory() as folder:
            opened = os.path.join(folder, "opened")
            fake = os.path.join(folder, "xdg-open")
            with open(fake, "w") as file:
                file.write(f'#!/bin/sh\nprintf "%s" "$1" > {opened}\n')
            os.chmod(fake, 0o755)
            environment = dict(ENV, PATH=folder + os.pathsep + os.environ["PATH"])
            process = subprocess.Popen([KVX, "studio", "--port", "0", "--open", "--host", "127.0.0.1"],
                                       stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True, env=environment)
            url = process.stdout.readline().split(" at ")[-1].strip()
            for _ in range(400):
                if os.path.exists(opened) and os.path.getsize(opened):
                    break
                time.sleep(0.05)
            process.send_signal(signal.SIGTERM)
            _, err = process.communicate(timeout=60)
            self.assertEqual(process.returncode, 0)
            with open(opened) as file:
                self.assertEqual(file.read(), url)
            self.assertRegex(url, r"^http://127\.0\.0\.1:\d+/\?token=[0-9a-f]{32}$")
            self.assertIn("warning: listening on 127.0.0.1", err)

    def test_a_port_in_use_is_refused(self):
        server = Server()
        try:
            run = subprocess.run([KVX, "studio", "--port", str(server.port)], capture_output=True, text=True,
                                 env=ENV, timeout=60)
            self.assertEqual(run.returncode, 1)
            self.assertEqual(run.stderr, f"kvx studio: cannot listen on 127.0.0.1:{server.port}\n")
        finally:
            server.stop()


class InstrumentStudio(unittest.TestCase):
    """A MIDI file sent to an instrument plays as kvx render --midi plays the file."""
    EXAMPLES = os.path.dirname(os.path.dirname(PATCH))

    def setUp(self):
        self.server = Server(os.path.join(self.EXAMPLES, "patches", "instrument.kvxpatch.json"))
        self.addCleanup(self.server.stop)
        with open(os.path.join(self.EXAMPLES, "midi", "demo.mid"), "rb") as file:
            self.midi = file.read()

    def test_midi_plays_as_the_cli_plays_the_file(self):
        status, answer = self.server.render({"midi": base64.b64encode(self.midi).decode(), "rate": 44100})
        self.assertEqual(status, 200, answer)
        self.assertIn("--midi FILE.mid", answer["command"])
        with tempfile.TemporaryDirectory() as folder:
            path = os.path.join(folder, "demo.mid")
            with open(path, "wb") as file:
                file.write(self.midi)
            expected = cli_wav(answer["command"].replace("FILE.mid", path).split()[2:] + ["--format", "float"],
                               folder, "demo.wav")
        self.assertEqual(base64.b64decode(answer["tracks"][0]["samples"]), expected)

    def test_what_cannot_play_is_refused(self):
        encoded = base64.b64encode(self.midi).decode()
        cases = {"not Base64": {"midi": "MThd!"}, "Base64 one short": {"midi": encoded[:-1]},
                 "not a string": {"midi": 7}, "no MIDI": {"midi": base64.b64encode(b"MThd" + bytes(10)).decode()},
                 "a truncated file": {"midi": base64.b64encode(self.midi[:-5]).decode()},
                 "with settings": {"midi": encoded, "settings": {"attack": "5ms"}},
                 "with notes": {"midi": encoded, "notes": [{"on": 0, "off": 1}]},
                 "length 0": {"midi": encoded, "length": 0}}
        for name, request in cases.items():
            with self.subTest(name):
                status, answer = self.server.render(request)
                self.assertEqual(status, 400, answer)
                self.assertNotIn("\n", answer["error"])
        with self.subTest("a module"):
            module = Server()
            try:
                status, answer = module.render({"midi": encoded})
                self.assertEqual((status, answer["error"]), (400, "--midi plays a patch (NAME.kvxpatch.json) "
                                                                  "with voices, not a module"))
            finally:
                module.stop()


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1], verbosity=2)
