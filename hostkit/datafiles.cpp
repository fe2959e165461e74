// Loaders of the JSON element and disease tables.
#include <array>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <limits>
#include <map>
#include <nlohmann/json.hpp>
#include <set>
#include <sstream>
#include <stdexcept>

#include "hostkit/tables.h"

namespace tshost {

namespace {

using nlohmann::json;

[[noreturn]] void Fail(const std::string& where, const std::string& what) {
    throw std::runtime_error(where + ": " + what);
}

// A hand-written table is easiest to get wrong through a misspelt key, which
// would otherwise silently leave a field at its default.
void CheckKeys(const json& object, const std::string& where, std::span<const std::string_view> allowed) {
    if (!object.is_object()) Fail(where, "expected an object");
    for (auto it = object.begin(); it != object.end(); ++it) {
        bool known = false;
        for (std::string_view key : allowed) known = known || key == it.key();
        if (!known) Fail(where, "unknown key \"" + it.key() + "\"");
    }
}

void CheckKeys(const json& object, const std::string& where, std::initializer_list<std::string_view> allowed) {
    CheckKeys(object, where, std::span<const std::string_view>(allowed.begin(), allowed.size()));
}

const json& Require(const json& object, const char* key, const std::string& where) {
    auto it = object.find(key);
    if (it == object.end()) Fail(where, std::string("missing \"") + key + "\"");
    return *it;
}

// A number, or one of the strings "infinity" and "-infinity" (JSON has no
// literal for them, and an infinite half-life means "no change").
float Float(const json& value, const std::string& where) {
    if (value.is_number()) return value.get<float>();
    if (value.is_string()) {
        const std::string s = value.get<std::string>();
        if (s == "infinity") return std::numeric_limits<float>::infinity();
        if (s == "-infinity") return -std::numeric_limits<float>::infinity();
    }
    Fail(where, "expected a number or \"infinity\"");
}

float OptFloat(const json& object, const char* key, float fallback, const std::string& where) {
    auto it = object.find(key);
    return it == object.end() ? fallback : Float(*it, where + "." + key);
}

int64_t Integer(const json& value, int64_t lo, int64_t hi, const std::string& where) {
    if (!value.is_number_integer()) Fail(where, "expected an integer");
    const int64_t v = value.get<int64_t>();
    if (v < lo || v > hi) Fail(where, "value " + std::to_string(v) + " out of range");
    return v;
}

// Ids are written as "0x..." strings for readability; plain integers are accepted.
uint32_t Id(const json& value, const std::string& where) {
    if (value.is_string()) {
        const std::string s = value.get<std::string>();
        if (s.size() < 3 || s.size() > 10 || s[0] != '0' || (s[1] != 'x' && s[1] != 'X'))
            Fail(where, "expected an id like \"0x1A2B3C4D\", got \"" + s + "\"");
        uint32_t id = 0;
        for (size_t i = 2; i < s.size(); ++i) {
            const char c = s[i];
            uint32_t digit;
            if (c >= '0' && c <= '9') digit = uint32_t(c - '0');
            else if (c >= 'a' && c <= 'f') digit = uint32_t(c - 'a' + 10);
            else if (c >= 'A' && c <= 'F') digit = uint32_t(c - 'A' + 10);
            else Fail(where, "bad hex digit in \"" + s + "\"");
            id = id * 16 + digit;
        }
        return id;
    }
    return static_cast<uint32_t>(Integer(value, 0, 0xFFFFFFFFll, where));
}

uint32_t Colour(const json& value, const std::string& where) {
    if (value.is_string()) {
        const std::string s = value.get<std::string>();
        if (s.size() != 7 || s[0] != '#') Fail(where, "expected a colour like \"#RRGGBB\"");
        return Id(json("0x" + s.substr(1)), where);
    }
    return static_cast<uint32_t>(Integer(value, 0, 0xFFFFFF, where));
}

json ParseText(std::string_view text, const std::string& what) {
    try {
        return json::parse(text.begin(), text.end());
    } catch (const json::parse_error& e) {
        throw std::runtime_error(what + ": " + e.what());
    }
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw std::runtime_error("cannot open " + path);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

uint8_t StateFromName(const json& value, const std::string& where) {
    static const std::map<std::string, uint8_t, std::less<>> states{
        {"vacuum", SIM_STATE_VACUUM}, {"gas", SIM_STATE_GAS}, {"liquid", SIM_STATE_LIQUID}, {"solid", SIM_STATE_SOLID}};
    if (value.is_string()) {
        auto it = states.find(value.get<std::string>());
        if (it != states.end()) return it->second;
    }
    Fail(where, "state must be one of vacuum, gas, liquid, solid");
}

uint8_t FlagFromName(const json& value, const std::string& where) {
    static const std::map<std::string, uint8_t, std::less<>> flags{{"unbreakable", SIM_ELEMENT_UNBREAKABLE},
                                                                   {"unstable", SIM_ELEMENT_UNSTABLE},
                                                                   {"noHeatExchange", SIM_ELEMENT_NO_HEAT_EXCHANGE}};
    if (value.is_string()) {
        auto it = flags.find(value.get<std::string>());
        if (it != flags.end()) return it->second;
    }
    Fail(where, "flags are unbreakable, unstable, noHeatExchange");
}

struct NameIndex {
    std::map<std::string, int, std::less<>> byName;

    int Resolve(const json& value, const std::string& where) const {
        if (!value.is_string()) Fail(where, "expected an element name");
        auto it = byName.find(value.get<std::string>());
        if (it == byName.end()) Fail(where, "no element named \"" + value.get<std::string>() + "\"");
        return it->second;
    }
};

// "low" or "high": {"temp": K, "target": name, "ore": name, "oreMassConversion": f}.
void ReadTransition(const json& t, const std::string& where, const NameIndex& names,
                    std::span<const json> all, float& temp, uint8_t& targetIndex, uint32_t& oreId,
                    float& oreConversion) {
    CheckKeys(t, where, {"temp", "target", "ore", "oreMassConversion"});
    temp = Float(Require(t, "temp", where), where + ".temp");
    if (t.contains("target")) targetIndex = static_cast<uint8_t>(names.Resolve(t["target"], where + ".target"));
    if (t.contains("ore")) {
        const int ore = names.Resolve(t["ore"], where + ".ore");
        oreId = Id(all[size_t(ore)]["id"], where + ".ore");
    }
    oreConversion = OptFloat(t, "oreMassConversion", 0.0f, where);
}

}  // namespace

std::vector<ElementDesc> ParseElementsJson(std::string_view text) {
    const json doc = ParseText(text, "elements");
    CheckKeys(doc, "elements", {"description", "elements"});
    const json& list = Require(doc, "elements", "elements");
    if (!list.is_array()) Fail("elements", "\"elements\" must be an array");
    if (list.size() >= SIM_NO_ELEMENT) Fail("elements", "at most 254 elements fit the table");
    const std::vector<json> all(list.begin(), list.end());

    // Names and ids first, so that any element may name any other.
    NameIndex names;
    std::set<uint32_t> ids;
    for (size_t i = 0; i < all.size(); ++i) {
        const std::string where = "element " + std::to_string(i);
        const json& name = Require(all[i], "name", where);
        if (!name.is_string() || name.get<std::string>().empty()) Fail(where, "name must be a non-empty string");
        if (!names.byName.emplace(name.get<std::string>(), int(i)).second)
            Fail(where, "duplicate name \"" + name.get<std::string>() + "\"");
        if (!ids.insert(Id(Require(all[i], "id", where), where + ".id")).second)
            Fail(where, "duplicate id " + all[i]["id"].dump());
    }

    std::vector<ElementDesc> elements;
    elements.reserve(all.size());
    for (size_t i = 0; i < all.size(); ++i) {
        const json& e = all[i];
        const std::string where = "element \"" + e["name"].get<std::string>() + "\"";
        CheckKeys(e, where,
                  {"name", "id", "state", "flags", "note", "specificHeatCapacity", "thermalConductivity", "weight",
                   "contactWithSolidFactor", "contactWithLiquidFactor", "contactWithGasFactor", "flow", "maxFlow",
                   "minHorizontalFlow", "minVerticalFlow", "maxMass", "strength", "low", "high", "sublimate",
                   "colour", "lightAbsorptionFactor", "defaultTemperature", "defaultMass", "reserved81",
                   "reserved104"});
        uint8_t stateFlags = StateFromName(Require(e, "state", where), where + ".state");
        if (e.contains("flags")) {
            if (!e["flags"].is_array()) Fail(where, "flags must be an array");
            for (const json& f : e["flags"]) stateFlags |= FlagFromName(f, where + ".flags");
        }
        ElementDesc d = MakeElement(e["name"].get<std::string>(), Id(e["id"], where + ".id"), stateFlags);
        ElementRecord& r = d.record;
        r.specificHeatCapacity = OptFloat(e, "specificHeatCapacity", 0.0f, where);
        r.thermalConductivity = OptFloat(e, "thermalConductivity", 0.0f, where);
        r.weight = OptFloat(e, "weight", 0.0f, where);
        r.contactWithSolidFactor = OptFloat(e, "contactWithSolidFactor", 1.0f, where);
        r.contactWithLiquidFactor = OptFloat(e, "contactWithLiquidFactor", 1.0f, where);
        r.contactWithGasFactor = OptFloat(e, "contactWithGasFactor", 1.0f, where);
        r.flow = OptFloat(e, "flow", 0.0f, where);
        r.maxFlow = OptFloat(e, "maxFlow", 0.0f, where);
        r.minHorizontalFlow = OptFloat(e, "minHorizontalFlow", 0.0f, where);
        r.minVerticalFlow = OptFloat(e, "minVerticalFlow", 0.0f, where);
        r.maxMass = OptFloat(e, "maxMass", 0.0f, where);
        r.strength = OptFloat(e, "strength", 0.0f, where);
        if (e.contains("low"))
            ReadTransition(e["low"], where + ".low", names, all, r.lowTemp, r.lowTempTransitionIndex,
                           r.lowTempTransitionOreId, r.lowTempTransitionOreMassConversion);
        if (e.contains("high"))
            ReadTransition(e["high"], where + ".high", names, all, r.highTemp, r.highTempTransitionIndex,
                           r.highTempTransitionOreId, r.highTempTransitionOreMassConversion);
        if (e.contains("sublimate")) {
            const int s = names.Resolve(e["sublimate"], where + ".sublimate");
            r.sublimateIndex = static_cast<uint8_t>(s);
            // The host hears of each sublimation by the id of what is given off.
            r.sublimateId = Id(all[size_t(s)]["id"], where + ".sublimate");
        }
        if (e.contains("colour")) r.colour = Colour(e["colour"], where + ".colour");
        r.lightAbsorptionFactor = OptFloat(e, "lightAbsorptionFactor", 0.0f, where);
        r.defaultTemperature = OptFloat(e, "defaultTemperature", 0.0f, where);
        r.defaultMass = OptFloat(e, "defaultMass", 0.0f, where);
        if (e.contains("reserved81")) r.reserved81 = uint8_t(Integer(e["reserved81"], 0, 255, where + ".reserved81"));
        if (e.contains("reserved104"))
            r.reserved104 = uint32_t(Integer(e["reserved104"], 0, 0xFFFFFFFFll, where + ".reserved104"));
        elements.push_back(std::move(d));
    }
    return elements;
}

namespace {

constexpr std::array<std::string_view, 8> kGrowthKeys{
    "underpopulationDeathRate", "populationHalfLife", "overpopulationHalfLife", "spreadRate",
    "minCountPerKg",            "maxCountPerKg",      "minSpreadCount",         "minSpreadAge"};

// Overrides the fields that `layer` names.
void ApplyGrowth(const json& layer, const std::string& where, DiseaseElementGrowth& g) {
    CheckKeys(layer, where, kGrowthKeys);
    g.underpopulationDeathRate = OptFloat(layer, "underpopulationDeathRate", g.underpopulationDeathRate, where);
    g.populationHalfLife = OptFloat(layer, "populationHalfLife", g.populationHalfLife, where);
    g.overpopulationHalfLife = OptFloat(layer, "overpopulationHalfLife", g.overpopulationHalfLife, where);
    g.spreadRate = OptFloat(layer, "spreadRate", g.spreadRate, where);
    g.minCountPerKg = OptFloat(layer, "minCountPerKg", g.minCountPerKg, where);
    g.maxCountPerKg = OptFloat(layer, "maxCountPerKg", g.maxCountPerKg, where);
    if (layer.contains("minSpreadCount"))
        g.minSpreadCount = int32_t(Integer(layer["minSpreadCount"], INT32_MIN, INT32_MAX, where + ".minSpreadCount"));
    if (layer.contains("minSpreadAge"))
        g.minSpreadAge = uint8_t(Integer(layer["minSpreadAge"], 0, 255, where + ".minSpreadAge"));
}

template <size_t N>
void FloatArray(const json& value, const std::string& where, float (&out)[N]) {
    if (!value.is_array() || value.size() != N) Fail(where, "expected " + std::to_string(N) + " numbers");
    for (size_t i = 0; i < N; ++i) out[i] = Float(value[i], where + "[" + std::to_string(i) + "]");
}

}  // namespace

std::vector<DiseaseDesc> ParseDiseasesJson(std::string_view text, std::span<const ElementDesc> elements) {
    const json doc = ParseText(text, "diseases");
    CheckKeys(doc, "diseases", {"description", "diseases"});
    const json& list = Require(doc, "diseases", "diseases");
    if (!list.is_array()) Fail("diseases", "\"diseases\" must be an array");
    if (list.size() >= SIM_NO_DISEASE) Fail("diseases", "at most 254 diseases fit the table");

    std::vector<DiseaseDesc> diseases;
    std::set<std::string> names;
    std::set<uint32_t> ids;
    for (size_t i = 0; i < list.size(); ++i) {
        const json& d = list[i];
        std::string where = "disease " + std::to_string(i);
        const json& name = Require(d, "name", where);
        if (!name.is_string() || name.get<std::string>().empty()) Fail(where, "name must be a non-empty string");
        where = "disease \"" + name.get<std::string>() + "\"";
        CheckKeys(d, where,
                  {"name", "id", "note", "competitionWeight", "temperatureThresholds", "temperatureHalfLives",
                   "reservedParams", "growth"});
        if (!names.insert(name.get<std::string>()).second) Fail(where, "duplicate name");

        DiseaseDesc out;
        out.name = name.get<std::string>();
        DiseaseRecordHeader& h = out.header;
        h.id = Id(Require(d, "id", where), where + ".id");
        // Saves store id 0 for "no disease".
        if (h.id == 0) Fail(where, "id 0 is reserved for no disease");
        if (!ids.insert(h.id).second) Fail(where, "duplicate id");
        h.competitionWeight = Float(Require(d, "competitionWeight", where), where + ".competitionWeight");
        FloatArray(Require(d, "temperatureThresholds", where), where + ".temperatureThresholds",
                   h.temperatureThresholds);
        for (int k = 1; k < 4; ++k)
            if (!(h.temperatureThresholds[k - 1] <= h.temperatureThresholds[k]))
                Fail(where, "temperatureThresholds must ascend");
        FloatArray(Require(d, "temperatureHalfLives", where), where + ".temperatureHalfLives",
                   h.temperatureHalfLives);
        if (d.contains("reservedParams")) FloatArray(d["reservedParams"], where + ".reservedParams", h.reservedParams);

        const json& growth = Require(d, "growth", where);
        const std::string gw = where + ".growth";
        CheckKeys(growth, gw, {"default", "vacuum", "gas", "liquid", "solid", "elements"});
        // The default layer must be complete: it is what every element starts from.
        const json& base = Require(growth, "default", gw);
        for (std::string_view key : kGrowthKeys)
            if (!base.contains(key)) Fail(gw + ".default", "missing \"" + std::string(key) + "\"");
        DiseaseElementGrowth defaults{};
        ApplyGrowth(base, gw + ".default", defaults);

        const json noOverrides = json::object();
        const json& byName = growth.contains("elements") ? growth["elements"] : noOverrides;
        if (!byName.is_object()) Fail(gw + ".elements", "expected an object keyed by element name");
        for (auto it = byName.begin(); it != byName.end(); ++it)
            if (FindElement(elements, it.key()) < 0) Fail(gw + ".elements", "no element named \"" + it.key() + "\"");

        static const char* const kStateNames[4] = {"vacuum", "gas", "liquid", "solid"};
        out.growth.reserve(elements.size());
        for (const ElementDesc& e : elements) {
            DiseaseElementGrowth g = defaults;
            const char* state = kStateNames[e.state()];
            if (growth.contains(state)) ApplyGrowth(growth[state], gw + "." + state, g);
            if (byName.contains(e.name)) ApplyGrowth(byName[e.name], gw + ".elements." + e.name, g);
            out.growth.push_back(g);
        }
        diseases.push_back(std::move(out));
    }
    return diseases;
}

std::vector<ElementDesc> LoadElementsJson(const std::string& path) {
    try {
        return ParseElementsJson(ReadFile(path));
    } catch (const std::runtime_error& e) {
        throw std::runtime_error(path + ": " + e.what());
    }
}

std::vector<DiseaseDesc> LoadDiseasesJson(const std::string& path, std::span<const ElementDesc> elements) {
    try {
        return ParseDiseasesJson(ReadFile(path), elements);
    } catch (const std::runtime_error& e) {
        throw std::runtime_error(path + ": " + e.what());
    }
}

std::string ResolveDataDir(std::string_view builtIn) {
    namespace fs = std::filesystem;
    if (const char* dir = std::getenv("TESSELSIM_DATA_DIR"); dir != nullptr && *dir != '\0') return dir;
    // An installed program (bin/) finds the data of its own prefix, wherever
    // the prefix was moved.
    std::error_code error;
    const fs::path exe = fs::read_symlink("/proc/self/exe", error);
    if (!error) {
        const fs::path beside = exe.parent_path().parent_path() / "share" / "tesselsim";
        if (fs::is_regular_file(beside / "elements.json", error)) return beside.string();
    }
    return fs::path(builtIn).lexically_normal().string();
}

SampleTables LoadSampleTablesFrom(const std::string& dir) {
    SampleTables tables;
    tables.elements = LoadElementsJson(dir + "/elements.json");
    tables.diseases = LoadDiseasesJson(dir + "/diseases.json", tables.elements);
    return tables;
}

}  // namespace tshost
