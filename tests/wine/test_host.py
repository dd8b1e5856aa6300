"""The stand-alone host driving minimal_vis.dll, a visualization DLL that is not ours."""

import os
import struct
import threading
import time
import unittest

from harness import BIN, HostTestCase, leak_growth, make_folder, read_png, remove_folder, text_bytes, windows_path

MINIMAL = "minimal_vis.dll"


def control(**keys):
    """minimal_vis.txt from keyword arguments; box= takes a list of "TYPE|CAPTION|TEXT"."""
    lines = []
    for key, value in keys.items():
        for v in value if isinstance(value, list) else [value]:
            lines.append("%s=%s" % (key, v))
    return {"minimal_vis.txt": "\n".join(lines) + "\n"}


def entries(run, word):
    return [fields for w, fields in run.minimal_log() if w == word]


def is_64_bit(dll):
    """Whether a DLL of the build is an x86_64 one (its PE header's machine is AMD64)."""
    with open(os.path.join(BIN, dll), "rb") as f:
        head = f.read(4096)
    at = struct.unpack_from("<I", head, 0x3C)[0]
    return struct.unpack_from("<H", head, at + 4)[0] == 0x8664


class LoadingTest(HostTestCase):
    def test_header_and_module_records(self):
        run = self.host(MINIMAL, ["--frames", "0"])
        loaded = run.events[0]
        self.assertEqual(loaded["event"], "loaded")
        self.assertEqual(loaded["header_version"], 0x101)
        self.assertEqual(loaded["description"], "Minimal vis")
        self.assertEqual(loaded["module_description"], "Minimal vis module")
        self.assertTrue(loaded["module0_same"])
        self.assertTrue(loaded["module1_null"])
        self.assertTrue(loaded["module_minus1_null"])
        self.assertEqual((loaded["latency_ms"], loaded["delay_ms"]), (5, 33))
        self.assertEqual(run.names(), ["loaded", "swap_capture", "player_files", "host_message", "init", "quit", "end"])

    def test_fields_the_host_fills(self):
        run = self.host(MINIMAL, ["--frames", "0"])
        init = entries(run, "init")[0]
        self.assertEqual(init["parent_is_window"], "1")
        self.assertEqual(init["parent_class"], "HalcyonHostParent")
        self.assertEqual(init["instance_is_self"], "1")
        self.assertEqual(init["same_thread"], "1")
        self.assertEqual((init["sample_rate"], init["channels"]), ("44100", "2"))
        run = self.host(MINIMAL, ["--frames", "0", "--sample-rate", "22050", "--channels", "1"])
        init = entries(run, "init")[0]
        self.assertEqual((init["sample_rate"], init["channels"]), ("22050", "1"))

    def test_dlls_the_host_cannot_use(self):
        run = self.host("noexport_vis.dll", expect_status=1)
        self.assertEqual(run.names(), ["error"])
        self.assertEqual(run.events[0]["what"], "export_missing")
        for name, content in (("not_a.dll", b"MZ but nothing more"), ("missing.dll", None)):
            folder = make_folder()
            self.addCleanup(remove_folder, folder)
            if content is not None:
                with open(os.path.join(folder, name), "wb") as f:
                    f.write(content)
            run = self.host(MINIMAL, folder=folder, dll_arg=windows_path(os.path.join(folder, name)),
                            expect_status=1)
            self.assertEqual(run.names(), ["error"])
            self.assertEqual(run.events[0]["what"], "load_failed")

    def test_bad_command_lines(self):
        for args in (["--frames", "many"], ["--spectrum", "tone:576"], ["--answer", "maybe"],
                     ["--spectrum", "constant:256"], ["--bogus"], ["--frames"], ["--clock-ms", "0"],
                     ["--clock-ms", "1000/0"], ["--clock-ms", "40ms"], ["--clock-start", "5"],
                     ["--pacing", "sometimes"], ["--pacing", "wall"]):
            run = self.host(MINIMAL, args, expect_status=2)
            self.assertEqual(run.events, [], args)
            self.assertIn("usage: halcyon_host", run.stderr, args)


class VersionTest(HostTestCase):
    def test_answers(self):
        run = self.host(MINIMAL, ["--frames", "0"])
        [asked] = run.of("host_message")
        self.assertEqual((asked["lparam"], asked["wparam"], asked["phase"], asked["answer"]), (0, 0, "init", 0x5066))
        self.assertEqual(entries(run, "version"), [{"answer": str(0x5066)}])
        run = self.host(MINIMAL, ["--frames", "0", "--probe-answer", "0x2900"])
        self.assertEqual(entries(run, "version"), [{"answer": str(0x2900)}])
        self.assertEqual(run.one("init")["result"], 0)

    def test_too_old_a_player_fails_init_without_render_or_quit(self):
        run = self.host(MINIMAL, ["--probe-answer", "0x28ff"], expect_status=1)  # as the native program
        self.assertEqual(run.one("message_box")["text"], "This plug-in requires Winamp 2.9+")
        self.assertEqual(run.one("init")["result"], 1)
        self.assertEqual(run.of("frame"), [])
        self.assertEqual(run.of("quit"), [])
        self.assertEqual(run.one("end")["reason"], "init_failed")
        self.assertEqual(entries(run, "quit"), [])

    def test_quit_after_failed_init_on_request(self):
        run = self.host(MINIMAL, ["--probe-answer", "0", "--quit-after-failed-init"], expect_status=1)
        self.assertEqual(run.names()[-3:], ["init", "quit", "end"])
        self.assertEqual(len(entries(run, "quit")), 1)


class RenderWindowTest(HostTestCase):
    def test_registration_and_withdrawal(self):
        run = self.host(MINIMAL, ["--frames", "2"], files=control(window=1))
        registrations = [e for e in run.of("host_message") if e["lparam"] == 611]
        self.assertEqual(len(registrations), 2, run.describe())
        up, down = registrations
        self.assertEqual(up["phase"], "init")
        self.assertTrue(up["is_window"])
        self.assertTrue(up["same_thread"])
        self.assertEqual((up["window_class"], up["window_title"]), ("MinimalVisWindow", "Minimal vis"))
        self.assertEqual(up["wparam"], int(entries(run, "window")[0]["handle"]))
        self.assertEqual((down["phase"], down["wparam"]), ("quit", 0))
        self.assertLess(run.events.index(up), run.events.index(run.one("init")))
        self.assertLess(run.events.index(down), run.events.index(run.one("quit")))

    def test_escape_and_close_reach_the_window(self):
        # The cause is seen on the host's thread and on a plug-in's own thread that runs its window
        # (made once that thread is going: poked later, its quit comes a few frames after).
        for flag, word, thread in (("--escape-at", "escape", None), ("--close-at", "close", None),
                                   ("--escape-at", "escape", "own"), ("--close-at", "close", "own")):
            at = 20 if thread else 2
            files = control(window=1, thread=thread) if thread else control(window=1)
            run = self.host(MINIMAL, ["--frames", "200", flag, str(at)], files=files)
            poke = run.one("poke")
            self.assertEqual((poke["what"], poke["frame"], poke["posted"]), (word, at, True), run.describe())
            self.assertEqual(entries(run, "stop"), [{"message": word}])
            self.assertEqual(run.one("quit_message").get("cause"), word)
            self.assertEqual(run.one("end")["reason"], "quit_message")
            if not thread:
                self.assertEqual(len(run.of("frame")), 2)
                self.assertEqual(run.one("quit_message")["after_frames"], 2)


class CaptureTest(HostTestCase):
    def test_frames_are_read_back_upright_at_the_client_size(self):
        run = self.host(MINIMAL, ["--frames", "3", "--capture", "shots", "--capture-every", "2"],
                        files=control(window=1, gl_clear="200,40,10"))
        window = [e for e in run.of("host_message") if e["lparam"] == 611 and e["wparam"]][0]
        captures = run.of("capture")
        self.assertEqual([c["index"] for c in captures], [0, 2], run.describe())
        for capture in captures:
            self.assertTrue(capture["captured"])
            width, height, rows = read_png(run.path("shots", capture["path"].split("\\")[-1]))
            self.assertEqual((width, height), (window["client_width"], window["client_height"]))
            self.assertEqual((capture["width"], capture["height"]), (width, height))
            # The top-left quadrant is white; the rest is the clear colour.
            self.assertEqual(rows[0][0], (255, 255, 255, 255))
            self.assertEqual(rows[height - 1][width - 1], (200, 40, 10, 255))
            self.assertEqual(rows[0][width - 1], (200, 40, 10, 255))
            self.assertEqual(rows[height - 1][0], (200, 40, 10, 255))

    def test_nothing_to_capture_without_a_window(self):
        run = self.host(MINIMAL, ["--frames", "1", "--capture", "shots"])
        self.assertEqual([c["captured"] for c in run.of("capture")], [False])

    def test_a_picture_that_cannot_be_written_fails_the_run(self):
        # A file where the folder should be: the folder is taken for made, its pictures cannot be.
        for capture, frames, text in (("shots", 1, "frame_00000.png: "), ("shots\\deeper", 0, "capture folder")):
            run = self.host(MINIMAL, ["--frames", "3", "--capture", capture], expect_status=3,
                            files=dict(control(window=1, gl_clear="200,40,10"), shots="not a folder"))
            self.assertIn(text, run.one("error")["text"], run.describe())
            self.assertEqual(run.one("error")["what"], "capture")
            self.assertIn(text, run.stderr)
            if frames:
                self.assertEqual((run.one("end")["reason"], run.one("end")["frames"]), ("capture_failed", frames))


class CycleTest(HostTestCase):
    def test_init_frames_quit_again_in_one_process(self):
        run = self.host(MINIMAL, ["--frames", "2", "--cycles", "3"], files=control(window=1))
        self.assertEqual([e["index"] for e in run.of("cycle")], [0, 1, 2])
        self.assertEqual([e["result"] for e in run.of("init")], [0, 0, 0])
        self.assertEqual(len(run.of("frame")), 6)
        for quit in run.of("quit"):
            self.assertFalse(quit["render_window_alive"])
            self.assertFalse(quit["window_class_registered"])

    def test_the_figures_after_each_stop_show_a_leak(self):
        steady = self.host(MINIMAL, ["--frames", "1", "--cycles", "100"], files=control(window=1), timeout=300)
        leaky = self.host(MINIMAL, ["--frames", "1", "--cycles", "100"], files=control(window=1, leak=1), timeout=300)
        for run in (steady, leaky):
            first = run.of("quit")[0]
            self.assertGreater(first["working_set"], 1 << 20)
            self.assertGreaterEqual(first["peak_working_set"], first["working_set"])
            self.assertGreater(first["gdi_objects"], 0)
            self.assertGreater(first["windows"], 0)  # the host's own
        self.assertEqual(leak_growth(steady.of("quit")), {})
        growth = leak_growth(leaky.of("quit"))
        self.assertEqual(set(growth), {"working_set", "gdi_objects"})
        self.assertGreaterEqual(growth["working_set"], 90 * (4 << 20))
        # 50 brushes a start; Wine now and then keeps an object more, far from one more a start.
        self.assertAlmostEqual(growth["gdi_objects"] / 90, 50, delta=0.5)

    def test_a_failed_init_ends_the_cycles(self):
        run = self.host(MINIMAL, ["--frames", "2", "--cycles", "3"], files=control(init_result=1), expect_status=1)
        self.assertEqual(len(run.of("init")), 1, run.describe())
        self.assertEqual(run.one("end")["reason"], "init_failed")


class CrashTest(HostTestCase):
    def test_a_fault_nobody_handles_is_one_crash_event_with_the_address_in_full(self):
        wide = is_64_bit(MINIMAL)
        digits = 16 if wide else 8
        registers = (["Rip", "Rsp", "Rbp", "EFlags", "Rax", "Rbx", "Rcx", "Rdx", "Rsi", "Rdi"] +
                     ["R%d" % n for n in range(8, 16)] if wide else
                     ["Eip", "Esp", "Ebp", "EFlags", "Eax", "Ebx", "Ecx", "Edx", "Esi", "Edi"])
        null, overflow = (0xC0000005, "page fault"), (0xC00000FD, "stack overflow")
        cases = [  # where, how, on the host's thread, in which phase, calls of the plug-in's own filter
            (dict(crash="init"), null, True, "init", 0),
            (dict(crash=3), null, True, "render", 0),
            (dict(crash="thread"), null, False, None, 0),  # the host's thread goes on meanwhile
            (dict(crash="init", crash_by="overflow"), overflow, True, "init", 0),
            (dict(crash="thread", crash_by="overflow"), overflow, False, None, 0),
            # Behind a top-level filter of the plug-in's own, set through its import (the host hands
            # back none replaced), with a pointer from GetProcAddress, or in DllMain, before the host
            # can see it (the filter then calls the host's, which it replaced), or one that ends the
            # process instead of calling on.
            (dict(crash="init", own_filter="import"), null, True, "init", 1),
            (dict(crash="thread", own_filter="lookup"), null, False, None, 1),
            (dict(crash=2, own_filter="dllmain"), null, True, "render", 1),
            (dict(crash="init", own_filter="dllmain", filter_chains=0), null, True, "init", 1),
        ]
        for keys, (code, what), host_thread, phase, filter_calls in cases:
            # Exit status: the fault's code, as far as a Unix status holds it. A hang fails fast.
            run = self.host(MINIMAL, ["--frames", "100", "--delay", "10"], files=control(**keys),
                            expect_status=code & 0xFF, timeout=60)
            crash = run.one("crash")
            self.assertEqual(run.names()[-1], "crash", keys)
            self.assertEqual((crash["code"], crash["what"], crash["module"], crash["in_host"], crash["host_thread"]),
                             ("0x%08X" % code, what, MINIMAL, False, host_thread), keys)
            if phase is not None:
                self.assertEqual(crash["phase"], phase, keys)
            if what == "page fault":
                self.assertEqual((crash["access"], crash["target"]), ("write", "0x" + "0" * digits), keys)
            # In the plug-in's code, however high it was loaded: an address cut to 32 bits is not.
            address = crash["address"]
            self.assertRegex(address, "^0x[0-9A-F]{%d}$" % digits, keys)
            self.assertLess(0, int(address, 16) - run.one("loaded")["library"], keys)
            self.assertLess(int(address, 16) - run.one("loaded")["library"], 16 << 20, keys)
            self.assertEqual(sorted(crash["registers"]), sorted(registers), keys)
            self.assertEqual(crash["registers"][registers[0]], address, keys)
            self.assertIn("halcyon_host: %s at %s" % (what, address), run.stderr, keys)
            self.assertEqual(entries(run, "own_filter"), [{"code": "0x%08X" % code}] * filter_calls, keys)

    def test_a_fault_the_plug_in_takes_itself_is_no_crash(self):
        cases = [  # the plug-in goes on from where it was about to crash
            # by a vectored handler of its own, added after the host's ...
            (dict(crash="init", crash_by="overflow", recover=1), 0xC00000FD),
            (dict(crash="thread", crash_by="overflow", recover=1), 0xC00000FD),  # ... whose thread then ends
            (dict(crash=2, own_filter="import", recover=1), 0xC0000005),  # by its own top-level filter
        ]
        for keys, code in cases:
            run = self.host(MINIMAL, ["--frames", "20"], files=control(**keys), timeout=60)
            self.assertEqual(run.of("crash"), [], keys)
            self.assertEqual(entries(run, "recovered"), [{"code": "0x%08X" % code}], keys)
            self.assertEqual(run.one("end")["reason"], "frames", keys)
            self.assertEqual(len(entries(run, "render")), 20, keys)


class ImportPatchTest(HostTestCase):
    def test_pages_of_code_keep_their_execute_right(self):
        # merged_vis.dll keeps its import table on a read-and-execute page of code, where a thread it
        # started in DllMain runs while the host patches (the clock, the swaps, the lookups, the filter).
        run = self.host("merged_vis.dll", ["--frames", "3", "--clock-ms", "40"])
        [merged] = entries(run, "merged")
        self.assertEqual((merged["same_page"], merged["spinning"], merged["protection"]), ("1", "1", "0x20"))
        self.assertEqual([f["tick"] for f in entries(run, "render")], ["10000", "10040", "10080"])
        # Each write in PAGE_EXECUTE_READWRITE, then PAGE_EXECUTE_READ again.
        requested = [r["requested"] for r in entries(run, "host_protect")]
        self.assertGreaterEqual(len(requested), 2 * 5, requested)
        self.assertEqual(requested, ["0x40", "0x20"] * (len(requested) // 2))


class FrameLoopTest(HostTestCase):
    def test_runs_until_the_quit_message(self):
        run = self.host(MINIMAL, ["--frames", "50"], files=control(quit_after=4))
        self.assertEqual([e["index"] for e in run.of("frame")], [0, 1, 2, 3])
        message = run.one("quit_message")
        self.assertEqual((message["exit_code"], message["after_frames"], message["phase"]), (0, 4, "render"))
        self.assertEqual(run.names()[-3:], ["quit_message", "quit", "end"])
        self.assertEqual(run.one("end")["reason"], "quit_message")
        self.assertEqual(entries(run, "quit"), [{"frames": "4"}])

    def test_frame_limit_and_render_asking_to_end(self):
        run = self.host(MINIMAL, ["--frames", "3"])
        self.assertEqual([(e["index"], e["result"]) for e in run.of("frame")], [(0, 0), (1, 0), (2, 0)])
        self.assertEqual(run.of("quit_message"), [])
        self.assertEqual(run.one("end"), dict(run.one("end"), reason="frames", frames=3))
        # A nonzero result asks the player to stop the plug-in: no frame follows, Quit does.
        run = self.host(MINIMAL, ["--frames", "9"], files=control(end_after=2))
        self.assertEqual([(e["index"], e["result"]) for e in run.of("frame")], [(0, 0), (1, 1)])
        self.assertEqual(run.one("end"), dict(run.one("end"), reason="render_ended", frames=1))
        self.assertEqual(entries(run, "quit"), [{"frames": "2"}])
        run = self.host(MINIMAL, ["--frames", "0"])
        self.assertEqual(run.of("frame"), [])
        self.assertEqual(entries(run, "quit"), [{"frames": "0"}])

    def test_quit_message_from_init(self):
        run = self.host(MINIMAL, files=control(quit_in_init=1))
        self.assertEqual(run.of("frame"), [])
        self.assertEqual(run.one("quit_message")["phase"], "init")
        self.assertEqual(run.names()[-3:], ["quit_message", "quit", "end"])

    def test_sleeps_the_module_delay_between_frames(self):
        def gaps(run):
            times = [int(f["us"]) // 1000 for f in entries(run, "render")]
            return [b - a for a, b in zip(times, times[1:])]
        run = self.host(MINIMAL, ["--frames", "5"], files=control(delay=120))
        self.assertEqual(run.one("init")["delay_ms"], 120)
        self.assertTrue(all(g >= 115 for g in gaps(run)), gaps(run))
        run = self.host(MINIMAL, ["--frames", "5", "--delay", "0"], files=control(delay=120))
        self.assertLess(sorted(gaps(run))[2], 60, gaps(run))  # the median: robust to a busy machine


class ClockTest(HostTestCase):
    def ticks(self, args):
        run = self.host(MINIMAL, ["--frames", "4"] + args)
        return run, int(entries(run, "init")[0]["tick"]), [int(f["tick"]) for f in entries(run, "render")]

    def test_tick_count_advances_by_the_step_per_frame(self):
        # A slow frame (the delay) must not move the clock; only the frame number does.
        run, init, frames = self.ticks(["--clock-ms", "40", "--delay", "30"])
        self.assertEqual((init, frames), (10000, [10000, 10040, 10080, 10120]))
        self.assertEqual(run.one("clock")["imports_rewritten"], 1)
        # A fractional step is rounded per frame, not accumulated; the count wraps as Windows' does.
        _, init, frames = self.ticks(["--clock-ms", "1000/30", "--clock-start", "4294967290"])
        self.assertEqual((init, frames), (4294967290, [4294967290, 27, 61, 94]))

    def test_only_the_system_clock_is_replaced_however_it_is_found(self):
        # lookalike_vis imports a timeGetTime of another DLL's, which keeps its own time; it finds
        # the system's GetTickCount and timeGetTime with GetProcAddress too (winmm loaded then).
        lookalike = read_bytes(os.path.join(BIN, "lookalike_clock.dll"))
        run = self.host("lookalike_vis.dll", ["--frames", "3", "--clock-ms", "40"],
                        files=dict(control(lookup=1), **{"lookalike_clock.dll": lookalike}))
        self.assertEqual(run.one("clock")["imports_rewritten"], 1)  # kernel32's GetTickCount alone
        self.assertEqual([f["tick"] for f in entries(run, "render")], ["10000", "10040", "10080"])
        self.assertEqual([f["time"] for f in entries(run, "lookalike")], ["4242"] * 3)
        self.assertEqual([(f["tick"], f["time"], f["lookalike"]) for f in entries(run, "looked_up")],
                         [(t, t, "4242") for t in ("10000", "10040", "10080")])

    def test_real_clock_without_the_option(self):
        run, init, frames = self.ticks(["--delay", "20"])
        self.assertEqual(run.of("clock"), [])
        self.assertNotEqual(init, 10000)
        self.assertGreaterEqual(frames[-1] - frames[0], 40)


class DialogTest(HostTestCase):
    BOXES = ["yesno|Monitor|Use this one?", "okcancel|Sure|Go on?", "ok|Note|Done.",
             "abortretryignore|Disk|Trouble"]

    def test_safe_default_answers(self):
        run = self.host(MINIMAL, ["--frames", "0"], files=control(box=self.BOXES))
        boxes = run.of("message_box")
        self.assertEqual([(b["caption"], b["text"]) for b in boxes],
                         [("Monitor", "Use this one?"), ("Sure", "Go on?"), ("Note", "Done."), ("Disk", "Trouble")])
        self.assertEqual([b["buttons"] for b in boxes],
                         [["yes", "no"], ["ok", "cancel"], ["ok"], ["abort", "retry", "ignore"]])
        self.assertEqual([b["pressed"] for b in boxes], ["no", "cancel", "ok", "ignore"])
        self.assertEqual([b["index"] for b in boxes], [0, 1, 2, 3])
        self.assertTrue(all(b["owner_is_parent"] and b["phase"] == "init" for b in boxes))
        self.assertEqual([f["answer"] for f in entries(run, "box")], ["7", "2", "1", "5"])
        self.assertEqual(run.one("end")["dialogs"], 4)

    def test_answers_in_order_then_default(self):
        # The third box has no Yes: the safe default applies and the request is recorded.
        run = self.host(MINIMAL, ["--frames", "0", "--answer", "yes,ok,yes"], files=control(box=self.BOXES))
        boxes = run.of("message_box")
        self.assertEqual([b["requested"] for b in boxes], ["yes", "ok", "yes", "default"])
        self.assertEqual([b["pressed"] for b in boxes], ["yes", "ok", "ok", "ignore"])
        self.assertEqual([f["answer"] for f in entries(run, "box")], ["6", "1", "1", "5"])

    def test_text_bytes_survive(self):
        caption = "Caf\xe9 \"quoted\" back\\slash\ttab \x7f\x01"
        text = "\xff\x80 100% {} [] <>"
        run = self.host(MINIMAL, ["--frames", "0"], files=control(box=["ok|%s|%s" % (caption, text)]))
        box = run.one("message_box")
        self.assertEqual(text_bytes(box["caption"]), caption.encode("latin-1"))
        self.assertEqual(text_bytes(box["text"]), text.encode("latin-1"))


class ConfigTest(HostTestCase):
    def test_config_dialog_is_closed(self):
        run = self.host(MINIMAL, ["--config"])
        self.assertEqual(run.names(), ["loaded", "swap_capture", "player_files", "dialog", "config", "end"])
        dialog = run.one("dialog")
        self.assertEqual((dialog["caption"], dialog["text"], dialog["phase"]), ("Minimal settings", "", "config"))
        self.assertEqual((dialog["buttons"], dialog["pressed"]), (["ok", "cancel"], "cancel"))
        self.assertEqual(entries(run, "config"), [{"answer": "2"}])
        self.assertEqual(entries(run, "init"), [])
        self.assertEqual(run.one("end")["reason"], "config_done")
        run = self.host(MINIMAL, ["--config", "--answer", "ok"], files=control(config="box"))
        self.assertEqual(run.one("message_box")["text"], "Nothing to set.")
        self.assertEqual(entries(run, "config"), [{"answer": "1"}])

    def test_second_config_while_open(self):
        run = self.host(MINIMAL, ["--config", "--config-reenter"])
        self.assertEqual(len(run.of("dialog")), 1)
        self.assertTrue(run.one("config_reentry")["returned"])
        self.assertEqual([w for w, _ in run.minimal_log()], ["config", "config"])
        self.assertEqual(entries(run, "config"), [{"reentered": "1"}, {"answer": "2"}])

    def test_config_then_init(self):
        run = self.host(MINIMAL, ["--config-then-init", "--frames", "1"])
        self.assertEqual(run.names(), ["loaded", "swap_capture", "player_files", "dialog", "config", "host_message",
                                       "init", "frame", "quit", "end"])


class SpectrumTest(HostTestCase):
    def seen(self, pattern):
        run = self.host(MINIMAL, ["--frames", "2", "--spectrum", pattern])
        rows = entries(run, "render")
        self.assertEqual(len(rows), 2)
        self.assertEqual(rows[0], dict(rows[1], frame="1", us=rows[0]["us"], tick=rows[0]["tick"]))
        r = rows[0]
        return [(int(r["peak_bin%d" % c]), int(r["peak%d" % c]), int(r["sum%d" % c])) for c in (0, 1)]

    def test_modes(self):
        self.assertEqual(self.seen("silence"), [(0, 0, 0), (0, 0, 0)])
        self.assertEqual(self.seen("constant:7"), [(0, 7, 7 * 576), (0, 7, 7 * 576)])
        # A peak of 255 falling by a quarter per bin: 255 + 2 * (192 + 128 + 64).
        self.assertEqual(self.seen("tone:100,300"), [(100, 255, 1023), (300, 255, 1023)])
        self.assertEqual(self.seen("tone:0@200"), [(0, 200, 500), (0, 200, 500)])
        self.assertEqual(self.seen("tone:575"), [(575, 255, 639), (575, 255, 639)])


def read_bytes(path):
    with open(path, "rb") as f:
        return f.read()


def spectrum_stream(rows, channels=2, rate=(30, 1), start_ms=0, length_ms=0):
    """A stream file: rows[i] is the bin that peaks (at 200) in frame i, on both spectrum rows; the
    left waveform row counts up from i + 1 (modulo 100), the right one holds half of each."""
    header = b"HSPS" + struct.pack("<9I", 2, channels, 576, rate[0], rate[1], len(rows), start_ms, length_ms, 0)
    records = b""
    for i, peak in enumerate(rows):
        wave = [(i + 1 + k) % 100 for k in range(576)]
        records += bytes(200 if k == peak else 0 for k in range(576)) * 2
        records += bytes(wave) + bytes(v // 2 for v in wave)
    return header + records


class StreamTest(HostTestCase):
    def test_rows_frame_count_and_channels_come_from_the_stream(self):
        files = {"s.hsps": spectrum_stream([10, 20, 30], channels=1)}
        run = self.host(MINIMAL, ["--spectrum", "stream:s.hsps"], files=files)
        self.assertEqual([int(f["peak_bin0"]) for f in entries(run, "render")], [10, 20, 30])
        self.assertEqual(entries(run, "init")[0]["channels"], "1")
        run = self.host(MINIMAL, ["--spectrum", "stream:s.hsps", "--frames", "5", "--channels", "2"], files=files)
        self.assertEqual([int(f["peak_bin1"]) for f in entries(run, "render")], [10, 20, 30, 30, 30])
        self.assertEqual(entries(run, "init")[0]["channels"], "2")

    def test_damaged_streams_are_refused(self):
        good = spectrum_stream([1, 2])
        for content in (good[:-1], b"HSPS", good[:8] + b"\x03" + good[9:]):
            run = self.host(MINIMAL, ["--spectrum", "stream:s.hsps"], files={"s.hsps": content}, expect_status=2)
            self.assertEqual(run.one("error")["what"], "spectrum_stream")
            self.assertIn("spectrum stream", run.stderr)
        run = self.host(MINIMAL, ["--spectrum", "stream:none.hsps"], expect_status=2)
        self.assertEqual(run.one("error")["text"], "cannot open")

    def test_a_stream_through_a_pipe_and_a_live_one(self):
        run = self.host(MINIMAL, ["--spectrum", "stream:-"], feed=lambda pipe, _: pipe.write(spectrum_stream([10, 20, 30])))
        self.assertEqual([int(f["peak_bin0"]) for f in entries(run, "render")], [10, 20, 30])
        self.assertEqual(run.one("end")["reason"], "frames")
        cut = spectrum_stream([10, 20, 30])[:-100]
        run = self.host(MINIMAL, ["--spectrum", "stream:-"], feed=lambda pipe, _: pipe.write(cut), expect_status=2)
        self.assertEqual(run.one("end")["reason"], "stream_failed")
        self.assertIn("the stream ended after 2 of its 3 records and part of the next", run.stderr)

        live_header = b"HSPS" + struct.pack("<9I", 2, 2, 576, 60, 1, 0, 0, 0, 1)
        records = spectrum_stream([10, 20, 30, 40])[40:]
        size = len(records) // 4

        def feed(pipe, events):
            def frames():  # once the host has drawn frames with what it has
                return read_bytes(events).count(b'"frame"') if os.path.exists(events) else 0
            for data in (live_header + records[:size], records[size:]):  # one, then three at once
                seen = frames()
                pipe.write(data)
                pipe.flush()
                deadline = time.monotonic() + 60
                while frames() < seen + 10 and time.monotonic() < deadline:
                    time.sleep(0.02)
        run = self.host(MINIMAL, ["--spectrum", "stream:-", "--delay", "10"], feed=feed)
        peaks = [int(f["peak_bin0"]) for f in entries(run, "render")]
        self.assertEqual(set(peaks) - {0}, {10, 40}, peaks)  # silence until the first came; the newest wins
        self.assertEqual(peaks, sorted(peaks))
        self.assertEqual([f.get("row") for f in run.of("frame")][-1], 3)
        self.assertEqual(run.one("end")["reason"], "stream_end")

    def test_real_time_waits_for_the_start_and_follows_the_clock(self):
        folder = make_folder()
        self.addCleanup(remove_folder, folder)
        events = os.path.join(folder, "events.jsonl")

        def start_when_ready():  # as play does: once the plug-in is up, the sound starts
            deadline = time.monotonic() + 60
            while time.monotonic() < deadline:
                if os.path.exists(events) and b'"ready"' in read_bytes(events):
                    time.sleep(0.3)
                    open(os.path.join(folder, "go"), "w").close()
                    return
                time.sleep(0.02)
        starter = threading.Thread(target=start_when_ready)
        starter.start()
        run = self.host(MINIMAL, ["--spectrum", "stream:s.hsps", "--realtime", "--wait-for", "go", "--delay", "50"],
                        folder=folder, files={"s.hsps": spectrum_stream(list(range(20)), rate=(10, 1))})
        starter.join()
        names = run.names()
        self.assertLess(names.index("ready"), names.index("frame"))
        rows = [f["row"] for f in run.of("frame")]
        self.assertEqual(rows, sorted(rows))
        self.assertLessEqual(rows[0], 1)
        self.assertGreaterEqual(rows[-1], 18)
        self.assertLess(len(rows), 50)  # 2 s at one frame per 50 ms or more: rows were skipped, not queued
        self.assertEqual(run.one("end")["reason"], "stream_end")
        self.assertGreater(run.one("end")["loop_ms"], 1900)


class VideoStreamTest(HostTestCase):
    def test_frames_are_written_raw_and_upright(self):
        run = self.host(MINIMAL, ["--frames", "3", "--video", "video.raw"],
                        files=control(window=1, gl_clear="200,40,10"))
        with open(run.path("video.raw"), "rb") as f:
            data = f.read()
        magic, width, height, order = struct.unpack("<4sII4s", data[:16])
        self.assertEqual((magic, order), (b"HRAW", b"BGRA"))
        window = [e for e in run.of("host_message") if e["lparam"] == 611 and e["wparam"]][0]
        self.assertEqual((width, height), (window["client_width"], window["client_height"]))
        self.assertEqual(len(data), 16 + 3 * width * height * 4)
        last = data[16 + 2 * width * height * 4:]
        self.assertEqual(last[:3], b"\xff\xff\xff")         # top left: the white quadrant
        self.assertEqual(last[-4:-1], bytes((10, 40, 200)))  # bottom right: the clear colour, BGR

    def test_nothing_to_read_fails_the_run(self):
        run = self.host(MINIMAL, ["--frames", "3", "--video", "video.raw"], expect_status=3)
        self.assertIn("no GL context", run.one("error")["text"])
        self.assertEqual(run.one("end")["reason"], "video_failed")
        self.assertEqual(len(run.of("frame")), 1)


if __name__ == "__main__":
    unittest.main()
