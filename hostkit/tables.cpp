#include "hostkit/tables.h"

#include <stdexcept>

#include "hostkit/bytes.h"

namespace tshost {

ElementDesc MakeElement(std::string name, uint32_t id, uint8_t stateFlags) {
    ElementDesc e;
    e.name = std::move(name);
    ElementRecord& r = e.record;
    r.id = id;
    r.stateFlags = stateFlags;
    r.lowTempTransitionIndex = SIM_NO_ELEMENT;
    r.highTempTransitionIndex = SIM_NO_ELEMENT;
    r.lowTemp = 0.0f;
    r.highTemp = SIM_MAX_TEMPERATURE;
    r.lowTempTransitionOreId = SIM_VACUUM_ELEMENT_ID;
    r.highTempTransitionOreId = SIM_VACUUM_ELEMENT_ID;
    r.sublimateIndex = SIM_NO_ELEMENT;
    return e;
}

std::string ElementTablePayload(std::span<const ElementDesc> elements) {
    std::string out;
    size_t names = 0;
    for (const ElementDesc& e : elements) names += 4 + e.name.size();
    out.reserve(4 + elements.size() * sizeof(ElementRecord) + names);
    Append(out, static_cast<int32_t>(elements.size()));
    for (const ElementDesc& e : elements) Append(out, e.record);
    for (const ElementDesc& e : elements) AppendString(out, e.name);
    return out;
}

std::string DiseaseTablePayload(std::span<const DiseaseDesc> diseases, int32_t growthCount) {
    std::string out;
    Append(out, static_cast<int32_t>(diseases.size()));
    Append(out, growthCount);
    for (const DiseaseDesc& d : diseases) {
        if (growthCount < 0 || d.growth.size() != static_cast<size_t>(growthCount))
            throw std::invalid_argument("disease '" + d.name + "' has " + std::to_string(d.growth.size()) +
                                        " growth entries, the table declares " + std::to_string(growthCount));
        AppendString(out, d.name);
        Append(out, d.header);
        for (const DiseaseElementGrowth& g : d.growth) Append(out, g);
    }
    return out;
}

int FindElement(std::span<const ElementDesc> elements, std::string_view name) {
    for (size_t i = 0; i < elements.size(); ++i)
        if (elements[i].name == name) return static_cast<int>(i);
    return -1;
}

int FindElementById(std::span<const ElementDesc> elements, uint32_t id) {
    for (size_t i = 0; i < elements.size(); ++i)
        if (elements[i].record.id == id) return static_cast<int>(i);
    return -1;
}

int FindDisease(std::span<const DiseaseDesc> diseases, std::string_view name) {
    for (size_t i = 0; i < diseases.size(); ++i)
        if (diseases[i].name == name) return static_cast<int>(i);
    return -1;
}

uint8_t ElementIndex(std::span<const ElementDesc> elements, std::string_view name) {
    const int i = FindElement(elements, name);
    if (i < 0 || i >= static_cast<int>(SIM_NO_ELEMENT))
        throw std::out_of_range("no element named '" + std::string(name) + "'");
    return static_cast<uint8_t>(i);
}

uint8_t DiseaseIndex(std::span<const DiseaseDesc> diseases, std::string_view name) {
    const int i = FindDisease(diseases, name);
    if (i < 0 || i >= static_cast<int>(SIM_NO_DISEASE))
        throw std::out_of_range("no disease named '" + std::string(name) + "'");
    return static_cast<uint8_t>(i);
}

}  // namespace tshost
