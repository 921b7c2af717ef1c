"""sizestamp.exe's message boxes on a display (under Wine, run by xvfb-run): caption,
text, icon and buttons of the success and error messages, and the exit
status once OK is pressed; and no box on a window station no one sees.

usage: message_box_test.py LAUNCHER.exe SIZESTAMP.exe [WINE...]
       (WINE...: the build's emulator, scripts/wine and its Wine prefix;
       none on a Windows host, whose desktop shows the boxes)
"""
import os
import sys

sys.dont_write_bytecode = True  # no __pycache__ in the source tree
from wine_case import WineCase, main  # noqa: E402
from harness import field  # noqa: E402


class MessageBoxes(WineCase):
    def test_each_outcome_in_its_box(self):
        if self.emulator:
            self.assertTrue(os.environ.get("DISPLAY"), "no display: run this under xvfb-run")
        cases = [  # tail, icon, exact text (or, for a failure report, how it begins), status
            ("/s 305419896 /f box.bin", "information", "box.bin\r\nEdited successfully.", 0),
            ("", "error", "Error - Parameters not set", 1),
            ("/s 4294967296 /f box.bin", "error", "Error - File can't exceed 4GB", 2),
            ("/s 5 /f NUL", "error", 'File failure\r\ncannot open "NUL": ', 6),
        ]
        reports = self.launch("dialogs", ["sizestamp.exe " + tail for tail, *_ in cases], display=True)
        for (tail, icon, text, status), report in zip(cases, reports):
            with self.subTest(tail=tail):
                box = {key: value for key, value in report.items() if key != "text"}
                # The box alone: nothing on the streams.
                self.assertEqual(box, {"caption": "sizestamp", "icon": icon, "buttons": [[1, "OK"]],
                                       "status": status, "out": "", "err": ""})
                self.assert_text(report.get("text", ""), text, exact=status in (0, 1, 2))
        self.assertEqual(self.read("box.bin"), bytes(16) + field(0x12345678))

    def test_no_box_on_a_station_no_one_sees(self):
        # There a box would wait for a click that never comes, and the
        # launcher would end the program after 20 s (status 255): the
        # message goes to the streams instead.
        cases = [  # tail, status, stream, text
            ("/s 305419896 /f hidden.bin", 0, "out", "hidden.bin\r\nEdited successfully.\r\n"),
            ("/s 4294967296 /f hidden.bin", 2, "err", "Error - File can't exceed 4GB\r\n"),
        ]
        reports = self.launch("hidden", ["sizestamp.exe " + tail for tail, *_ in cases], display=True)
        for (tail, status, stream, text), report in zip(cases, reports):
            with self.subTest(tail=tail):
                self.assertEqual(report["status"], status, report)
                self.assertEqual((report["out"], report["err"]), (text, "") if stream == "out" else ("", text))
        self.assertEqual(self.read("hidden.bin"), bytes(16) + field(0x12345678))


if __name__ == "__main__":
    main()
