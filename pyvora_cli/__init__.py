"""The `pyvora` command: show, check, compare and plot protocol files.

    pyvora show [--full] FILE     the protocol, sample lists cut to one line, then its problems
    pyvora check FILE...          "FILE: ok" or one "FILE: <problem>" line per problem
    pyvora diff A B               one "<path>: <value in A> -> <value in B>" line per difference
    pyvora plot FILE [-o OUT]     a picture of the session (PNG, SVG or PDF); needs matplotlib

`python -m pyvora_cli` runs the same command.
"""
