"""The `pyvora` command: show, check, compare, export, build and plot protocol files.

    pyvora show [--full] FILE       the protocol, sample lists cut to one line, then its problems
    pyvora check [--json] FILE...   "FILE: ok" or one "FILE: <problem>" line per problem
    pyvora diff A B                 one "<path>: <value in A> -> <value in B>" line per difference
    pyvora export FILE [-o OUT]     the protocol as JSON
    pyvora build JSON -o OUT        the protocol file of a JSON form
    pyvora plot FILE [-o OUT]       a picture of the session (PNG, SVG or PDF); needs matplotlib

FILE may be `-` for standard input. `python -m pyvora_cli` runs the same command.
"""
