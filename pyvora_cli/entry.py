"""The `pyvora` command's entry point. On a free-threaded interpreter, importing the module turns
the interpreter lock on (the module declares that it needs it) and CPython warns about that on
standard error; the command's own import keeps that one warning off its one-line messages."""

import warnings


def console() -> int:
    with warnings.catch_warnings():
        warnings.filterwarnings("ignore", category=RuntimeWarning,
                                message=r"The global interpreter lock \(GIL\) has been enabled to load module 'pyvora'")
        import pyvora  # noqa: F401
    from pyvora_cli import command

    return command.console()
