"""A scratch copy of a checkout: the files git tracks, as they stand now (edits not yet committed
included), so that a test can change or build it without touching the checkout itself."""
import os
import shutil
import subprocess


def copy_checkout(source, root):
    files = subprocess.run(["git", "-C", source, "ls-files", "-z"], check=True,
                           capture_output=True).stdout.decode().split("\0")
    for name in filter(None, files):
        if os.path.isfile(os.path.join(source, name)):
            os.makedirs(os.path.join(root, os.path.dirname(name)), exist_ok=True)
            shutil.copy2(os.path.join(source, name), os.path.join(root, name))
