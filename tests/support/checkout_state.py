"""Records what `git status` says of the checkout before the tests and, after them, names every
file the tests added to it or changed in it.
    checkout_state.py record CHECKOUT STATE_FILE
    checkout_state.py compare CHECKOUT STATE_FILE   (exit 1 on a change, 77 without git)
"""

import subprocess
import sys

NO_GIT = "no git checkout\n"


def status(checkout):
    """The porcelain status with ignored files, or None without git or a checkout."""
    try:
        # New folders show as one entry, so the build folder's changing contents do not.
        done = subprocess.run(["git", "-C", checkout, "status", "--porcelain", "--ignored"],
                              capture_output=True, text=True, timeout=120)
    except (OSError, subprocess.TimeoutExpired):
        return None
    return done.stdout if done.returncode == 0 else None


def main(action, checkout, state_file):
    now = status(checkout)
    if action == "record":
        # Always a success: a failed set-up would keep every test from running.
        with open(state_file, "w") as f:
            f.write(NO_GIT if now is None else now)
        return 0
    with open(state_file) as f:
        before = f.read()
    if now is None or before == NO_GIT:
        print("no git checkout: the check that tests leave it alone is skipped")
        return 77
    added = sorted(set(now.splitlines()) - set(before.splitlines()))
    if added:
        print("the tests left these in the checkout:\n  " + "\n  ".join(added))
        return 1
    print("the tests left the checkout as they found it")
    return 0


if __name__ == "__main__":
    if len(sys.argv) != 4 or sys.argv[1] not in ("record", "compare"):
        sys.exit(__doc__)
    sys.exit(main(*sys.argv[1:]))
