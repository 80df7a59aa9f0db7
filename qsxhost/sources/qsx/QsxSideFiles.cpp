// The header and animation readers, and the checks of each against its script.
#include <algorithm>
#include <string>

#include "qsxhost/sources/qsx/QsxLines.h"
#include "qsxhost/sources/qsx/QsxReader.h"

namespace qsxhost::script {

namespace {

// "1 is expected", "2 are expected".
std::string Expected(size_t n) { return std::to_string(n) + (n == 1 ? " is expected" : " are expected"); }

}  // namespace

namespace {

void ReadHeaderLines(LineWalk& walk, Header* header, Problems* problems) {
    std::string_view line;
    while (walk.Next(&line)) {
        const int64_t at = walk.Number();
        // A line holding a control byte has that one problem; its definition still counts.
        const auto add = [&](std::string what) {
            if (!walk.HasControlByte()) problems->Add(at, std::move(what));
        };
        if (line.empty() || line.substr(0, 2) == "//") continue;
        constexpr std::string_view kDefine = "#define TAG_";
        const size_t blank = line.rfind(' ');
        if (line.substr(0, kDefine.size()) != kDefine || blank == std::string_view::npos || blank < kDefine.size()) {
            add("not a '#define TAG_NAME N' line, a '//' comment or an empty line");
            continue;
        }
        HeaderTag t;
        t.line = at;
        t.name = std::string(line.substr(kDefine.size(), blank - kDefine.size()));
        const char* p = line.data() + blank + 1;
        const char* end = line.data() + line.size();
        const int32_t want = static_cast<int32_t>(header->tags.size()) + 1;
        if (!ReadInt(p, end, &t.tag) || p != end) {
            add("the tag " + WordAt(line.data() + blank, end) + " is not a number");
            // Taken as the tag expected, so that the next is judged on its own.
            t.tag = want;
        } else if (t.tag != want) {
            add("tag " + std::to_string(t.tag) + " where tag " + std::to_string(want) +
                " is expected (tags rise by one from 1)");
        }
        header->tags.push_back(std::move(t));
    }
    if (walk.Number() == 0) problems->Add(0, "the file is empty");
    walk.Finish();
}

void ReadAnimationLines(LineWalk& walk, Detail detail, Animation* animation, Problems* problems) {
    std::string_view line;
    // Every frame holds as many transforms as the first; a frame is judged when it ends.
    auto endFrame = [&](int64_t at) {
        if (animation->frames.size() < 2) return;
        const Frame& f = animation->frames.back();
        const auto want = static_cast<size_t>(animation->frames.front().transformCount);
        if (f.transformCount != static_cast<int64_t>(want))
            problems->Add(at, "frame " + std::to_string(f.number) + " has " +
                                  Plural(f.transformCount, "transform", "transforms") +
                                  " where " + Expected(want) + ", as in frame 0");
    };
    while (walk.Next(&line)) {
        const int64_t at = walk.Number();
        // A line holding a control byte has that one problem; it is read on as far as it goes.
        const auto add = [&](std::string what) {
            if (!walk.HasControlByte()) problems->Add(at, std::move(what));
        };
        const char* p = line.data();
        const char* end = p + line.size();
        if (line.substr(0, 6) == "Frame ") {
            endFrame(at);
            Frame f;
            f.line = at;
            p += 6;
            if (!ReadInt(p, end, &f.number) || p != end) {
                add("Frame: " + WordAt(line.data() + 5, end) + " is not a frame number");
                f.number = static_cast<int32_t>(animation->frames.size());
            } else if (f.number != static_cast<int32_t>(animation->frames.size())) {
                add("Frame " + std::to_string(f.number) + " where Frame " + std::to_string(animation->frames.size()) +
                    " is expected (frames count from 0)");
            }
            animation->frames.push_back(std::move(f));
            continue;
        }
        if (line.substr(0, 10) != "Transform ") {
            add("not a 'Frame N' or 'Transform K' line");
            continue;
        }
        if (animation->frames.empty()) {
            add("Transform before the first Frame line");
            continue;
        }
        Frame& f = animation->frames.back();
        p += 10;
        int32_t k = 0;
        const int32_t want = static_cast<int32_t>(f.transformCount) + 1;
        bool ok = true;
        if (!ReadInt(p, end, &k)) {
            // It still holds its node's place, so that the next is judged on its own.
            add("Transform: " + WordAt(line.data() + 9, end) + " is not a node number");
            ok = false;
        } else if (k != want) {
            add("Transform " + std::to_string(k) + " where Transform " + std::to_string(want) +
                " is expected (nodes count from 1 in every frame)");
        }
        float v[12];
        for (int i = 0; i < 12 && ok; ++i) {
            if (!ReadFixed(p, end, &v[i])) {
                add("Transform: number " + std::to_string(i + 1) + " of 12 is " + WordAt(p, end) +
                    ", not a finite number in the form ' 1.000000'");
                ok = false;
            }
        }
        if (ok && p != end) {
            add("Transform: text after its 12 numbers");
            ok = false;
        }
        ++f.transformCount;
        if (detail != Detail::Geometry) continue;
        host::Matrix3 m;
        if (ok)
            for (int r = 0; r < 4; ++r) m.SetRow(r, {v[r * 3], v[r * 3 + 1], v[r * 3 + 2]});
        f.transforms.push_back(m);
    }
    endFrame(walk.Number());
    walk.Finish();
}

}  // namespace

void ReadHeader(std::string_view text, Header* header, Problems* problems) {
    *header = Header();
    LineWalk walk(text, problems);
    ReadHeaderLines(walk, header, problems);
    problems->Sort();
}

qsx::util::ReadState ReadHeaderFile(const std::string& path, Header* header, Problems* problems, std::string* error) {
    *header = Header();
    return WalkFile(path, problems, error, [&](LineWalk& walk) { ReadHeaderLines(walk, header, problems); });
}

void ReadAnimation(std::string_view text, Animation* animation, Problems* problems) {
    *animation = Animation();
    LineWalk walk(text, problems);
    ReadAnimationLines(walk, Detail::Geometry, animation, problems);
    problems->Sort();
}

qsx::util::ReadState ReadAnimationFile(const std::string& path, Detail detail, Animation* animation,
                                       Problems* problems, std::string* error) {
    *animation = Animation();
    return WalkFile(path, problems, error,
                    [&](LineWalk& walk) { ReadAnimationLines(walk, detail, animation, problems); });
}

std::string IdentifierName(std::string_view name) {
    std::string s(name);
    for (char& c : s) {
        const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
        if (!ok) c = '_';
    }
    return s;
}

void CheckHeader(const Script& script, const Header& header, Problems* problems) {
    const size_t n = std::min(script.nodes.size(), header.tags.size());
    for (size_t i = 0; i < n; ++i) {
        const HeaderTag& t = header.tags[i];
        const Node& node = script.nodes[i];
        const std::string tag = std::to_string(i + 1);
        // The name as written, or mended into an identifier: a missing name is
        // the tag alone, and a name taken already carries "_TAG" until it is free.
        const std::string id = node.name.empty() ? tag : IdentifierName(node.name);
        bool same = t.name == node.name;
        if (!same && t.name.compare(0, id.size(), id) == 0) {
            std::string_view rest = std::string_view(t.name).substr(id.size());
            const std::string suffix = std::string(1, '_') + tag;
            while (rest.substr(0, suffix.size()) == suffix) rest.remove_prefix(suffix.size());
            same = rest.empty();
        }
        if (!same)
            problems->Add(t.line, "TAG_" + t.name + " names tag " + std::to_string(t.tag) + ", but node " + tag +
                                      " of the script is " + qsx::util::Quoted(node.name));
        if (node.tag != 0 && node.tag != t.tag)
            problems->Add(t.line, "tag " + std::to_string(t.tag) + " here is tag " + std::to_string(node.tag) +
                                      " in the script");
    }
    if (header.tags.size() != script.nodes.size())
        problems->Add(header.tags.size() > n ? header.tags[n].line : 0,
                      "the header names " + Plural(static_cast<int64_t>(header.tags.size()), "tag", "tags") +
                          " where " + Expected(script.nodes.size()) + ", one per node of the script");
}

void CheckAnimation(const Script& script, const Animation& animation, Problems* problems) {
    // The animation also numbers nodes below a node that is not written, so it
    // may hold more transforms than the script has nodes, never fewer.
    if (animation.frames.empty()) return;
    const Frame& f = animation.frames.front();
    if (f.transformCount < static_cast<int64_t>(script.nodes.size()))
        problems->Add(f.line, "frame 0 has " + Plural(f.transformCount, "transform", "transforms") +
                                  " where at least " + Expected(script.nodes.size()) + ", one per node of the script");
}

std::string Thousands(int64_t n) {
    std::string digits = std::to_string(n < 0 ? -n : n);
    std::string out;
    for (size_t i = 0; i < digits.size(); ++i) {
        if (i > 0 && (digits.size() - i) % 3 == 0) out.push_back(',');
        out.push_back(digits[i]);
    }
    return n < 0 ? "-" + out : out;
}

}  // namespace qsxhost::script
