#!/usr/bin/env python3
"""Carla host suite: Carla 2.5.9 (../shared/tools/carla) with the built
modules, as its plug-in scan and its engine (driven through its Python API,
on a private JACK dummy server and a private X server) use them.

  discovery  carla-discovery-native lists each format as the README says:
             Kestrune by Marlowind, dynamics, 4 audio inputs (main and
             sidechain) and 2 outputs, and a label to list it by.
  engine-FMT a fresh instance in Carla's engine shows the plug-in's values
             (each at the default Carla reads for it), and they are the
             defaults: Carla picks the first program when it inserts a
             plug-in, and that is "Default" (INPUT stays at 0 dB, which every
             factory preset raises); two values set in the
             host survive saving the project and reopening it in a fresh
             engine process, and every other value comes back as it was;
             the plug-in's editor opens in Carla's window and draws (the
             reopened LV2 editor also in Carla's UI bridge process).

Nothing is timed: every engine step runs to its end, and the editor is
waited for until it has drawn (the bounds only catch a hang)."""

import argparse
import ctypes
import hashlib
import json
import os
import signal
import subprocess
import sys
import time

REPOSITORY = os.path.dirname(os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__)))))
# Carla's engine is loaded from a path without "..": libcarla_standalone2
# 2.5.9 derives its own folder from where it was loaded, and with ".." in
# that path its engine_init reads freed memory (an AddressSanitizer preload
# shows the use after free with no plug-in loaded; under glibc the process
# aborts now and then with "malloc(): unaligned tcache chunk detected").
CARLA = os.path.realpath(os.environ.get("KESTRUNE_CARLA_DIR", os.path.join(REPOSITORY, "..", "shared", "tools", "carla")))
FORMATS = ("vst3", "vst2", "lv2")
STEP_TIMEOUT = 120  # seconds: only catches a hang
LV2_URI = "urn:marlowind:kestrune"
# The two values a user sets before saving, as fractions of each range.
SET = {"INPUT": 0.3, "MIX": 0.7}


class Failure(Exception):
    pass


def check(condition, message):
    if not condition:
        raise Failure(message)


def module_paths(build):
    modules = os.path.join(build, "modules")
    return {"vst3": os.path.join(modules, "Kestrune.vst3"), "vst2": os.path.join(modules, "vst2", "Kestrune.so"),
            "lv2": os.path.join(modules, "Kestrune.lv2")}


def discovery(build):
    paths = module_paths(build)
    for fmt in FORMATS:
        run = subprocess.run([os.path.join(CARLA, "bin", "carla-discovery-native"), fmt, paths[fmt]],
                             capture_output=True, text=True, timeout=STEP_TIMEOUT)
        found = {}
        for line in run.stdout.splitlines():
            parts = line.split("::", 2)
            if len(parts) == 3 and parts[0] == "carla-discovery":
                found.setdefault(parts[1], parts[2])
        check(found, "%s: discovery found nothing (exit %d)\n%s" % (fmt, run.returncode, run.stderr[-2000:]))
        for key, want in (("name", "Kestrune"), ("maker", "Marlowind"), ("category", "dynamics"),
                          ("audio.ins", "4"), ("audio.outs", "2")):
            check(found.get(key) == want, "%s: discovery says %s=%r, not %r" % (fmt, key, found.get(key), want))
        check(found.get("label"), "%s: no label to list the plug-in by" % fmt)


# ---------------------------------------------------------------- engine cases
#
# Each engine step is this script again in a fresh process (--engine-step), as
# a user's Carla session is: libcarla_standalone2 keeps one engine per process.

class Servers:
    """A private JACK dummy server and a private X server, stopped by PID."""

    def __init__(self, work):
        self.work, self.procs, self.env = work, [], dict(os.environ)

    def __enter__(self):
        try:
            self.start_jack()
            self.start_x()
        except BaseException:
            self.__exit__()
            raise
        return self

    def start_jack(self):
        # JACK keeps a machine-wide table of a few servers: while other
        # programs fill it, a new server is refused; it is tried again once
        # one of them has ended. A server that died without stopping keeps
        # its entry until a server of the same name starts, so the name is
        # the same for every run of this case in this build folder: a run
        # takes over what a killed one left. Only when that name's entry is
        # held (a live process has the dead server's ID) is a new name tried.
        path = os.path.join(self.work, "jackd.log")
        own = "kestrune-carla-" + hashlib.sha1(os.path.abspath(self.work).encode()).hexdigest()[:12]
        for attempt in range(30):
            name = own if attempt == 0 else "%s-%s" % (own, os.urandom(4).hex())
            self.env.update(JACK_DEFAULT_SERVER=name, JACK_NO_START_SERVER="1", JACK_NO_AUDIO_RESERVATION="1")
            with open(path, "w") as log:
                jackd = subprocess.Popen(["jackd", "-n", name, "--no-realtime", "-d", "dummy", "-r", "48000",
                                          "-p", "512"], stdout=log, stderr=log, env=self.env)
            self.procs.append(jackd)
            for _ in range(120):  # a bound that only catches a hang: it is asked until it answers
                if jackd.poll() is not None:
                    break
                ask = subprocess.run(["jack_wait", "-s", name, "-c"], capture_output=True, text=True, env=self.env)
                if ask.stdout.strip() == "running":
                    return
                time.sleep(0.5)
            self.stop(jackd)
            with open(path) as log:
                text = log.read()
            check("Too many servers" in text or "already active" in text, "jackd did not start:\n" + text[-2000:])
            time.sleep(2)
        raise Failure("jackd: too many JACK servers on this machine for a minute")

    def start_x(self):
        read, write = os.pipe()
        self.procs.append(subprocess.Popen(["Xvfb", "-displayfd", str(write), "-screen", "0", "1920x1200x24",
                                            "-nolisten", "tcp"], pass_fds=(write,),
                                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL))
        os.close(write)
        with os.fdopen(read) as pipe:
            number = pipe.readline().strip()
        check(number, "Xvfb did not start")
        self.env["DISPLAY"] = ":" + number

    def stop(self, proc):
        if proc in self.procs:
            self.procs.remove(proc)
        proc.send_signal(signal.SIGTERM)
        try:
            proc.wait(timeout=30)
        except subprocess.TimeoutExpired:
            proc.kill()
            proc.wait()

    def __exit__(self, *exc):
        for proc in reversed(list(self.procs)):
            self.stop(proc)


def engine_step(servers, step, fmt, path, work):
    out = os.path.join(work, "%s-%s.json" % (fmt, step))
    run = subprocess.run([sys.executable, os.path.abspath(__file__), "--engine-step", step, "--format", fmt,
                          "--module", path, "--work-dir", work], env=servers.env, capture_output=True, text=True,
                         timeout=STEP_TIMEOUT)
    with open(os.path.join(work, "%s-%s.log" % (fmt, step)), "w") as log:
        log.write(run.stdout + run.stderr)
    check(run.returncode == 0 and os.path.exists(out), "%s: engine step %s failed (exit %d)\n%s" % (
        fmt, step, run.returncode, (run.stdout + run.stderr)[-3000:]))
    with open(out) as f:
        return json.load(f)


def engine_case(build, fmt, work):
    os.makedirs(work, exist_ok=True)
    path = module_paths(build)[fmt]
    with Servers(work) as servers:
        fresh = engine_step(servers, "fresh", fmt, path, work)
        reopened = engine_step(servers, "reopen", fmt, path, work)
    shown = lambda p: "%s = %.6g %r" % (p["name"], p["value"], p["text"])
    inputs = [p for p in fresh["params"] if p["dir"] == "in"]
    check(len(inputs) >= 14, "%s: %d input parameters" % (fmt, len(inputs)))
    if fmt != "vst3":
        for p in inputs:
            check(abs(p["value"] - p["default"]) < 1e-6, "%s: a fresh instance shows %s, its default is %.6g" % (
                fmt, shown(p), p["default"]))
    if fmt != "lv2":
        check(fresh["program"] == [0, "Default"], "%s: Carla's first program is %r" % (fmt, fresh["program"]))
    level = next(p for p in inputs if p["name"] == "INPUT")
    check(abs(level["value"] - level["min"]) < 1e-6, "%s: a fresh instance shows %s, not its default 0 dB" % (
        fmt, shown(level)))
    saved = {p["name"]: p for p in inputs}
    for p in fresh["edited"]:
        check(p["value"] != saved[p["name"]]["value"], "%s: setting %s changed nothing" % (fmt, p["name"]))
        saved[p["name"]] = p
    check(len(fresh["edited"]) == len(SET), "%s: set %d of %s" % (fmt, len(fresh["edited"]), sorted(SET)))
    again = {p["name"]: p for p in reopened["params"] if p["dir"] == "in"}
    for name, p in saved.items():
        q = again.get(name)
        check(q is not None, "%s: %s is missing after reopening" % (fmt, name))
        check(abs(p["value"] - q["value"]) < 1e-5 and p["text"] == q["text"],
              "%s: saved with %s, reopened with %s" % (fmt, shown(p), shown(q)))
    check(fresh["editor"]["colours"] > 16, "%s: the editor did not draw (%r)" % (fmt, fresh["editor"]))
    if "editor" in reopened:
        check(reopened["editor"]["colours"] > 16 and not reopened["editor"]["in this process"],
              "%s: the editor in Carla's UI bridge did not draw (%r)" % (fmt, reopened["editor"]))


def run_engine_step(step, fmt, module, work):
    carla_python = os.path.join(CARLA, "python")
    sys.path.insert(0, carla_python)
    import carla_backend as cb  # noqa: E402 (Carla's own ctypes wrapper)

    binaries = os.path.join(CARLA, "bin")
    host = cb.CarlaHostDLL(os.path.join(binaries, "libcarla_standalone2.so"), False)
    host.set_engine_option(cb.ENGINE_OPTION_PATH_BINARIES, 0, binaries)
    host.set_engine_option(cb.ENGINE_OPTION_PROCESS_MODE, cb.ENGINE_PROCESS_MODE_MULTIPLE_CLIENTS, "")
    # The editor in this process; the reopened LV2 one as Carla's GUI shows
    # it by default, in its UI bridge (carla-bridge-lv2-x11, a child process).
    bridged = step == "reopen" and fmt == "lv2"
    host.set_engine_option(cb.ENGINE_OPTION_PREFER_UI_BRIDGES, 1 if bridged else 0, "")
    host.set_engine_option(cb.ENGINE_OPTION_PLUGIN_PATH, cb.PLUGIN_LV2, os.path.dirname(module))
    x11 = X11()  # before the engine: Carla's window needs the atoms a desktop has
    check(host.engine_init("JACK", "kestrune-%s-%s" % (fmt, step)), "engine_init: %s" % host.get_last_error())
    host.transport_play()  # its position counts the engine's blocks
    project = os.path.join(work, "kestrune-%s.carxp" % fmt)
    result = {}
    if step == "fresh":
        # Two fresh instances: one shows what a fresh instance holds, the
        # other is edited and saved alone (a state handed to an instance is
        # never followed by edits here, so no edit races a state load).
        ptype = {"vst3": cb.PLUGIN_VST3, "vst2": cb.PLUGIN_VST2, "lv2": cb.PLUGIN_LV2}[fmt]
        for name in ("Kestrune shown", "Kestrune"):
            check(host.add_plugin(cb.BINARY_NATIVE, ptype, "" if fmt == "lv2" else module, name,
                                  LV2_URI if fmt == "lv2" else "", 0, None, 0), "add_plugin: %s" % host.get_last_error())
        settle(host)  # the blocks carrying what Carla set at insertion (its first program) have run
        result["params"] = read_params(host, cb, 0)
        if fmt == "vst3":
            # Carla's JUCE 7.0.1 rebuilds its VST3 parameter list after it has
            # read the values and shows 0 for each until the plug-in edits it
            # (DPF's plug-ins in the same host show the same); handing the
            # plug-in's own state back makes it read them again.
            chunk = host.get_chunk_data(0)
            check(chunk, "no VST3 state to hand back")
            host.set_chunk_data(0, chunk)
            settle(host)
            result["params"] = read_params(host, cb, 0)
        program = host.get_current_program_index(0)
        result["program"] = [program, host.get_program_name(0, program) if program >= 0 else None]
        check(host.remove_plugin(0), "remove_plugin: %s" % host.get_last_error())
        for p in read_params(host, cb, 0):
            if p["name"] in SET:
                host.set_parameter_value(0, p["i"], p["min"] + SET[p["name"]] * (p["max"] - p["min"]))
        settle(host)
        result["edited"] = [p for p in read_params(host, cb, 0) if p["name"] in SET]
        check(host.save_project(project), "save_project: %s" % host.get_last_error())
        result["editor"] = show_editor(host, cb, x11)
    else:
        if bridged:  # the project's engine settings win over the engine's own
            with open(project) as f:
                text = f.read()
            check("<PreferUiBridges>false</PreferUiBridges>" in text, "no PreferUiBridges in the project")
            project = project.replace(".carxp", "-bridged.carxp")
            with open(project, "w") as f:
                f.write(text.replace("<PreferUiBridges>false</PreferUiBridges>", "<PreferUiBridges>true</PreferUiBridges>"))
        check(host.load_project(project), "load_project: %s" % host.get_last_error())
        check(host.get_current_plugin_count() == 1, "the project holds %d plug-ins" % host.get_current_plugin_count())
        settle(host)
        result["params"] = read_params(host, cb, 0)
        if bridged:
            result["editor"] = show_editor(host, cb, x11)
    host.engine_close()
    with open(os.path.join(work, "%s-%s.json" % (fmt, step)), "w") as f:
        json.dump(result, f, indent=1)
    return 0


def settle(host):
    """Runs Carla's idle until the engine has processed two whole blocks
    after this call (its transport position counts them): what the host
    queued has reached the plug-in, however loaded the machine is."""
    start = host.get_current_transport_frame()
    for _ in range(3000):  # a bound that only catches a stalled engine
        host.engine_idle()
        if host.get_current_transport_frame() >= start + 3 * host.get_buffer_size():
            return
        time.sleep(0.01)
    raise Failure("the engine processed no blocks")


def read_params(host, cb, plugin):
    params = []
    for i in range(host.get_parameter_count(plugin)):
        info, data = host.get_parameter_info(plugin, i), host.get_parameter_data(plugin, i)
        ranges, value = host.get_parameter_ranges(plugin, i), host.get_current_parameter_value(plugin, i)
        text = host.get_parameter_text(plugin, i) if data["hints"] & cb.PARAMETER_USES_CUSTOM_TEXT else ""
        for j in range(info["scalePointCount"] if not text else 0):
            point = host.get_parameter_scalepoint_info(plugin, i, j)
            if abs(point["value"] - value) < 1e-6:
                text = point["label"]
        params.append({"i": i, "name": info["name"], "dir": "in" if data["type"] == cb.PARAMETER_INPUT else "out",
                       "value": value, "default": ranges["def"], "min": ranges["min"], "max": ranges["max"],
                       "text": text})
    return params


class X11:
    """Xlib through ctypes: the atoms a desktop creates (Carla's editor window
    looks some up with only_if_exists and dies with BadAtom on a bare
    server), and the editor window's pixels."""

    class Attributes(ctypes.Structure):
        _fields_ = [("x", ctypes.c_int), ("y", ctypes.c_int), ("width", ctypes.c_int), ("height", ctypes.c_int),
                    ("border_width", ctypes.c_int), ("depth", ctypes.c_int), ("visual", ctypes.c_void_p),
                    ("root", ctypes.c_ulong), ("c_class", ctypes.c_int), ("bit_gravity", ctypes.c_int),
                    ("win_gravity", ctypes.c_int), ("backing_store", ctypes.c_int),
                    ("backing_planes", ctypes.c_ulong), ("backing_pixel", ctypes.c_ulong),
                    ("save_under", ctypes.c_int), ("colormap", ctypes.c_ulong), ("map_installed", ctypes.c_int),
                    ("map_state", ctypes.c_int), ("all_event_masks", ctypes.c_long),
                    ("your_event_mask", ctypes.c_long), ("do_not_propagate_mask", ctypes.c_long),
                    ("override_redirect", ctypes.c_int), ("screen", ctypes.c_void_p)]

    def __init__(self):
        x = self.x = ctypes.CDLL("libX11.so.6")
        vp, ul, pul = ctypes.c_void_p, ctypes.c_ulong, ctypes.POINTER(ctypes.c_ulong)
        x.XOpenDisplay.restype, x.XOpenDisplay.argtypes = vp, [ctypes.c_char_p]
        x.XInternAtom.restype, x.XInternAtom.argtypes = ul, [vp, ctypes.c_char_p, ctypes.c_int]
        x.XDefaultRootWindow.restype, x.XDefaultRootWindow.argtypes = ul, [vp]
        x.XQueryTree.argtypes = [vp, ul, pul, pul, ctypes.POINTER(pul), ctypes.POINTER(ctypes.c_uint)]
        x.XGetWindowAttributes.argtypes = [vp, ul, ctypes.POINTER(X11.Attributes)]
        x.XGetWindowProperty.argtypes = [vp, ul, ul, ctypes.c_long, ctypes.c_long, ctypes.c_int, ul, pul,
                                         ctypes.POINTER(ctypes.c_int), pul, pul,
                                         ctypes.POINTER(ctypes.POINTER(ctypes.c_long))]
        x.XGetImage.restype, x.XGetImage.argtypes = vp, [vp, ul, ctypes.c_int, ctypes.c_int, ctypes.c_uint,
                                                         ctypes.c_uint, ul, ctypes.c_int]
        x.XGetPixel.restype, x.XGetPixel.argtypes = ul, [vp, ctypes.c_int, ctypes.c_int]
        x.XDestroyImage.argtypes = [vp]
        x.XFree.argtypes = [vp]
        x.XSync.argtypes = [vp, ctypes.c_int]
        self.dpy = x.XOpenDisplay(None)
        check(self.dpy, "cannot open display %r" % os.environ.get("DISPLAY"))
        for atom in (b"UTF8_STRING", b"WM_DELETE_WINDOW", b"WM_PROTOCOLS", b"WM_TAKE_FOCUS", b"WM_STATE", b"_XEMBED",
                     b"_XEMBED_INFO", b"_MOTIF_WM_HINTS", b"_NET_SUPPORTED", b"_NET_WORKAREA", b"_NET_ACTIVE_WINDOW",
                     b"_NET_FRAME_EXTENTS", b"_NET_REQUEST_FRAME_EXTENTS", b"_NET_WM_NAME", b"_NET_WM_ICON_NAME",
                     b"_NET_WM_PID", b"_NET_WM_PING", b"_NET_WM_ICON", b"_NET_WM_STATE", b"_NET_WM_STATE_ABOVE",
                     b"_NET_WM_STATE_FULLSCREEN", b"_NET_WM_STATE_HIDDEN", b"_NET_WM_STATE_SKIP_TASKBAR",
                     b"_NET_WM_STATE_SKIP_PAGER", b"_NET_WM_WINDOW_TYPE", b"_NET_WM_WINDOW_TYPE_NORMAL",
                     b"_NET_WM_WINDOW_TYPE_DIALOG", b"_NET_WM_USER_TIME", b"_NET_WM_WINDOW_OPACITY",
                     b"_XSETTINGS_SETTINGS", b"CLIPBOARD", b"TARGETS", b"XdndAware"):
            x.XInternAtom(self.dpy, atom, 0)
        x.XSync(self.dpy, 0)

    def own_window(self):
        """The largest viewable top-level window (by _NET_WM_PID) of this
        process or of a process it started."""
        x, best = self.x, None
        root, parent, kids, count = ctypes.c_ulong(), ctypes.c_ulong(), ctypes.POINTER(ctypes.c_ulong)(), ctypes.c_uint()
        x.XQueryTree(self.dpy, x.XDefaultRootWindow(self.dpy), ctypes.byref(root), ctypes.byref(parent),
                     ctypes.byref(kids), ctypes.byref(count))
        pid_atom = x.XInternAtom(self.dpy, b"_NET_WM_PID", 0)
        for k in range(count.value):
            typ, fmt, n, left = ctypes.c_ulong(), ctypes.c_int(), ctypes.c_ulong(), ctypes.c_ulong()
            data = ctypes.POINTER(ctypes.c_long)()
            if x.XGetWindowProperty(self.dpy, kids[k], pid_atom, 0, 1, 0, 0, ctypes.byref(typ), ctypes.byref(fmt),
                                    ctypes.byref(n), ctypes.byref(left), ctypes.byref(data)) != 0 or not n.value:
                continue
            pid = data[0]
            x.XFree(data)
            a = X11.Attributes()
            x.XGetWindowAttributes(self.dpy, kids[k], ctypes.byref(a))
            if os.getpid() in (pid, parent_of(pid)) and a.map_state == 2 and (best is None or a.width * a.height > best[1] * best[2]):
                best = (kids[k], a.width, a.height, pid)
        if kids:
            x.XFree(kids)
        return best

    def colours(self, window, width, height):
        """Distinct colours on a grid of every fourth pixel of the window."""
        image = self.x.XGetImage(self.dpy, window, 0, 0, width, height, 0xFFFFFFFF, 2)  # ZPixmap
        if not image:
            return 0
        seen = {self.x.XGetPixel(image, px, py) for py in range(0, height, 4) for px in range(0, width, 4)}
        self.x.XDestroyImage(image)
        return len(seen)


def parent_of(pid):
    try:
        with open("/proc/%d/stat" % pid) as f:
            return int(f.read().rsplit(")", 1)[1].split()[1])
    except (OSError, ValueError, IndexError):
        return 0


def show_editor(host, cb, x11):
    check(host.get_plugin_info(0)["hints"] & cb.PLUGIN_HAS_CUSTOM_UI, "no editor offered")
    host.show_custom_ui(0, True)
    found, colours = None, 0
    for _ in range(1000):  # a bound that only catches a hang: the editor is waited for until it has drawn
        host.engine_idle()
        time.sleep(0.02)
        found = x11.own_window()
        if found:
            colours = x11.colours(*found[:3])
            if colours > 16:
                break
    host.show_custom_ui(0, False)
    host.engine_idle()
    return {"window": found[1:3] if found else None, "colours": colours,
            "in this process": bool(found) and found[3] == os.getpid()}


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--case", choices=["discovery"] + ["engine-" + f for f in FORMATS])
    parser.add_argument("--build-dir")
    parser.add_argument("--work-dir")
    parser.add_argument("--engine-step", choices=["fresh", "reopen"])
    parser.add_argument("--format", choices=FORMATS)
    parser.add_argument("--module")
    args = parser.parse_args()
    try:
        if args.engine_step:
            return run_engine_step(args.engine_step, args.format, args.module, args.work_dir)
        if args.case == "discovery":
            discovery(os.path.abspath(args.build_dir))
        else:
            engine_case(os.path.abspath(args.build_dir), args.case[len("engine-"):], os.path.abspath(args.work_dir))
    except Failure as failure:
        print("FAIL: %s" % failure)
        return 1
    print("PASS")
    return 0


if __name__ == "__main__":
    sys.exit(main())
