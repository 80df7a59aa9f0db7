#include "QsxExp/ScriptWriter.h"

#include <cstring>

namespace qsx {

bool ScriptWriter::Open(const std::string& path) {
    std::string error;
    outFile = fs_->Open(path, &error);
    if (!outFile) {
        errorText = error;
        return false;
    }
    return true;
}

void ScriptWriter::Close() {
    if (!outFile) return;
    if (!outFile->Close()) Fail(outFile->Error());
    outFile.reset();
}

void ScriptWriter::Fail(const std::string& why) {
    if (!failed) errorText = why;
    failed = 1;
}

int ScriptWriter::WriteLine(std::string_view text) {
    char* p = BeginLine(text.size());
    if (!text.empty()) std::memcpy(p, text.data(), text.size());
    return EndLine(p + text.size());
}

char* ScriptWriter::BeginLine(size_t room) {
    // The blanks of the indentation stay in the buffer from line to line; only
    // a deeper indentation than any text has left alone needs new ones.
    const size_t ind = static_cast<size_t>(indent > 0 ? indent : 0);
    const size_t need = ind + room + 2;
    if (line_.size() < need) line_.resize(need < 2 * line_.size() ? 2 * line_.size() : need);
    if (spaces_ < ind) {
        std::memset(line_.data() + spaces_, ' ', ind - spaces_);
        spaces_ = ind;
    }
    lineIndent_ = ind;
    return line_.data() + ind;
}

int ScriptWriter::EndLine(char* end) {
    // One write per line: the indentation, the text and CR LF on every platform.
    end[0] = '\r';
    end[1] = '\n';
    const size_t size = static_cast<size_t>(end + 2 - line_.data());
    spaces_ = lineIndent_;  // the text overwrote whatever stood after the indentation
    if (!outFile) {
        Fail("no file is open");
    } else if (!outFile->Write(line_.data(), size)) {
        Fail(outFile->Error());
    }
    return failed ? 0 : 1;
}

int ScriptWriter::BeginModel(bool wrapper) {
    WriteLine("# Output from 3DSMax Quorvantis File Export plug-in V1.0");
    WriteLine("ModelBegin");
    indent += 4;
    if (wrapper) {
        WriteLine("ClumpBegin");
        indent += 4;
    }
    return failed ? 0 : 1;
}

int ScriptWriter::EndModel(bool wrapper) {
    if (wrapper) {
        indent -= 4;
        WriteLine("ClumpEnd");
    }
    indent -= 4;
    WriteLine("ModelEnd");
    return failed ? 0 : 1;
}

}  // namespace qsx
