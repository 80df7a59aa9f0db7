// What a settings store can tell of a key beyond the values it gives the
// exporter: the lines it could not read and names the exporter never asks
// for, so that the command can say what became of them.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace qsxhost {

struct KeyContents {
    bool read = false;      // there were stored settings, and they were read
    bool keyFound = false;  // the key asked for is among them
    bool text = true;       // false: they are not text in any encoding read here
    std::string otherKey;   // when the key is not found, one the store does hold ("" for none)
    struct Line {
        std::string_view name;
        std::string_view data;  // as written after '='
        bool readable = false;
        // Lines of one name, whatever its spelling, share this number; names
        // are numbered 0, 1, ... in the order they first come.
        uint32_t nameNumber = 0;
    };
    std::vector<Line> lines;  // the key's named values, in the order stored
    // What the lines' texts are views into: a key of millions of values is
    // listed without a copy of each.
    std::shared_ptr<const void> source;
};

// A store that can list a key's contents. Stores that cannot (the registry
// itself) give their values only.
class DescribedStore {
public:
    virtual KeyContents Contents(const char* key) const = 0;

protected:
    ~DescribedStore() = default;
};

}  // namespace qsxhost
