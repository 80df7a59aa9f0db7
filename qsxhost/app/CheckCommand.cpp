// The check command: reads each file with the script readers and reports
// what they found, and the side files against their script.
#include "qsxhost/app/CheckCommand.h"

#include <cstdio>
#include <set>

#include "qsxhost/app/Messages.h"
#include "qsxhost/sources/qsx/QsxReader.h"
#include "util/FileIdentity.h"
#include "util/Files.h"
#include "util/Paths.h"
#include "util/Text.h"

namespace qsxhost {

namespace {

using namespace script;

std::string Count(int64_t n, const char* one, const char* many) {
    return Thousands(n) + " " + (n == 1 ? one : many);
}

void Print(const std::string& file, const Problems& problems) {
    for (const Problem& p : problems.Listed()) {
        if (p.line > 0) {
            PrintTo(stdout, "%s:%lld: %s\n", file.c_str(), static_cast<long long>(p.line), p.what.c_str());
        } else {
            PrintTo(stdout, "%s: %s\n", file.c_str(), p.what.c_str());
        }
    }
    if (problems.Count() > static_cast<int64_t>(problems.Listed().size()))
        PrintTo(stdout, "%s: %s not listed\n", file.c_str(),
                Count(problems.Count() - static_cast<int64_t>(problems.Listed().size()), "more problem",
                      "more problems")
                    .c_str());
}

void Summary(const std::string& file, const Problems& problems, const std::string& counts) {
    const std::string verdict = problems.Count() == 0 ? "ok" : Count(problems.Count(), "problem", "problems");
    PrintTo(stdout, "%s: %s: %s\n", file.c_str(), verdict.c_str(), counts.c_str());
}

class Checker {
public:
    int status = 0;

    void File(const std::string& path, const std::set<std::string>& given) {
        if (qsx::util::EndsWithNoCase(path, ".qsh")) {
            Header h;
            Problems p;
            if (Read(path, [&](std::string* why) { return ReadHeaderFile(path, &h, &p, why); }))
                Report(path, p, HeaderCounts(h));
            return;
        }
        if (qsx::util::EndsWithNoCase(path, ".qsv")) {
            Animation a;
            Problems p;
            if (Read(path, [&](std::string* why) { return ReadAnimationFile(path, Detail::Counts, &a, &p, why); }))
                Report(path, p, AnimationCounts(a));
            return;
        }
        Script s;
        Problems p;
        if (!Read(path, [&](std::string* why) { return ReadScriptFile(path, Detail::Counts, &s, &p, why); })) return;
        Report(path, p,
               Count(s.clumps, "clump", "clumps") + ", " + Count(s.vertices, "vertex", "vertices") + ", " +
                   Count(s.triangles, "triangle", "triangles") + ", " +
                   Count(static_cast<int64_t>(s.textures.size()), "texture", "textures"));
        // The side files beside it, unless they were named on their own.
        const std::string qsh = qsx::util::SideFileName(path, ".qsh");
        if (!given.count(qsh) && Exists(qsh)) {
            Header h;
            Problems hp;
            if (Read(qsh, [&](std::string* why) { return ReadHeaderFile(qsh, &h, &hp, why); })) {
                CheckHeader(s, h, &hp);
                Report(qsh, hp, HeaderCounts(h));
            }
        }
        const std::string qsv = qsx::util::SideFileName(path, ".qsv");
        if (!given.count(qsv) && Exists(qsv)) {
            Animation a;
            Problems ap;
            if (Read(qsv, [&](std::string* why) { return ReadAnimationFile(qsv, Detail::Counts, &a, &ap, why); })) {
                CheckAnimation(s, a, &ap);
                Report(qsv, ap, AnimationCounts(a));
            }
        }
    }

private:
    static bool Exists(const std::string& path) { return qsx::util::IdentifyPath(path).exists; }

    // read(&why) reads the file a piece at a time and answers how that went.
    template <class F>
    bool Read(const std::string& path, F read) {
        std::string why;
        const qsx::util::ReadState state = read(&why);
        if (state != qsx::util::ReadState::Read) {
            PrintTo(stdout, "%s: not readable: %s\n", path.c_str(),
                    state == qsx::util::ReadState::Absent ? "no such file" : why.c_str());
            status = 2;
            return false;
        }
        return true;
    }

    void Report(const std::string& path, const Problems& p, const std::string& counts) {
        Print(path, p);
        Summary(path, p, counts);
        if (p.Count() > 0 && status == 0) status = 1;
    }

    static std::string HeaderCounts(const Header& h) {
        return Count(static_cast<int64_t>(h.tags.size()), "tag", "tags");
    }
    static std::string AnimationCounts(const Animation& a) {
        const int64_t each = a.frames.empty() ? 0 : a.frames[0].transformCount;
        return Count(static_cast<int64_t>(a.frames.size()), "frame", "frames") + " of " +
               Count(each, "transform", "transforms");
    }
};

}  // namespace

int RunCheck(const std::vector<std::string>& files) {
    const std::set<std::string> given(files.begin(), files.end());
    Checker c;
    for (const std::string& f : files) c.File(f, given);
    std::fflush(stdout);
    return c.status;
}

}  // namespace qsxhost
