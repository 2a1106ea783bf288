"""The `pyvora` command's entry points. On a free-threaded interpreter, importing the module turns
the interpreter lock on (the module declares that it needs it) and CPython warns about that on
standard error; the command's own import keeps that one warning off its one-line messages."""

import signal
import warnings


def import_pyvora() -> None:
    with warnings.catch_warnings():
        warnings.filterwarnings("ignore", category=RuntimeWarning,
                                message=r"The global interpreter lock \(GIL\) has been enabled to load module 'pyvora'")
        import pyvora  # noqa: F401


def main(argv: list[str] | None = None) -> int:
    """pyvora_cli.command.main, with the module imported as the command imports it."""
    import_pyvora()
    from pyvora_cli import command

    return command.main(argv)


def console() -> int:
    # Until the command can report it, Ctrl-C ends the process as SIGINT does by default: at
    # once and silently, not with a traceback of the imports it stopped.
    hears_ctrl_c = signal.getsignal(signal.SIGINT) is signal.default_int_handler
    if hears_ctrl_c:
        signal.signal(signal.SIGINT, signal.SIG_DFL)
    import_pyvora()
    from pyvora_cli import command

    if hears_ctrl_c:
        signal.signal(signal.SIGINT, signal.default_int_handler)
    return command.console()
