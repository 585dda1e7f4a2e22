import sys

from morvanex_tools.cli import main

sys.exit(main())
