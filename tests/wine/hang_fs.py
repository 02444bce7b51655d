#!/usr/bin/env python3
"""A file system whose root can never be listed: a drive that never answers, for the Wine bench.

Usage: hang_fs.py MOUNTPOINT. Mounts itself there (FUSE, in the foreground) until it is ended.
Every listing of the root waits until this process ends, as a drive whose device or server has
gone quiet keeps a directory search waiting. Each opening of the root for a listing is written
to standard output as a line "open", so that the bench can count the looks at the drive: a
second listing of the root waits in the kernel until the first is over (the library does not
offer parallel directory operations) and would never be seen here, but its opening is. Everything else answers at once: Wine's server asks
the root's attributes and the volume's size itself, and a server held up there would stop every
Wine process of the prefix, not only the one that looks at the drive. Ending this process fails
the waiting listings at once; the bench then removes the dead mount with fusermount -u -z.
"""

import errno
import stat
import sys
import threading

import fusepy


class NeverListed(fusepy.Operations):
    use_ns = True

    def __init__(self):
        self.never = threading.Event()

    def getattr(self, path, fh=None):
        if path != "/":
            raise fusepy.FuseOSError(errno.ENOENT)
        return dict(st_mode=stat.S_IFDIR | 0o755, st_nlink=2)

    def statfs(self, path):
        return dict(f_bsize=4096, f_frsize=4096, f_blocks=1024, f_bfree=512, f_bavail=512,
                    f_files=16, f_ffree=8, f_namemax=255)

    def opendir(self, path):
        print("open", flush=True)
        return 0

    def readdir(self, path, fh):
        self.never.wait()  # never set: the listing ends only with the process
        return [".", ".."]


def main():
    if len(sys.argv) != 2:
        print(__doc__.splitlines()[2], file=sys.stderr)
        return 2
    # Threads of their own for each request, so that a waiting listing holds up nothing else.
    fusepy.FUSE(NeverListed(), sys.argv[1], foreground=True, nothreads=False, ro=True,
                fsname="never-listed")
    return 0


if __name__ == "__main__":
    sys.exit(main())
