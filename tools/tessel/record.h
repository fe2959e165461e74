// The recording page: every frame of a run in one self-contained HTML file
// that plays them back (no server, no network).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "hostkit/tables.h"
#include "tessel/host.h"
#include "tessel/image.h"

namespace tessel {

// Frames are stored as nine byte planes per cell (element, temperature,
// mass and germ count quantised to 16 bits on log scales, disease, light),
// each the difference from the frame before, deflated and base64-encoded.
class Recorder {
public:
    Recorder(const tshost::SampleTables& tables, HeatScale heat) : tables_(tables), heat_(heat) {}
    void Add(const Frame& frame, double gameSeconds);
    size_t frames() const { return frames_.size(); }
    // The page, with its player script and all frames.
    std::string Page(const std::string& title) const;

private:
    const tshost::SampleTables& tables_;
    HeatScale heat_;
    int32_t width_ = 0;
    int32_t height_ = 0;
    std::vector<uint8_t> previous_;  // the last frame's planes
    std::vector<std::string> frames_;
    std::vector<double> times_;
};

// The quantisation the page decodes (exact inverses live in player.html).
uint16_t QuantiseTemperature(float kelvin);
uint16_t QuantiseMass(float kilograms);
uint16_t QuantiseGerms(int32_t count);

}  // namespace tessel
