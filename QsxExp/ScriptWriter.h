// The one indented line writer behind every output file: the open file, the
// indentation, and a sticky failure flag that the first failed write sets.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "QsxExp/FileSink.h"

namespace qsx {

class ScriptWriter {
public:
    explicit ScriptWriter(FileSystem* fs = nullptr) : fs_(fs ? fs : &DiskFileSystem()) {}

    void SetFileSystem(FileSystem* fs) { fs_ = fs ? fs : &DiskFileSystem(); }
    FileSystem& Files() { return *fs_; }

    // Opens path as outFile; false (and errorText set) when it does not open.
    bool Open(const std::string& path);
    // Closes outFile; a failed flush or close sets failed.
    void Close();
    bool IsOpen() const { return outFile != nullptr; }

    // indent spaces, the text, CR LF. Answers 1 while failed is clear.
    int WriteLine(std::string_view text);

    // The same line built in place, without a copy of its text: BeginLine
    // answers where the text goes, after the indentation, with room for at
    // least `room` chars; EndLine(end) writes the line whose text ends at end.
    // Nothing else may write through this writer in between.
    char* BeginLine(size_t room);
    int EndLine(char* end);

    // Opening and closing lines of a script file; wrapper adds the untagged
    // clump that holds several top-level nodes.
    int BeginModel(bool wrapper);
    int EndModel(bool wrapper);

    // Records why the first failure happened (for the report to the host).
    void Fail(const std::string& why);

    std::unique_ptr<OutputFile> outFile;
    int indent = 0;
    int failed = 0;
    std::string errorText;  // cause of the first failure since the last reset

private:
    FileSystem* fs_;
    std::string line_;       // the line being built; grows, never shrinks
    size_t spaces_ = 0;      // leading chars of line_ known to be blanks
    size_t lineIndent_ = 0;  // indentation of the line being built
};

}  // namespace qsx
