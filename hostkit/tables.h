// Element and disease tables as a host describes them, the exact payloads of
// LoadElementTable and LoadDiseaseTable, and the loaders of the JSON tables in
// data/.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "tesselsim/tesselsim.h"

namespace tshost {

// One element: its name and its wire record. The record is kept exactly as the
// library receives it, so transition targets and the sublimate are indexes
// into the table this element is part of, and the two ores are element ids.
struct ElementDesc {
    std::string name;
    ElementRecord record{};

    uint8_t state() const { return record.stateFlags & SIM_STATE_MASK; }
};

// An element with every reference set to "none" (transition and sublimate
// indexes 255, ores the vacuum id), no transitions (lowTemp 0, highTemp
// SIM_MAX_TEMPERATURE) and every other field 0. A record left zero-filled would
// instead name element 0 as its transition targets.
ElementDesc MakeElement(std::string name, uint32_t id, uint8_t stateFlags);

// One disease: its name, its fixed fields, and one growth entry per element of
// the element table, in element-index order.
struct DiseaseDesc {
    std::string name;
    DiseaseRecordHeader header{};
    std::vector<DiseaseElementGrowth> growth;
};

// LoadElementTable payload: i32 count, the records, then each name as an i32
// length and its bytes. Writes whatever count it is given (refusing a table of
// 255 or more is the library's business).
std::string ElementTablePayload(std::span<const ElementDesc> elements);

// LoadDiseaseTable payload: i32 disease count, i32 growthCount, then per
// disease its name, header and growth entries. Throws std::invalid_argument
// when a disease does not hold exactly growthCount growth entries.
std::string DiseaseTablePayload(std::span<const DiseaseDesc> diseases, int32_t growthCount);

// Index of the element or disease with that name (exact match), -1 when absent.
int FindElement(std::span<const ElementDesc> elements, std::string_view name);
int FindElementById(std::span<const ElementDesc> elements, uint32_t id);
int FindDisease(std::span<const DiseaseDesc> diseases, std::string_view name);

// As FindElement, but throws std::out_of_range when absent: for code that
// needs an element the sample table is known to hold.
uint8_t ElementIndex(std::span<const ElementDesc> elements, std::string_view name);
uint8_t DiseaseIndex(std::span<const DiseaseDesc> diseases, std::string_view name);

// ---- JSON tables ---------------------------------------------------------------
//
// elements.json: {"description": ..., "elements": [ {...}, ... ]}, one object per
// element in table order. Other elements are named, never numbered: the loader
// resolves "low"/"high" targets and "sublimate" to indexes and the ores to ids.
// diseases.json: {"description": ..., "diseases": [ {...}, ... ]}; growth is given
// as defaults, overridden per element state and then per element name, so that
// every element of the table gets an entry. Both loaders reject unknown keys,
// unknown element names, duplicate names or ids, and throw std::runtime_error
// with a message naming the offending entry.

std::vector<ElementDesc> ParseElementsJson(std::string_view text);
std::vector<DiseaseDesc> ParseDiseasesJson(std::string_view text, std::span<const ElementDesc> elements);
std::vector<ElementDesc> LoadElementsJson(const std::string& path);
std::vector<DiseaseDesc> LoadDiseasesJson(const std::string& path, std::span<const ElementDesc> elements);

// ---- Sample data ----------------------------------------------------------------
//
// The sample tables (elements.json, diseases.json) live in data/ of the source
// tree and in share/tesselsim/ of an installed package. The build that uses the
// host kit names the directory in TESSELSIM_DATA_DIR (the CMake targets and the
// pkg-config file define it); at run time the environment variable
// TESSELSIM_DATA_DIR overrides it, and a program installed in PREFIX/bin uses
// PREFIX/share/tesselsim.
#ifndef TESSELSIM_DATA_DIR
#define TESSELSIM_DATA_DIR "."
#endif

struct SampleTables {
    std::vector<ElementDesc> elements;
    std::vector<DiseaseDesc> diseases;
};

// The data directory by the rules above, `builtIn` being the build's choice.
std::string ResolveDataDir(std::string_view builtIn);
SampleTables LoadSampleTablesFrom(const std::string& dir);

inline std::string DataDir() { return ResolveDataDir(TESSELSIM_DATA_DIR); }
// Absolute path of a file in the sample data directory.
inline std::string DataPath(std::string_view file) { return DataDir() + "/" + std::string(file); }
// The sample tables (elements.json and diseases.json).
inline SampleTables LoadSampleTables() { return LoadSampleTablesFrom(DataDir()); }

}  // namespace tshost
