// Draws the control panel's icons and its about-box bitmap and writes them as
// .ico and .bmp files. It is run by hand when the artwork changes, and its
// output is committed under resources/icons:
//
//   cmake --build --preset native --target make_icons
//   build/native/tools/make_icons resources/icons
//
// Every picture is drawn at 16, 32 and 48 pixels from shapes given in units
// of a 16-pixel grid; 4 x 4 samples per pixel smooth the edges. Icons are
// 32-bit with an alpha channel and an AND mask for the older renderers.
#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

namespace {

struct Rgba {
    uint8_t r, g, b, a;
};

constexpr Rgba kFrame{64, 64, 64, 255};
constexpr Rgba kTrough{255, 255, 255, 255};
constexpr Rgba kBlue{30, 100, 220, 255};
constexpr Rgba kLightBlue{110, 160, 240, 255};
constexpr Rgba kGreen{30, 158, 58, 255};
constexpr Rgba kRed{212, 40, 40, 255};
constexpr Rgba kOrange{224, 112, 32, 255};
constexpr Rgba kGrey{200, 200, 200, 255};
constexpr Rgba kDarkGrey{150, 150, 150, 255};
constexpr Rgba kWhite{255, 255, 255, 255};

// A shape: whether the point (x, y), in units of the 16-pixel grid, is inside.
using Shape = std::function<bool(double x, double y)>;

class Canvas {
  public:
    explicit Canvas(int size) : size_(size), pixels_(static_cast<std::size_t>(size * size)) {}

    int size() const { return size_; }
    const Rgba& at(int x, int y) const { return pixels_[static_cast<std::size_t>(y * size_ + x)]; }

    // Paints `colour` over the canvas where `shape` covers it.
    void fill(const Shape& shape, Rgba colour) {
        constexpr int kSamples = 4;
        double unit = 16.0 / size_;
        for (int y = 0; y < size_; ++y) {
            for (int x = 0; x < size_; ++x) {
                int inside = 0;
                for (int sy = 0; sy < kSamples; ++sy)
                    for (int sx = 0; sx < kSamples; ++sx)
                        inside += shape((x + (sx + 0.5) / kSamples) * unit,
                                        (y + (sy + 0.5) / kSamples) * unit);
                blend(x, y, colour, inside / double(kSamples * kSamples));
            }
        }
    }

  private:
    void blend(int x, int y, Rgba colour, double coverage) {
        if (coverage <= 0) return;
        Rgba& p = pixels_[static_cast<std::size_t>(y * size_ + x)];
        double a = coverage * colour.a / 255.0;
        double under = p.a / 255.0 * (1 - a);
        double out = a + under;
        auto mix = [&](uint8_t top, uint8_t bottom) {
            return static_cast<uint8_t>(std::lround((top * a + bottom * under) / out));
        };
        p = Rgba{mix(colour.r, p.r), mix(colour.g, p.g), mix(colour.b, p.b),
                 static_cast<uint8_t>(std::lround(out * 255))};
    }

    int size_;
    std::vector<Rgba> pixels_;
};

Shape rect(double left, double top, double right, double bottom) {
    return [=](double x, double y) { return x >= left && x < right && y >= top && y < bottom; };
}

Shape rounded_rect(double left, double top, double right, double bottom, double radius) {
    return [=](double x, double y) {
        if (x < left || x >= right || y < top || y >= bottom) return false;
        double cx = std::clamp(x, left + radius, right - radius);
        double cy = std::clamp(y, top + radius, bottom - radius);
        return std::hypot(x - cx, y - cy) <= radius;
    };
}

// A line from (x1, y1) to (x2, y2) of the given width with round ends.
Shape stroke(double x1, double y1, double x2, double y2, double width) {
    return [=](double x, double y) {
        double dx = x2 - x1, dy = y2 - y1;
        double t = std::clamp(((x - x1) * dx + (y - y1) * dy) / (dx * dx + dy * dy), 0.0, 1.0);
        return std::hypot(x - (x1 + t * dx), y - (y1 + t * dy)) <= width / 2;
    };
}

Shape triangle(double ax, double ay, double bx, double by, double cx, double cy) {
    return [=](double x, double y) {
        auto side = [&](double px, double py, double qx, double qy) {
            return (qx - px) * (y - py) - (qy - py) * (x - px);
        };
        double s1 = side(ax, ay, bx, by), s2 = side(bx, by, cx, cy), s3 = side(cx, cy, ax, ay);
        return (s1 >= 0 && s2 >= 0 && s3 >= 0) || (s1 <= 0 && s2 <= 0 && s3 <= 0);
    };
}

// 5 x 7 letters, one row per string.
using Glyph = std::array<const char*, 7>;
constexpr Glyph kLetterR = {"1111.", "1...1", "1...1", "1111.", "1.1..", "1..1.", "1...1"};
constexpr Glyph kLetterW = {"1...1", "1...1", "1...1", "1.1.1", "1.1.1", "11.11", "1...1"};

// The glyph with its top left corner at (left, top), one grid unit per dot.
Shape glyph(const Glyph& g, double left, double top) {
    return [=](double x, double y) {
        int col = static_cast<int>(std::floor(x - left));
        int row = static_cast<int>(std::floor(y - top));
        return col >= 0 && col < 5 && row >= 0 && row < 7 && g[row][col] == '1';
    };
}

using Drawing = std::function<void(Canvas&)>;

// A framed bar with `filled` of 14 cells in blue: the interior of the 16-pixel
// icon is exactly 14 pixels wide.
Drawing progress_bar(int filled) {
    return [=](Canvas& c) {
        c.fill(rect(0, 4, 16, 12), kFrame);
        c.fill(rect(1, 5, 15, 11), kTrough);
        if (filled == 0) return;
        c.fill(rect(1, 5, 1 + filled, 11), kBlue);
        c.fill(rect(1, 5, 1 + filled, 7), kLightBlue);
    };
}

void check_mark(Canvas& c) {
    c.fill(stroke(3, 8.5, 6.5, 12, 2.6), kGreen);
    c.fill(stroke(6.5, 12, 13, 4.5, 2.6), kGreen);
}

void red_cross(Canvas& c) {
    c.fill(stroke(3.5, 3.5, 12.5, 12.5, 2.6), kRed);
    c.fill(stroke(12.5, 3.5, 3.5, 12.5, 2.6), kRed);
}

// Two badges, R for read on the left and W for write on the right, each in
// colour when the right is granted and grey when it is not.
Drawing access_icon(bool read, bool write) {
    return [=](Canvas& c) {
        c.fill(rounded_rect(0, 3, 7, 12, 1.5), read ? kGreen : kGrey);
        c.fill(glyph(kLetterR, 1, 4), read ? kWhite : kDarkGrey);
        c.fill(rounded_rect(9, 3, 16, 12, 1.5), write ? kOrange : kGrey);
        c.fill(glyph(kLetterW, 10, 4), write ? kWhite : kDarkGrey);
    };
}

// The application: a blue tile with an arrow up and an arrow down.
void application_icon(Canvas& c) {
    c.fill(rounded_rect(0.5, 0.5, 15.5, 15.5, 3), kBlue);
    c.fill(rounded_rect(0.5, 0.5, 15.5, 8, 3), kLightBlue);
    c.fill(rect(0.5, 5, 15.5, 8), kLightBlue);
    c.fill(triangle(5, 2, 1.5, 7, 8.5, 7), kWhite);
    c.fill(rect(4, 7, 6, 14), kWhite);
    c.fill(triangle(11, 14, 7.5, 9, 14.5, 9), kWhite);
    c.fill(rect(10, 2, 12, 9), kWhite);
}

void put16(std::vector<uint8_t>& out, uint16_t v) {
    out.push_back(static_cast<uint8_t>(v));
    out.push_back(static_cast<uint8_t>(v >> 8));
}

void put32(std::vector<uint8_t>& out, uint32_t v) {
    put16(out, static_cast<uint16_t>(v));
    put16(out, static_cast<uint16_t>(v >> 16));
}

// One icon image: BITMAPINFOHEADER, BGRA rows bottom-up, AND mask bottom-up.
std::vector<uint8_t> icon_image(const Canvas& c) {
    int n = c.size();
    uint32_t maskStride = static_cast<uint32_t>((n + 31) / 32 * 4);
    std::vector<uint8_t> out;
    put32(out, 40);
    put32(out, static_cast<uint32_t>(n));
    put32(out, static_cast<uint32_t>(2 * n));
    put16(out, 1);
    put16(out, 32);
    put32(out, 0);
    put32(out, static_cast<uint32_t>(n * n * 4) + maskStride * static_cast<uint32_t>(n));
    for (int i = 0; i < 4; ++i) put32(out, 0);
    for (int y = n - 1; y >= 0; --y) {
        for (int x = 0; x < n; ++x) {
            const Rgba& p = c.at(x, y);
            for (uint8_t v : {p.b, p.g, p.r, p.a}) out.push_back(v);
        }
    }
    for (int y = n - 1; y >= 0; --y) {
        std::vector<uint8_t> row(maskStride, 0);
        for (int x = 0; x < n; ++x)
            if (c.at(x, y).a < 128) row[static_cast<std::size_t>(x / 8)] |= 0x80 >> (x % 8);
        out.insert(out.end(), row.begin(), row.end());
    }
    return out;
}

std::vector<uint8_t> icon_file(const Drawing& draw) {
    constexpr std::array<int, 3> kSizes = {16, 32, 48};
    std::vector<std::vector<uint8_t>> images;
    for (int size : kSizes) {
        Canvas c(size);
        draw(c);
        images.push_back(icon_image(c));
    }
    std::vector<uint8_t> out;
    put16(out, 0);
    put16(out, 1);
    put16(out, static_cast<uint16_t>(images.size()));
    uint32_t offset = 6 + 16 * static_cast<uint32_t>(images.size());
    for (std::size_t i = 0; i < images.size(); ++i) {
        out.push_back(static_cast<uint8_t>(kSizes[i]));
        out.push_back(static_cast<uint8_t>(kSizes[i]));
        out.push_back(0);
        out.push_back(0);
        put16(out, 1);
        put16(out, 32);
        put32(out, static_cast<uint32_t>(images[i].size()));
        put32(out, offset);
        offset += static_cast<uint32_t>(images[i].size());
    }
    for (const auto& image : images) out.insert(out.end(), image.begin(), image.end());
    return out;
}

// A plain white 24-bit bitmap.
std::vector<uint8_t> white_bitmap(int width, int height) {
    uint32_t stride = static_cast<uint32_t>((width * 3 + 3) / 4 * 4);
    uint32_t pixels = stride * static_cast<uint32_t>(height);
    std::vector<uint8_t> out = {'B', 'M'};
    put32(out, 54 + pixels);
    put32(out, 0);
    put32(out, 54);
    put32(out, 40);
    put32(out, static_cast<uint32_t>(width));
    put32(out, static_cast<uint32_t>(height));
    put16(out, 1);
    put16(out, 24);
    put32(out, 0);
    put32(out, pixels);
    for (int i = 0; i < 4; ++i) put32(out, 0);
    out.resize(out.size() + pixels, 0xFF);
    return out;
}

bool write_file(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return false;
    bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    return std::fclose(f) == 0 && ok;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_icons OUTPUT_DIRECTORY\n");
        return 2;
    }
    std::string dir = std::string(argv[1]) + "/";
    std::vector<std::pair<std::string, Drawing>> icons;
    for (int i = 0; i <= 14; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "progress_%02d.ico", i);
        icons.emplace_back(name, progress_bar(i));
    }
    icons.emplace_back("failed.ico", red_cross);
    icons.emplace_back("complete.ico", check_mark);
    icons.emplace_back("empty.ico", [](Canvas&) {});
    icons.emplace_back("write_only.ico", access_icon(false, true));
    icons.emplace_back("read_only.ico", access_icon(true, false));
    icons.emplace_back("no_rights.ico", access_icon(false, false));
    icons.emplace_back("read_write.ico", access_icon(true, true));
    icons.emplace_back("application.ico", application_icon);
    for (const auto& [name, draw] : icons) {
        if (!write_file(dir + name, icon_file(draw))) {
            std::fprintf(stderr, "cannot write %s%s\n", dir.c_str(), name.c_str());
            return 1;
        }
    }
    if (!write_file(dir + "about_background.bmp", white_bitmap(32, 35))) {
        std::fprintf(stderr, "cannot write %sabout_background.bmp\n", dir.c_str());
        return 1;
    }
    return 0;
}
