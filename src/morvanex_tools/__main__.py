import sys

from morvanex_tools.cli import command

sys.exit(command())
