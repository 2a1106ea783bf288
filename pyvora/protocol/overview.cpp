// The overview that the picture, the notebook summary and diff render (protocols/view/), as
// plain Python data, and the notebook summary itself.
#include <string>
#include <string_view>
#include <vector>

#include "protocols/view/html_summary.hpp"
#include "protocols/view/overview.hpp"
#include "pyvora/protocol/methods.hpp"

namespace pyvora::methods {
namespace {

namespace view = protocols::view;

Ref text(std::string_view utf8) { return str_of(utf8); }
Ref number(std::uint64_t n) { return check(PyLong_FromUnsignedLongLong(n)); }
Ref truth(bool b) { return Ref::borrow(b ? Py_True : Py_False); }

void set(PyObject* dict, const char* key, Ref value) { check_status(PyDict_SetItemString(dict, key, value.get())); }

Ref positions(const std::vector<std::size_t>& marks) {
    return list_of(marks, [](std::size_t m) { return number(m); });
}

std::string finding_text(PyObject* object) {
    if (!PyUnicode_Check(object)) {
        PyErr_SetString(PyExc_TypeError, "findings: each is a (path, text, warning) tuple of str, str and bool");
        throw PythonError{};
    }
    return std::string(utf8_of(object));
}

// (path, text, warning) tuples, as pyvora_cli.rules passes a lab's findings.
std::vector<view::Mark> findings_of(std::optional<AnyObject> findings) {
    std::vector<view::Mark> marks;
    if (!findings) return marks;
    Ref items = check(PySequence_Fast(findings->object, "findings must be a sequence"));
    const Py_ssize_t n = PySequence_Fast_GET_SIZE(items.get());
    for (Py_ssize_t i = 0; i < n; ++i) {
        PyObject* item = PySequence_Fast_GET_ITEM(items.get(), i);
        if (!PyTuple_Check(item) || PyTuple_GET_SIZE(item) != 3 || !PyBool_Check(PyTuple_GET_ITEM(item, 2))) {
            PyErr_SetString(PyExc_TypeError, "findings: each is a (path, text, warning) tuple of str, str and bool");
            throw PythonError{};
        }
        marks.push_back(view::Mark{finding_text(PyTuple_GET_ITEM(item, 0)), finding_text(PyTuple_GET_ITEM(item, 1)),
                                   PyTuple_GET_ITEM(item, 2) == Py_True});
    }
    return marks;
}

Ref row_dict(const view::Row& row) {
    Ref dict = check(PyDict_New());
    set(dict.get(), "label", text(row.label));
    set(dict.get(), "path", text(row.path));
    set(dict.get(), "enabled", truth(row.enabled));
    set(dict.get(), "external", truth(row.external));
    set(dict.get(), "position", number(row.position));
    set(dict.get(), "exists", truth(row.exists));
    set(dict.get(), "text", text(row.text));
    set(dict.get(), "drive", list_of(row.drive, [](const view::Reached& reached) {
            Ref part = check(PyDict_New());
            set(part.get(), "position", number(reached.position));
            set(part.get(), "exists", truth(reached.exists));
            set(part.get(), "text", text(reached.text));
            return part;
        }));
    set(dict.get(), "marks", positions(row.marks));
    return dict;
}

}  // namespace

Ref overview(const Settings& s, std::optional<AnyObject> findings) {
    const std::vector<view::Mark> given = findings_of(findings);
    const view::Overview o = view::overview(s, given);
    Ref dict = check(PyDict_New());
    Ref facts = check(PyDict_New());
    for (const view::Fact& fact : o.facts) check_status(PyDict_SetItem(facts.get(), text(fact.head).get(), text(fact.text).get()));
    set(dict.get(), "facts", std::move(facts));
    set(dict.get(), "intensity_above", truth(o.intensity_above));
    set(dict.get(), "intensity_marks", positions(o.intensity_marks));
    set(dict.get(), "signals", list_of(o.signals, [](const view::SignalText& signal) {
            Ref entry = check(PyDict_New());
            set(entry.get(), "kind", text(signal.kind));
            set(entry.get(), "text", text(signal.text));
            set(entry.get(), "note", text(signal.note));
            return entry;
        }));
    set(dict.get(), "rows", list_of(o.rows, row_dict));
    set(dict.get(), "marks", list_of(o.marks, [](const view::Mark& mark) {
            Ref entry = check(PyDict_New());
            set(entry.get(), "path", text(mark.path));
            set(entry.get(), "text", text(mark.text));
            set(entry.get(), "warning", truth(mark.warning));
            return entry;
        }));
    set(dict.get(), "problem_count", number(o.problem_count));
    return dict;
}

Ref summary_html(const Settings& s, std::optional<AnyObject> findings) {
    const std::vector<view::Mark> given = findings_of(findings);
    return text(view::html_summary(s, given));
}

Ref repr_html(const Settings& s) { return text(view::html_summary(s)); }

}  // namespace pyvora::methods
