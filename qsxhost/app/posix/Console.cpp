// A terminal takes the command's UTF-8 as any file does.
#include <cstdio>

#include "qsxhost/app/Messages.h"

namespace qsxhost {

bool WriteText(std::FILE* stream, std::string_view text) {
    return std::fwrite(text.data(), 1, text.size(), stream) == text.size();
}

}  // namespace qsxhost
