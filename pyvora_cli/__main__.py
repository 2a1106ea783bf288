import sys

from pyvora_cli.entry import console

sys.exit(console())
