// The terminal face's character canvas and the colour and text helpers of its drawing.
#include "term_internal.h"

#include <algorithm>

namespace sim {
namespace term {
namespace {

struct Rgb {
    int r, g, b;
};

// The sixteen VGA colours in ANSI order.
const Rgb kPalette[16] = {{0, 0, 0},       {128, 0, 0},   {0, 128, 0},   {128, 128, 0},
                          {0, 0, 128},     {128, 0, 128}, {0, 128, 128}, {192, 192, 192},
                          {128, 128, 128}, {255, 0, 0},   {0, 255, 0},   {255, 255, 0},
                          {0, 0, 255},     {255, 0, 255}, {0, 255, 255}, {255, 255, 255}};

int nearestOf(const Rgb& c, int count) {
    int best = 0;
    long bestDistance = -1;
    for (int i = 0; i < count; ++i) {
        long dr = c.r - kPalette[i].r, dg = c.g - kPalette[i].g, db = c.b - kPalette[i].b;
        long distance = dr * dr + dg * dg + db * db;
        if (bestDistance < 0 || distance < bestDistance) {
            best = i;
            bestDistance = distance;
        }
    }
    return best;
}

} // namespace

const char* const kUnavailable = "unavailable";

std::vector<std::string> wrap(const std::string& text, int width) {
    std::vector<std::string> lines;
    std::string line;
    size_t i = 0;
    auto flush = [&]() {
        lines.push_back(line);
        line.clear();
    };
    while (i <= text.size()) {
        if (i == text.size() || text[i] == '\n') {
            flush();
            ++i;
            if (i > text.size())
                break;
            continue;
        }
        line += text[i++];
        if (static_cast<int>(line.size()) >= width) {
            size_t cut = line.rfind(' ');
            std::string rest;
            if (cut != std::string::npos && cut > 0) {
                rest = line.substr(cut + 1);
                line.resize(cut);
            }
            flush();
            line = rest;
        }
    }
    while (!lines.empty() && lines.back().empty())
        lines.pop_back();
    return lines;
}

CellRect offset(const CellRect& r, int dx, int dy) {
    return {r.left + dx, r.top + dy, r.right + dx, r.bottom + dy};
}

int usableRows(const Canvas& canvas, int rows) {
    return rows < 0 ? canvas.height() : std::min(rows, canvas.height());
}

Canvas::Canvas(int width, int height)
    : m_width(std::max(0, width)), m_height(std::max(0, height)),
      m_cells(static_cast<size_t>(m_width) * static_cast<size_t>(m_height)) {}

const Cell& Canvas::at(int x, int y) const {
    static const Cell outside;
    if (x < 0 || y < 0 || x >= m_width || y >= m_height)
        return outside;
    return m_cells[static_cast<size_t>(y) * static_cast<size_t>(m_width) + static_cast<size_t>(x)];
}

void Canvas::put(int x, int y, char ch, int fg, int bg) {
    if (x < 0 || y < 0 || x >= m_width || y >= m_height)
        return;
    Cell& cell =
        m_cells[static_cast<size_t>(y) * static_cast<size_t>(m_width) + static_cast<size_t>(x)];
    // Control characters would move the terminal's cursor; they show as blanks.
    cell.ch = static_cast<unsigned char>(ch) < 0x20 ? ' ' : ch;
    cell.fg = fg;
    cell.bg = bg;
    cell.bold = cell.dim = cell.reverse = false;
}

void Canvas::text(int x, int y, const std::string& text, int fg, int bg, int maxWidth) {
    if (y < 0 || y >= m_height)
        return;
    long long n = static_cast<long long>(text.size());
    if (maxWidth >= 0)
        n = std::min(n, static_cast<long long>(maxWidth));
    n = std::min(n, static_cast<long long>(m_width) - x);
    for (long long i = std::max(0LL, -static_cast<long long>(x)); i < n; ++i)
        put(static_cast<int>(x + i), y, text[static_cast<size_t>(i)], fg, bg);
}

void Canvas::fill(const CellRect& r, int bg) {
    for (int y = std::max(0, r.top); y < std::min(m_height, r.bottom); ++y) {
        for (int x = std::max(0, r.left); x < std::min(m_width, r.right); ++x)
            put(x, y, ' ', kDefault, bg);
    }
}

void Canvas::attributes(const CellRect& r, bool bold, bool dim, bool reverse) {
    for (int y = std::max(0, r.top); y < std::min(m_height, r.bottom); ++y) {
        for (int x = std::max(0, r.left); x < std::min(m_width, r.right); ++x) {
            Cell& cell = m_cells[static_cast<size_t>(y) * static_cast<size_t>(m_width) +
                                 static_cast<size_t>(x)];
            cell.bold = cell.bold || bold;
            cell.dim = cell.dim || dim;
            cell.reverse = cell.reverse || reverse;
        }
    }
}

void Canvas::box(const CellRect& r, const std::string& title, int fg, int bg) {
    if (r.right - r.left < 2 || r.bottom - r.top < 1)
        return;
    // Only the part on the canvas is walked, however large the rectangle.
    for (int x = std::max(r.left, 0); x < std::min(r.right, m_width); ++x) {
        put(x, r.top, '-', fg, bg);
        if (r.bottom - r.top > 1)
            put(x, r.bottom - 1, '-', fg, bg);
    }
    for (int y = std::max(r.top, 0); y < std::min(r.bottom, m_height); ++y) {
        put(r.left, y, y == r.top || y == r.bottom - 1 ? '+' : '|', fg, bg);
        put(r.right - 1, y, y == r.top || y == r.bottom - 1 ? '+' : '|', fg, bg);
    }
    if (!title.empty())
        text(r.left + 2, r.top, " " + title + " ", fg, bg, r.right - r.left - 4);
}

std::string Canvas::row(int y) const {
    std::string s;
    for (int x = 0; x < m_width; ++x)
        s += at(x, y).ch;
    return s;
}

int nearestColour(COLORREF c) {
    return nearestOf({static_cast<int>(c & 0xFF), static_cast<int>((c >> 8) & 0xFF),
                      static_cast<int>((c >> 16) & 0xFF)},
                     16);
}

int foldColour(int colour, int available) {
    if (colour < 0 || available >= 16 || colour < 8)
        return colour;
    return nearestOf(kPalette[colour], 8);
}

std::string withoutMnemonics(const std::string& text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '&' && i + 1 < text.size())
            ++i;
        else if (text[i] == '&')
            continue;
        out += text[i];
    }
    return out;
}

} // namespace term
} // namespace sim
