"""Sessions of the SITE commands on the site tree: a fixture site with users, records and files
(see vfs_support), plus helpers for multi-line replies, the event logs and the records on disk."""

import os

from site_admin_support import NO_ACCESS, event_log
from vfs_support import VfsCase

MB = 1024 * 1024


class SiteFsCase(VfsCase):
    def ask(self, client, command):
        """Every line of the reply to `command`."""
        client.send(command + "\r\n")
        return client.reply()

    def event_log(self, name="nuke.log"):
        return event_log(self, self.site, name)

    def nuke_fields(self, name):
        """(last nuke time, times nuked, MB nuked) of a user file."""
        return self.user_field(name, "NUKE")

    def sync(self, client):
        """Writes the records now: a second start succeeds only once the first write-back ended,
        and the second finds nothing left to write."""
        started = "200 Filesystem synchronization successfully started."
        self.assertEqual(self.ask(client, "SITE FSSYNC")[-1], started)
        self.assertTrue(self.eventually(lambda: self.ask(client, "SITE FSSYNC")[-1] == started))

    def directory_records(self):
        """orvex.fs as {path below the site: (id, mode, uid, gid, ratio, dupe, mirror)}."""
        site = self.site_dir().rstrip("/")
        out = {}
        for line in self.site.read("fs/orvex.fs").splitlines():
            if not line or line.startswith("#"):
                continue
            fields = line.split(";")
            path = fields[0].replace("\\", "/")
            if path.startswith(site):
                out[path[len(site):].strip("/")] = tuple(fields[1:])
        return out

    def file_records(self, dir_id):
        path = self.site.path(f"fs/{dir_id}.fs")
        if not os.path.exists(path):
            return None
        with open(path) as f:
            return {line.split(";")[0]: tuple(line.split(";")[1:])
                    for line in f.read().splitlines() if line and not line.startswith("#")}

    def set_conf_and_wait(self, client, probe, expected, **keys):
        """Rewrites configuration keys and waits until the running server answers `probe` with
        `expected`."""
        self.site.set_conf(**keys)
        self.assertTrue(self.eventually(
            lambda: self.ask(client, probe)[-1] == expected, timeout=20), probe)
