"""The repository's Python scripts (no .py suffix) loaded as modules, for the
tests that call their functions."""

import importlib.machinery
import importlib.util
import os

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))


def load_script(relative, name):
    """The script at `relative` (from the repository's root) as module `name`."""
    loader = importlib.machinery.SourceFileLoader(name, os.path.join(ROOT, relative))
    module = importlib.util.module_from_spec(importlib.util.spec_from_loader(loader.name, loader))
    loader.exec_module(module)
    return module
