// Pictures of a frame: the five views, the temperature legend, contact sheets
// and PNG files. The page (player.html) draws the same colours in JavaScript.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "hostkit/tables.h"
#include "tessel/host.h"

namespace tessel {

enum class View { Element, Temperature, Mass, Germs, Light };
inline constexpr View kViews[] = {View::Element, View::Temperature, View::Mass, View::Germs, View::Light};
const char* ViewName(View view);
std::optional<View> ParseView(std::string_view name);

struct Rgb {
    uint8_t r, g, b;
};

struct Image {
    int width = 0;
    int height = 0;
    std::vector<uint8_t> rgb;

    Image() = default;
    Image(int w, int h, Rgb fill = {0, 0, 0});
    void Set(int x, int y, Rgb c) {
        if (x < 0 || y < 0 || x >= width || y >= height) return;
        uint8_t* p = &rgb[(size_t(y) * size_t(width) + size_t(x)) * 3];
        p[0] = c.r, p[1] = c.g, p[2] = c.b;
    }
    Rgb Get(int x, int y) const {
        const uint8_t* p = &rgb[(size_t(y) * size_t(width) + size_t(x)) * 3];
        return {p[0], p[1], p[2]};
    }
    // Copies `src` with its top-left corner at (x, y).
    void Blit(const Image& src, int x, int y);
};

// The temperature range of the heat map, in kelvin (log scale between them).
struct HeatScale {
    float low = 250.0f;
    float high = 400.0f;
};
// The range of the temperatures of cells that hold mass, widened to at least
// a factor of 1.2 so that a uniform world still shows a scale.
HeatScale HeatScaleOf(const Frame& frame);

// One cell's colour in a view.
Rgb CellColour(View view, const Frame& frame, size_t cell, const tshost::SampleTables& tables,
               const HeatScale& heat);
Rgb HeatColour(float t01);  // the heat map's ramp over [0, 1]

// The frame in one view, the top row first, each cell `scale` pixels wide.
Image Render(const Frame& frame, View view, const tshost::SampleTables& tables, const HeatScale& heat,
             int scale = 1);
// The temperature legend: a vertical colour bar with labelled kelvin ticks.
Image HeatLegend(const HeatScale& heat, int height);
// Render, with the legend on the right for the temperature view.
Image RenderWithLegend(const Frame& frame, View view, const tshost::SampleTables& tables,
                       const HeatScale& heat, int scale);

// Text in the tool's 3 x 5 pixel font (upper case, digits, . - : / % x).
void DrawText(Image& image, int x, int y, std::string_view text, Rgb colour, int size = 2);

// Writes an RGB PNG; throws UsageError when the file cannot be written.
void WritePng(const std::string& path, const Image& image);

}  // namespace tessel
