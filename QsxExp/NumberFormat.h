#pragma once
namespace qsx {
char* AppendFixed6(char* out, double value);
char* AppendG4(char* out, double value);
char* AppendInt(char* out, long value);
inline constexpr int kMaxFixed6 = 330;
inline constexpr int kMaxG4 = 16;
}  // namespace qsx
