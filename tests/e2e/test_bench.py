"""The bench's own checks: every class of Windows reports what its prefix is meant to be, and the
driver reads, answers and reports what a program shows (with a stand-in program, not the setup)."""

import struct
import time
import unittest

import packages
import scenario
import ui
import wine
from scenario import BenchCase

# What each prefix must report: GetVersionExW numbers, product type, WOW64.
EXPECTED_SYSTEMS = [
    # kind,   major, minor, build, product type, wow64
    ("win64", 6, 1, 7601, 1, True),
    ("win2k", 5, 0, 2195, 1, False),
    ("winxp", 5, 1, 2600, 1, False),
    ("vista", 6, 0, 6002, 1, False),
    ("win7", 6, 1, 7601, 1, False),
]


class PrefixesReportTheirSystem(unittest.TestCase):
    def test_every_prefix_kind(self):
        wine.require_wine()
        wine.require_artifacts(wine.DRIVER_EXE)
        display = wine.Display()
        try:
            for kind, major, minor, build, product, wow64 in EXPECTED_SYSTEMS:
                with self.subTest(kind=kind):
                    if wow64:
                        wine.require_wine(needs_wow64=True)
                    started = time.monotonic()
                    b = scenario.Bench(kind, label=f"selftest-{kind}", display=display.name)
                    try:
                        info = b.info
                        self.assertEqual((info["major"], info["minor"], info["build"]), (major, minor, build))
                        self.assertEqual(info["product_type"], product)
                        self.assertEqual(info["wow64"], wow64)
                        # Japanese locale: ANSI and OEM code page 932, Japanese LCID.
                        self.assertEqual((info["acp"], info["oemcp"], info["user_lcid"]), (932, 932, 0x411))
                        self.assertEqual(info["tz_bias"], -540)
                        self.assertEqual(info["system_dir"].lower(), "c:\\windows\\system32")
                        self.assertEqual((info["screen_width"], info["screen_height"]), wine.DESKTOP_SIZE)
                        # Per-user folders stay inside the prefix.
                        for entry in (b.prefix.drive_c / "users").rglob("*"):
                            self.assertFalse(entry.is_symlink(), entry)
                    finally:
                        b.close()
                    wine.log(f"prefix {kind}: {time.monotonic() - started:.1f} s for copy, checks, cleanup")
        finally:
            display.close()


class DriverWithStandIn(BenchCase):
    REQUIRES = (wine.DRIVER_EXE,)

    def setUp(self):
        super().setUp()
        self.standin = wine.helper_exe("quentaro-standin.exe")

    def test_message_box_text_caption_icon_and_exit_code(self):
        # (stand-in command, exit code, whether the box shows an icon)
        for command, code, icon in (("msgbox", 42, True), ("plain", 43, False)):
            with self.subTest(command=command):
                folder = self.bench.work_folder(command)
                p = self.bench.start(self.standin, folder, f"{command} {code}")
                box = p.wait_msgbox()
                self.assertEqual(box.kind, "msgbox")
                self.assertEqual(box.caption(), "スタンドイン ｾｯﾄｱｯﾌﾟ")
                self.assertEqual(box.message(), "ﾃﾞｰﾀﾌｧｲﾙ\nテスト本文")
                self.assertEqual(box.has_icon(), icon)
                self.assertTrue(box.probe())
                self.assertIsNone(p.exit_code())
                self.shot(command)
                box.click(ui.IDOK)
                self.assertEqual(p.wait_exit(), code)

    def test_yes_and_no_buttons(self):
        for button in (ui.IDYES, ui.IDNO):
            with self.subTest(button=button):
                p = self.bench.start(self.standin, self.bench.work_folder("yesno"), "yesno")
                box = p.wait_msgbox()
                self.assertEqual(box.text(button), {ui.IDYES: "はい(&Y)", ui.IDNO: "いいえ(&N)"}[button])
                box.click(button)
                self.assertEqual(p.wait_exit(), button)

    def test_escape_key_reaches_the_foreground_box(self):
        p = self.bench.start(self.standin, self.bench.work_folder("keys"), "msgbox 5")
        box = p.wait_msgbox()
        box.keys("Escape")
        self.assertEqual(p.wait_exit(), 5)

    def test_lock_denies_other_openers_and_japanese_names_work(self):
        folder = self.bench.work_folder("ロック")
        target = folder / "日本語ﾌｧｲﾙ.cab"
        target.write_bytes(b"x")
        win = self.bench.prefix.win_path(target)
        self.assertTrue(self.bench.driver.call("can-open", win)["open"])
        self.bench.lock(target)
        self.assertEqual(self.bench.driver.call("can-open", win), {"ok": True, "open": False, "error": 32})
        self.bench.unlock(target)
        self.assertTrue(self.bench.driver.call("can-open", win)["open"])

    def test_planted_dll_leaves_its_marker_when_loaded_by_bare_name(self):
        # The control experiment of the setup's planted-DLL scenario: a program that loads
        # "RICHED20.dll" by its bare name picks up the planted file.
        folder = self.bench.work_folder("planted")
        exe = folder / "loadbare.exe"
        exe.write_bytes(self.standin.read_bytes())
        (folder / "RICHED20.dll").write_bytes(wine.helper_exe("planted_riched20.dll").read_bytes())
        p = self.bench.start(exe, folder, "loadbare")
        self.assertEqual(p.wait_exit(), 1)
        self.assertTrue((folder / "RICHED20.dll.loaded").exists())

    def test_rich_edit_queries_across_processes(self):
        p = self.bench.start(self.standin, self.bench.work_folder("richedit"), "richedit")
        deadline = time.monotonic() + 20
        while not [w for w in p.windows() if w["class"] == "StandInFrame" and w["visible"]]:
            self.assertLess(time.monotonic(), deadline, "stand-in window did not appear")
            time.sleep(0.05)
        top = [w for w in p.windows() if w["class"] == "StandInFrame"][0]
        win = ui.Window(self.bench.driver, top)
        self.assertEqual(win.caption(), "リッチエディット")
        self.assertEqual(win.control(1023)["class"].upper(), "RICHEDIT20W")
        self.assertEqual(win.text(1023).replace("\r\n", "\r").split("\r")[19], "第20段落")
        self.assertEqual(win.selection(1023), (3, 5))
        self.assertEqual(win.send(1023, ui.EM_GETSEL) & 0xFFFF, 3)
        _, buf = win.send_buffer(1023, ui.EM_GETSEL, "buf", "buf+4", size=8)
        self.assertEqual(struct.unpack("<II", buf), (3, 5))
        cf = win.char_format(1023, ui.SCF_SELECTION)
        self.assertEqual((cf["height"], cf["face"], cf["charset"], cf["protected"]),
                         (200, "ＭＳ Ｐゴシック", 128, True))
        self.assertEqual(win.para_format(1023)["offset"], 200)
        win.vscroll(1023, ui.SB_TOP)
        self.assertEqual(win.first_visible_line(1023), 0)
        win.line_scroll(1023, 3)
        self.assertEqual(win.first_visible_line(1023), 3)
        win.vscroll(1023, ui.SB_TOP)
        self.assertEqual(win.first_visible_line(1023), 0)
        win.vscroll(1023, ui.SB_PAGEDOWN)
        self.assertGreater(win.first_visible_line(1023), 0)
        self.assertEqual(win.line_index(1023, 1), len("第1段落") + 1)
        pixels = win.pixels(1023, "client")
        self.assertGreater(len(pixels.colours()), 1, "text drawn in the control")
        win.keys("Alt+F4")
        self.assertEqual(p.wait_exit(), 7)

    def test_reset_restores_drive_c(self):
        drive_c = self.bench.prefix.drive_c
        before = scenario.tree(drive_c)
        (drive_c / "bench-added").mkdir()
        (drive_c / "bench-added" / "f.txt").write_text("x")
        ini = drive_c / "windows" / "win.ini"
        original = ini.read_bytes()
        ini.write_bytes(b"changed")
        self.bench.reset()
        self.assertEqual(ini.read_bytes(), original)
        added, removed, changed = scenario.tree_diff(before, scenario.tree(drive_c))
        self.assertEqual((added, removed), ([], []))
        self.assertEqual([c for c in changed if before[c][0] is not None], [])

    def test_package_made_with_the_tool(self):
        folder = self.bench.work_folder("package")
        package = packages.make_package(folder / "QUENTARO.cab", [
            {"name": "QUENTARO.exe", "data": b"MZ" + bytes(100)},
            {"name": "説明書ﾃｷｽﾄ.txt", "data": "テキスト".encode("cp932"), "time": "20080401120000"},
        ])
        data = package.read_bytes()
        self.assertEqual((data[:4], data[16:20]), (b"KJ47", b"V1.0"))
        self.assertEqual(packages.crc_register(data), 0xF0B8)  # the residue of a correct check value
        self.assertEqual(packages.crc_register(b"123456789") ^ 0xFFFF, 0x906E)
        self.assertIn("説明書ﾃｷｽﾄ.txt".encode("cp932"), data[32 + 64:32 + 128])

if __name__ == "__main__":
    unittest.main()
