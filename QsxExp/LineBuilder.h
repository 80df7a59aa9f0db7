// A script line built in place in the writer's line buffer: the parts are
// formatted straight where they go, and End writes the line.
#pragma once

#include <cmath>
#include <cstddef>
#include <cstring>
#include <string_view>

#include "QsxExp/NumberFormat.h"
#include "QsxExp/ScriptWriter.h"

namespace qsx {

// Room a line needs for its parts; the writer's buffer is made at least that large.
inline constexpr size_t kRoomFixed = 1 + kMaxFixed6;  // " " and "% 4.6f"
inline constexpr size_t kRoomG = 1 + kMaxG4;          // " " and "%4g"
inline constexpr size_t kRoomInt = 24;                // "%ld", a blank before it included

// Why a file with an infinite or NaN number in it is failed rather than written.
inline constexpr const char* kNotFiniteReason = "a number to be written is not finite (inf or nan)";

class Line {
public:
    Line(ScriptWriter& w, size_t room) : w_(w), p_(w.BeginLine(room)) {}
    Line& Text(std::string_view s) {
        if (!s.empty()) std::memcpy(p_, s.data(), s.size());
        p_ += s.size();
        return *this;
    }
    // A name as the host gives it, except for control bytes: a line break
    // would end the line in the middle of the name, and no reader of a
    // script expects any other (an escape sequence, a NUL); each is a blank.
    Line& Name(std::string_view s) {
        for (char c : s) *p_++ = IsControl(c) ? ' ' : c;
        return *this;
    }
    static constexpr bool IsControl(char c) {
        return static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) == 0x7F;
    }
    Line& Char(char c) {
        *p_++ = c;
        return *this;
    }
    Line& Fixed(double v) {
        finite_ &= std::isfinite(v);
        *p_++ = ' ';
        p_ = AppendFixed6(p_, v);
        return *this;
    }
    Line& G(double v) {
        finite_ &= std::isfinite(v);
        *p_++ = ' ';
        p_ = AppendG4(p_, v);
        return *this;
    }
    // Fixed of each of a run of numbers, in one call.
    template <size_t N>
    Line& Fixed(const float (&v)[N]) {
        for (const float x : v) finite_ &= std::isfinite(x);
        p_ = AppendFixed6List(p_, v, N);
        return *this;
    }
    // " " and Int of each.
    template <size_t N>
    Line& Ints(const long (&v)[N]) {
        p_ = AppendIntList(p_, v, N);
        return *this;
    }
    Line& Int(long v) {
        p_ = AppendInt(p_, v);
        return *this;
    }
    char* Pos() const { return p_; }
    // A number that is not finite fails the file: no reader of the script
    // takes "inf" or "nan", so the file is dropped instead of published. The
    // numbers are only gathered up to here, so that a line costs one test.
    int End() {
        if (!finite_) [[unlikely]]
            w_.Fail(kNotFiniteReason);
        return w_.EndLine(p_);
    }

private:
    ScriptWriter& w_;
    char* p_;
    bool finite_ = true;
};

}  // namespace qsx
