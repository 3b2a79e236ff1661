#!/bin/sh
# Put first in PATH for the thumbnail factory: its sandbox shows /usr alone, where an
# installed thumbnailer lives; this adds the test's install prefix, read-only, at its own
# path, and runs the real bubblewrap with the factory's arguments unchanged.
exec /usr/bin/bwrap --ro-bind "$PLM_TEST_PREFIX" "$PLM_TEST_PREFIX" "$@"
