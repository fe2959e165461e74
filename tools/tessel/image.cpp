#include "tessel/image.h"

#include <png.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <map>

namespace tessel {

const char* ViewName(View view) {
    switch (view) {
        case View::Element: return "element";
        case View::Temperature: return "temperature";
        case View::Mass: return "mass";
        case View::Germs: return "germs";
        case View::Light: return "light";
    }
    return "?";
}

std::optional<View> ParseView(std::string_view name) {
    for (View v : kViews)
        if (name == ViewName(v)) return v;
    return std::nullopt;
}

Image::Image(int w, int h, Rgb fill) : width(w), height(h), rgb(size_t(w) * size_t(h) * 3) {
    for (size_t i = 0; i < rgb.size(); i += 3) rgb[i] = fill.r, rgb[i + 1] = fill.g, rgb[i + 2] = fill.b;
}

void Image::Blit(const Image& src, int x0, int y0) {
    for (int y = 0; y < src.height; ++y)
        for (int x = 0; x < src.width; ++x) Set(x0 + x, y0 + y, src.Get(x, y));
}

HeatScale HeatScaleOf(const Frame& frame) {
    float lo = INFINITY, hi = -INFINITY;
    for (size_t c = 0; c < frame.size(); ++c) {
        if (!(frame.mass[c] > 0.0f) || !(frame.temperature[c] > 0.0f)) continue;
        lo = std::min(lo, frame.temperature[c]);
        hi = std::max(hi, frame.temperature[c]);
    }
    if (!(lo <= hi)) return {};
    if (hi < lo * 1.2f) {
        const float mid = std::sqrt(lo * hi);
        lo = mid / std::sqrt(1.2f);
        hi = mid * std::sqrt(1.2f);
    }
    return {lo, hi};
}

namespace {

uint8_t Byte(double v) { return uint8_t(std::lround(std::clamp(v, 0.0, 255.0))); }

Rgb FromHex(uint32_t c) { return {uint8_t(c >> 16), uint8_t(c >> 8), uint8_t(c)}; }

Rgb Scaled(Rgb c, double f) { return {Byte(c.r * f), Byte(c.g * f), Byte(c.b * f)}; }

// The colour of matter, darker for gases and liquids that fill their cell only in part.
Rgb MatterColour(const Frame& f, size_t c, const tshost::SampleTables& t) {
    const uint8_t e = f.element[c];
    if (e >= t.elements.size()) return {255, 0, 255};
    const tshost::ElementDesc& d = t.elements[e];
    if (d.state() == SIM_STATE_VACUUM || !(f.mass[c] > 0.0f)) return {0, 0, 0};
    const Rgb base = FromHex(d.record.colour);
    if (d.state() == SIM_STATE_SOLID || !(d.record.defaultMass > 0.0f)) return base;
    return Scaled(base, 0.55 + 0.45 * std::min(1.0, double(f.mass[c]) / double(d.record.defaultMass)));
}

const Rgb kDiseaseHues[] = {{255, 70, 50}, {90, 255, 80}, {255, 220, 60}, {80, 160, 255}};

}  // namespace

Rgb HeatColour(float t01) {
    // A polynomial fit of a perceptual rainbow (dark blue, cyan, green, yellow, red).
    const double t = std::clamp(double(t01), 0.0, 1.0);
    const double r = 0.13572138 + t * (4.61539260 + t * (-42.66032258 + t * (132.13108234 + t * (-152.94239396 + t * 59.28637943))));
    const double g = 0.09140261 + t * (2.19418839 + t * (4.84296658 + t * (-14.18503333 + t * (4.27729857 + t * 2.82956604))));
    const double b = 0.10667330 + t * (12.64194608 + t * (-60.58204836 + t * (110.36276771 + t * (-89.90310912 + t * 27.34824973))));
    return {Byte(r * 255.0), Byte(g * 255.0), Byte(b * 255.0)};
}

Rgb CellColour(View view, const Frame& f, size_t c, const tshost::SampleTables& t, const HeatScale& heat) {
    const float m = f.mass[c];
    switch (view) {
        case View::Element: return MatterColour(f, c, t);
        case View::Temperature: {
            if (!(m > 0.0f) || !(f.temperature[c] > 0.0f)) return {0, 0, 0};
            const double x = (std::log(double(f.temperature[c])) - std::log(double(heat.low))) /
                             (std::log(double(heat.high)) - std::log(double(heat.low)));
            return HeatColour(float(x));
        }
        case View::Mass: {
            if (!(m > 0.0f)) return {0, 0, 0};
            const double x = std::clamp((std::log10(double(m)) + 3.0) / 7.0, 0.0, 1.0);  // 1 g .. 10 t
            const uint8_t v = Byte(40.0 + 215.0 * x);
            return {v, v, v};
        }
        case View::Germs: {
            const Rgb dim = Scaled(MatterColour(f, c, t), 0.18);
            if (f.diseaseIdx[c] == SIM_NO_DISEASE || f.diseaseCount[c] <= 0) return dim;
            const Rgb hue = kDiseaseHues[f.diseaseIdx[c] % 4];
            const double x = 0.3 + 0.7 * std::clamp(std::log10(double(f.diseaseCount[c])) / 7.0, 0.0, 1.0);
            return {Byte(dim.r + (hue.r - dim.r) * x), Byte(dim.g + (hue.g - dim.g) * x),
                    Byte(dim.b + (hue.b - dim.b) * x)};
        }
        case View::Light: {
            const double l = f.light[c];
            return {Byte(l), Byte(l * 0.95), Byte(l * 0.7)};
        }
    }
    return {0, 0, 0};
}

Image Render(const Frame& f, View view, const tshost::SampleTables& t, const HeatScale& heat, int scale) {
    scale = std::max(scale, 1);
    Image img(f.width * scale, f.height * scale);
    for (int32_t y = 0; y < f.height; ++y)
        for (int32_t x = 0; x < f.width; ++x) {
            const Rgb c = CellColour(view, f, f.Cell(x, y), t, heat);
            const int py = (f.height - 1 - y) * scale;  // the top row first
            for (int dy = 0; dy < scale; ++dy)
                for (int dx = 0; dx < scale; ++dx) img.Set(x * scale + dx, py + dy, c);
        }
    return img;
}

Image HeatLegend(const HeatScale& heat, int height) {
    const int width = 64, top = 10, bottom = std::max(height - 10, top + 2);
    Image img(width, height, {24, 24, 28});
    const double lo = std::log(double(heat.low)), hi = std::log(double(heat.high));
    for (int y = top; y < bottom; ++y) {
        const Rgb c = HeatColour(float(double(bottom - 1 - y) / double(bottom - 1 - top)));
        for (int x = 4; x < 16; ++x) img.Set(x, y, c);
    }
    constexpr int kTicks = 5;
    for (int i = 0; i < kTicks; ++i) {
        const double f = double(i) / (kTicks - 1);
        const int y = bottom - 1 - int(f * double(bottom - 1 - top));
        const double k = std::exp(lo + f * (hi - lo));
        for (int x = 16; x < 20; ++x) img.Set(x, y, {230, 230, 230});
        char label[16];
        std::snprintf(label, sizeof label, "%.0fK", k);
        DrawText(img, 22, std::clamp(y - 4, 0, height - 10), label, {230, 230, 230}, 2);
    }
    return img;
}

Image RenderWithLegend(const Frame& f, View view, const tshost::SampleTables& t, const HeatScale& heat, int scale) {
    Image img = Render(f, view, t, heat, scale);
    if (view != View::Temperature) return img;
    const Image legend = HeatLegend(heat, img.height);
    Image out(img.width + legend.width, img.height);
    out.Blit(img, 0, 0);
    out.Blit(legend, img.width, 0);
    return out;
}

namespace {

// 3 x 5 glyphs, one string of 15 cells per character ('#' set).
const std::map<char, const char*>& Glyphs() {
    static const std::map<char, const char*> glyphs = {
        {'0', "#### ## ## ####"}, {'1', " # ##  #  # ###"}, {'2', "###  #####  ###"}, {'3', "###  ####  ####"},
        {'4', "# ## ####  #  #"}, {'5', "####  ###  ####"}, {'6', "####  #### ####"}, {'7', "###  #  #  #  #"},
        {'8', "#### ##### ####"}, {'9', "#### ####  ####"}, {'A', " # # ##### ## #"}, {'B', "## # ### # ### "},
        {'C', " ###  #  #   ##"}, {'D', "## # ## ## ### "}, {'E', "####  ## #  ###"}, {'F', "####  ## #  #  "},
        {'G', " ###  # ## # ##"}, {'H', "# ## ##### ## #"}, {'I', "### #  #  # ###"}, {'J', "  #  #  ## # # "},
        {'K', "# ## ### # ## #"}, {'L', "#  #  #  #  ###"}, {'M', "# ######## ## #"}, {'N', "## # ## ## ## #"},
        {'O', " # # ## ## # # "}, {'P', "## # ### #  #  "}, {'Q', " # # ## ###  ##"}, {'R', "## # ### # ## #"},
        {'S', " ###   #   ### "}, {'T', "### #  #  #  # "}, {'U', "# ## ## ## ####"}, {'V', "# ## ## ## # # "},
        {'W', "# ## ######## #"}, {'X', "# ## # # # ## #"}, {'Y', "# ## # #  #  # "}, {'Z', "###  # # #  ###"},
        {'.', "             # "}, {'-', "      ###      "}, {':', "    #     #    "}, {'/', "  #  # # #  #  "},
        {'%', "# #  # # #  # #"}, {'=', "   ###   ###   "}, {'(', " # #  #  #   # "}, {')', " #   #  #  # # "},
    };
    return glyphs;
}

}  // namespace

void DrawText(Image& img, int x, int y, std::string_view text, Rgb colour, int size) {
    for (char ch : text) {
        const char up = (ch >= 'a' && ch <= 'z') ? char(ch - 'a' + 'A') : ch;
        const auto it = Glyphs().find(up);
        if (it != Glyphs().end()) {
            const char* g = it->second;
            for (int i = 0; i < 15 && g[i]; ++i)
                if (g[i] == '#')
                    for (int dy = 0; dy < size; ++dy)
                        for (int dx = 0; dx < size; ++dx) img.Set(x + (i % 3) * size + dx, y + (i / 3) * size + dy, colour);
        }
        x += 4 * size;
    }
}

void WritePng(const std::string& path, const Image& img) {
    std::error_code ec;
    const std::filesystem::path p(path);
    if (p.has_parent_path()) std::filesystem::create_directories(p.parent_path(), ec);
    FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) throw UsageError("cannot write " + path);
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png != nullptr ? png_create_info_struct(png) : nullptr;
    if (info == nullptr || setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        std::fclose(file);
        throw UsageError("cannot encode " + path);
    }
    png_init_io(png, file);
    png_set_compression_level(png, 6);
    png_set_IHDR(png, info, png_uint_32(img.width), png_uint_32(img.height), 8, PNG_COLOR_TYPE_RGB,
                 PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    for (int y = 0; y < img.height; ++y)
        png_write_row(png, &img.rgb[size_t(y) * size_t(img.width) * 3]);
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    if (std::fclose(file) != 0) throw UsageError("cannot write " + path);
}

}  // namespace tessel
