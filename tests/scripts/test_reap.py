"""scripts/reap, the parent wine-run gives the Unix processes of Windows programs, on a fixture:
orphaned shell processes under the names such processes have."""

import os
import shutil
import signal
import subprocess
import tempfile
import unittest

REAP = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "scripts", "reap")


class Reap(unittest.TestCase):
    def setUp(self):
        self.folder = tempfile.mkdtemp()
        self.addCleanup(shutil.rmtree, self.folder)

    def orphan(self, name, script):
        """A shell command that leaves an orphan named `name` running `script` once it is an
        orphan (its parent is the reaper, $R), then waits until the orphan has died and been
        reaped (it is gone from /proc), so the report is certain."""
        program = os.path.join(self.folder, name)
        shutil.copy("/bin/sh", program)
        orphaned = 'until [ "$(cut -d" " -f4 /proc/$$/stat)" = "$R" ]; do sleep 0.01; done'
        return (f"export R=$PPID; ( '{program}' -c '{orphaned}; {script}' & "
                f"echo $! >'{self.folder}/pid' ); "
                f"pid=$(cat '{self.folder}/pid'); "
                f"for i in $(seq 500); do [ -e /proc/$pid ] || break; sleep 0.01; done")

    def run_reap(self, command):
        return subprocess.run([REAP, "sh", "-c", command], capture_output=True, text=True,
                              timeout=30)

    def test_reports_only_starts_wine_lost_and_deaths_by_signal(self):
        cases = [
            # name, what it does, the report expected (None: none)
            ("wine64-preloader", "exit 1",
             "(wine64-preloade) exited with status 1 before Wine started its program"),
            ("wine64", "exit 0", "(wine64) exited with status 0 before Wine started its program"),
            ("wine", "kill -ABRT $$",
             "(wine) killed by signal 6 (SIGABRT) before Wine started its program"),
            ("Setup.exe", "kill -KILL $$", "(Setup.exe) killed by signal 9 (SIGKILL),"),
            ("Setup.exe", "exit 2", None),  # a program's own status
            # Wine's own programs bear names of their own: they are not loaders still starting.
            ("wineserver64", "exit 1", None),
            ("wineboot.exe", "exit 1", None),
            ("winedevice.exe", "exit 0", None),
            ("Tolvakey.exe", "exit 0", None),
        ]
        for name, script, expected in cases:
            with self.subTest(name=name, script=script):
                result = self.run_reap(self.orphan(name, script))
                self.assertEqual(result.returncode, 0, result.stderr)
                lines = [line for line in result.stderr.splitlines()
                         if line.startswith("wine-run: ")]
                if expected is None:
                    self.assertEqual(lines, [])
                else:
                    self.assertEqual(len(lines), 1, result.stderr)
                    self.assertIn(expected, lines[0])
                    self.assertRegex(lines[0], r"^wine-run: Unix process \d+ \(")

    def test_passes_on_how_the_command_ended(self):
        for command, status, said in [("exit 0", 0, ""), ("exit 3", 3, ""),
                                      ("kill -TERM $$", 128 + 15, "(sh) killed by signal 15")]:
            with self.subTest(command=command):
                result = self.run_reap(command)
                self.assertEqual(result.returncode, status)
                self.assertIn(said, result.stderr)
                self.assertEqual(bool(said), "wine-run: " in result.stderr)
        missing = subprocess.run([REAP, os.path.join(self.folder, "no-such-program")],
                                 capture_output=True, text=True, timeout=30)
        self.assertEqual(missing.returncode, 127)
        self.assertIn("cannot run", missing.stderr)

    def test_passes_a_signal_on_to_the_command_while_it_runs(self):
        # The command's own answer to SIGTERM shows that the signal reached it.
        with subprocess.Popen([REAP, "sh", "-c", 'trap "exit 7" TERM; echo up; '
                               "while :; do sleep 0.01; done"],
                              stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True) as reap:
            self.assertEqual(reap.stdout.readline(), "up\n")
            reap.send_signal(signal.SIGTERM)
            self.assertEqual(reap.wait(timeout=30), 7)

    def test_leaves_orphans_still_running_when_the_command_ends(self):
        # The orphan's output goes elsewhere, or the pipes would keep this test waiting for it.
        result = self.run_reap(f"( sleep 60 >/dev/null 2>&1 & echo $! >'{self.folder}/pid' )")
        self.assertEqual(result.returncode, 0)
        with open(os.path.join(self.folder, "pid"), encoding="ascii") as file:
            pid = int(file.read())
        self.addCleanup(os.kill, pid, 9)
        with open(f"/proc/{pid}/stat", encoding="ascii") as file:
            self.assertNotEqual(file.read().rsplit(")", 1)[1].split()[0], "Z")


if __name__ == "__main__":
    unittest.main()
