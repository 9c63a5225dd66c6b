from .. import GenButton  # noqa: F401
