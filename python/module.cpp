// The Python module's core, vtsnap._vtsnap: Screen and render() over the
// library's Emulator. The package (python/vtsnap/__init__.py) adds run().
#include <pybind11/pybind11.h>

#include <cstdint>
#include <mutex>
#include <stdexcept>
#include <string>
#include <string_view>

#include "vtsnap/vtsnap.hpp"

namespace py = pybind11;

namespace {

using vtsnap::Emulator;

// A colour as Python reads it: None for the default, an int for a palette
// index, an (r, g, b) tuple for a direct colour.
py::object colour(std::uint32_t v) {
    if (v == Emulator::kDefaultColor) return py::none();
    if (v & Emulator::kDirectColor) return py::make_tuple((v >> 16) & 0xFF, (v >> 8) & 0xFF, v & 0xFF);
    return py::int_(v);
}

std::int32_t size(long long value, const char* what) {
    if (value < 1 || value > Emulator::kMaxSize)
        throw py::value_error(std::string(what) + " must be 1 to 32767, not " + std::to_string(value));
    return static_cast<std::int32_t>(value);
}

// The bytes of what feed() and render() take: bytes, bytearray, memoryview
// (any contiguous buffer) or str, as UTF-8. The buffer stays exported while
// it is read, so that a bytearray cannot be resized under the decoder.
struct Input {
    explicit Input(const py::handle& data) {
        if (PyUnicode_Check(data.ptr())) {
            Py_ssize_t length = 0;
            const char* utf8 = PyUnicode_AsUTF8AndSize(data.ptr(), &length);
            if (utf8 == nullptr) throw py::error_already_set();
            text = std::string_view(utf8, static_cast<std::size_t>(length));
            return;
        }
        if (!PyObject_CheckBuffer(data.ptr()))
            throw py::type_error(std::string("expected bytes, bytearray, memoryview or str, not ") +
                                 Py_TYPE(data.ptr())->tp_name);
        if (PyObject_GetBuffer(data.ptr(), &buffer, PyBUF_C_CONTIGUOUS) != 0) throw py::error_already_set();
        held = true;
        text = std::string_view(static_cast<const char*>(buffer.buf),
                                static_cast<std::size_t>(buffer.len));
    }
    ~Input() {
        if (held) PyBuffer_Release(&buffer);
    }
    Input(const Input&) = delete;
    Input& operator=(const Input&) = delete;

    Py_buffer buffer{};
    bool held = false;
    std::string_view text;
};

// One cell of the screen.
struct Cell {
    std::u32string text;  // a str to Python
    int width;
    py::object fg;
    py::object bg;
};

// The screen and the lock that keeps two threads from decoding into it at
// once while neither holds the GIL.
class Screen {
public:
    Screen(long long cols, long long rows) : emulator_(size(cols, "cols"), size(rows, "rows")) {}

    void feed(const py::handle& data) {
        Input input(data);
        py::gil_scoped_release release;
        std::lock_guard lock(mutex_);
        emulator_.feed(input.text);
    }

    py::list lines() const {
        std::lock_guard lock(mutex_);
        py::list out;
        for (std::int32_t r = 0; r < emulator_.rows(); ++r) out.append(py::str(emulator_.line(r)));
        return out;
    }

    std::string file(bool color) const {
        std::lock_guard lock(mutex_);
        return emulator_.file(color);
    }

    py::str text(bool color) const {
        const std::string bytes = file(color);
        return py::str(bytes.substr(3));  // without the byte-order mark
    }

    py::str page() const {
        std::lock_guard lock(mutex_);
        return py::str(emulator_.page());
    }

    py::tuple cursor() const {
        std::lock_guard lock(mutex_);
        const Emulator::Cursor c = emulator_.cursor();
        return py::make_tuple(c.row, c.col);
    }

    Cell cell(long long row, long long col) const {
        std::lock_guard lock(mutex_);
        if (row < 0 || row >= emulator_.rows() || col < 0 || col >= emulator_.cols())
            throw py::index_error("cell (" + std::to_string(row) + ", " + std::to_string(col) +
                                  ") is outside the screen of " + std::to_string(emulator_.rows()) + " rows and " +
                                  std::to_string(emulator_.cols()) + " columns");
        const Emulator::Cell c = emulator_.cell(static_cast<std::int32_t>(row), static_cast<std::int32_t>(col));
        return {c.text, c.width, colour(c.fg), colour(c.bg)};
    }

    void keepTranscript(bool color) {
        std::lock_guard lock(mutex_);
        emulator_.keepTranscript(color);
    }

    py::str transcript() const {
        std::lock_guard lock(mutex_);
        return py::str(emulator_.transcript().substr(3));
    }

    void reset() {
        std::lock_guard lock(mutex_);
        emulator_.reset();
    }

    int cols() const { return emulator_.cols(); }
    int rows() const { return emulator_.rows(); }

private:
    mutable std::mutex mutex_;
    Emulator emulator_;
};

py::bytes renderBytes(const py::handle& data, py::object cols, py::object rows, bool color) {
    auto given = [](const py::object& v, const char* what) {
        return v.is_none() ? 0 : size(v.cast<long long>(), what);
    };
    const std::int32_t c = given(cols, "cols");
    const std::int32_t r = given(rows, "rows");
    Input input(data);
    std::string out;
    {
        py::gil_scoped_release release;
        out = vtsnap::renderFile(input.text, color, c, r);
    }
    return py::bytes(out);
}

}  // namespace

PYBIND11_MODULE(_vtsnap, m) {
    m.doc() = "vtsnap's terminal emulator: the core of the vtsnap package.";
    py::register_exception_translator([](std::exception_ptr p) {
        try {
            if (p) std::rethrow_exception(p);
        } catch (const std::invalid_argument& e) {
            PyErr_SetString(PyExc_ValueError, e.what());
        }
    });

    py::class_<Cell>(m, "Cell", "One cell of a Screen, as Screen.cell() gives it.")
        .def_readonly("char", &Cell::text,
                      "The character that starts in the cell, followed by the marks (combining and zero-width "
                      "characters) that join it; '' for the second half of a wide character.")
        .def_readonly("width", &Cell::width, "The columns the character takes: 1 or 2; 0 for a second half.")
        .def_readonly("fg", &Cell::fg,
                      "The foreground: None for the default, an int for a palette index (0-255), or an (r, g, b) "
                      "tuple.")
        .def_readonly("bg", &Cell::bg, "The background, in the same form as fg.")
        .def("__eq__", [](const Cell& a, const Cell& b) {
            return a.text == b.text && a.width == b.width && a.fg.equal(b.fg) && a.bg.equal(b.bg);
        })
        .def("__repr__", [](const Cell& c) {
            return "Cell(char=" + py::repr(py::cast(c.text)).cast<std::string>() +
                   ", width=" + std::to_string(c.width) + ", fg=" + py::repr(c.fg).cast<std::string>() + ", bg=" + py::repr(c.bg).cast<std::string>() + ")";
        });

    py::class_<Screen>(m, "Screen",
                       "A terminal screen of `cols` columns and `rows` rows (1 to 32767 each) that interprets a "
                       "program's output (UTF-8 text and VT control sequences) as vtsnap does.\n\n"
                       "Feed it bytes with feed(), then read it with lines(), text(), cell() and cursor. One "
                       "Screen may be fed from one thread while others wait; the GIL is released while it "
                       "decodes.")
        .def(py::init<long long, long long>(), py::arg("cols") = Emulator::kDefaultCols,
             py::arg("rows") = Emulator::kDefaultRows,
             "Makes a blank screen. Raises ValueError for a size outside 1 to 32767.")
        .def("feed", &Screen::feed, py::arg("data"),
             "Decodes `data`: bytes, a bytearray, a memoryview, or a str (taken as UTF-8). Feeding a stream in "
             "blocks of any size gives the same screen as feeding it whole; a sequence cut between two blocks "
             "is joined. Raises TypeError for anything else.")
        .def("lines", &Screen::lines, "Every row as a str, trailing blanks cut, from the top.")
        .def("text", &Screen::text, py::arg("color") = false,
             "What vtsnap's screen file holds, as a str without the byte-order mark: the rows from the first "
             "to the last occupied one, CR LF after each; with `color`, SGR sequences for the colours.")
        .def("file_bytes", [](const Screen& s, bool color) { return py::bytes(s.file(color)); },
             py::arg("color") = false,
             "The exact bytes of vtsnap's screen file (UTF-8 with a byte-order mark), as bytes.")
        .def("html", &Screen::page, "The screen as the standalone web page that vtsnap's -html= writes.")
        .def_property_readonly("cursor", &Screen::cursor,
                               "(row, col) where the next character goes, from (0, 0) at the top left.")
        .def("cell", &Screen::cell, py::arg("row"), py::arg("col"),
             "The Cell at (row, col), from (0, 0) at the top left. Raises IndexError outside the screen.")
        .def("keep_transcript", &Screen::keepTranscript, py::arg("color") = false,
             "From now on, keeps every row that leaves the top of the screen, for transcript(); `color` keeps "
             "their colours.")
        .def("transcript", &Screen::transcript,
             "What vtsnap's -log= file holds, as a str without the byte-order mark: the rows kept since "
             "keep_transcript(), then the screen's occupied rows.")
        .def("reset", &Screen::reset, "Makes the screen blank and new again, of the same size.")
        .def_property_readonly("cols", &Screen::cols, "The number of columns.")
        .def_property_readonly("rows", &Screen::rows, "The number of rows.")
        .def("__repr__", [](const Screen& s) {
            return "vtsnap.Screen(cols=" + std::to_string(s.cols()) + ", rows=" + std::to_string(s.rows()) + ")";
        });

    m.def("render_bytes", &renderBytes, py::arg("data"), py::arg("cols") = py::none(), py::arg("rows") = py::none(),
          py::arg("color") = false,
          "The bytes of the screen file for a raw output stream or an asciicast recording (version 2 or 3).");
}
