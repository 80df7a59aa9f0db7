#include "QsxExp/ScriptWriter.h"

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
    // One write per line: the indentation, the text and CR LF on every platform.
    line_.assign(static_cast<size_t>(indent > 0 ? indent : 0), ' ');
    line_.append(text);
    line_.append("\r\n", 2);
    if (!outFile) {
        Fail("no file is open");
    } else if (!outFile->Write(line_.data(), line_.size())) {
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
