// The Python module: automation objects whose members are looked up in the
// type library when they are called, so no member is bound here by hand.
//
//   import korvex
//   e = korvex.cKorvex()                 # or korvex.CreateObject("Korvex.cKorvex")
//   e.LoadFromFile("a.png")              # -> status (0 = Ok)
//   status, data, size = e.SaveAsByteArray(None, None, "png")   # by-reference results
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <limits>
#include <string>
#include <vector>

#include "korvex/automation.h"
#include "korvex/korvex.h"
#include "korvex/version.h"

namespace py = pybind11;
namespace ax = korvex::automation;
using korvex::Variant;

namespace {

py::object dispatch_error;  // korvex.DispatchError

[[noreturn]] void raise_dispatch(const std::string& message) {
  PyErr_SetString(dispatch_error.ptr(), message.c_str());
  throw py::error_already_set();
}

// Flattens a (possibly nested) sequence of integers into a Long array whose
// first index runs over the innermost lists, as automation arrays are laid out.
Variant long_array(const py::handle& seq) {
  std::vector<int32_t> values;
  std::vector<int32_t> dims;  // outermost first
  py::handle cur = seq;
  while (py::isinstance<py::sequence>(cur) && !py::isinstance<py::str>(cur)) {
    py::sequence s = py::reinterpret_borrow<py::sequence>(cur);
    dims.push_back(static_cast<int32_t>(py::len(s)));
    if (py::len(s) == 0) break;
    cur = s[0];
  }
  std::function<void(const py::handle&, size_t)> walk = [&](const py::handle& h, size_t depth) {
    if (depth + 1 == dims.size() || dims.empty()) {
      for (const py::handle& v : py::reinterpret_borrow<py::sequence>(h)) {
        const long long x = v.cast<long long>();
        values.push_back(static_cast<int32_t>(static_cast<uint32_t>(x)));
      }
      return;
    }
    for (const py::handle& v : py::reinterpret_borrow<py::sequence>(h)) walk(v, depth + 1);
  };
  walk(seq, 0);
  korvex::Array<int32_t> a;
  if (dims.empty() || dims.back() == 0) return Variant(a);
  if (dims.size() > 3) raise_dispatch("Long arrays have at most three dimensions");
  size_t expected = 1;
  for (int32_t d : dims) expected *= static_cast<size_t>(d);
  if (values.size() != expected)
    raise_dispatch("nested lists of a Long array must have equal lengths");
  // Python nests outer dimensions first; the automation array's first index is the innermost one.
  if (dims.size() == 1) a.Redim({{0, dims[0] - 1}});
  if (dims.size() == 2) a.Redim({{1, dims[1]}, {1, dims[0]}});
  if (dims.size() == 3) a.Redim({{1, dims[2]}, {1, dims[1]}, {1, dims[0]}});
  std::copy(values.begin(), values.end(), a.values().begin());
  return Variant(std::move(a));
}

Variant to_variant(const py::handle& h);

py::object from_variant(const Variant& v) {
  switch (v.type()) {
    case Variant::Type::Empty:
    case Variant::Type::Missing:
      return py::none();
    case Variant::Type::Boolean:
      return py::bool_(v.as_bool());
    case Variant::Type::Integer:
      return py::int_(v.as_int16());
    case Variant::Type::Long:
      return py::int_(v.as_int32());
    case Variant::Type::Single:
      return py::float_(v.as_float());
    case Variant::Type::Double:
      return py::float_(v.as_double());
    case Variant::Type::String:
      return py::str(v.as_string());
    case Variant::Type::ByteArray: {
      const auto& b = v.as_bytes();
      return py::bytes(reinterpret_cast<const char*>(b.data()), b.size());
    }
    case Variant::Type::LongArray: {
      const auto& a = v.as_longs();
      if (a.Dims() <= 1) return py::cast(a.values());
      // Two or three dimensions: nested lists, the last index outermost.
      const size_t inner = static_cast<size_t>(a.Count(1));
      py::list outer;
      if (a.Dims() == 2) {
        for (int32_t j = 0; j < a.Count(2); ++j) {
          auto first = a.values().begin() + static_cast<std::ptrdiff_t>(j * inner);
          outer.append(
              py::cast(std::vector<int32_t>(first, first + static_cast<std::ptrdiff_t>(inner))));
        }
        return outer;
      }
      const size_t plane = inner * static_cast<size_t>(a.Count(2));
      for (int32_t k = 0; k < a.Count(3); ++k) {
        py::list rows;
        for (int32_t j = 0; j < a.Count(2); ++j) {
          auto first = a.values().begin() + static_cast<std::ptrdiff_t>(k * plane + j * inner);
          rows.append(
              py::cast(std::vector<int32_t>(first, first + static_cast<std::ptrdiff_t>(inner))));
        }
        outer.append(rows);
      }
      return outer;
    }
    case Variant::Type::Object:
      // Pictures and streams travel as opaque references the module hands back in.
      return v.as_object().ptr ? py::cast(v.as_object()) : py::none();
  }
  return py::none();
}

// An automation object seen from Python.
class AutoObject {
 public:
  explicit AutoObject(ax::Object o) : obj_(std::move(o)) {}

  py::object call(const std::string& name, py::args args) const {
    const ax::Member* m = obj_.cls()->find(name);
    if (m == nullptr) raise_dispatch(std::string(obj_.cls()->name) + " has no member " + name);
    std::vector<Variant> values;
    for (const py::handle& a : args) values.push_back(to_variant(a));
    ax::CallResult r = obj_.Invoke(m->name, values);
    if (r.error != ax::DispatchError::None) raise_dispatch(r.message);
    std::vector<py::object> outs;
    for (size_t i = 0; i < m->params.size(); ++i) {
      if (m->params[i].by_ref) outs.push_back(from_variant(values[i]));
    }
    if (outs.empty()) return from_variant(r.value);
    py::tuple t(outs.size() + 1);
    t[0] = from_variant(r.value);
    for (size_t i = 0; i < outs.size(); ++i) t[i + 1] = outs[i];
    return t;
  }

  const ax::Object& object() const { return obj_; }

 private:
  ax::Object obj_;
};

Variant to_variant(const py::handle& h) {
  if (h.is_none()) return Variant::Missing();
  if (py::isinstance<py::bool_>(h)) return Variant(h.cast<bool>());
  if (py::isinstance<py::int_>(h)) {
    const long long v = h.cast<long long>();
    if (v >= std::numeric_limits<int32_t>::min() && v <= std::numeric_limits<int32_t>::max()) {
      return Variant(static_cast<int32_t>(v));
    }
    return Variant(static_cast<double>(v));  // e.g. 0xFF000000, wrapped by the Long conversion
  }
  if (py::isinstance<py::float_>(h)) return Variant(h.cast<double>());
  if (py::isinstance<py::str>(h)) return Variant(h.cast<std::string>());
  if (py::isinstance<py::bytes>(h) || py::isinstance<py::bytearray>(h)) {
    const std::string s = py::isinstance<py::bytes>(h)
                              ? h.cast<std::string>()
                              : std::string(py::reinterpret_borrow<py::bytearray>(h));
    return Variant(korvex::Array<uint8_t>(std::vector<uint8_t>(s.begin(), s.end())));
  }
  if (py::isinstance<korvex::ObjectRef>(h)) return Variant(h.cast<korvex::ObjectRef>());
  if (py::isinstance<AutoObject>(h)) {
    const AutoObject& o = h.cast<const AutoObject&>();
    return Variant(korvex::ObjectRef{o.object().shared(), o.object().cls()->name});
  }
  if (py::hasattr(h, "tolist")) return long_array(h.attr("tolist")());  // numpy arrays
  if (py::isinstance<py::sequence>(h)) return long_array(h);
  raise_dispatch(std::string("cannot pass a ") +
                 std::string(py::str(h.get_type().attr("__name__"))));
}

}  // namespace

PYBIND11_MODULE(korvex, m) {
  m.doc() = "Korvex imaging engine: automation objects with late-bound members";
  dispatch_error = py::reinterpret_borrow<py::object>(
      PyErr_NewException("korvex.DispatchError", PyExc_RuntimeError, nullptr));
  m.attr("DispatchError") = dispatch_error;

  py::class_<korvex::ObjectRef>(m, "ObjectRef")
      .def_readonly("kind", &korvex::ObjectRef::kind)
      .def("__repr__", [](const korvex::ObjectRef& r) { return "<korvex " + r.kind + ">"; });

  py::class_<AutoObject>(m, "Object")
      .def(
          "__getattr__",
          [](const AutoObject& self, const std::string& name) -> py::object {
            if (self.object().cls()->find(name) == nullptr) {
              throw py::attribute_error(std::string(self.object().cls()->name) + " has no member " +
                                        name);
            }
            return py::cpp_function([&self, name](py::args args) { return self.call(name, args); });
          },
          py::keep_alive<0, 1>())
      .def("__dir__",
           [](const AutoObject& self) {
             py::list names;
             for (const ax::Member& mem : self.object().cls()->members) names.append(mem.name);
             return names;
           })
      .def("__repr__", [](const AutoObject& self) {
        return std::string("<") + self.object().cls()->progid + " object>";
      });

  m.def("CreateObject", [](const std::string& progid) {
    ax::Object o = ax::CreateObject(progid);
    if (!o) raise_dispatch("no class " + progid);
    return AutoObject(std::move(o));
  });
  for (const ax::ClassInfo* c : ax::Classes()) {
    const std::string progid = c->progid;
    m.def(c->name, [progid]() { return AutoObject(ax::CreateObject(progid)); });
  }
  m.def("members", [](const std::string& cls) {
    const ax::ClassInfo* c = ax::FindClass(cls);
    if (c == nullptr) raise_dispatch("no class " + cls);
    py::list out;
    for (const ax::Member& mem : c->members) {
      py::list params;
      for (const ax::Param& p : mem.params) {
        params.append(py::make_tuple(p.name, ax::VarTypeName(p.type), p.by_ref,
                                     p.default_value ? from_variant(*p.default_value) : py::none(),
                                     p.default_value.has_value()));
      }
      out.append(py::make_tuple(mem.name, mem.dispid, params, ax::VarTypeName(mem.result)));
    }
    return out;
  });
  m.attr("__version__") = korvex::kVersion;
}
