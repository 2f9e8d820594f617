// registry.reg, the REGEDIT4 file a person may edit: whatever it says, what the registry accepts
// it keeps, every value of it, and writes back so that it reads again the same.
#include <strings.h>

#include <string>
#include <vector>

#include "fuzz_check.h"
#include "sim/registry.h"

namespace {

using fuzz::require;

bool sameValue(const sim::RegValue& a, const sim::RegValue& b) {
    return a.name == b.name && a.type == b.type && a.data == b.data;
}

bool sameKeys(const std::vector<sim::RegFileKey>& a, const std::vector<sim::RegFileKey>& b) {
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (a[i].path != b[i].path || a[i].values.size() != b[i].values.size())
            return false;
        for (size_t v = 0; v < a[i].values.size(); ++v)
            if (!sameValue(a[i].values[v], b[i].values[v]))
                return false;
    }
    return true;
}

const sim::RegFileKey* keyNamed(const std::vector<sim::RegFileKey>& keys, const std::string& path) {
    for (const sim::RegFileKey& key : keys)
        if (strcasecmp(key.path.c_str(), path.c_str()) == 0)
            return &key;
    return nullptr;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string text(reinterpret_cast<const char*>(data), size);
    std::vector<sim::RegFileKey> keys;
    std::string error;
    if (!sim::parseRegFile(text, "registry.reg", &keys, &error)) {
        require(error.compare(0, 13, "registry.reg:") == 0, "a refusal names the file and line");
        return 0;
    }
    std::string written = sim::formatRegFile(keys);
    std::vector<sim::RegFileKey> again;
    require(sim::parseRegFile(written, "registry.reg", &again, &error),
            "a written file reads back");
    require(sameKeys(keys, again), "a written file reads back unchanged");

    // Through the store: every value lands on its key and is written out again.
    require(sim::registry().parseText(text, "registry.reg", &error),
            "the store takes what the parser accepts");
    std::vector<sim::RegFileKey> stored;
    require(sim::parseRegFile(sim::registry().toText(), "registry.reg", &stored, &error),
            "the store's file reads back");
    for (const sim::RegFileKey& key : keys) {
        if (key.path.find('\\') == std::string::npos)
            continue; // a root: always there, and holds no values
        const sim::RegFileKey* kept = keyNamed(stored, key.path);
        require(kept != nullptr, "every key of the file is kept");
        for (const sim::RegValue& value : key.values) {
            bool found = false;
            for (const sim::RegValue& other : kept->values)
                found = found || sameValue(value, other);
            require(found, "every value of the file is kept");
        }
    }
    return 0;
}
