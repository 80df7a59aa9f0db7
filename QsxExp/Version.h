// The library's version record, readable by a host without loading resources.
#pragma once

namespace qsx {

struct VersionEntry {
    const char* key;
    const char* value;
};

// file version 1.0.0.0, product version 2.1.0.0 and the string table.
extern const VersionEntry kVersionRecord[];
extern const int kVersionRecordSize;

}  // namespace qsx
