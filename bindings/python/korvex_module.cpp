// The Python module: automation objects whose members are looked up in the
// type library when they are called, so no member is bound here by hand.
//
//   import korvex
//   e = korvex.cKorvex()                 # or korvex.CreateObject("Korvex.cKorvex")
//   e.LoadFromFile("a.png")              # -> status (0 = Ok)
//   status, data, size = e.SaveAsByteArray(None, None, "png")   # by-reference results
//
//   v = korvex.kxViewer(width=400, height=300)   # a viewer on a headless host
//                                        # (korvex.KxViewerCnt: the second control)
//   v.ZoomStep = 25                      # properties read and write as attributes
//   v.on("Resize", lambda: print("resized"))
//   v.resize_client(640, 480)
//   width, height, bgra = v.snapshot()   # the client area, 4 bytes a pixel
//   v.mouse("down", 1, 0, 20, 30)        # input: mouse(kind, button, shift, x, y),
//   v.key("up", 107); v.wheel(120)       # key(kind, code, shift), wheel(delta)
//   d = v.save_properties()              # persisted properties: {name: value}
//   v.load_properties(d); v.choose_menu_item("mnzoomfit")
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <limits>
#include <string>
#include <vector>

#include "korvex/automation.h"
#include "korvex/korvex.h"
#include "korvex/property_bag.h"
#include "korvex/limits.h"
#include "korvex/version.h"
#include "korvex/viewer.h"
#include "viewer/headless_host.h"

namespace py = pybind11;
namespace ax = korvex::automation;
using korvex::Variant;

namespace {

py::object dispatch_error;  // korvex.DispatchError

[[noreturn]] void raise_dispatch(const std::string& message) {
  PyErr_SetString(dispatch_error.ptr(), message.c_str());
  throw py::error_already_set();
}

ax::ScriptValue script_value(const py::handle& h);

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

// Python handlers of an object's events, by dispatch id. A handler gets the
// event's arguments; for events with by-reference arguments it may return
// their new values (a tuple of all arguments, or one value for a one-argument event).
class PythonSink : public ax::EventSink {
 public:
  explicit PythonSink(const ax::ClassInfo* cls) : cls_(cls) {}
  void add(int32_t dispid, py::function fn) { handlers_.emplace_back(dispid, std::move(fn)); }

  void OnEvent(int32_t dispid, std::vector<Variant>& args) override {
    const ax::EventInfo* info = nullptr;
    for (const ax::EventInfo& e : cls_->events)
      if (e.dispid == dispid) info = &e;
    if (info == nullptr) return;
    // Copied: a handler may connect further handlers.
    const std::vector<std::pair<int32_t, py::function>> handlers = handlers_;
    for (const auto& [id, fn] : handlers) {
      if (id != dispid) continue;
      py::tuple values(args.size());
      for (size_t i = 0; i < args.size(); ++i) values[i] = from_variant(args[i]);
      try {
        const py::object back = fn(*values);
        if (back.is_none()) continue;
        std::vector<py::object> given;
        if (py::isinstance<py::tuple>(back) || py::isinstance<py::list>(back)) {
          for (const py::handle& h : back) given.push_back(py::reinterpret_borrow<py::object>(h));
        } else {
          given.push_back(back);
        }
        for (size_t i = 0; i < given.size() && i < args.size(); ++i) {
          if (!info->params[i].by_ref) continue;
          if (py::isinstance<py::float_>(given[i]) || py::isinstance<py::int_>(given[i]))
            args[i] = Variant(given[i].cast<double>());
        }
      } catch (py::error_already_set& e) {
        // An exception in a handler cannot cross the viewer: it is reported, as Python
        // reports exceptions in callbacks it cannot propagate.
        e.restore();
        PyErr_WriteUnraisable(fn.ptr());
      }
    }
  }

 private:
  const ax::ClassInfo* cls_;
  std::vector<std::pair<int32_t, py::function>> handlers_;
};

// An automation object seen from Python.
class AutoObject {
 public:
  explicit AutoObject(ax::Object o) : obj_(std::move(o)) {}

  py::object call(const std::string& name, py::args args) const {
    const ax::Member* m = obj_.cls()->find(name);
    if (m == nullptr) raise_dispatch(obj_.cls()->not_a_member(name));
    return invoke(m, args);
  }

  // A property's value, or a callable for a method.
  bool is_property(const std::string& name) const {
    const ax::Member* m = obj_.cls()->find(name);
    return m != nullptr && m->kind == ax::MemberKind::PropertyGet;
  }

  void put(const std::string& name, const py::object& value) const {
    const ax::Member* m = obj_.cls()->find(name, ax::MemberKind::PropertyLet);
    if (m == nullptr) {
      if (obj_.cls()->find(name) != nullptr)
        throw py::attribute_error(std::string(obj_.cls()->name) + "." + name + " cannot be set");
      throw py::attribute_error(obj_.cls()->not_a_member(name));
    }
    py::tuple args(1);
    args[0] = value;
    invoke(m, args);
  }

  void on(const std::string& event, py::function fn) {
    const ax::EventInfo* e = obj_.cls()->find_event(event);
    if (e == nullptr || obj_.cls()->advise == nullptr)
      raise_dispatch(event + " is not an event of " + obj_.cls()->name);
    if (!sink_) {
      sink_ = std::make_shared<PythonSink>(obj_.cls());
      obj_.cls()->advise(obj_.get(), sink_);
    }
    sink_->add(e->dispid, std::move(fn));
  }

  // The headless host of a viewer; raises for other objects.
  korvex::viewer::HeadlessHost& headless() const {
    korvex::viewer::HeadlessHost* h = nullptr;
    const std::string cls = obj_.cls()->name;
    if (cls == "kxViewer" || cls == "KxViewerCnt")
      h = dynamic_cast<korvex::viewer::HeadlessHost*>(&static_cast<korvex::kxViewer*>(obj_.get())->host());
    if (h == nullptr) raise_dispatch(std::string(obj_.cls()->name) + " has no headless host");
    return *h;
  }

  py::object invoke(const ax::Member* m, const py::tuple& args) const {
    std::vector<Variant> values;
    for (size_t i = 0; i < args.size(); ++i) {
      const ax::Param* p = i < m->params.size() ? &m->params[i] : nullptr;
      Variant v;
      std::string why;
      if (!ax::ConvertArgument(script_value(args[i]), p, v, why))
        raise_dispatch(std::string(m->name) + ": " + why);
      values.push_back(std::move(v));
    }
    // A copy of the object keeps it alive while an event handler drops the last reference.
    const ax::Object self = obj_;
    ax::CallResult r = self.Invoke(m->name, m->kind, values);
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
  std::shared_ptr<PythonSink> sink_;
};

// A Python value as the automation layer's script value: scalars as
// Variants, sequences (and numpy arrays) as nested lists.
ax::ScriptValue script_value(const py::handle& h) {
  ax::ScriptValue out;
  if (h.is_none()) {
    out.scalar = Variant::Missing();
  } else if (py::isinstance<py::bool_>(h)) {
    out.scalar = Variant(h.cast<bool>());
  } else if (py::isinstance<py::int_>(h)) {
    const long long v = h.cast<long long>();
    if (v >= std::numeric_limits<int32_t>::min() && v <= std::numeric_limits<int32_t>::max()) {
      out.scalar = Variant(static_cast<int32_t>(v));
    } else {
      // e.g. 0xFF000000, which the Long conversion wraps as hosts expect
      out.scalar = Variant(static_cast<double>(v));
    }
  } else if (py::isinstance<py::float_>(h)) {
    out.scalar = Variant(h.cast<double>());
  } else if (py::isinstance<py::str>(h)) {
    out.scalar = Variant(h.cast<std::string>());
  } else if (py::isinstance<py::bytes>(h) || py::isinstance<py::bytearray>(h)) {
    const std::string s = py::isinstance<py::bytes>(h)
                              ? h.cast<std::string>()
                              : std::string(py::reinterpret_borrow<py::bytearray>(h));
    out.scalar = Variant(korvex::Array<uint8_t>(std::vector<uint8_t>(s.begin(), s.end())));
  } else if (py::isinstance<korvex::ObjectRef>(h)) {
    out.scalar = Variant(h.cast<korvex::ObjectRef>());
  } else if (py::isinstance<AutoObject>(h)) {
    const AutoObject& o = h.cast<const AutoObject&>();
    out.scalar = Variant(korvex::ObjectRef{o.object().shared(), o.object().cls()->name});
  } else if (py::hasattr(h, "tolist")) {  // numpy arrays and scalars
    return script_value(h.attr("tolist")());
  } else if (py::isinstance<py::sequence>(h)) {
    out.is_list = true;
    for (const py::handle& item : py::reinterpret_borrow<py::sequence>(h))
      out.items.push_back(script_value(item));
  } else {
    raise_dispatch(std::string("cannot pass a ") +
                   std::string(py::str(h.get_type().attr("__name__"))));
  }
  return out;
}

korvex::kxViewer& as_viewer(AutoObject& self) {
  (void)self.headless();  // raises for other objects
  return *static_cast<korvex::kxViewer*>(self.object().get());
}

// The member's docstring: a text signature Python's inspect module reads
// ("Name(a, b, c=0)\n--\n\n"), then the type library's help text.
std::string docstring(const ax::Member& m) {
  // By-reference outputs may be left out (None) where no required parameter follows.
  size_t optional_from = m.params.size();
  while (optional_from > 0 &&
         (m.params[optional_from - 1].default_value || m.params[optional_from - 1].by_ref)) {
    --optional_from;
  }
  std::string sig = std::string(m.name) + "(";
  for (size_t i = 0; i < m.params.size(); ++i) {
    const ax::Param& p = m.params[i];
    sig += (i ? ", " : "") + std::string(p.name);
    if (p.default_value) {
      sig += "=" + std::string(py::repr(from_variant(*p.default_value)));
    } else if (i >= optional_from) {
      sig += "=None";
    }
  }
  return sig + ")\n--\n\n" + ax::MemberHelp(m);
}

}  // namespace

// Batch pipelines (pipeline_module.cpp).
void bind_pipeline(py::module_& m, const py::object& dispatch_error);

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
          [](const py::object& owner, const std::string& name) -> py::object {
            const auto& self = owner.cast<const AutoObject&>();
            const ax::Member* member = self.object().cls()->find(name);
            if (member == nullptr)
              throw py::attribute_error(self.object().cls()->not_a_member(name));
            if (self.is_property(name)) return self.call(name, py::args());
            py::options no_generated_signature;
            no_generated_signature.disable_function_signatures();
            // The bound member holds its object.
            return py::cpp_function(
                [owner, name](py::args args) {
                  return owner.cast<const AutoObject&>().call(name, args);
                },
                py::name(member->name), py::doc(docstring(*member).c_str()));
          })
      .def("__setattr__", &AutoObject::put)
      .def("__dir__",
           [](const AutoObject& self) {
             py::list names;
             for (const ax::Member& mem : self.object().cls()->members)
               if (mem.kind != ax::MemberKind::PropertyLet) names.append(mem.name);
             return names;
           })
      .def("on", &AutoObject::on, py::arg("event"), py::arg("handler"),
           "Calls handler(*arguments) each time the object raises the event; for\n"
           "by-reference arguments it may return their new values.")
      .def(
          "resize_client",
          [](AutoObject& self, int32_t width, int32_t height) {
            if (!self.headless().ResizeClient(width, height))
              raise_dispatch("a client area of " + std::to_string(width) + " x " +
                             std::to_string(height) + " pixels does not fit in memory");
          },
          py::arg("width"), py::arg("height"),
          "Resizes a headless viewer's client area (its resize handler runs).")
      .def(
          "snapshot",
          [](AutoObject& self) {
            const korvex::viewer::PixelBuffer b = self.headless().Snapshot();
            std::string bytes;
            bytes.reserve(static_cast<size_t>(b.width) * static_cast<size_t>(b.height) * 4);
            for (int32_t y = 0; y < b.height; ++y)
              bytes.append(reinterpret_cast<const char*>(b.row(y)), static_cast<size_t>(b.width) * 4);
            return py::make_tuple(b.width, b.height, py::bytes(bytes));
          },
          "(width, height, bytes): a headless viewer's client area as the screen\n"
          "would show it, 4 bytes a pixel in the order B, G, R, A, rows top-down.")
      .def(
          "host_log", [](AutoObject& self) { return self.headless().Log(); },
          "What a headless viewer asked its host, one line per change.")
      // Input injected into a headless viewer, as the window system delivers it.
      .def(
          "mouse",
          [](AutoObject& self, const std::string& kind, int16_t button, int16_t shift, float x, float y) {
            korvex::viewer::MouseAction action = korvex::viewer::MouseAction::Down;
            if (kind == "move") {
              action = korvex::viewer::MouseAction::Move;
            } else if (kind == "up") {
              action = korvex::viewer::MouseAction::Up;
            } else if (kind != "down") {
              raise_dispatch("mouse: kind is \"down\", \"move\" or \"up\", not \"" + kind + "\"");
            }
            self.headless().Mouse(action, button, shift, x, y);
            return py::make_tuple(button, shift, x, y);
          },
          py::arg("kind"), py::arg("button") = 1, py::arg("shift") = 0, py::arg("x") = 0.0F,
          py::arg("y") = 0.0F,
          "A mouse button goes \"down\", the mouse \"move\"s or a button goes \"up\" at client\n"
          "pixel (x, y); button 1 left, 2 right, 4 middle; shift 1 Shift, 2 Ctrl, 4 Alt.\n"
          "Returns (button, shift, x, y) as the event's handlers left them.")
      .def(
          "click", [](AutoObject& self, bool double_click) { self.headless().Click(double_click); },
          py::arg("double") = false, "A click (or a double click) on a headless viewer.")
      .def(
          "key",
          [](AutoObject& self, const std::string& kind, int16_t code, int16_t shift) {
            if (kind == "press") {
              self.headless().KeyPress(code);
              return py::make_tuple(code);
            }
            if (kind != "down" && kind != "up")
              raise_dispatch("key: kind is \"down\", \"up\" or \"press\", not \"" + kind + "\"");
            self.headless().Key(kind == "down" ? korvex::viewer::KeyAction::Down
                                               : korvex::viewer::KeyAction::Up,
                                code, shift);
            return py::make_tuple(code, shift);
          },
          py::arg("kind"), py::arg("code"), py::arg("shift") = 0,
          "A key goes \"down\" or \"up\" (code: a virtual key code; 107 and 109 are the\n"
          "keypad's + and -), or a character is typed (\"press\", code: its ASCII value).\n"
          "Returns the arguments as the event's handlers left them.")
      .def(
          "wheel", [](AutoObject& self, int16_t delta) { self.headless().Wheel(delta); },
          py::arg("delta"),
          "Turns the mouse wheel over a headless viewer by delta (120 a notch, > 0 away\n"
          "from the user).")
      // Persisted properties and the context menu of a headless viewer.
      .def(
          "save_properties",
          [](AutoObject& self) {
            korvex::MemoryPropertyBag bag;
            const auto st = as_viewer(self).WriteProperties(bag);
            if (st != korvex::ViewerStatus::Ok)
              raise_dispatch("save_properties: status " + std::to_string(static_cast<int>(st)));
            py::dict out;
            for (const auto& [name, entry] : bag.entries) {
              if (entry.first == korvex::PropertyType::Boolean) {
                out[py::str(name)] = py::bool_(entry.second != 0);
              } else if (entry.first == korvex::PropertyType::Double) {
                out[py::str(name)] = py::float_(entry.second);
              } else {
                out[py::str(name)] = py::int_(static_cast<long long>(entry.second));
              }
            }
            return out;
          },
          "The viewer's persisted properties that differ from their defaults, by name.")
      .def(
          "load_properties",
          [](AutoObject& self, const py::dict& values) {
            korvex::MemoryPropertyBag bag;
            for (const auto& [key, value] : values) {
              // Anything but a number is a damaged entry.
              double x = std::numeric_limits<double>::quiet_NaN();
              if (py::isinstance<py::int_>(value) || py::isinstance<py::float_>(value))
                x = value.cast<double>();
              bag.entries[py::str(key)] = {korvex::PropertyType::Double, x};
            }
            return static_cast<int>(as_viewer(self).ReadProperties(bag));
          },
          py::arg("values"),
          "Restores persisted properties from a dict as save_properties gives it; missing\n"
          "names take their defaults, refused values are ignored. Returns the status: a\n"
          "damaged entry leaves every property at its default.")
      .def(
          "choose_menu_item",
          [](AutoObject& self, const std::string& name) { self.headless().ChooseMenuItem(name); },
          py::arg("name"), "Chooses a context menu item (\"mnzoom100\"...) of a headless viewer.")
      .def("__repr__", [](const AutoObject& self) {
        return std::string("<") + self.object().cls()->progid + " object>";
      });

  m.def("CreateObject", [](const std::string& progid) {
    ax::Object o = ax::CreateObject(progid);
    if (!o) raise_dispatch("no class " + progid);
    return AutoObject(std::move(o));
  });
  for (const ax::ClassInfo* c : ax::Classes()) {
    const std::string name = c->name;
    if (name == "kxViewer" || name == "KxViewerCnt") continue;
    const std::string progid = c->progid;
    m.def(c->name, [progid]() { return AutoObject(ax::CreateObject(progid)); });
  }
  // The two viewer controls: the same viewer on a headless host under either identity.
  for (const char* name : {"kxViewer", "KxViewerCnt"}) {
    const std::string cls = name;
    m.def(
        name,
        [cls](int32_t width, int32_t height) {
          if (width < 0 || height < 0 || !korvex::viewer::HeadlessHost::SizeFits(width, height))
            raise_dispatch("a client area of " + std::to_string(width) + " x " +
                           std::to_string(height) + " pixels cannot be made");
          auto host = std::make_shared<korvex::viewer::HeadlessHost>(width, height);
          std::shared_ptr<korvex::kxViewer> viewer;
          if (cls == "KxViewerCnt")
            viewer = std::make_shared<korvex::KxViewerCnt>(host);
          else
            viewer = std::make_shared<korvex::kxViewer>(host);
          return AutoObject(ax::Object(ax::FindClass(cls), viewer));
        },
        py::arg("width") = 400, py::arg("height") = 300,
        "A viewer on a headless host whose client area is width x height pixels.");
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
      if (mem.kind == ax::MemberKind::PropertyLet) continue;  // one row per property
      out.append(py::make_tuple(mem.name, mem.dispid, params, ax::VarTypeName(mem.result)));
    }
    return out;
  });
  // Resource limits of the process (korvex/limits.h), by their names.
  m.def(
      "limits",
      [] {
        py::dict out;
        for (int32_t i = 0; i < korvex::kLimitCount; ++i) {
          const auto which = static_cast<korvex::Limit>(i);
          out[korvex::LimitName(which)] = korvex::GetLimit(which);
        }
        return out;
      },
      "The process's resource limits: pixels, pixel_bytes, download_bytes, inflate_ratio.");
  m.def(
      "set_limits",
      [](const py::kwargs& values) {
        // Every name and value is checked before any limit changes.
        std::vector<std::pair<korvex::Limit, uint64_t>> changes;
        for (const auto& [key, value] : values) {
          const std::string name = py::str(key);
          int32_t i = 0;
          while (i < korvex::kLimitCount &&
                 name != korvex::LimitName(static_cast<korvex::Limit>(i)))
            ++i;
          if (i == korvex::kLimitCount) throw py::value_error("no limit named " + name);
          if (!py::isinstance<py::int_>(value) || py::isinstance<py::bool_>(value) ||
              value.cast<py::int_>() < py::int_(1) ||
              value.cast<py::int_>() > py::int_(std::numeric_limits<uint64_t>::max()))
            throw py::value_error(name + " must be a whole number from 1 up");
          changes.emplace_back(static_cast<korvex::Limit>(i), value.cast<uint64_t>());
        }
        for (const auto& [which, v] : changes) korvex::SetLimit(which, v);
      },
      "Sets resource limits by name for the whole process, e.g. set_limits(pixels=10**8).");
  m.def("reset_limits", &korvex::ResetLimits,
        "Puts every limit back to its default, with the environment read again.");
  m.attr("__version__") = korvex::kVersion;
  // Batch pipelines and the korvex.batch driver.
  bind_pipeline(m, dispatch_error);
}
