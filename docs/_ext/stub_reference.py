"""The API reference of the module, read from its type stubs: `.. stub-reference:: PATH MODULE`
lists every public class, enumeration member, method, attribute and exception of the stub at PATH
(relative to the documentation's folder), with its signature and docstring. The stub is the one
place the API is written; this only lays it out as Sphinx's Python domain does."""

import ast
import pathlib

from docutils.statemachine import StringList
from sphinx.ext.napoleon.docstring import GoogleDocstring
from sphinx.util.docutils import SphinxDirective


def public(name: str) -> bool:
    return not name.startswith("_") or (name.startswith("__") and name.endswith("__"))


def aliases(tree: ast.Module) -> dict[str, ast.expr]:
    """The stub's own type aliases (`_Float: TypeAlias = ...`), written out where they are used."""
    return {node.target.id: node.value for node in tree.body
            if isinstance(node, ast.AnnAssign) and isinstance(node.target, ast.Name)
            and ast.unparse(node.annotation) == "TypeAlias" and node.value is not None}


class ExpandAliases(ast.NodeTransformer):
    def __init__(self, known: dict[str, ast.expr]) -> None:
        self.known = known

    def visit_Name(self, node: ast.Name) -> ast.expr:
        return self.known.get(node.id, node)


class Layout:
    """Lays the stub out as reStructuredText of the Python domain."""

    def __init__(self, directive: SphinxDirective, tree: ast.Module) -> None:
        self.directive, self.expand = directive, ExpandAliases(aliases(tree))
        self.lines: list[str] = []

    def text(self, expr: ast.expr) -> str:
        return ast.unparse(self.expand.visit(ast.parse(ast.unparse(expr), mode="eval").body))

    def signature(self, function: ast.FunctionDef, method: bool) -> str:
        args = ast.parse(f"def f({ast.unparse(function.args)}): pass").body[0].args  # a copy
        if method and not is_static(function):
            (args.posonlyargs or args.args).pop(0)  # self or cls
        args = self.expand.visit(args)
        returns = f" -> {self.text(function.returns)}" if function.returns else ""
        return f"({ast.unparse(args)}){returns}"

    def emit(self, indent: str, line: str = "") -> None:
        self.lines.append(indent + line if line else "")

    def docstring(self, indent: str, doc: str | None, what: str, name: str) -> None:
        if not doc:
            return
        env = self.directive.env
        lines = GoogleDocstring(doc, env.app.config, env.app, what, name).lines()
        self.emit("")
        for line in "\n".join(lines).split("\n"):  # an entry of several lines comes as one
            self.emit(indent, line)
        self.emit("")

    def module(self, tree: ast.Module, name: str) -> None:
        self.emit("", f".. py:module:: {name}")
        self.docstring("", ast.get_docstring(tree), "module", name)
        self.body(tree.body, "", name)

    def body(self, nodes: list[ast.stmt], indent: str, owner: str) -> None:
        in_class = indent != ""
        for node, after in zip(nodes, [*nodes[1:], None]):
            if isinstance(node, ast.ClassDef) and public(node.name):
                self.a_class(node, indent, owner)
            elif isinstance(node, ast.FunctionDef) and public(node.name) and node.name != "__new__":
                kind = "method" if in_class else "function"
                self.emit("")
                self.emit(indent, f".. py:{kind}:: {node.name}{self.signature(node, in_class)}")
                for decorator in node.decorator_list:
                    if ast.unparse(decorator) in ("classmethod", "staticmethod"):
                        self.emit(indent, f"   :{ast.unparse(decorator)}:")
                self.docstring(indent + "   ", ast.get_docstring(node), kind, f"{owner}.{node.name}")
            elif isinstance(node, ast.AnnAssign) and isinstance(node.target, ast.Name) and public(node.target.id):
                # An attribute's docstring is the string statement right after it.
                doc = after.value.value if isinstance(after, ast.Expr) and isinstance(after.value, ast.Constant) else None
                annotation = ast.unparse(node.annotation)
                kind = "attribute" if in_class else "data"
                self.emit("")
                self.emit(indent, f".. py:{kind}:: {node.target.id}")
                if annotation.startswith("ClassVar["):  # an enumeration's member
                    self.emit(indent, f"   :value: {owner.rpartition('.')[2]}.{node.target.id}")
                else:
                    self.emit(indent, f"   :type: {self.text(node.annotation)}")
                self.docstring(indent + "   ", doc, "attribute", f"{owner}.{node.target.id}")

    def a_class(self, node: ast.ClassDef, indent: str, owner: str) -> None:
        bases = [ast.unparse(base) for base in node.bases]
        exception = any(base.endswith(("Error", "Exception")) for base in bases)
        new = next((item for item in node.body if isinstance(item, ast.FunctionDef) and item.name == "__new__"), None)
        signature = self.signature(new, True).partition(" -> ")[0] if new else ""
        self.emit("")
        self.emit(indent, f".. py:{'exception' if exception else 'class'}:: {node.name}{signature}")
        if any(ast.unparse(d) == "final" for d in node.decorator_list):
            self.emit(indent, "   :final:")
        inner = indent + "   "
        if bases:
            self.emit("")
            self.emit(inner, "Bases: " + ", ".join(f":py:exc:`{base}`" for base in bases))
        self.docstring(inner, ast.get_docstring(node), "class", f"{owner}.{node.name}")
        if new is not None:
            self.docstring(inner, ast.get_docstring(new), "method", f"{owner}.{node.name}.__new__")
        self.body(node.body, inner, f"{owner}.{node.name}")


def is_static(function: ast.FunctionDef) -> bool:
    return any(ast.unparse(d) == "staticmethod" for d in function.decorator_list)


class StubReference(SphinxDirective):
    required_arguments = 2  # the stub's path, the module's name

    def run(self):
        path = pathlib.Path(self.env.srcdir, self.arguments[0]).resolve()
        self.env.note_dependency(str(path))
        tree = ast.parse(path.read_text("utf-8"))
        layout = Layout(self, tree)
        layout.module(tree, self.arguments[1])
        return self.parse_text_to_nodes("\n".join(layout.lines))


def setup(app):
    app.add_directive("stub-reference", StubReference)
    return {"parallel_read_safe": True, "parallel_write_safe": True}
