#include "qsxhost/sources/assimp/ImportMemory.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>

namespace qsxhost {
namespace {

// What any intact file gets, however small: the importers' fixed costs and
// the scene built from it stay well below.
constexpr uint64_t kFloor = 1'000'000'000;
// Per byte read: text formats expand a few times over, compressed ones
// (zipped archives, deflated arrays) tens of times.
constexpr uint64_t kPerByteRead = 64;

uint64_t HalfOfTheMachine() {
    const long pages = sysconf(_SC_PHYS_PAGES);
    const long size = sysconf(_SC_PAGESIZE);
    if (pages <= 0 || size <= 0) return INT64_MAX;
    return static_cast<uint64_t>(pages) / 2 * static_cast<uint64_t>(size);
}

std::string Amount(uint64_t bytes) {
    if (bytes < 1'000'000) return std::to_string(bytes) + (bytes == 1 ? " byte" : " bytes");
    char text[32];
    const bool giga = bytes >= 1'000'000'000;
    std::snprintf(text, sizeof text, "%.1f %s", static_cast<double>(bytes) / (giga ? 1e9 : 1e6), giga ? "GB" : "MB");
    return text;
}

}  // namespace

constinit thread_local ImportMemoryAccount tImportMemory;

ImportMemoryBound::ImportMemoryBound() : most_(HalfOfTheMachine()) {
    tImportMemory = {true, false, 0, static_cast<int64_t>(std::min(kFloor, most_))};
}

ImportMemoryBound::~ImportMemoryBound() { tImportMemory.counting = false; }

void ImportMemoryBound::Reads(uint64_t bytes) {
    read_ += bytes;
    const uint64_t wanted = read_ > UINT64_MAX / kPerByteRead ? UINT64_MAX : std::max(kFloor, read_ * kPerByteRead);
    tImportMemory.limit = static_cast<int64_t>(std::min({wanted, most_, static_cast<uint64_t>(INT64_MAX)}));
}

std::string ImportMemoryBound::Refusal() const {
    const auto limit = static_cast<uint64_t>(tImportMemory.limit);
    std::string why = "importing it would need more than " + Amount(limit) + " of memory, ";
    if (limit >= most_) return why + "half of what this machine has";
    return why + "which no intact file of " + Amount(read_) + " needs: it is damaged";
}

}  // namespace qsxhost
