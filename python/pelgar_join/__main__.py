"""`python -m pelgar_join`: the pelgar-join command line."""

import sys

from .cli import main

sys.exit(main())
