import sys

from pyvora_cli.command import console

sys.exit(console())
