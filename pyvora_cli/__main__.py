import sys

from pyvora_cli.command import main

sys.exit(main())
