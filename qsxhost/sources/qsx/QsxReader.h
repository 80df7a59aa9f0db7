// Readers of the three files an export writes, exactly in the language the
// exporter writes them (CR LF line ends, 4 blanks of indentation per open
// block, numbers in the printf forms "% 4.6f", "%4g" and "%d"). Each reads
// on past a problem where it can and records every problem at its line.
#pragma once

#include <string>
#include <string_view>

#include "qsxhost/sources/qsx/QsxModel.h"
#include "util/Files.h"

namespace qsxhost::script {

// A script (.QSX): its structure, statements, numbers, triangle vertex
// numbers (within the vertices of their node's block in its clump), tags
// (rising by one from 1; a per-node file's one tag may be any) and UV ranges.
// With `tolerated`, a byte-order mark and LF-only line ends are read as a
// scene or a preview takes them: the one warning about them is put there.
void ReadScript(std::string_view text, Script* script, Problems* problems, Detail detail = Detail::Geometry,
                std::string* tolerated = nullptr);

// Told each vertex and triangle of a script as it is read, with its node as
// read so far (transform, parent, material blocks): for a reader of a large
// script that keeps them in a form of its own.
class ScriptSink {
public:
    virtual ~ScriptSink() = default;
    virtual void OnVertex(const Script& script, int32_t node, const Vertex& v, bool uv) = 0;
    virtual void OnTriangle(const Script& script, int32_t node, const Triangle& t) = 0;
};

// The script at path, read a piece at a time: Absent, or Failed with *error
// (the cause, without the path) when it cannot be opened or read. `tolerated`
// as for ReadScript.
qsx::util::ReadState ReadScriptFile(const std::string& path, Detail detail, Script* script, Problems* problems,
                                    std::string* error, ScriptSink* sink = nullptr,
                                    std::string* tolerated = nullptr);

// A header (.qsh): comment lines, an empty line and "#define TAG_NAME N" lines
// numbered from 1.
void ReadHeader(std::string_view text, Header* header, Problems* problems);
qsx::util::ReadState ReadHeaderFile(const std::string& path, Header* header, Problems* problems, std::string* error);

// An animation file (.qsv): "Frame N" lines from 0, each followed by its
// "Transform K" lines with K from 1 and twelve finite numbers; every frame
// with as many transforms as the first.
void ReadAnimation(std::string_view text, Animation* animation, Problems* problems);
qsx::util::ReadState ReadAnimationFile(const std::string& path, Detail detail, Animation* animation,
                                       Problems* problems, std::string* error);

// A header beside its script: one definition per node in script order, the
// tag numbers equal, and each name the node's name, either as written or made
// an identifier (each byte other than a letter, digit or '_' becomes '_';
// an empty name is the tag alone; a name taken already carries "_N" with its
// tag, as often as needed). Problems are at the header's lines.
void CheckHeader(const Script& script, const Header& header, Problems* problems);

// An animation file beside its script: at least as many transforms per frame
// as the script has nodes (it numbers nodes below an unwritten node too).
void CheckAnimation(const Script& script, const Animation& animation, Problems* problems);

// "name" as a C identifier after "TAG_": bytes other than letters, digits
// and '_' become '_'.
std::string IdentifierName(std::string_view name);

// A count with thousands separated by ',': 3804 gives "3,804".
std::string Thousands(int64_t n);

}  // namespace qsxhost::script
