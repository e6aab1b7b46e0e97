#!/usr/bin/python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""velk_hanging_share: a test tool, never shipped. A FUSE file system that
passes every call through to a real folder (BACKING) and can be made to stop
answering, as a network share does when its server is gone.

    velk_hanging_share.py BACKING MOUNTPOINT --hang-while CONTROL

While the file CONTROL exists, every call made on MOUNTPOINT (status, open,
read, write, folder listing, statfs, ...) waits until CONTROL is gone, then
is carried out. What is written into BACKING directly (the decoder on the
server) goes on meanwhile. Kernel caches are off (no attribute, name or page
cache), so that nothing on the mount is answered without this server.

Runs in the foreground until the mount is taken away (umount, fusermount3 -u)
or the process is ended. Needs root, or a user allowed to mount with FUSE;
the mount is open to every user (allow_other). scripts/stall uses it for the
decode folder of its share mode. Needs python3-fusepy (for the system's own
python3) and fuse3.
"""

import argparse
import errno
import os
import sys
import time

# Debian's python3-fusepy names the module fusepy; elsewhere it is fuse.
try:
    from fusepy import FUSE, FuseOSError, Operations
except ImportError:
    from fuse import FUSE, FuseOSError, Operations

# How often a call waiting for the share to answer looks at CONTROL again.
POLL_SECONDS = 0.02

# Not held back: the mount's start and end.
UNHELD_CALLS = frozenset({"init", "destroy"})


class HangingPassthrough(Operations):
    """Every call on a path below the mount is the same call on the same path
    below the backing folder, once the share answers."""

    def __init__(self, backing, control):
        self.backing = os.path.realpath(backing)
        self.control = control

    def __call__(self, op, *args):
        if op not in UNHELD_CALLS:
            self._wait_while_hung()
        try:
            return super().__call__(op, *args)
        except OSError as error:
            raise FuseOSError(error.errno or errno.EIO) from error

    def _wait_while_hung(self):
        while os.path.lexists(self.control):
            time.sleep(POLL_SECONDS)

    def _real(self, path):
        return os.path.join(self.backing, path.lstrip("/"))

    # Status and names.
    def getattr(self, path, fh=None):
        status = os.fstat(fh) if fh is not None else os.lstat(self._real(path))
        names = ("st_mode", "st_nlink", "st_uid", "st_gid", "st_size", "st_atime",
                 "st_mtime", "st_ctime", "st_ino", "st_dev", "st_blocks", "st_blksize")
        return {name: getattr(status, name) for name in names}

    def access(self, path, amode):
        if not os.access(self._real(path), amode):
            raise FuseOSError(errno.EACCES)

    def readdir(self, path, fh):
        return [".", ".."] + os.listdir(self._real(path))

    def readlink(self, path):
        return os.readlink(self._real(path))

    def statfs(self, path):
        status = os.statvfs(self._real(path))
        names = ("f_bavail", "f_bfree", "f_blocks", "f_bsize", "f_favail", "f_ffree",
                 "f_files", "f_flag", "f_frsize", "f_namemax")
        return {name: getattr(status, name) for name in names}

    def chmod(self, path, mode):
        os.chmod(self._real(path), mode)

    def chown(self, path, uid, gid):
        os.lchown(self._real(path), uid, gid)

    def utimens(self, path, times=None):
        os.utime(self._real(path), times, follow_symlinks=False)

    # Folder changes.
    def mkdir(self, path, mode):
        os.mkdir(self._real(path), mode)

    def rmdir(self, path):
        os.rmdir(self._real(path))

    def unlink(self, path):
        os.unlink(self._real(path))

    def rename(self, old, new):
        os.rename(self._real(old), self._real(new))

    def link(self, target, source):
        os.link(self._real(source), self._real(target))

    def symlink(self, target, source):
        os.symlink(source, self._real(target))

    def mknod(self, path, mode, dev):
        os.mknod(self._real(path), mode, dev)

    # Files, by the descriptor of the backing file.
    def open(self, path, flags):
        return os.open(self._real(path), flags)

    def create(self, path, mode, fi=None):
        return os.open(self._real(path), os.O_RDWR | os.O_CREAT, mode)

    def read(self, path, size, offset, fh):
        return os.pread(fh, size, offset)

    def write(self, path, data, offset, fh):
        return os.pwrite(fh, data, offset)

    def truncate(self, path, length, fh=None):
        if fh is not None:
            os.ftruncate(fh, length)
        else:
            os.truncate(self._real(path), length)

    def flush(self, path, fh):
        return 0

    def fsync(self, path, datasync, fh):
        if datasync:
            os.fdatasync(fh)
        else:
            os.fsync(fh)

    def release(self, path, fh):
        os.close(fh)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("backing", help="the real folder")
    parser.add_argument("mountpoint")
    parser.add_argument("--hang-while", required=True, metavar="CONTROL",
                        help="every call waits while this file exists")
    options = parser.parse_args()
    FUSE(HangingPassthrough(options.backing, os.path.abspath(options.hang_while)),
         options.mountpoint, foreground=True, allow_other=True, default_permissions=True,
         direct_io=True, attr_timeout=0, entry_timeout=0, negative_timeout=0,
         fsname="velk_hanging_share")
    return 0


if __name__ == "__main__":
    sys.exit(main())
