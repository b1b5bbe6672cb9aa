#!/usr/bin/env python3
"""Command line of Quenlet's Wine test environment:

  env.py up --state DIR [--voice-dll PATH] [--prepare-script PATH]
  env.py down --state DIR
  env.py run --state DIR -- CMD ARGS...
  env.py unittest SCRIPT [NAME_PATTERN...]
"""

import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
sys.dont_write_bytecode = True

import quenlet_harness  # noqa: E402

if __name__ == "__main__":
    sys.exit(quenlet_harness.main())
