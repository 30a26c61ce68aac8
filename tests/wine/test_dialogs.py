#!/usr/bin/python3
"""The two dialogs under Wine, driven with real key presses and clicks, and
the feedback page started from the completion dialog through the browser's
registration."""

import unittest

import product_facts as facts
from winekit.base import feedback_url, wait_until
from winekit.dialogs import Dialog
from winekit.product import (COMPLETED_CAPTION, CONFIRM_CAPTION, SAMPLE_BROWSER as BROWSER,
                             TEMP_COPY_NAME, UNINSTALLER_NAME, install_recorder,
                             lay_sample_install, recorded_runs, register_browser)
from winekit.testcase import WineTestCase

# Where the unquoted path would make the system look first.
PLANTED = (r"C:\Program.exe", r"C:\Program Files\Web.exe")


def is_icon(cls, style):
    return cls.lower() == "static" and style & facts.SS_TYPEMASK == facts.SS_ICON


def summary(cls, ident, style, text):
    """What is compared of a control: its id (a template's "no id" reads
    back as -1), class, text (an icon's, its resource reference, left out),
    kind (default or plain button, text or icon) and whether Tab stops at
    it."""
    kind = style & (facts.BS_TYPEMASK if cls.lower() == "button" else facts.SS_TYPEMASK)
    return (-1 if ident == facts.NO_ID else ident, cls.lower(),
            "" if is_icon(cls, style) else text, kind, style & facts.WS_TABSTOP)


def in_dialog_units(info, size):
    """The controls' rectangles (left, top, width, height) converted back to
    dialog units, with the base units the dialog's own client size (size,
    in dialog units) gives: what the template said, give or take Wine's
    rounding."""
    left, top, right, bottom = info["client"]
    scale_x = (right - left) / size[0]
    scale_y = (bottom - top) / size[1]
    return [(round((c.rect[0] - left) / scale_x), round((c.rect[1] - top) / scale_y),
             round((c.rect[2] - c.rect[0]) / scale_x), round((c.rect[3] - c.rect[1]) / scale_y))
            for c in info["controls"]]


def assertShownAsTemplate(test, info, dialog_id):
    """The dialog as the product's facts lay out its template: caption, the
    controls in tab order, and each control where its template rectangle
    puts it (an icon control takes its icon's size, so only its place is
    compared)."""
    template = facts.DIALOGS[dialog_id]
    test.assertEqual(info["caption"], template["caption"])
    test.assertEqual([summary(c.cls, c.id, c.style, c.text) for c in info["controls"]],
                     [summary(c["class"], c["id"], c["style"], c["text"])
                      for c in template["controls"]])
    drawn = in_dialog_units(info, template["size"])
    for control, got, want in zip(info["controls"], drawn, template["controls"]):
        compared = 2 if is_icon(control.cls, control.style) else 4
        for axis in range(compared):
            test.assertLessEqual(abs(got[axis] - want["rect"][axis]), 1,
                                 "%r drawn at %s, template %s" % (control, got, want["rect"]))


class ConfirmationDialog(WineTestCase):
    """The question before anything is touched: only "Yes" goes on."""

    def setUp(self):
        super().setUp()
        self.sample = lay_sample_install(self.prefix)
        self.before = self.prefix.snapshot()
        self.run_ = self.prefix.start(self.sample.command_line, cwd=self.sample.install_dir)
        self.dialog = Dialog.wait(self.prefix, CONFIRM_CAPTION)

    def assertDeclined(self):
        self.assertEqual(self.run_.exit_code(), 0)
        self.assertNoChange(self.before, self.prefix.snapshot())

    def test_ShowsItsCaptionQuestionAndButtonsAsLaidOut(self):
        self.assertEqual(self.dialog.title(), CONFIRM_CAPTION)
        info = self.dialog.describe()
        assertShownAsTemplate(self, info, facts.IDD_CONFIRM_REMOVE)
        self.assertTrue(info["close_box"], "the dialog has a close box")
        self.dialog.click("No")
        self.assertDeclined()

    def test_EnterAsItOpensDeclines(self):
        self.dialog.key("Return")
        self.assertDeclined()

    def test_EscDeclines(self):
        self.dialog.key("Escape")
        self.assertDeclined()

    def test_CloseBoxDeclines(self):
        self.dialog.click_close_box()
        self.assertDeclined()

    def test_YesGoesOnToTheCompletionDialog(self):
        self.dialog.click("Yes")
        self.dialog.wait_closed()
        completed = Dialog.wait(self.prefix, COMPLETED_CAPTION)
        completed.key("alt+n")
        self.assertEqual(self.run_.exit_code(), 0)


class CompletionDialog(WineTestCase):
    """After a removal that finished: "&Yes" (the default) opens the feedback
    page in the registered browser, anything else starts nothing."""

    def setUp(self):
        super().setUp()
        install_recorder(self.prefix, BROWSER)
        register_browser(self.prefix, '"%s"' % BROWSER)
        sample = lay_sample_install(self.prefix)
        self.run_ = self.prefix.start(sample.command_line, cwd=sample.install_dir)
        Dialog.wait(self.prefix, CONFIRM_CAPTION).click("Yes")
        self.dialog = Dialog.wait(self.prefix, COMPLETED_CAPTION)

    def assertOpensFeedbackPage(self):
        runs = wait_until(lambda: recorded_runs(self.prefix, BROWSER), 20, "the browser to run")
        self.assertEqual(self.run_.exit_code(), 0)
        self.assertEqual(runs, [('"%s" %s' % (BROWSER, feedback_url()), BROWSER)])

    def assertStartsNothing(self):
        self.assertEqual(self.run_.exit_code(), 0)
        # WinExec returns once the browser's process exists; with the
        # uninstaller ended, a browser it started would be running or done.
        self.assertEqual(self.prefix.running("browser.exe"), [])
        self.assertEqual(recorded_runs(self.prefix, BROWSER), [])

    def test_ShowsItsCaptionNoticeQuestionAndButtonsAsLaidOut(self):
        self.assertEqual(self.dialog.title(), COMPLETED_CAPTION)
        assertShownAsTemplate(self, self.dialog.describe(), facts.IDD_REMOVE_COMPLETED)
        self.dialog.click("&No")
        self.assertStartsNothing()

    def test_EnterOpensFeedbackPage(self):
        self.dialog.key("Return")
        self.assertOpensFeedbackPage()

    def test_AltYOpensFeedbackPage(self):
        self.dialog.key("alt+y")
        self.assertOpensFeedbackPage()

    def test_ClickOnYesOpensFeedbackPage(self):
        self.dialog.click("&Yes")
        self.assertOpensFeedbackPage()

    def test_EscStartsNothing(self):
        self.dialog.key("Escape")
        self.assertStartsNothing()

    def test_AltNStartsNothing(self):
        self.dialog.key("alt+n")
        self.assertStartsNothing()

    def test_ClickOnNoStartsNothing(self):
        self.dialog.click("&No")
        self.assertStartsNothing()

    def test_CloseBoxStartsNothing(self):
        self.dialog.click_close_box()
        self.assertStartsNothing()


class FeedbackBrowserPath(WineTestCase):
    """The browser runs from where it is registered, never from a place the
    user (or anyone) can write to, where a planted program would be run,
    often with the uninstaller's raised rights:
    - a registered path with blanks stays quoted, whatever blanks or quotes
      stand before it, or the system would look for C:\\Program.exe first;
    - a browser registered by bare name is looked for in the uninstaller's
      folder, then the current directory, then the system folder: the
      current directory the uninstaller gives it is the system folder, not
      the temp folder."""

    def test_RunsRegisteredBrowserNeverThePlantedProgram(self):
        system_browser = r"C:\windows\system32\browser.exe"
        # Registered value, the recorder that must run and its command
        # line before the address, the planted ones that must not run.
        table = [
            ('"%s"' % BROWSER, BROWSER, '"%s"' % BROWSER, PLANTED),
            ('  "%s"' % BROWSER, BROWSER, '"%s"' % BROWSER, PLANTED),
            ("browser.exe", system_browser, "browser.exe",
             (self.prefix.temp + "\\browser.exe",)),
        ]
        for registered, browser, program, planted in table:
            with self.subTest(registered=registered):
                recorders = (browser,) + planted
                for recorder in recorders:
                    install_recorder(self.prefix, recorder)
                    self.prefix.unix(recorder + ".log").unlink(missing_ok=True)
                register_browser(self.prefix, registered)
                # Only a removal that finished asks for feedback.
                run = self.prefix.start(lay_sample_install(self.prefix).command_line)
                Dialog.wait(self.prefix, CONFIRM_CAPTION).click("Yes")
                Dialog.wait(self.prefix, COMPLETED_CAPTION).click("&Yes")
                ran = lambda: {r: [(line, path.lower()) for line, path in
                                   recorded_runs(self.prefix, r)]
                               for r in recorders if recorded_runs(self.prefix, r)}
                wait_until(ran, 20, "the browser to run")
                self.assertEqual(run.exit_code(), 0)
                # The next row's uninstaller must not meet this one's copy.
                self.assertEnded([UNINSTALLER_NAME, TEMP_COPY_NAME], 10)
                self.assertEqual(ran(), {browser: [("%s %s" % (program, feedback_url()),
                                                    browser.lower())]})


if __name__ == "__main__":
    unittest.main()
