"""The subcommands, one module each: register(subparsers) adds its parser, run(args) does the
work and returns the exit status."""
