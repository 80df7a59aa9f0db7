// The one indented line writer behind every output file: the open file, the
// blocks begun and not yet ended (which give the indentation), and a sticky
// failure flag that the first failed write sets.
#pragma once

#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "QsxExp/FileSink.h"

namespace qsx {

class ScriptWriter {
public:
    explicit ScriptWriter(FileSystem* fs = nullptr) : fs_(fs ? fs : &DiskFileSystem()) {}

    void SetFileSystem(FileSystem* fs) { fs_ = fs ? fs : &DiskFileSystem(); }
    FileSystem& Files() { return *fs_; }

    // Opens path as outFile; false (and errorText set) when it does not open.
    // Nothing is at path until Close publishes the file.
    bool Open(const std::string& path);
    // Finishes outFile: while failed is clear it is published whole in place
    // of whatever was at its path (a failure to do so sets failed); once
    // failed, it is dropped and that earlier file stays as it was. Blocks
    // still open are dropped unwritten: the next file starts in the first column.
    void Close();
    // Clears the failure, its cause and any open block, for a pass of its own.
    void Reset();

    // The indentation, the text, CR LF. Answers 1 while failed is clear.
    int WriteLine(std::string_view text);
    // Whole lines as they go into the file, each with its indentation and
    // CR LF already in it. Answers 1 while failed is clear.
    int WriteLines(std::string_view lines);
    // The indentation of a line written now.
    size_t Indent() const { return kIndentStep * closers_.size(); }

    // The same line built in place, without a copy of its text: BeginLine
    // answers where the text goes, after the indentation, with room for at
    // least `room` chars; EndLine(end) writes the line whose text ends at end.
    // Nothing else may write through this writer in between. The line is
    // built where it goes in the file's own buffer when the file offers one,
    // else here and handed to the file's Write.
    char* BeginLine(size_t room) {
        const size_t ind = kIndentStep * closers_.size();
        // The blanks go in as one fixed-size store where they fit it: the slack asked for covers it.
        const size_t need = ind + room + 2 + kBlankRun;
        char* p = static_cast<size_t>(limit_ - pos_) >= need ? pos_ : MakeRoom(need);
        if (ind <= kBlankRun) [[likely]] {
            std::memcpy(p, kBlanks, kBlankRun);
        } else {
            std::memset(p, ' ', ind);
        }
        return p + ind;
    }
    int EndLine(char* end) {
        // The indentation, the text and CR LF on every platform.
        end[0] = '\r';
        end[1] = '\n';
        if (lineTo_ == LineTo::kFile) [[likely]] {
            pos_ = end + 2;
            return failed ? 0 : 1;
        }
        return EndOwnLine(end + 2);
    }

    // A block: the line `open`, the lines after it four blanks further in, and
    // when it ends the line `close` back at the level of `open`. close is
    // kept until then, so it is a literal. Both answer 1 while failed is clear.
    int BeginBlock(std::string_view open, const char* close);
    int EndBlock();
    size_t Depth() const { return closers_.size(); }
    // Ends blocks, innermost first, until `depth` of them are left.
    void EndBlocks(size_t depth);

    // Ends, at the latest when it goes, every block begun after it was made,
    // so that blocks close in order on every way out of the code that began
    // them. While an exception unwinds nothing is written: the export has
    // stopped and the file is not finished.
    class Scope {
    public:
        explicit Scope(ScriptWriter& w);
        Scope(const Scope&) = delete;
        Scope& operator=(const Scope&) = delete;
        ~Scope();
        // Ends them now.
        void End() { w_.EndBlocks(depth_); }

    private:
        ScriptWriter& w_;
        size_t depth_;
        int exceptions_;
    };

    // The opening lines of a script file and its model block; wrapper adds the
    // untagged clump that holds several top-level nodes. EndModel ends the
    // model block and whatever is still open inside it.
    int BeginModel(bool wrapper);
    int EndModel();

    // Records why the first failure happened (for the report to the host).
    void Fail(const std::string& why);

    std::unique_ptr<OutputFile> outFile;
    int failed = 0;
    std::string errorText;  // cause of the first failure since the last reset

private:
    static constexpr size_t kIndentStep = 4;
    static constexpr size_t kBlankRun = 32;
    static constexpr char kBlanks[kBlankRun + 1] = "                                ";
    // Where the line being built goes: into the file's window, into line_
    // for the file's Write, or nowhere (making room in the file failed).
    enum class LineTo : unsigned char { kFile, kWrite, kNowhere };
    // A place for a line of `need` chars: a window of the file, else line_.
    char* MakeRoom(size_t need);
    int EndOwnLine(char* end);
    // Hands the file what has been put in its window.
    void PutWindow();
    void WriteFailed();

    FileSystem* fs_;
    std::vector<const char*> closers_;  // closing lines of the open blocks, outermost first
    std::string line_;                  // a line for Write; grows, never shrinks
    char* pos_ = nullptr;               // the file's window: where the next line goes
    char* limit_ = nullptr;             // and where the window ends
    LineTo lineTo_ = LineTo::kWrite;
};

}  // namespace qsx
