"""Errors that CPython words itself, taken from the running interpreter.

The module converts its arguments with CPython's own functions and relays their errors; their
wording changes between CPython versions, so the tests ask these functions, never a copy.
"""

import ctypes

_api = ctypes.pythonapi
_api.PyFloat_AsDouble.argtypes = (ctypes.py_object,)
_api.PyFloat_AsDouble.restype = ctypes.c_double
_api.PyNumber_Index.argtypes = (ctypes.py_object,)
_api.PyNumber_Index.restype = ctypes.py_object
_api.PyLong_AsUnsignedLongLong.argtypes = (ctypes.py_object,)
_api.PyLong_AsUnsignedLongLong.restype = ctypes.c_ulonglong
_api.PyOS_FSPath.argtypes = (ctypes.py_object,)
_api.PyOS_FSPath.restype = ctypes.py_object


def error_of(call, *args) -> Exception:
    """The exception call(*args) raises (it must raise one)."""
    try:
        call(*args)
    except Exception as error:  # noqa: BLE001 - any exception is the answer
        return error
    raise AssertionError(f"{call!r}{args!r} raised nothing")


def message(call, *args) -> str:
    return str(error_of(call, *args))


def with_hook(cls: type, hook: str, result) -> object:
    """An object of a class named like cls whose hook returns result: asks CPython for the error
    cls's hook would cause without calling that hook again."""
    names = {"__module__": cls.__module__, "__qualname__": cls.__qualname__}
    return type(cls.__name__, (), {**names, hook: lambda self: result})()


def float_error(obj) -> Exception:
    """What converting obj to a C double raises (PyFloat_AsDouble)."""
    return error_of(_api.PyFloat_AsDouble, obj)


def index_error(obj) -> Exception:
    """What taking obj's index raises (PyNumber_Index)."""
    return error_of(_api.PyNumber_Index, obj)


def unsigned_error(number: int) -> Exception:
    """What converting an int to a C unsigned long long raises (PyLong_AsUnsignedLongLong)."""
    return error_of(_api.PyLong_AsUnsignedLongLong, number)


def fspath_error(obj) -> Exception:
    """What taking obj's file system path raises (PyOS_FSPath)."""
    return error_of(_api.PyOS_FSPath, obj)


def no_arguments_error(qualname: str, *args, **kwargs) -> Exception:
    """What CPython raises when a method of no parameters (METH_NOARGS) named qualname() gets
    arguments; asked of a built-in method of that kind."""
    error = error_of(lambda: [].copy(*args, **kwargs))
    return type(error)(str(error).replace("list.copy()", qualname, 1))
