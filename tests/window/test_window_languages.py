"""The window in other languages, as assistive technology reads it: started
under Xvfb in an empty network namespace, its column headers, buttons, title
and status line come from the chosen language file, and none is the English
one. A screenshot of each is taken.

Run by CTest with NASFINDER_APP set to the built window. NASFINDER_SCREENSHOT_DIR
names where the pictures are kept as window-CODE.png (a temporary folder
otherwise)."""
import os
import shutil
import sys
import tempfile
import time
import unittest
import xml.etree.ElementTree as ElementTree

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
import atspi_window  # noqa: E402
from test_window_lan import png_size  # noqa: E402

RESOURCES = os.path.join(HERE, '..', '..', 'src', 'window', 'resources')
SCREEN = (640, 400)
# The language's code, and how a session asks for it: LANGUAGE over the C
# locale the test runs in, or a locale of its own.
LANGUAGES = [
    ('ja', {'LANGUAGE': 'ja'}),
    ('ru', {'LANGUAGE': '', 'LC_ALL': 'ru_RU.UTF-8'}),
]
BUTTON_KEYS = ('Log In', 'My storage', 'Addresses', 'Refresh')


def captions(code):
    root = ElementTree.parse(os.path.join(RESOURCES, 'XML_%s.xml' % code)).getroot()
    return {key.get('KeyString'): key.get('String') for key in root.iter('KEY')}


class WindowInOtherLanguages(unittest.TestCase):
    def setUp(self):
        self.app = os.environ.get('NASFINDER_APP')
        if not self.app or not os.access(self.app, os.X_OK):
            self.skipTest('NASFINDER_APP does not name the built window')
        reason = atspi_window.missing()
        if reason:
            self.skipTest(reason)
        self.tmp = tempfile.mkdtemp(prefix='nasfinder-languages-')
        self.addCleanup(shutil.rmtree, self.tmp, True)

    def test_captions_come_from_the_language_file(self):
        english = captions('en')
        shots = os.environ.get('NASFINDER_SCREENSHOT_DIR') or self.tmp
        for code, env in LANGUAGES:
            with self.subTest(code):
                text = captions(code)
                headers = [text['List%d' % i] for i in (1, 2, 3)]
                log_path = os.path.join(self.tmp, 'window-%s.log' % code)
                try:
                    window = atspi_window.AtspiWindow(self.app, env=env, screen=SCREEN, log_path=log_path)
                    window.start()
                except atspi_window.Unavailable as e:
                    self.skipTest(str(e))
                with window:
                    seen = window.wait_for(lambda s: s['headers'][:3] == headers, timeout=30,
                                           message='the %s column headers' % code)
                    # The picture waits for a paint; nothing is decided by the pause.
                    time.sleep(0.5)
                    shot = os.path.join(shots, 'window-%s.png' % code)
                    window.screenshot(shot)
                for key in ('List1', 'List2', 'List3', 'Device List') + BUTTON_KEYS:
                    self.assertTrue(text[key].strip(), key)
                    self.assertNotEqual(text[key], english[key], key)
                self.assertLessEqual({text[k] for k in BUTTON_KEYS}, set(seen['buttons']), seen)
                self.assertEqual([text['Device List']], seen['heading'])
                # The status line counts the rows in the file's words.
                prefix = text['Rows Shown'].split('%1')[0]
                self.assertTrue(seen['status'].startswith(prefix), seen['status'])
                self.assertEqual(SCREEN, png_size(shot))
                self.assertGreater(os.path.getsize(shot), 5000, 'the screenshot looks empty')


if __name__ == '__main__':
    unittest.main(verbosity=2)
