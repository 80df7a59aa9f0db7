// glTF documents written by tests: a buffer of their own numbers (floats
// that JSON cannot spell, such as infinities, included) embedded as a
// base64 data: URI.
#pragma once

#include <cstdint>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

namespace gltf {

inline std::string Base64(const std::string& in) {
    static const char* abc = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    size_t i = 0;
    for (; i + 2 < in.size(); i += 3) {
        const uint32_t v = uint8_t(in[i]) << 16 | uint8_t(in[i + 1]) << 8 | uint8_t(in[i + 2]);
        for (int s = 18; s >= 0; s -= 6) out += abc[(v >> s) & 63];
    }
    if (i + 1 == in.size()) {
        const uint32_t v = uint8_t(in[i]) << 16;
        out += std::string{abc[v >> 18], abc[(v >> 12) & 63]} + "==";
    } else if (i + 2 == in.size()) {
        const uint32_t v = uint8_t(in[i]) << 16 | uint8_t(in[i + 1]) << 8;
        out += std::string{abc[v >> 18], abc[(v >> 12) & 63], abc[(v >> 6) & 63]} + "=";
    }
    return out;
}

// A glTF document with one buffer embedded as a data: URI.
struct Gltf {
    std::string bin;
    std::vector<std::string> accessors;

    int Add(const void* data, size_t bytes, int componentType, const char* type, size_t count) {
        const size_t offset = bin.size();
        bin.append(static_cast<const char*>(data), bytes);
        while (bin.size() % 4) bin += '\0';
        std::ostringstream a;
        a << R"({"bufferView":)" << accessors.size() << R"(,"byteOffset":0,"componentType":)" << componentType
          << R"(,"count":)" << count << R"(,"type":")" << type << '"';
        // Positions and key times must state bounds; wide ones do.
        if (componentType == 5126 && std::strcmp(type, "VEC3") == 0)
            a << R"(,"min":[-1e9,-1e9,-1e9],"max":[1e9,1e9,1e9])";
        if (componentType == 5126 && std::strcmp(type, "SCALAR") == 0) a << R"(,"min":[-1e9],"max":[1e9])";
        a << "}";
        accessors.push_back(a.str());
        views_.push_back(R"({"buffer":0,"byteOffset":)" + std::to_string(offset) + R"(,"byteLength":)" +
                         std::to_string(bytes) + "}");
        return static_cast<int>(accessors.size()) - 1;
    }
    int Floats(const std::vector<float>& v, const char* type, size_t width) {
        return Add(v.data(), v.size() * 4, 5126, type, v.size() / width);
    }
    int Indices(const std::vector<uint16_t>& v) { return Add(v.data(), v.size() * 2, 5123, "SCALAR", v.size()); }

    // `rest`: the scene members (scenes, nodes, meshes, ...), without braces.
    std::string Json(const std::string& rest) const {
        std::string j = R"({"asset":{"version":"2.0"},"scene":0,)" + rest + R"(,"buffers":[{"byteLength":)" +
                        std::to_string(bin.size()) + R"(,"uri":"data:application/octet-stream;base64,)" +
                        Base64(bin) + R"("}],"bufferViews":[)";
        for (size_t i = 0; i < views_.size(); ++i) j += (i ? "," : "") + views_[i];
        j += R"(],"accessors":[)";
        for (size_t i = 0; i < accessors.size(); ++i) j += (i ? "," : "") + accessors[i];
        return j + "]}";
    }

private:
    std::vector<std::string> views_;
};

}  // namespace gltf
