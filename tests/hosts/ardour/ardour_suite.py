#!/usr/bin/env python3
"""Ardour host suite: drives Ardour 7 headless (ardour7-lua, its None/Dummy
backend) through sessions with the built Kestrune modules, one Ardour process
per step under a timeout, with a private HOME so no user configuration is read
or written. Each --case is one behaviour a musician would notice; the ctest
names say which.

Audio is compared bit for bit: Ardour's exports and bounces against
kestrune-render run on the same input with the state Ardour saved."""

import argparse
import base64
import os
import re
import shutil
import signal
import struct
import subprocess
import sys
import xml.etree.ElementTree as ET

STEP_TIMEOUT = 120  # seconds; only catches a hang, a step takes a few
SESSION = "kestrune"
FRAMES = 48000


class Failure(Exception):
    pass


class HostCrash(Exception):
    pass


def check(condition, message):
    if not condition:
        raise Failure(message)


class Suite:
    def __init__(self, args):
        self.build = os.path.abspath(args.build_dir)
        self.here = os.path.dirname(os.path.abspath(__file__))
        self.work = os.path.abspath(args.work_dir)
        self.home = os.path.join(self.work, "home")
        self.session = os.path.join(self.work, "session")
        self.modules = os.path.join(self.build, "modules")
        self.vst3 = os.path.join(self.modules, "Kestrune.vst3")
        self.vst2 = os.path.join(self.modules, "vst2", "Kestrune.so")
        self.lv2_bundle = os.path.join(self.modules, "Kestrune.lv2")
        # Ardour finds LV2 bundles through LV2_PATH: a folder with ours only.
        self.lv2_path = os.path.join(self.work, "lv2")
        self.render_tool = os.path.join(self.build, "tools", "render", "kestrune-render")
        self.ardour_lib = args.ardour_lib
        self.ardour_data = args.ardour_data
        self.restore_halfway = os.path.abspath(args.restore_halfway)

    # ---------------------------------------------------------------- processes

    def env(self, **extra):
        env = dict(os.environ)
        env.update(HOME=self.home,
                   XDG_CONFIG_HOME=os.path.join(self.home, ".config"),
                   XDG_CACHE_HOME=os.path.join(self.home, ".cache"),
                   XDG_DATA_HOME=os.path.join(self.home, ".local", "share"))
        env.pop("ARDOUR_CONFIG_PATH", None)
        env["LV2_PATH"] = self.lv2_path
        env.update({k: str(v) for k, v in extra.items()})
        return env

    def ardour_env(self, **extra):
        """The environment Debian's wrappers (ardour7-lua, ardour7-export) give
        Ardour, with one change: its data folder is a folder of links to
        Ardour's own, less two folders no case uses: the MIDI patch names,
        all 450 files of which every Ardour process parses in a thread of its
        own, and the tags of 4830 other plug-ins, which it sorts into its
        plug-in list. They took three quarters of the suite's CPU time."""
        data = os.path.join(self.work, "ardour-data")
        if not os.path.isdir(data):
            os.makedirs(data)
            for name in os.listdir(self.ardour_data):
                if name not in ("patchfiles", "plugin_metadata"):
                    os.symlink(os.path.join(self.ardour_data, name), os.path.join(data, name))
        return self.env(LD_LIBRARY_PATH=self.ardour_lib, GTK_PATH="/etc/ardour7:" + self.ardour_lib,
                        ARDOUR_DATA_PATH=data, ARDOUR_CONFIG_PATH="/etc/ardour7",
                        ARDOUR_DLL_PATH=self.ardour_lib, VAMP_PATH=os.path.join(self.ardour_lib, "vamp"),
                        **extra)

    def run(self, what, command, env, host_crash_retries=0):
        """Runs one process to its end; a hang is killed and fails the case."""
        for attempt in range(host_crash_retries):
            try:
                return self.run_once(what, command, env)
            except HostCrash as crash:
                print("%s crashed (signal %d); running it again" % (what, crash.args[0]))
        try:
            return self.run_once(what, command, env)
        except HostCrash as crash:
            raise Failure("%s crashed (signal %d)\n%s" % (what, crash.args[0], crash.args[1]))

    def run_once(self, what, command, env):
        proc = subprocess.Popen(command, env=env, cwd=self.work, stdout=subprocess.PIPE,
                                stderr=subprocess.STDOUT, text=True, errors="replace",
                                start_new_session=True)
        try:
            out, _ = proc.communicate(timeout=STEP_TIMEOUT)
        except subprocess.TimeoutExpired:
            os.killpg(proc.pid, signal.SIGKILL)
            out, _ = proc.communicate()
            raise Failure("%s hung: no end after %d s\n%s" % (what, STEP_TIMEOUT, out[-3000:]))
        if proc.returncode in (-signal.SIGSEGV, -signal.SIGABRT):
            raise HostCrash(-proc.returncode, out[-3000:])
        if proc.returncode != 0:
            raise Failure("%s failed (exit %d)\n%s" % (what, proc.returncode, out[-3000:]))
        return out

    def lua(self, step, fmt="VST3", values=None, **extra):
        out = self.run("Ardour step '%s'" % step,
                       [os.path.join(self.ardour_lib, "luasession"), os.path.join(self.here, "session.lua")],
                       self.ardour_env(KESTRUNE_STEP=step, KESTRUNE_FORMAT=fmt, KESTRUNE_SESSION=self.session,
                                KESTRUNE_FRAMES=FRAMES, KESTRUNE_VALUES=values or os.devnull, **extra))
        check("STEP %s done" % step in out, "Ardour step '%s' ended early\n%s" % (step, out[-3000:]))
        return out

    def export(self, name):
        """Ardour's own command-line export of the session range, 32-bit float.
        Ardour 7.3's exporter corrupts its heap in about one run in five, in
        an empty session made by its own tools too (freeing its export
        channels' ring buffers; its Lua export does the same): a run it ends
        by SIGSEGV or SIGABRT is run again, up to four times. What it writes
        is still compared bit for bit."""
        path = os.path.join(self.work, name + ".wav")
        self.run("ardour7-export", [os.path.join(self.ardour_lib, "utils", "ardour7-export"), "-b", "float",
                                    "-o", path, self.session, SESSION],
                 self.ardour_env(), host_crash_retries=4)
        return path

    def render(self, state, inputs, name, fmt="VST3"):
        """kestrune-render on the same input with the state Ardour saved."""
        state_path = os.path.join(self.work, name + ".state")
        with open(state_path, "wb") as f:
            f.write(state)
        stereo = os.path.join(self.work, name + "-input.wav")
        write_wav(stereo, interleave([read_wav(p)[1] for p in inputs]), 2)
        out = os.path.join(self.work, name + ".wav")
        module = self.lv2_bundle if fmt == "LV2" else self.vst3
        self.run("kestrune-render", [self.render_tool, "-q", "--format", fmt.lower(), "--module", module,
                                     "--preset", state_path, "--sample-format", "float",
                                     "--no-pictures", "-o", out, stereo], self.env())
        return out

    # ---------------------------------------------------------------- setting up

    def prepare(self):
        """A private HOME: Ardour's plug-in paths, the suite's test signal
        script, the factory presets where a user's VST3 presets live, and the
        scan Ardour runs on new plug-ins."""
        shutil.rmtree(self.work, ignore_errors=True)
        config = os.path.join(self.home, ".config", "ardour7")
        os.makedirs(os.path.join(config, "scripts"))
        with open(os.path.join(config, "config"), "w") as f:
            f.write('<?xml version="1.0" encoding="UTF-8"?>\n<Ardour>\n  <Config>\n'
                    '    <Option name="plugin-path-vst3" value="%s"/>\n'
                    '    <Option name="plugin-path-lxvst" value="%s"/>\n'
                    '  </Config>\n</Ardour>\n' % (self.modules, os.path.dirname(self.vst2)))
        shutil.copy(os.path.join(self.here, "test-signal.lua"), os.path.join(config, "scripts"))
        os.makedirs(self.lv2_path)
        os.symlink(self.lv2_bundle, os.path.join(self.lv2_path, "Kestrune.lv2"))
        env = self.env(LD_LIBRARY_PATH=self.ardour_lib)
        self.run("Ardour's VST3 scanner", [os.path.join(self.ardour_lib, "ardour-vst3-scanner"), "-f", self.vst3], env)
        self.run("Ardour's VST2 scanner", [os.path.join(self.ardour_lib, "ardour-vst-scanner"), "-f", self.vst2], env)
        vendor = None
        cache = os.path.join(self.home, ".cache", "ardour7", "vst")
        for name in os.listdir(cache):
            if name.endswith(".v3i"):
                vendor = ET.parse(os.path.join(cache, name)).getroot().find("VST3Info").get("vendor")
        check(vendor, "Ardour's VST3 scan indexed no plug-in")
        self.presets = os.path.join(self.home, ".vst3", "presets", vendor, "Kestrune")
        shutil.copytree(os.path.join(self.build, "presets", "vst3"), self.presets)

    def add_session_range(self):
        """The session range ardour7-export renders: the test material (as a
        musician's session gets when its first region is recorded)."""
        path = self.session_file()
        text = open(path).read()
        location = ('<Location id="990001" name="session" start="a0" end="a%d" flags="IsSessionRange" '
                    'locked="0" timestamp="1" cue="0"/>' % (FRAMES * 282240000 // 48000))
        if "<Locations/>" in text:
            text = text.replace("<Locations/>", "<Locations>%s</Locations>" % location)
        else:
            text = text.replace("<Locations>", "<Locations>" + location, 1)
        open(path, "w").write(text)

    def session_file(self, snapshot=SESSION):
        return os.path.join(self.session, snapshot + ".ardour")

    def input_files(self):
        folder = os.path.join(self.session, "interchange", "session", "audiofiles")
        return [os.path.join(folder, "input%L.wav"), os.path.join(folder, "input%R.wav")]

    # ---------------------------------------------------------------- cases

    def vst3_setup(self):
        self.prepare()
        self.lua("setup", values=os.path.join(self.work, "values-setup.txt"))
        self.add_session_range()

    def values_come_back(self, fmt):
        """What Ardour shows after reopening equals what it showed when saved,
        and saving the reopened session stores the same plug-in state."""
        self.lua("reload", fmt, values=os.path.join(self.work, "values-reload.txt"))
        before = read_values(os.path.join(self.work, "values-setup.txt"))
        after = read_values(os.path.join(self.work, "values-reload.txt"))
        changed = ["%s: %s saved, %s reopened" % (k, before[k], after.get(k)) for k in before
                   if after.get(k) != before[k]]
        check(not changed, "values changed across save and reload:\n  " + "\n  ".join(changed))
        check(len(before) >= 10, "fewer parameters than expected: %s" % sorted(before))
        saved, reloaded = plugin_state(self.session_file(), fmt), plugin_state(self.session_file("reloaded"), fmt)
        check(saved == reloaded, "the plug-in state saved after reopening differs from the one opened")

    def vst3_export(self):
        """Ardour's export of the reopened session equals kestrune-render with
        the state Ardour saved, on the same input, bit for bit."""
        exported = self.export("export")
        reference = self.render(plugin_state(self.session_file(), "VST3"), self.input_files(), "render")
        same_audio(exported, reference, "Ardour's export", "kestrune-render")
        check(read_wav(exported)[1] != interleave([read_wav(p)[1] for p in self.input_files()]),
              "the export is the unprocessed input: the plug-in did not run")

    def presets(self):
        """Each factory preset through Ardour's preset API (the call the
        Presets menu makes) loads, with no hang, exactly the preset's state;
        the last one survives save and reopen."""
        self.prepare()
        out = self.lua("presets")
        loaded = re.findall(r"^PRESET (.*)$", out, re.M)
        files = sorted(f[:-len(".vstpreset")] for f in os.listdir(self.presets))
        check(sorted(loaded) == files, "Ardour loaded %s, the factory presets are %s" % (loaded, files))
        for label in loaded:
            want = vstpreset_state(open(os.path.join(self.presets, label + ".vstpreset"), "rb").read())
            got = plugin_state(self.session_file("preset " + label), "VST3")
            check(got == want, "after loading '%s' the plug-in's state is not the preset's%s"
                  % (label, state_difference(got, want)))
        self.lua("reload")
        check(plugin_state(self.session_file("reloaded"), "VST3") == want,
              "the preset loaded last ('%s') did not survive save and reopen" % loaded[-1])

    def programs(self, fmt):
        """Default, then the factory presets, are the plug-in's programs,
        without a blank entry; picking one loads it (its INPUT shows; Default,
        picked last, brings back 0 dB)."""
        self.prepare()
        out = self.lua("programs", fmt)
        # Ardour numbers VST2 programs: "1 - Drum Bus Glue".
        labels = re.findall(r"^PROGRAM (.*)$", out, re.M)
        listed = [re.sub(r"^\d+ - ", "", label) for label in labels]
        inputs = {"Drum Bus Glue": 10.0, "Vocal Levelling": 14.0, "Parallel Smash": 55.0,
                  "Bass Ducked by Kick": 18.0, "Gentle Master": 5.0, "SLAM": 20.0, "Default": 0.0}
        check(listed == list(inputs), "Ardour lists the programs %s" % listed)
        for label, name in zip(labels, listed):
            state = plugin_state(self.session_file("program " + label), fmt)
            if fmt != "VST3":
                state = current_program_state(state, self.session_file("program " + label))
            check(struct.unpack("<d", state[:8])[0] == inputs[name],
                  "after picking program '%s' INPUT is not the program's" % name)

    def bypass(self):
        """Ardour's bypass of the plug-in holds in a bounce, an export, a saved
        and reopened session and a bounce after it; lifted, the plug-in
        processes again, and the session reopened bounces what kestrune-render
        renders."""
        self.prepare()
        out = self.lua("bypass")
        self.add_session_range()
        inputs = [read_wav(p)[1] for p in self.input_files()]
        check(bounced(out, "bypassed") == inputs, "the bypassed bounce is not the input")
        exported = read_wav(self.export("export-bypassed"))[1]
        check(exported == interleave(inputs), "the bypassed export is not the input")
        out = self.lua("unbypass")
        check(bounced(out, "reloaded_bypassed") == inputs, "the reopened bypassed bounce is not the input")
        check(bounced(out, "lifted") != inputs, "the bounce after lifting the bypass is the input")
        out = self.lua("active")
        reference = self.render(plugin_state(self.session_file(), "VST3"), self.input_files(), "render")
        active = os.path.join(self.work, "active.wav")
        write_wav(active, interleave(bounced(out, "active")), 2)
        same_audio(active, reference, "Ardour's bounce of the reopened session with the bypass lifted",
                   "kestrune-render")

    def lv2(self):
        """The LV2 plug-in at non-default values: saved, reopened with the
        same values and state, and Ardour's export of it equals
        kestrune-render's LV2 host with the state Ardour saved."""
        self.prepare()
        self.lua("setup", "LV2", values=os.path.join(self.work, "values-setup.txt"))
        self.add_session_range()
        self.values_come_back("LV2")
        exported = self.export("export")
        reference = self.render(plugin_state(self.session_file(), "LV2"), self.input_files(), "render", "LV2")
        same_audio(exported, reference, "Ardour's export", "kestrune-render")
        check(read_wav(exported)[1] != interleave([read_wav(p)[1] for p in self.input_files()]),
              "the export is the unprocessed input: the plug-in did not run")

    def lv2_presets(self):
        """Each LV2 factory preset from Ardour's preset list loads exactly the
        state the preset file holds, also when Ardour's engine runs blocks
        while Ardour is setting the preset's port values: the preloaded
        library pauses Ardour after the first one, each time."""
        self.prepare()
        out = self.lua("presets", "LV2", LD_PRELOAD=self.restore_halfway)
        loaded = re.findall(r"^PRESET (.*)$", out, re.M)
        files = {}
        folder = os.path.join(self.lv2_bundle, "presets")
        for name in os.listdir(folder):
            text = open(os.path.join(folder, name)).read()
            files[re.search(r'rdfs:label "([^"]*)"', text).group(1)] = lv2_blob(text)
        check(sorted(loaded) == sorted(files), "Ardour loaded %s, the factory presets are %s" % (loaded, sorted(files)))
        for label in loaded:
            got = plugin_state(self.session_file("preset " + label), "LV2")
            check(got == files[label], "after loading '%s' the plug-in's state is not the preset's%s"
                  % (label, state_difference(got, files[label])))

    def lxvst(self):
        self.prepare()
        self.lua("setup", "LXVST", values=os.path.join(self.work, "values-setup.txt"))
        self.values_come_back("LXVST")


# -------------------------------------------------------------------- files

def read_wav(path):
    """(channels, raw sample bytes) of a WAV file of 32-bit float samples."""
    data = open(path, "rb").read()
    check(data[:4] == b"RIFF" and data[8:12] == b"WAVE", "%s is not a WAV file" % path)
    pos, fmt, samples = 12, None, None
    while pos + 8 <= len(data):
        tag, size = data[pos:pos + 4], struct.unpack("<I", data[pos + 4:pos + 8])[0]
        if tag == b"fmt ":
            fmt = struct.unpack("<HHIIHH", data[pos + 8:pos + 24])
        elif tag == b"data":
            samples = data[pos + 8:pos + 8 + size]
        pos += 8 + size + (size & 1)
    check(fmt and samples is not None, "%s has no audio" % path)
    code, channels, _, _, _, bits = fmt
    check(code in (3, 0xFFFE) and bits == 32, "%s is not 32-bit float" % path)
    return channels, samples


def write_wav(path, samples, channels, rate=48000):
    fmt = struct.pack("<HHIIHH", 3, channels, rate, rate * 4 * channels, 4 * channels, 32)
    body = b"WAVE" + b"fmt " + struct.pack("<I", len(fmt)) + fmt + b"data" + struct.pack("<I", len(samples)) + samples
    with open(path, "wb") as f:
        f.write(b"RIFF" + struct.pack("<I", len(body)) + body)


def interleave(channels):
    frames = min(len(c) for c in channels) // 4
    out = bytearray(frames * 4 * len(channels))
    for i, c in enumerate(channels):
        for k in range(frames):
            o = (k * len(channels) + i) * 4
            out[o:o + 4] = c[k * 4:k * 4 + 4]
    return bytes(out)


def bounced(out, name):
    paths = dict(re.findall(r"^BOUNCE %s (\d+) (.*)$" % re.escape(name), out, re.M))
    check(len(paths) == 2, "Ardour's bounce '%s' did not make two channels" % name)
    return [read_wav(paths[str(c)])[1] for c in range(2)]


def same_audio(a, b, a_name, b_name):
    (ca, sa), (cb, sb) = read_wav(a), read_wav(b)
    check(ca == cb, "%s has %d channels, %s %d" % (a_name, ca, b_name, cb))
    check(len(sa) == len(sb), "%s has %d samples, %s %d" % (a_name, len(sa) // 4, b_name, len(sb) // 4))
    if sa != sb:
        fa, fb = struct.unpack("<%df" % (len(sa) // 4), sa), struct.unpack("<%df" % (len(sb) // 4), sb)
        diff = [i for i in range(len(fa)) if fa[i] != fb[i]]
        i = diff[0]
        raise Failure("%s differs from %s in %d of %d samples; first at frame %d channel %d: %r vs %r%s"
                      % (a_name, b_name, len(diff), len(fa), i // ca, i % ca, fa[i], fb[i],
                         shift_note(fa, fb, ca, b_name)))


def shift_note(fa, fb, channels, b_name, most=4096, frames=256):
    """Says so when the first samples are b's, some frames early or late:
    which side moved the audio tells a latency fault from a plug-in fault."""
    n = frames * channels
    for k in range(1, most + 1):
        o = k * channels
        if fa[:n] == fb[o:o + n]:
            return " (its audio is %s's from frame %d on: %d frames early)" % (b_name, k, k)
        if fa[o:o + n] == fb[:n]:
            return " (its audio from frame %d on is %s's: %d frames late)" % (k, b_name, k)
    return ""


def read_values(path):
    values = {}
    for line in open(path):
        name, value = line.rstrip("\n").split("\t")
        values[name] = value
    return values


def vstpreset_state(data):
    """The controller state ('Cont' chunk) of a .vstpreset file."""
    check(data[:4] == b"VST3", "not a VST3 preset")
    at = struct.unpack("<q", data[40:48])[0]
    check(data[at:at + 4] == b"List", "VST3 preset without a chunk list")
    for k in range(struct.unpack("<i", data[at + 4:at + 8])[0]):
        e = at + 8 + 20 * k
        offset, size = struct.unpack("<qq", data[e + 4:e + 20])
        if data[e:e + 4] == b"Cont":
            return data[offset:offset + size]
    raise Failure("VST3 preset without a controller state")


def lv2_blob(turtle):
    """The plug-in's state blob in a saved LV2 state or preset (Turtle)."""
    found = re.search(r'<urn:marlowind:kestrune#state>\s*"{1,3}([A-Za-z0-9+/=\s]*)"{1,3}\^\^xsd:base64Binary',
                      turtle)
    check(found, "no Kestrune state in the LV2 state")
    return base64.b64decode(found.group(1))


def state_difference(got, want):
    """The parameters (one double each, in order) where two states differ."""
    count = min(len(got), len(want)) // 8
    a, b = struct.unpack("<%dd" % count, got[:count * 8]), struct.unpack("<%dd" % count, want[:count * 8])
    differ = ["parameter %d: %.17g, the preset %.17g" % (i, a[i], b[i]) for i in range(count) if a[i] != b[i]]
    if len(got) != len(want):
        differ.append("%d bytes, the preset %d" % (len(got), len(want)))
    return (":\n  " + "\n  ".join(differ)) if differ else " (beyond the parameters)"


def plugin_state(session_file, fmt):
    """The Kestrune state a saved session holds: the VST3 state, or the VST2
    program chunk Ardour stores (its parameter values for a module without
    program chunks)."""
    root = ET.parse(session_file).getroot()
    for proc in root.iter("Processor"):
        if proc.get("name") != "Kestrune":
            continue
        if fmt == "LV2":
            # Ardour keeps an LV2 plug-in's state beside the session, in
            # plugins/<processor id>/<state-dir>/state.ttl.
            node = proc.find("lv2")
            check(node is not None and node.get("state-dir"), "%s holds no LV2 state" % session_file)
            path = os.path.join(os.path.dirname(session_file), "plugins", proc.get("id"), node.get("state-dir"),
                                "state.ttl")
            return lv2_blob(open(path).read())
        if fmt == "VST3":
            chunk = proc.find("vst3/chunk")
            check(chunk is not None, "%s holds no VST3 state" % session_file)
            return vstpreset_state(base64.b64decode(chunk.text))
        chunk = proc.find("lxvst/chunk")
        if chunk is not None:
            return base64.b64decode(chunk.text)
        params = proc.find("lxvst/parameters")
        check(params is not None, "%s holds no VST2 state" % session_file)
        return dict(params.attrib)
    raise Failure("%s has no Kestrune" % session_file)


def current_program_state(bank, session_file):
    """The parameter state of the current program in a VST2 bank chunk
    ('tffp', version, then per program: name length, name, used flag,
    state), the program Ardour stored beside the chunk."""
    root = ET.parse(session_file).getroot()
    program = int(next(root.iter("chunk")).get("program", "0"))
    position = 8
    for index in range(program + 1):
        length = struct.unpack("<i", bank[position:position + 4])[0]
        position += 4 + length + 1
        if index == program:
            return bank[position:position + 112]
        position += 112
    raise Failure("%s holds no program %d" % (session_file, program))


CASES = {
    "vst3-setup": lambda s: s.vst3_setup(),
    "vst3-values": lambda s: s.values_come_back("VST3"),
    "vst3-export": lambda s: s.vst3_export(),
    "presets": lambda s: s.presets(),
    "bypass": lambda s: s.bypass(),
    "lxvst-values": lambda s: s.lxvst(),
    "lv2": lambda s: s.lv2(),
    "lv2-presets": lambda s: s.lv2_presets(),
    "lxvst-programs": lambda s: s.programs("LXVST"),
}


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--case", required=True, choices=sorted(CASES))
    parser.add_argument("--build-dir", required=True)
    parser.add_argument("--work-dir", required=True)
    parser.add_argument("--ardour-lib", default="/usr/lib/ardour7")
    parser.add_argument("--ardour-data", default="/usr/share/ardour7")
    parser.add_argument("--restore-halfway", required=True,
                        help="the library the LV2 preset case preloads into Ardour")
    args = parser.parse_args()
    try:
        CASES[args.case](Suite(args))
    except Failure as failure:
        # The next run starts the case's folder afresh: keep what failed.
        kept = os.path.abspath(args.work_dir) + "-failed"
        shutil.rmtree(kept, ignore_errors=True)
        if os.path.isdir(args.work_dir):
            shutil.copytree(args.work_dir, kept, symlinks=True)
        print("FAILED: %s\n(the case's files are kept in %s)" % (failure, kept))
        return 1
    print("passed")
    return 0


if __name__ == "__main__":
    sys.exit(main())
