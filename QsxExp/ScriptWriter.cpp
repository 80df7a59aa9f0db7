#include "QsxExp/ScriptWriter.h"

#include <cstring>
#include <exception>

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
    closers_.clear();
    if (!outFile) return;
    if (failed) {
        outFile->Discard();
    } else if (!outFile->Commit()) {
        Fail(outFile->Error());
    }
    outFile.reset();
}

void ScriptWriter::Reset() {
    failed = 0;
    errorText.clear();
    closers_.clear();
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

void ScriptWriter::MakeRoom(size_t indent, size_t room) {
    const size_t need = indent + room + 2;
    if (line_.size() < need) line_.resize(need < 2 * line_.size() ? 2 * line_.size() : need);
    if (spaces_ < indent) {
        std::memset(line_.data() + spaces_, ' ', indent - spaces_);
        spaces_ = indent;
    }
}

void ScriptWriter::WriteFailed() { Fail(outFile ? outFile->Error() : std::string("no file is open")); }

int ScriptWriter::BeginBlock(std::string_view open, const char* close) {
    WriteLine(open);
    closers_.push_back(close);
    return failed ? 0 : 1;
}

int ScriptWriter::EndBlock() {
    if (closers_.empty()) return failed ? 0 : 1;
    const char* close = closers_.back();
    closers_.pop_back();
    return WriteLine(close);
}

void ScriptWriter::EndBlocks(size_t depth) {
    while (closers_.size() > depth) EndBlock();
}

ScriptWriter::Scope::Scope(ScriptWriter& w) : w_(w), depth_(w.Depth()), exceptions_(std::uncaught_exceptions()) {}

ScriptWriter::Scope::~Scope() {
    if (std::uncaught_exceptions() == exceptions_) {
        // A destructor may not throw: what would have stopped the export fails the file.
        try {
            End();
        } catch (const std::exception& e) {
            w_.Fail(std::string("export stopped: ") + e.what());
        } catch (...) {
            w_.Fail("export stopped by an unexpected error");
        }
    }
    if (w_.closers_.size() > depth_) w_.closers_.resize(depth_);
}

int ScriptWriter::BeginModel(bool wrapper) {
    WriteLine("# Output from 3DSMax Quorvantis File Export plug-in V1.0");
    BeginBlock("ModelBegin", "ModelEnd");
    if (wrapper) BeginBlock("ClumpBegin", "ClumpEnd");
    return failed ? 0 : 1;
}

int ScriptWriter::EndModel() {
    EndBlocks(0);
    return failed ? 0 : 1;
}

}  // namespace qsx
