"""Optional dependencies: imported on first use, with the extra that brings them named on failure."""

import importlib


def need(module, extra):
    """Import `module`, or raise ImportError telling which pelgar extra installs it."""
    try:
        return importlib.import_module(module)
    except ImportError as error:
        raise ImportError(
            f"this pelgar_join function needs {module}: pip install \"pelgar[{extra}]\""
        ) from error
