"""`python -m tazmir`: the command line."""

from .cli import main

raise SystemExit(main())
