// The Python module's compiled part: vector functions generated from the function registry, streams,
// summary statistics, cell search and splines, on numpy arrays, through the public C interface only.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <algorithm>
#include <cctype>
#include <climits>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

#include "zok/core_services.h"
#include "zok/data_fitting.h"
#include "zok/random.h"
#include "zok/summary_stats.h"
#include "zok/vector_math.h"

namespace py = pybind11;

namespace {

// ---- errors ----

py::object error_type;  // zok.Error

[[noreturn]] void raise_status(const char* what, int32_t status, const char* meaning) {
  const std::string text =
      std::string(what) + " failed with status " + std::to_string(status) + ": " + meaning;
  py::object e = error_type(text);
  e.attr("status") = status;
  PyErr_SetObject(error_type.ptr(), e.ptr());
  throw py::error_already_set();
}

const char* rng_meaning(int32_t s) {
  switch (s) {
    case ZOK_RNG_ERROR_METHOD:
      return "method not supported by this generator";
    case ZOK_RNG_ERROR_BAD_ARGUMENT:
      return "bad argument";
    case ZOK_RNG_ERROR_MEMORY:
      return "not enough memory";
    case ZOK_RNG_ERROR_NULL_POINTER:
      return "null pointer";
    case ZOK_RNG_ERROR_BAD_BRNG:
      return "generator identifier or member out of range";
    case ZOK_RNG_ERROR_UNAVAILABLE:
      return "the generator is not part of this build";
    case ZOK_RNG_ERROR_NO_LEAPFROG:
      return "the generator has no leapfrog";
    case ZOK_RNG_ERROR_NO_SKIP_AHEAD:
      return "the generator has no skip-ahead";
    case ZOK_RNG_ERROR_LEAPFROG_COUNT:
      return "leapfrog count below 1 or index outside 0..count-1";
    default:
      return "see include/zok/random.h";
  }
}

void check_rng(const char* what, int32_t s) {
  if (s < 0) raise_status(what, s, rng_meaning(s));
}

void check_ss(const char* what, int32_t s) {
  if (s == 0) return;
  const char* m = s == ZOK_SS_ERR_MEMORY       ? "not enough memory"
                  : s == ZOK_SS_ERR_P          ? "bad number of variables"
                  : s == ZOK_SS_ERR_N          ? "bad number of observations"
                  : s == ZOK_SS_ERR_BAD_WEIGHT ? "a weight is negative or NaN"
                  : s == ZOK_SS_ERR_METHOD     ? "method not supported"
                                               : "see include/zok/summary_stats.h";
  raise_status(what, s, m);
}

void check_df(const char* what, int32_t s) {
  if (s == 0) return;
  const char* m = s == ZOK_DF_ERR_NX       ? "fewer than 2 partition points"
                  : s == ZOK_DF_ERR_X      ? "the partition is not strictly ascending and finite"
                  : s == ZOK_DF_ERR_MEMORY ? "not enough memory"
                                           : "see include/zok/data_fitting.h";
  raise_status(what, s, m);
}

// ---- arrays ----

namespace npy = py::detail;

// The element size of `o` when it is already what a kernel reads in place: a C-contiguous float32
// or float64 array in native byte order; else 0. Reads the array's fields directly, as this check
// runs on every call.
int in_place_size(PyObject* o) {
  const auto& api = npy::npy_api::get();
  if (!api.PyArray_Check_(o)) return 0;
  const auto* p = npy::array_proxy(o);
  const auto* d = npy::array_descriptor_proxy(p->descr);
  if (d->kind != 'f' || (d->elsize != 4 && d->elsize != 8) || d->byteorder == '>') return 0;
  return (p->flags & npy::npy_api::NPY_ARRAY_C_CONTIGUOUS_) ? d->elsize : 0;
}

// A contiguous float32 or float64 array for `o`: such arrays pass unchanged; non-contiguous and
// byte-swapped ones are copied, integer and boolean input and sequences become float64. Complex and
// other kinds are refused.
py::array as_real(const py::handle& o, const char* name) {
  if (in_place_size(o.ptr()) != 0) return py::reinterpret_borrow<py::array>(o);
  py::array a = py::isinstance<py::array>(o) ? py::reinterpret_borrow<py::array>(o) : py::array::ensure(o);
  if (!a) throw py::type_error(std::string(name) + " is not an array or a sequence of numbers");
  const char kind = a.dtype().kind();
  if (kind == 'f' && a.itemsize() == 4)
    return py::array_t<float, py::array::c_style | py::array::forcecast>::ensure(a);
  if ((kind == 'f' && a.itemsize() == 8) || kind == 'i' || kind == 'u' || kind == 'b')
    return py::array_t<double, py::array::c_style | py::array::forcecast>::ensure(a);
  throw py::type_error(std::string(name) + " has dtype " + py::str(a.dtype()).cast<std::string>() +
                       ": float32 or float64 expected");
}

bool same_shape(const py::array& a, const py::array& b) {
  return a.ndim() == b.ndim() && std::equal(a.shape(), a.shape() + a.ndim(), b.shape());
}

// The output for an input `like`: a new array, or `out` when it has the same shape and dtype and is
// contiguous and writable.
py::array make_out(const py::handle& out, const py::array& like, const char* name) {
  const auto& api = npy::npy_api::get();
  PyObject* descr = npy::array_proxy(like.ptr())->descr;
  if (out.is_none()) {
    Py_INCREF(descr);  // the constructor takes this reference
    PyObject* r = api.PyArray_NewFromDescr_(api.PyArray_Type_, descr, like.ndim(), like.shape(), nullptr,
                                            nullptr, 0, nullptr);
    if (r == nullptr) throw py::error_already_set();
    return py::reinterpret_steal<py::array>(r);
  }
  if (!api.PyArray_Check_(out.ptr())) throw py::type_error(std::string(name) + " must be a numpy array");
  auto o = py::reinterpret_borrow<py::array>(out);
  if (in_place_size(out.ptr()) != like.itemsize())
    throw py::type_error(std::string(name) + " must be a C-contiguous " +
                         py::str(like.dtype()).cast<std::string>() + " array like the input");
  if (!same_shape(o, like)) throw py::value_error(std::string(name) + " has another shape than the input");
  if (!o.writeable()) throw py::value_error(std::string(name) + " is not writable");
  return o;
}

// ---- the error callback: a Python callable per thread ----

std::unordered_map<std::thread::id, py::object>& callbacks() {
  static auto* map = new std::unordered_map<std::thread::id, py::object>();  // never destroyed
  return *map;
}
thread_local PyObject* pending_error_type = nullptr;  // an exception the callback raised
thread_local PyObject* pending_error_value = nullptr;
thread_local PyObject* pending_error_trace = nullptr;

int32_t callback_trampoline(ErrorContext* c) {
  py::gil_scoped_acquire gil;
  auto it = callbacks().find(std::this_thread::get_id());
  if (it == callbacks().end() || pending_error_type != nullptr) return 1;
  try {
    py::dict d;
    d["code"] = c->code;
    d["index"] = c->index;
    d["arg1"] = c->arg1;
    d["arg2"] = c->arg2;
    d["res1"] = c->res1;
    d["res2"] = c->res2;
    d["function"] = std::string(c->func_name, std::min<size_t>(std::max(c->func_name_len, 0), 63));
    py::object r = it->second(d);
    // The callable may replace the results it was shown.
    if (d.contains("res1")) c->res1 = d["res1"].cast<double>();
    if (d.contains("res2")) c->res2 = d["res2"].cast<double>();
    return r.is_none() ? 0 : r.cast<int32_t>();
  } catch (py::error_already_set& e) {
    e.restore();
    PyErr_Fetch(&pending_error_type, &pending_error_value, &pending_error_trace);
    return 1;
  }
}

void raise_pending() {
  if (pending_error_type == nullptr) return;
  PyErr_Restore(pending_error_type, pending_error_value, pending_error_trace);
  pending_error_type = pending_error_value = pending_error_trace = nullptr;
  throw py::error_already_set();
}

// ---- vector functions, one per row of the registry ----

// The registry's shapes; the copying ones (pack and unpack) are left to numpy's indexing.
enum class Shape {
  A_R,
  AB_R,
  LINFRAC,
  A_RR,
  AX_R,
  PACK_I,
  PACK_V,
  PACK_M,
  UNPACK_I,
  UNPACK_V,
  UNPACK_M,
  C_R,
  R_C,
  AXP_R
};

struct VmRow {
  char type;
  const char* name;
  Shape shape;
  void* fn[3];  // the stubs of the slots LA, HA, EP
};

#define ZOK_VM_ROW(t, F, SHAPE, SHARE, ROUND, CALLER, c0, c1, c2)           \
  {#t[0],                                                                   \
   #F,                                                                      \
   Shape::SHAPE,                                                            \
   {reinterpret_cast<void*>(&ZOK_VM_CAT(_yub##t##F, ZOK_VM_LA_SUFFIX_##t)), \
    reinterpret_cast<void*>(&_yub##t##F##_HA),                              \
    reinterpret_cast<void*>(&ZOK_VM_CAT(_yub##t##F, ZOK_VM_EP_SUFFIX_##t))}},
const VmRow kVmRows[] = {
#define ZOK_VM_FUNCTION ZOK_VM_ROW
#include "zok/vm_functions.def"
#undef ZOK_VM_FUNCTION
};

int slot_of(const py::handle& accuracy) {
  if (accuracy.is_none()) {
    // The calling thread's mode word picks the slot, as callers that index the tables do; a mode
    // without a valid accuracy field means HA, the plain stubs' slot.
    const int32_t slot = zok_yub_kernel_GetTTableIndex();
    return slot >= 0 && slot <= 2 ? slot : 1;
  }
  if (PyUnicode_Check(accuracy.ptr())) {
    static const char* const kNames[3][2] = {{"LA", "la"}, {"HA", "ha"}, {"EP", "ep"}};
    for (int slot = 0; slot < 3; ++slot)
      for (const char* n : kNames[slot])
        if (PyUnicode_CompareWithASCIIString(accuracy.ptr(), n) == 0) return slot;
  }
  throw py::value_error("accuracy must be \"HA\", \"LA\", \"EP\" or None (the mode word's), not " +
                        py::repr(accuracy).cast<std::string>());
}

// Below this many elements a kernel call is shorter than giving the GIL away and taking it back.
constexpr int64_t kReleaseGil = 8192;

// The kernels take an int count: longer arrays go in pieces (a callback's index is then within its
// piece).
constexpr int64_t kPiece = INT_MAX / 2 + 1;

template <class T>
void run_rows(const VmRow& row, int slot, int64_t n, const void* a, const void* b, void* r, void* r2,
              const std::vector<double>& scalars) {
  const T* pa = static_cast<const T*>(a);
  const T* pb = static_cast<const T*>(b);
  T* pr = static_cast<T*>(r);
  T* pr2 = static_cast<T*>(r2);
  void* f = row.fn[slot];
  for (int64_t at = 0; at < n; at += kPiece) {
    const int m = static_cast<int>(std::min(kPiece, n - at));
    switch (row.shape) {
      case Shape::A_R:
        reinterpret_cast<void (*)(int, const T*, T*)>(f)(m, pa + at, pr + at);
        break;
      case Shape::AB_R:
        reinterpret_cast<void (*)(int, const T*, const T*, T*)>(f)(m, pa + at, pb + at, pr + at);
        break;
      case Shape::AX_R:
        reinterpret_cast<void (*)(int, const T*, T, T*)>(f)(m, pa + at, static_cast<T>(scalars[0]), pr + at);
        break;
      case Shape::A_RR:
        reinterpret_cast<void (*)(int, const T*, T*, T*)>(f)(m, pa + at, pr + at, pr2 + at);
        break;
      case Shape::LINFRAC:
        reinterpret_cast<void (*)(int, const T*, const T*, T, T, T, T, T*)>(f)(
            m, pa + at, pb + at, static_cast<T>(scalars[0]), static_cast<T>(scalars[1]),
            static_cast<T>(scalars[2]), static_cast<T>(scalars[3]), pr + at);
        break;
      default:  // the copying shapes have no function in the module
        break;
    }
  }
}

struct VmFunction {
  std::string name;
  Shape shape = Shape::A_R;
  const VmRow* by_type[2] = {nullptr, nullptr};  // float, double
};

py::object call_vm(const VmFunction& f, py::handle x, py::handle y, const std::vector<double>& scalars,
                   py::handle accuracy, py::handle out, py::handle out2) {
  py::array a = as_real(x, "x");
  const bool is_float = a.itemsize() == 4;
  const VmRow* row = f.by_type[is_float ? 0 : 1];
  if (row == nullptr)
    throw py::type_error("zok.vm." + f.name + " has no " + (is_float ? "float32" : "float64") + " kernel");
  // A default py::array is an empty array, not a null handle: presence is kept in the pointers.
  py::array b, r2;
  const void* pb = nullptr;
  void* pr2 = nullptr;
  if (row->shape == Shape::AB_R || row->shape == Shape::LINFRAC) {
    b = as_real(y, "y");
    if (!b.dtype().is(a.dtype()))
      throw py::type_error("x is " + py::str(a.dtype()).cast<std::string>() + " and y is " +
                           py::str(b.dtype()).cast<std::string>() + ": convert one of them");
    if (!same_shape(b, a)) throw py::value_error("x and y have different shapes");
    pb = b.data();
  }
  const int slot = slot_of(accuracy);
  py::array r = make_out(out, a, "out");
  if (row->shape == Shape::A_RR) {
    r2 = make_out(out2, a, "out2");
    pr2 = r2.mutable_data();
  }
  const int64_t n = a.size();
  const void* pa = a.data();
  void* pr = r.mutable_data();
  {
    std::optional<py::gil_scoped_release> nogil;
    if (n >= kReleaseGil) nogil.emplace();
    if (is_float)
      run_rows<float>(*row, slot, n, pa, pb, pr, pr2, scalars);
    else
      run_rows<double>(*row, slot, n, pa, pb, pr, pr2, scalars);
  }
  raise_pending();
  if (row->shape == Shape::A_RR) return py::make_tuple(r, r2);
  return r;
}

std::string lower(const char* s) {
  std::string r(s);
  for (auto& ch : r) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
  return r;
}

// Parameter names by shape: positional (or by name) first, then the keyword-only ones.
struct Signature {
  int positional;
  const char* names[9];
};
const Signature& signature_of(Shape shape) {
  static const Signature kA{1, {"x", "accuracy", "out"}}, kAB{2, {"x", "y", "accuracy", "out"}},
      kAX{2, {"x", "b", "accuracy", "out"}}, kARR{1, {"x", "accuracy", "out", "out2"}},
      kLin{6, {"x", "y", "scalea", "shifta", "scaleb", "shiftb", "accuracy", "out"}};
  switch (shape) {
    case Shape::AB_R:
      return kAB;
    case Shape::AX_R:
      return kAX;
    case Shape::A_RR:
      return kARR;
    case Shape::LINFRAC:
      return kLin;
    default:
      return kA;
  }
}

// The vector functions are plain vectorcall functions: argument parsing through the generic binding
// layer cost more than the kernel itself at a thousand elements.
PyObject* vm_entry(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  const auto* f = static_cast<const VmFunction*>(PyCapsule_GetPointer(self, "zok.vm.function"));
  try {
    const Signature& sig = signature_of(f->shape);
    PyObject* slots[8] = {};
    int count = 0;
    while (count < 8 && sig.names[count] != nullptr) ++count;
    if (nargs > sig.positional)
      throw py::type_error("zok.vm." + f->name + " takes " + std::to_string(sig.positional) +
                           " positional arguments");
    for (Py_ssize_t i = 0; i < nargs; ++i) slots[i] = args[i];
    const Py_ssize_t nkw = kwnames != nullptr ? PyTuple_GET_SIZE(kwnames) : 0;
    for (Py_ssize_t k = 0; k < nkw; ++k) {
      PyObject* key = PyTuple_GET_ITEM(kwnames, k);
      int at = 0;
      while (at < count && PyUnicode_CompareWithASCIIString(key, sig.names[at]) != 0) ++at;
      if (at == count)
        throw py::type_error("zok.vm." + f->name + " got an unexpected argument " +
                             py::repr(key).cast<std::string>());
      if (slots[at] != nullptr)
        throw py::type_error("zok.vm." + f->name + " got " + sig.names[at] + " twice");
      slots[at] = args[nargs + k];
    }
    for (int i = 0; i < sig.positional; ++i)
      if (slots[i] == nullptr) throw py::type_error("zok.vm." + f->name + " needs " + sig.names[i]);
    auto opt = [&](int i) { return slots[i] != nullptr ? py::handle(slots[i]) : py::handle(Py_None); };
    const int kw = sig.positional;
    std::vector<double> scalars;
    py::handle y = Py_None;
    if (f->shape == Shape::AB_R) y = slots[1];
    if (f->shape == Shape::AX_R) scalars.push_back(py::cast<double>(py::handle(slots[1])));
    if (f->shape == Shape::LINFRAC) {
      y = slots[1];
      for (int i = 2; i < 6; ++i) scalars.push_back(py::cast<double>(py::handle(slots[i])));
    }
    py::object r = call_vm(*f, slots[0], y, scalars, opt(kw), opt(kw + 1),
                           f->shape == Shape::A_RR ? opt(kw + 2) : py::handle(Py_None));
    return r.release().ptr();
  } catch (py::error_already_set& e) {
    e.restore();
  } catch (py::cast_error& e) {  // a scalar argument that is not a number
    PyErr_SetString(PyExc_TypeError, e.what());
  } catch (py::builtin_exception& e) {
    e.set_error();
  } catch (std::exception& e) {
    PyErr_SetString(PyExc_RuntimeError, e.what());
  }
  return nullptr;
}

void add_vm(py::module_& m) {
  // Function records and their method definitions live as long as the process.
  static std::map<std::string, VmFunction> functions;
  static std::vector<PyMethodDef> defs;
  static std::vector<std::string> docs;
  for (const VmRow& row : kVmRows) {
    if ((row.type != 's' && row.type != 'd') || row.shape > Shape::AX_R) continue;
    VmFunction& f = functions[lower(row.name)];
    f.name = lower(row.name);
    f.shape = row.shape;
    f.by_type[row.type == 's' ? 0 : 1] = &row;
  }
  defs.reserve(functions.size());
  docs.reserve(functions.size());
  for (auto& [name, f] : functions) {
    const Signature& sig = signature_of(f.shape);
    std::string params, keywords;
    for (int i = 0; i < 9 && sig.names[i] != nullptr; ++i)
      (i < sig.positional ? params : keywords) +=
          std::string(", ") + sig.names[i] + (i < sig.positional ? "" : "=None");
    docs.push_back(
        name + "(" + params.substr(2) + ", *" + keywords + ")\n--\n\nElementwise " + name +
        " of float32 or float64 arrays of any shape (the s or d kernel by dtype). accuracy: \"HA\", "
        "\"LA\", \"EP\" or None for the calling thread's mode word; out: a C-contiguous array of "
        "the input's dtype and shape to write into." +
        (f.shape == Shape::A_RR ? " Returns the pair of results (out2 for the second)." : ""));
    defs.push_back({f.name.c_str(), reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(&vm_entry)),
                    METH_FASTCALL | METH_KEYWORDS, docs.back().c_str()});
    py::capsule self(static_cast<void*>(&f), "zok.vm.function");
    PyObject* fn = PyCFunction_NewEx(&defs.back(), self.ptr(), m.attr("__name__").ptr());
    if (fn == nullptr) throw py::error_already_set();
    m.attr(name.c_str()) = py::reinterpret_steal<py::object>(fn);
  }
  m.def(
      "mode", [] { return _yubGetMode(); }, "The calling thread's mode word.");
  m.def(
      "set_mode", [](uint32_t mode) { return _yubSetMode(mode); }, py::arg("mode"),
      "Sets the calling thread's mode word; returns the previous one.");
  m.def(
      "status", [] { return _yubGetErrStatus(); }, "The calling thread's error status.");
  m.def(
      "clear_status", [] { return _yubClearErrStatus(); },
      "Clears the error status; returns the previous one.");
  m.def(
      "set_error_callback",
      [](py::object fn) {
        auto& map = callbacks();
        if (fn.is_none()) {
          map.erase(std::this_thread::get_id());
          _yubClearErrorCallBack();
          return;
        }
        if (!PyCallable_Check(fn.ptr())) throw py::type_error("the error callback must be callable or None");
        map[std::this_thread::get_id()] = fn;
        _yubSetErrorCallBack(&callback_trampoline);
      },
      py::arg("callback"),
      "Calls callback(dict) on the calling thread for every reported element (keys code, index, arg1, arg2, "
      "res1, res2, function; changing res1/res2 changes the result written); it returns None or 0 to go on. "
      "None removes it. An exception it raises ends the call and propagates.");
  for (auto [name, value] : {std::pair{"HA", ZOK_VM_HA},
                             {"LA", ZOK_VM_LA},
                             {"EP", ZOK_VM_EP},
                             {"ERRMODE_IGNORE", ZOK_VM_ERRMODE_IGNORE},
                             {"ERRMODE_ERRNO", ZOK_VM_ERRMODE_ERRNO},
                             {"ERRMODE_STDERR", ZOK_VM_ERRMODE_STDERR},
                             {"ERRMODE_EXCEPT", ZOK_VM_ERRMODE_EXCEPT},
                             {"ERRMODE_CALLBACK", ZOK_VM_ERRMODE_CALLBACK},
                             {"FTZDAZ_ON", ZOK_VM_FTZDAZ_ON},
                             {"FTZDAZ_OFF", ZOK_VM_FTZDAZ_OFF}})
    m.attr(name) = value;
}

// ---- streams ----

struct GeneratorName {
  const char* label;
  int32_t id;
};
#define ZOK_GEN_NAME(NAME, label, state, seeds, zero, word, bits, members, STATUS) {#NAME, ZOK_RNG_##NAME},
const GeneratorName kGenerators[] = {
#define ZOK_GENERATOR ZOK_GEN_NAME
#include "zok/rng_generators.def"
#undef ZOK_GENERATOR
};

class Stream {
 public:
  Stream(const std::string& generator, py::object seed, py::object member) {
    int32_t id = -1;
    for (const auto& g : kGenerators)
      if (generator == g.label) id = g.id;
    if (id < 0) throw py::value_error("unknown generator \"" + generator + "\"");
    if (!member.is_none()) id += member.cast<int32_t>();
    std::vector<uint32_t> words;
    if (seed.is_none())
      words.push_back(1);
    else if (py::isinstance<py::int_>(seed))
      words.push_back(seed.cast<uint32_t>());
    else
      words = seed.cast<std::vector<uint32_t>>();
    check_rng("Stream", __qorNewStreamEx(&s_, id, static_cast<int32_t>(words.size()), words.data()));
  }
  explicit Stream(StreamRecord* s) : s_(s) {}
  Stream(const Stream&) = delete;
  ~Stream() {
    if (s_ != nullptr) __qorDeleteStream(&s_);
  }

  const GeneratorProperties& row() const {
    int32_t index = 0, member = 0;
    const GeneratorProperties* table = __qorGetBrngBaseOffset(s_->brng, &index, &member);
    return table[index];
  }

  py::array integers(int64_t n) {
    check_count(n);
    const GeneratorProperties& g = row();
    py::array r;
    if (g.word_size == 8)
      r = py::array_t<uint64_t>(n);
    else if (g.word_size == 16)
      r = py::array_t<uint32_t>({static_cast<py::ssize_t>(n), py::ssize_t{4}});
    else
      r = py::array_t<uint32_t>(n);
    auto* p = static_cast<uint32_t*>(r.mutable_data());
    const int64_t words_per = g.word_size / 4;
    run("integers", n, [&](int64_t at, int32_t m) { return g.generate_i(s_, m, p + at * words_per); });
    return r;
  }

  py::array uniform(int64_t n, double a, double b, const py::object& dtype) {
    check_count(n);
    if (!(a < b)) throw py::value_error("uniform needs a < b");
    const GeneratorProperties& g = row();
    if (py::dtype::from_args(dtype).is(py::dtype::of<float>())) {
      py::array_t<float> r(n);
      float* p = r.mutable_data();
      run("uniform", n, [&](int64_t at, int32_t m) {
        return g.generate_s(s_, m, p + at, static_cast<float>(a), static_cast<float>(b));
      });
      return r;
    }
    if (!py::dtype::from_args(dtype).is(py::dtype::of<double>()))
      throw py::type_error("uniform's dtype must be float32 or float64");
    py::array_t<double> r(n);
    double* p = r.mutable_data();
    run("uniform", n, [&](int64_t at, int32_t m) { return g.generate_d(s_, m, p + at, a, b); });
    return r;
  }

  Stream* copy() const {
    StreamRecord* c = nullptr;
    check_rng("copy", __qorCopyStream(&c, s_));
    return new Stream(c);
  }
  void skip_ahead(uint64_t k) { check_rng("skip_ahead", __qorSkipAheadStream(s_, k)); }
  void leapfrog(int32_t k, int32_t n) { check_rng("leapfrog", __qorLeapfrogStream(s_, k, n)); }
  int32_t brng() const { return s_->brng; }

 private:
  static void check_count(int64_t n) {
    if (n < 0) throw py::value_error("the count must not be negative");
  }
  template <class Draw>
  void run(const char* what, int64_t n, Draw draw) {
    int32_t status = 0;
    {
      py::gil_scoped_release nogil;
      for (int64_t at = 0; at < n && status >= 0; at += kPiece)
        status = draw(at, static_cast<int32_t>(std::min(kPiece, n - at)));
    }
    check_rng(what, status);
  }
  StreamRecord* s_ = nullptr;
};

// ---- summary statistics ----

struct Estimate {
  const char* name;
  uint64_t mask;
  int64_t id;
  bool matrix;
  uint64_t needs;  // the estimates a one-pass update of this one reads and updates
};
constexpr uint64_t kM = ZOK_SS_MEAN, kR2 = ZOK_SS_RAW2, kR3 = ZOK_SS_RAW3, kR4 = ZOK_SS_RAW4,
                   kC2 = ZOK_SS_CENTRAL2, kC3 = ZOK_SS_CENTRAL3, kC4 = ZOK_SS_CENTRAL4;
const Estimate kEstimates[] = {
    {"mean", kM, ZOK_SS_ID_MEAN, false, 0},
    {"raw2", kR2, ZOK_SS_ID_RAW2, false, 0},
    {"raw3", kR3, ZOK_SS_ID_RAW3, false, 0},
    {"raw4", kR4, ZOK_SS_ID_RAW4, false, 0},
    {"variance", kC2, ZOK_SS_ID_CENTRAL2, false, kM | kR2},
    {"central3", kC3, ZOK_SS_ID_CENTRAL3, false, kM | kR2 | kR3},
    {"central4", kC4, ZOK_SS_ID_CENTRAL4, false, kM | kR2 | kR3 | kR4},
    {"kurtosis", ZOK_SS_KURTOSIS, ZOK_SS_ID_KURTOSIS, false, kM | kR2 | kR3 | kR4 | kC2 | kC4},
    {"skewness", ZOK_SS_SKEWNESS, ZOK_SS_ID_SKEWNESS, false, kM | kR2 | kR3 | kC2 | kC3},
    {"variation", ZOK_SS_VARIATION, ZOK_SS_ID_VARIATION, false, kM | kR2 | kC2},
    {"covariance", ZOK_SS_COV, ZOK_SS_ID_COV, true, kM},
    {"correlation", ZOK_SS_COR, ZOK_SS_ID_COR, true, kM},
    {"sum", ZOK_SS_SUM, ZOK_SS_ID_SUM, false, 0},
    {"min", ZOK_SS_MIN, ZOK_SS_ID_MIN, false, 0},
    {"max", ZOK_SS_MAX, ZOK_SS_ID_MAX, false, 0},
};

const Estimate& estimate_named(const std::string& name) {
  for (const auto& e : kEstimates)
    if (name == e.name) return e;
  std::string known;
  for (const auto& e : kEstimates) known += std::string(known.empty() ? "" : ", ") + e.name;
  throw py::value_error("unknown estimate \"" + name + "\"; known: " + known);
}

// Accumulates estimates over portions of observations of p variables.
class StatsTask {
 public:
  StatsTask(int32_t p, const std::vector<std::string>& estimates, const py::object& dtype) : p_(p) {
    if (p < 1) throw py::value_error("p must be at least 1");
    const py::dtype dt = py::dtype::from_args(dtype);
    is_float_ = dt.is(py::dtype::of<float>());
    if (!is_float_ && !dt.is(py::dtype::of<double>()))
      throw py::type_error("dtype must be float32 or float64");
    uint64_t wanted = 0, all = 0;
    for (const auto& name : estimates) wanted |= estimate_named(name).mask;
    for (const auto& e : kEstimates)
      if (wanted & e.mask) all |= e.mask | e.needs;
    // Every estimate wanted or read by one wanted keeps its array here across portions.
    for (const auto& e : kEstimates) {
      if (!(all & e.mask)) continue;
      const py::ssize_t size = e.matrix ? static_cast<py::ssize_t>(p) * p : p;
      py::array a(dt, std::vector<py::ssize_t>{size});
      const double fill = e.mask == ZOK_SS_MIN ? INFINITY : e.mask == ZOK_SS_MAX ? -INFINITY : 0.0;
      if (is_float_)
        std::fill_n(static_cast<float*>(a.mutable_data()), size, static_cast<float>(fill));
      else
        std::fill_n(static_cast<double*>(a.mutable_data()), size, fill);
      outputs_.push_back({&e, a, (wanted & e.mask) != 0});
    }
  }

  void update(py::handle x_in, py::handle w_in, bool rowwise) {
    py::array x = as_real(x_in, "x");
    if (x.ndim() > 2) throw py::value_error("x must have one or two dimensions");
    if ((x.itemsize() == 4) != is_float_)
      x = is_float_ ? py::array(py::array_t<float, py::array::forcecast>::ensure(x))
                    : py::array(py::array_t<double, py::array::forcecast>::ensure(x));
    const int64_t rows = x.ndim() == 2 ? x.shape(0) : 1, cols = x.ndim() == 2 ? x.shape(1) : x.shape(0);
    const int64_t vars = rowwise ? rows : cols, obs = rowwise ? cols : rows;
    if (vars != p_)
      throw py::value_error("x holds " + std::to_string(vars) + " variables, the task " + std::to_string(p_));
    if (obs > INT32_MAX) throw py::value_error("more than 2^31 - 1 observations in one portion");
    py::array w;  // empty, not null, when absent: see pw
    const void* pw = nullptr;
    if (!w_in.is_none()) {
      w = is_float_ ? py::array(py::array_t<float, py::array::c_style | py::array::forcecast>::ensure(w_in))
                    : py::array(py::array_t<double, py::array::c_style | py::array::forcecast>::ensure(w_in));
      if (!w || w.ndim() != 1 || w.shape(0) != obs)
        throw py::value_error("weights must hold one value per observation");
      pw = w.data();
    }
    const int32_t p = p_, n = static_cast<int32_t>(obs);
    const int32_t storage = rowwise ? ZOK_SS_STORAGE_ROWS : ZOK_SS_STORAGE_COLUMNS;
    SSTask* task = nullptr;
    int32_t status = is_float_
                         ? __qorsSSNewTask(&task, &p, &n, &storage, static_cast<const float*>(x.data()),
                                           static_cast<const float*>(pw), nullptr, 0)
                         : __qordSSNewTask(&task, &p, &n, &storage, static_cast<const double*>(x.data()),
                                           static_cast<const double*>(pw), nullptr, 0);
    check_ss("summary statistics task", status);
    uint64_t basic = 0, minmax = 0;
    status = register_outputs(task, &basic, &minmax);
    if (status != 0) {
      __qorSSDeleteTask(&task);
      check_ss("summary statistics task", status);
    }
    {
      py::gil_scoped_release nogil;
      const ThreadingServices* threads = zok_serv_get_threading_services();
      if (basic != 0)
        status = is_float_ ? _qorsSSBasic(task, basic, ZOK_SS_METHOD_ONEPASS, threads)
                           : _qordSSBasic(task, basic, ZOK_SS_METHOD_ONEPASS, threads);
      if (status == 0 && minmax != 0)
        status = is_float_ ? _qorsSSMinmax(task, minmax, ZOK_SS_METHOD_ONEPASS)
                           : _qordSSMinmax(task, minmax, ZOK_SS_METHOD_ONEPASS);
    }
    __qorSSDeleteTask(&task);
    check_ss("summary statistics", status);
  }

  // zok.stats.merge: a new task holding a's observations followed by b's, from their results alone.
  static StatsTask merged(const StatsTask& a, const StatsTask& b) {
    if (a.p_ != b.p_ || a.is_float_ != b.is_float_)
      throw py::value_error("merge needs tasks of the same number of variables and dtype");
    StatsTask c(a);
    for (auto& o : c.outputs_) o.a = py::array::ensure(o.a.attr("copy")());
    StatsTask other(b);
    other.outputs_.clear();
    for (const auto& o : c.outputs_) {
      const auto found =
          std::find_if(b.outputs_.begin(), b.outputs_.end(), [&](const Output& ob) { return ob.e == o.e; });
      if (found == b.outputs_.end())
        throw py::value_error(std::string("merge: the second task does not hold \"") + o.e->name + "\"");
      other.outputs_.push_back(*found);
    }
    SSTask *ta = nullptr, *tb = nullptr;
    uint64_t basic = 0, minmax = 0;
    int32_t status = c.new_output_task(&ta);
    if (status == 0) status = c.register_outputs(ta, &basic, &minmax);
    if (status == 0) status = other.new_output_task(&tb);
    if (status == 0) status = other.register_outputs(tb, &basic, &minmax);
    if (status == 0)
      status = c.is_float_ ? _qorsSSMerge(ta, tb, basic | minmax) : _qordSSMerge(ta, tb, basic | minmax);
    __qorSSDeleteTask(&ta);
    __qorSSDeleteTask(&tb);
    check_ss("merge", status);
    return c;
  }

  // Pickling, so that tasks travel between processes (mpi4py's comm.reduce with zok.stats.merge): the
  // estimates asked for, the dtype, every array and the weight pair.
  py::tuple state() const {
    py::list names, arrays;
    for (const auto& o : outputs_) {
      if (o.shown) names.append(o.e->name);
      arrays.append(o.a.attr("copy")());
    }
    const double w0 = is_float_ ? weights_f_[0] : weights_d_[0],
                 w1 = is_float_ ? weights_f_[1] : weights_d_[1];
    return py::make_tuple(p_, names, is_float_, arrays, w0, w1);
  }
  static StatsTask from_state(const py::tuple& s) {
    const bool is_float = s[2].cast<bool>();
    StatsTask t(s[0].cast<int32_t>(), s[1].cast<std::vector<std::string>>(),
                is_float ? py::dtype::of<float>() : py::dtype::of<double>());
    const py::list arrays = s[3];
    if (arrays.size() != t.outputs_.size()) throw py::value_error("not the state of a statistics task");
    for (size_t i = 0; i < t.outputs_.size(); ++i)
      t.outputs_[i].a = py::array::ensure(arrays[i].attr("copy")());
    t.weights_d_[0] = s[4].cast<double>();
    t.weights_d_[1] = s[5].cast<double>();
    t.weights_f_[0] = static_cast<float>(t.weights_d_[0]);
    t.weights_f_[1] = static_cast<float>(t.weights_d_[1]);
    return t;
  }

  py::dict result() const {
    py::dict d;
    for (const auto& [e, a, shown] : outputs_) {
      if (!shown) continue;
      py::array copy = py::array::ensure(a.attr("copy")());
      if (e->matrix) copy = copy.attr("reshape")(p_, p_);
      d[e->name] = copy;
    }
    return d;
  }

 private:
  int32_t p_;
  bool is_float_ = false;
  struct Output {
    const Estimate* e;
    py::array a;
    bool shown;  // asked for, not only needed
  };
  std::vector<Output> outputs_;

  // A task of p variables and no observations, for registering the outputs.
  int32_t new_output_task(SSTask** task) const {
    const int32_t p = p_;
    return is_float_ ? __qorsSSNewTask(task, &p, nullptr, nullptr, nullptr, nullptr, nullptr, 0)
                     : __qordSSNewTask(task, &p, nullptr, nullptr, nullptr, nullptr, nullptr, 0);
  }
  // Registers every output array, full matrix storage and the weight pair; the estimates go to basic
  // or minmax by the routine that computes them.
  int32_t register_outputs(SSTask* task, uint64_t* basic, uint64_t* minmax) {
    static const int32_t full = ZOK_SS_MATRIX_FULL;
    auto edit = [&](int64_t id, void* array) {
      return is_float_ ? __qorsSSEditTask(task, id, static_cast<const float*>(array))
                       : __qordSSEditTask(task, id, static_cast<const double*>(array));
    };
    int32_t status = 0;
    for (auto& [e, a, shown] : outputs_) {
      if (status == 0) status = edit(e->id, a.mutable_data());
      ((e->mask == ZOK_SS_MIN || e->mask == ZOK_SS_MAX) ? *minmax : *basic) |= e->mask;
    }
    if (status == 0) status = __qoriSSEditTask(task, ZOK_SS_ID_COV_STORAGE, &full);
    if (status == 0) status = __qoriSSEditTask(task, ZOK_SS_ID_COR_STORAGE, &full);
    if (status == 0)
      status = edit(ZOK_SS_ID_ACCUM_WEIGHTS,
                    is_float_ ? static_cast<void*>(weights_f_) : static_cast<void*>(weights_d_));
    return status;
  }

  double weights_d_[2] = {0, 0};
  float weights_f_[2] = {0, 0};
};

// ---- cell search ----

py::array_t<int64_t> search(py::handle partition_in, py::handle sites_in, bool sorted, bool quasi_uniform,
                            bool uniform, int64_t nx_uniform) {
  py::array x = as_real(partition_in, "partition");
  py::array s = as_real(sites_in, "sites");
  if (!s.dtype().is(x.dtype()))
    s = x.itemsize() == 4 ? py::array(py::array_t<float, py::array::forcecast>::ensure(s))
                          : py::array(py::array_t<double, py::array::forcecast>::ensure(s));
  if (x.ndim() != 1 || s.ndim() != 1) throw py::value_error("partition and sites must be one-dimensional");
  int64_t nx = x.shape(0), xhint = ZOK_DF_PARTITION_ANY;
  if (uniform) {
    if (nx != 2 || nx_uniform < 2)
      throw py::value_error("uniform=True takes partition=[first, last] and nx >= 2");
    nx = nx_uniform;
    xhint = ZOK_DF_PARTITION_UNIFORM;
  } else if (quasi_uniform) {
    xhint = ZOK_DF_PARTITION_QUASI_UNIFORM;
  }
  const int64_t nsite = s.shape(0);
  py::array_t<int64_t> cells(nsite);
  DfTask* task = nullptr;
  const bool f = x.itemsize() == 4;
  int32_t status =
      f ? zok_df_kernel_sNewTask1D(&task, nx, static_cast<const float*>(x.data()), xhint, 0, nullptr, 0, 1)
        : zok_df_kernel_dNewTask1D(&task, nx, static_cast<const double*>(x.data()), xhint, 0, nullptr, 0, 1);
  check_df("search task", status);
  const void* ps = s.data();
  void* pc = cells.mutable_data();
  const int64_t sitehint = sorted ? ZOK_DF_SITES_SORTED : 0;
  {
    py::gil_scoped_release nogil;
    const ThreadingServices* threads = zok_serv_get_threading_services();
    status = f ? zok_df_kernel_sDFSearch1D(task, 0, nsite, static_cast<const float*>(ps), sitehint, nullptr,
                                           pc, nullptr, nullptr, threads)
               : zok_df_kernel_dDFSearch1D(task, 0, nsite, static_cast<const double*>(ps), sitehint, nullptr,
                                           pc, nullptr, nullptr, threads);
  }
  zok_df_kernel_DeleteTask(&task);
  check_df("search", status);
  return cells;
}

// A spline of one function through (x, y), built by the library in double precision; evaluated
// and integrated through the task, beyond the data by its end pieces.
class Spline {
 public:
  Spline(const py::handle& x_in, const py::handle& y_in, const std::string& kind, const std::string& ends) {
    using D = py::array_t<double, py::array::c_style | py::array::forcecast>;
    const D x = D::ensure(x_in), y = D::ensure(y_in);
    if (!x || !y || x.ndim() != 1 || y.ndim() != 1 || x.shape(0) != y.shape(0) || x.shape(0) < 2)
      throw py::value_error("x and y must be one-dimensional and of one length, at least 2");
    x_.assign(x.data(), x.data() + x.shape(0));
    y_.assign(y.data(), y.data() + y.shape(0));
    struct Kind {
      const char* name;
      int64_t order;
      int32_t (*build)(const DfTask*, const void*, int32_t, const ThreadingServices*);
    };
    static const Kind kinds[] = {{"linear", 2, zok_df_kernel_dDFLinearSpline1D},
                                 {"natural", 4, zok_df_kernel_dDFNaturalCubicSpline1D},
                                 {"bessel", 4, zok_df_kernel_dDFBesselCubicSpline1D},
                                 {"akima", 4, zok_df_kernel_dDFAkimaCubicSpline1D}};
    const Kind* k = nullptr;
    for (const Kind& c : kinds)
      if (kind == c.name) k = &c;
    const int64_t bc_type = ends == "not-a-knot" ? 1 : ends == "free" ? 2 : ends == "akima" ? 0 : -1;
    if (k == nullptr || bc_type < 0)
      throw py::value_error("kind: linear, natural, bessel or akima; ends: not-a-knot, free or akima");
    const int64_t nx = static_cast<int64_t>(x_.size());
    c_.resize(static_cast<size_t>(k->order * (nx - 1)));
    int32_t status =
        zok_df_kernel_dNewTask1D(&task_, nx, x_.data(), 0, 1, y_.data(), ZOK_DF_VALUES_BY_ROWS, 0);
    if (status == 0)
      status = zok_df_kernel_dEditPPSpline1D(task_, k->order, 0, bc_type, nullptr, 0, nullptr, c_.data(), 0);
    if (status == 0) status = k->build(task_, nullptr, 0, zok_serv_get_threading_services());
    check_df("spline", status);
  }
  ~Spline() { zok_df_kernel_DeleteTask(&task_); }
  Spline(const Spline&) = delete;
  Spline& operator=(const Spline&) = delete;

  // The nu-th derivative at the sites.
  py::array_t<double> call(const py::handle& sites_in, int32_t nu) const {
    const auto s = py::array_t<double, py::array::c_style | py::array::forcecast>::ensure(sites_in);
    if (!s || s.ndim() != 1 || nu < 0 || nu > 64)
      throw py::value_error("sites: one-dimensional; nu: 0 to 64");
    std::vector<int32_t> dorder(static_cast<size_t>(nu) + 1, 0);
    dorder[nu] = 1;
    py::array_t<double> r(s.shape(0));
    const double* ps = s.data();
    double* pr = r.mutable_data();
    int32_t status;
    {
      py::gil_scoped_release nogil;
      status = zok_df_kernel_dDFInterpolate1D(task_, 0, 0, s.shape(0), ps, 0, nu + 1, dorder.data(), nullptr,
                                              pr, 0, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                                              nullptr, nullptr, nullptr, zok_serv_get_threading_services());
    }
    check_df("interpolate", status);
    return r;
  }
  double integrate(double a, double b) const {
    double r = 0;
    check_df("integrate", zok_df_kernel_dDFIntegrate1D(task_, 0, 1, &a, 0, &b, 0, nullptr, nullptr, &r, 0,
                                                       nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                                                       nullptr, nullptr, nullptr));
    return r;
  }

 private:
  std::vector<double> x_, y_, c_;
  DfTask* task_ = nullptr;
};

}  // namespace

PYBIND11_MODULE(_zok, m) {
  m.doc() = "zok: vector math, random streams, summary statistics, cell search and splines on numpy arrays";
  error_type =
      py::reinterpret_borrow<py::object>(PyErr_NewException("zok.Error", PyExc_RuntimeError, nullptr));
  m.attr("Error") = error_type;

  py::module_ vm = m.def_submodule("vm", "Elementwise functions of float32 and float64 arrays.");
  add_vm(vm);

  py::module_ rng = m.def_submodule("rng", "Random streams of the basic generators.");
  py::list names;
  for (const auto& g : kGenerators) names.append(g.label);
  rng.attr("generators") = names;
  py::class_<Stream>(rng, "Stream", "A stream of a basic generator; statuses below 0 raise zok.Error.")
      .def(py::init<const std::string&, py::object, py::object>(), py::arg("generator") = "MCG59",
           py::arg("seed") = py::none(), py::arg("member") = py::none())
      .def("integers", &Stream::integers, py::arg("n"),
           "n integer outputs: uint32 (uint64 for MCG59; n x 4 uint32 for WH)")
      .def("uniform", &Stream::uniform, py::arg("n"), py::arg("a") = 0.0, py::arg("b") = 1.0,
           py::arg("dtype") = py::dtype::of<double>(), "n uniform values on [a, b)")
      .def("copy", &Stream::copy, "A new stream in the same state")
      .def("skip_ahead", &Stream::skip_ahead, py::arg("k"))
      .def("leapfrog", &Stream::leapfrog, py::arg("k"), py::arg("n"))
      .def_property_readonly("brng", &Stream::brng);

  py::module_ stats = m.def_submodule("stats", "Summary statistics of a data matrix.");
  py::class_<StatsTask>(stats, "Task",
                        "Estimates accumulated over portions of observations. The correlation matrix holds "
                        "the variances on its diagonal, as the C routine writes it.")
      .def(py::init<int32_t, const std::vector<std::string>&, const py::object&>(), py::arg("p"),
           py::arg("estimates") = std::vector<std::string>{"mean", "variance"},
           py::arg("dtype") = py::dtype::of<double>())
      .def("update", &StatsTask::update, py::arg("x"), py::arg("weights") = py::none(),
           py::arg("rowwise") = true)
      .def("result", &StatsTask::result)
      .def(py::pickle([](const StatsTask& t) { return t.state(); },
                      [](const py::tuple& s) { return StatsTask::from_state(s); }));
  stats.def("merge", &StatsTask::merged, py::arg("a"), py::arg("b"),
            "A new task holding a's observations followed by b's, computed from their results alone (the "
            "pairwise combination formulas; weights included). b must hold every estimate of a.");
  py::list estimate_names;
  for (const auto& e : kEstimates) estimate_names.append(e.name);
  stats.attr("estimates") = estimate_names;

  py::module_ fit = m.def_submodule("fit", "Data fitting: cell search, splines.");
  py::class_<Spline>(fit, "Spline",
                     "A spline through (x, y), x ascending: kind linear, natural, bessel or akima; ends "
                     "not-a-knot, free or akima. Calling it gives the nu-th derivative at the sites, "
                     "integrate(a, b) the integral; beyond the data the end pieces go on.")
      .def(py::init<const py::handle&, const py::handle&, const std::string&, const std::string&>(),
           py::arg("x"), py::arg("y"), py::arg("kind") = "natural", py::arg("ends") = "not-a-knot")
      .def("__call__", &Spline::call, py::arg("sites"), py::arg("nu") = 0)
      .def("integrate", &Spline::integrate, py::arg("a"), py::arg("b"));
  fit.def("search", &search, py::arg("partition"), py::arg("sites"), py::kw_only(), py::arg("sorted") = false,
          py::arg("quasi_uniform") = false, py::arg("uniform") = false, py::arg("nx") = 0,
          "Cells of the sites in an ascending partition (not checked): 0 below partition[0], j for "
          "partition[j-1] <= site < partition[j], nx-1 at the "
          "last point, nx above it and for NaN. uniform=True: partition is [first, last] of nx even points.");
}
