#include "tessel/record.h"

#include <zlib.h>

#include <cmath>
#include <cstdio>
#include <stdexcept>

#include "tessel/embedded.h"

namespace tessel {

namespace {

uint16_t LogQuantise(double value, double range) {
    if (!(value > 0.0)) return 0;
    return uint16_t(std::lround(std::min(std::log1p(value) / std::log1p(range), 1.0) * 65535.0));
}

std::string Base64(const std::string& bytes) {
    static const char* digits = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    out.reserve((bytes.size() + 2) / 3 * 4);
    size_t i = 0;
    for (; i + 2 < bytes.size(); i += 3) {
        const uint32_t v = uint32_t(uint8_t(bytes[i])) << 16 | uint32_t(uint8_t(bytes[i + 1])) << 8 | uint8_t(bytes[i + 2]);
        for (int s = 18; s >= 0; s -= 6) out += digits[(v >> s) & 63];
    }
    if (i < bytes.size()) {
        uint32_t v = uint32_t(uint8_t(bytes[i])) << 16;
        if (i + 1 < bytes.size()) v |= uint32_t(uint8_t(bytes[i + 1])) << 8;
        out += digits[(v >> 18) & 63];
        out += digits[(v >> 12) & 63];
        out += i + 1 < bytes.size() ? digits[(v >> 6) & 63] : '=';
        out += '=';
    }
    return out;
}

std::string Deflate(const std::vector<uint8_t>& data) {
    uLongf size = compressBound(uLong(data.size()));
    std::string out(size, '\0');
    if (compress2(reinterpret_cast<Bytef*>(out.data()), &size, data.data(), uLong(data.size()), 6) != Z_OK)
        throw std::runtime_error("cannot compress a recorded frame");
    out.resize(size);
    return out;
}

// A JSON string literal that is also safe inside a <script> element.
std::string JsonString(const std::string& s) {
    std::string out = "\"";
    for (char ch : s) {
        const unsigned char c = static_cast<unsigned char>(ch);
        if (ch == '"' || ch == '\\') out += '\\', out += ch;
        else if (c < 0x20 || ch == '<' || ch == '>' || ch == '&') {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\u%04x", c);
            out += buf;
        } else out += ch;
    }
    return out + "\"";
}

}  // namespace

uint16_t QuantiseTemperature(float kelvin) { return LogQuantise(double(kelvin), 10000.0); }
uint16_t QuantiseMass(float kilograms) { return LogQuantise(double(kilograms) * 1000.0, 1e12); }
uint16_t QuantiseGerms(int32_t count) { return LogQuantise(double(count), 2147483647.0); }

void Recorder::Add(const Frame& f, double gameSeconds) {
    if (frames_.empty()) {
        width_ = f.width;
        height_ = f.height;
        previous_.assign(9 * f.size(), 0);
    } else if (f.width != width_ || f.height != height_) {
        throw std::runtime_error("a recorded frame changed size");
    }
    const size_t n = f.size();
    std::vector<uint8_t> planes(9 * n);
    for (size_t c = 0; c < n; ++c) {
        const uint16_t t = QuantiseTemperature(f.mass[c] > 0.0f ? f.temperature[c] : 0.0f);
        const uint16_t m = QuantiseMass(f.mass[c]);
        const uint16_t g = f.diseaseIdx[c] == SIM_NO_DISEASE ? 0 : QuantiseGerms(f.diseaseCount[c]);
        const uint8_t values[9] = {f.element[c], uint8_t(t), uint8_t(t >> 8), uint8_t(m), uint8_t(m >> 8),
                                   uint8_t(g), uint8_t(g >> 8), f.diseaseIdx[c], f.light[c]};
        for (size_t p = 0; p < 9; ++p) planes[p * n + c] = values[p];
    }
    // Differences of the 16-bit values, so that a carry reaches the high byte.
    std::vector<uint8_t> delta(9 * n);
    for (size_t c = 0; c < n; ++c) {
        for (size_t p : {size_t(0), size_t(7), size_t(8)}) delta[p * n + c] = uint8_t(planes[p * n + c] - previous_[p * n + c]);
        for (size_t p : {size_t(1), size_t(3), size_t(5)}) {
            const uint16_t now = uint16_t(planes[p * n + c] | planes[(p + 1) * n + c] << 8);
            const uint16_t before = uint16_t(previous_[p * n + c] | previous_[(p + 1) * n + c] << 8);
            const uint16_t d = uint16_t(now - before);
            delta[p * n + c] = uint8_t(d);
            delta[(p + 1) * n + c] = uint8_t(d >> 8);
        }
    }
    previous_.swap(planes);
    frames_.push_back(Base64(Deflate(delta)));
    times_.push_back(gameSeconds);
}

std::string Recorder::Page(const std::string& title) const {
    std::string data = "const TESSEL = {\"title\": " + JsonString(title) + ", \"width\": " + std::to_string(width_) +
                       ", \"height\": " + std::to_string(height_);
    char heat[96];
    std::snprintf(heat, sizeof heat, ", \"heat\": {\"low\": %.6g, \"high\": %.6g}", double(heat_.low), double(heat_.high));
    data += heat;
    data += ",\n\"elements\": [";
    for (size_t i = 0; i < tables_.elements.size(); ++i) {
        const tshost::ElementDesc& e = tables_.elements[i];
        char rest[96];
        std::snprintf(rest, sizeof rest, ", \"colour\": %u, \"state\": %u, \"defaultMass\": %.6g}", e.record.colour,
                      unsigned(e.state()), double(e.record.defaultMass));
        data += (i ? ", " : "") + std::string("{\"name\": ") + JsonString(e.name) + rest;
    }
    data += "],\n\"diseases\": [";
    for (size_t i = 0; i < tables_.diseases.size(); ++i) data += (i ? ", " : "") + JsonString(tables_.diseases[i].name);
    data += "],\n\"times\": [";
    for (size_t i = 0; i < times_.size(); ++i) {
        char t[32];
        std::snprintf(t, sizeof t, "%s%.1f", i ? ", " : "", times_[i]);
        data += t;
    }
    data += "],\n\"frames\": [\n";
    for (size_t i = 0; i < frames_.size(); ++i) data += (i ? ",\n\"" : "\"") + frames_[i] + "\"";
    data += "]};\n";

    std::string page = embedded::kPlayerHtml;
    const std::string marker = "/*TESSEL_DATA*/";
    const size_t at = page.find(marker);
    if (at == std::string::npos) throw std::runtime_error("the player page lacks its data marker");
    page.replace(at, marker.size(), data);
    const std::string titleTag = "<title>tessel recording</title>";
    const size_t t = page.find(titleTag);
    if (t != std::string::npos) {
        std::string escaped;
        for (char ch : title) escaped += ch == '<' ? std::string("&lt;") : ch == '&' ? std::string("&amp;") : std::string(1, ch);
        page.replace(t, titleTag.size(), "<title>" + escaped + "</title>");
    }
    return page;
}

}  // namespace tessel
