#include "QsxExp/ScriptWriter.h"

#include <cstring>
#include <exception>

namespace qsx {

bool ScriptWriter::Open(const std::string& path) {
    std::string error;
    pos_ = limit_ = nullptr;
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
    PutWindow();
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

int ScriptWriter::WriteLines(std::string_view lines) {
    char* p = static_cast<size_t>(limit_ - pos_) >= lines.size() ? pos_ : MakeRoom(lines.size());
    if (!lines.empty()) std::memcpy(p, lines.data(), lines.size());
    if (lineTo_ == LineTo::kFile) {
        pos_ = p + lines.size();
        return failed ? 0 : 1;
    }
    return EndOwnLine(p + lines.size());
}

char* ScriptWriter::MakeRoom(size_t need) {
    lineTo_ = LineTo::kWrite;
    if (outFile) {
        PutWindow();
        OutputFile::Window window;
        if (!outFile->Room(need, &window)) {
            // The bytes put before did not reach the file: this line fails as
            // its write would have, and goes nowhere.
            WriteFailed();
            lineTo_ = LineTo::kNowhere;
        } else if (window.begin && static_cast<size_t>(window.end - window.begin) >= need) {
            pos_ = window.begin;
            limit_ = window.end;
            lineTo_ = LineTo::kFile;
            return pos_;
        }
    }
    if (line_.size() < need) line_.resize(need < 2 * line_.size() ? 2 * line_.size() : need);
    return line_.data();
}

void ScriptWriter::PutWindow() {
    if (limit_ && outFile) outFile->Put(pos_);
    pos_ = limit_ = nullptr;
}

int ScriptWriter::EndOwnLine(char* end) {
    const auto size = static_cast<size_t>(end - line_.data());
    if (lineTo_ == LineTo::kWrite && (!outFile || !outFile->Write(line_.data(), size))) WriteFailed();
    return failed ? 0 : 1;
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
