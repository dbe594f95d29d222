"""Gives the compiled part of the package the descriptions and signatures written in its stubs
(__init__.pyi), so that help() and inspect show them. The stubs are the one place they are
written; a package installed without them keeps the compiled part's own texts."""
import ast
import inspect
import os


class _Text(str):
    """An annotation or default shown as written in the stubs."""

    def __repr__(self):
        return str(self)


def _text(node):
    return inspect.Parameter.empty if node is None else _Text(ast.unparse(node))


def _signature(function):
    """The inspect.Signature of a stub's `def`."""
    args, kind = function.args, inspect.Parameter
    positional = args.posonlyargs + args.args
    defaults = [None] * (len(positional) - len(args.defaults)) + list(args.defaults)
    parameters = [kind(a.arg, kind.POSITIONAL_OR_KEYWORD, default=_text(d),
                       annotation=_text(a.annotation)) for a, d in zip(positional, defaults)]
    if args.vararg:
        parameters.append(kind(args.vararg.arg, kind.VAR_POSITIONAL,
                               annotation=_text(args.vararg.annotation)))
    parameters += [kind(a.arg, kind.KEYWORD_ONLY, default=_text(d), annotation=_text(a.annotation))
                   for a, d in zip(args.kwonlyargs, args.kw_defaults)]
    if args.kwarg:
        parameters.append(kind(args.kwarg.arg, kind.VAR_KEYWORD,
                               annotation=_text(args.kwarg.annotation)))
    return inspect.Signature(parameters, return_annotation=_text(function.returns))


def _documented(compiled, stub, owner):
    """A Python function that calls `compiled` and carries the stub's signature and text."""
    def call(*args, **kwargs):
        return compiled(*args, **kwargs)

    call.__name__ = stub.name
    call.__qualname__ = f"{owner}.{stub.name}" if owner else stub.name
    call.__module__ = "vantrel"
    call.__doc__ = ast.get_docstring(stub)
    call.__signature__ = _signature(stub)
    return call


def _document_class(cls, stub):
    cls.__module__ = "vantrel"  # where users find it, rather than the compiled part's name
    if ast.get_docstring(stub):
        cls.__doc__ = ast.get_docstring(stub)
    for member in stub.body:
        if not isinstance(member, ast.FunctionDef) or member.name not in cls.__dict__:
            continue
        current = cls.__dict__[member.name]
        if isinstance(current, property):
            setattr(cls, member.name, property(current.fget, current.fset, current.fdel,
                                               ast.get_docstring(member) or current.__doc__))
        elif type(current).__name__ == "instancemethod":  # compiled
            setattr(cls, member.name, _documented(current.__func__, member, cls.__name__))


def document(namespace):
    """Documents the compiled classes and functions of `namespace` (the package's globals)."""
    path = os.path.join(os.path.dirname(__file__), "__init__.pyi")
    try:
        with open(path, encoding="utf-8") as stubs:
            tree = ast.parse(stubs.read())
    except (OSError, SyntaxError):
        return
    for stub in tree.body:
        found = namespace.get(getattr(stub, "name", None))
        if isinstance(stub, ast.ClassDef) and isinstance(found, type):
            _document_class(found, stub)
        elif isinstance(stub, ast.FunctionDef) and type(found).__name__ == "builtin_function_or_method":
            namespace[stub.name] = _documented(found, stub, "")
