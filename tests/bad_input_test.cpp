// Bad input through the qsxexport command: every scene or output it cannot
// use gets one message on standard error, "qsxexport: FILE: what is wrong",
// the documented exit status (0 written, 1 a file could not be written,
// 2 usage or refused input, 3 cancelled), and no file is left half written
// or changed where a good one stood. Strange but valid scenes (huge names,
// control characters, millions of degenerate faces, very deep trees) are
// written. Signals during an export, concurrent runs on one output, and
// outputs that are links or have permission bits of their own keep every file
// whole or as it was. The settings store is exercised under a full disk and
// by concurrent runs.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <limits>
#include <map>
#include <memory>
#include <set>
#include <sstream>

#include "QsxExp/Options.h"
#include "qsxhost/app/OutputGate.h"
#include "qsxhost/settings/posix/FileRegistry.h"
#include "tests/support/gltf_text.h"

namespace fs = std::filesystem;

namespace {

const std::string kBinary = std::string(QSX_BINARY_DIR) + "/qsxexport";

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

void WriteFile(const std::string& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
}

std::vector<std::string> SplitLines(const std::string& text) {
    std::vector<std::string> lines;
    std::string line;
    std::istringstream in(text);
    while (std::getline(in, line)) lines.push_back(line);
    return lines;
}

struct Outcome {
    int status = -1;      // exit status, or 128 + signal
    std::string err, out;
};

// How the command starts: with a file size limit or none, and with SIGXFSZ
// ignored (the ignored disposition survives exec) or at its default; its
// output is captured in files in captureDir (its home when empty).
struct Launch {
    rlim_t fileSizeLimit = 0;
    bool xfszIgnored = false;
    std::string captureDir;
    std::string input;  // what standard input (a pipe) holds; at most a pipe's buffer
};

// qsxexport running with its settings under home.
class Command {
public:
    Command(const std::vector<std::string>& args, const std::string& home, const Launch& launch = {}) {
        const std::string dir = launch.captureDir.empty() ? home : launch.captureDir;
        errPath_ = dir + "/.stderr";
        outPath_ = dir + "/.stdout";
        std::vector<std::string> env = {"HOME=" + home, "XDG_CONFIG_HOME=" + home + "/config", "LC_ALL=C"};
        for (const char* keep : {"PATH", "ASAN_OPTIONS", "UBSAN_OPTIONS", "LSAN_OPTIONS", "TMPDIR"})
            if (const char* v = std::getenv(keep)) env.push_back(std::string(keep) + "=" + v);
        std::vector<char*> argv = {const_cast<char*>(kBinary.c_str())};
        for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        std::vector<char*> envp;
        for (auto& e : env) envp.push_back(e.data());
        envp.push_back(nullptr);

        std::fflush(nullptr);
        pid_ = ::fork();
        if (pid_ == 0) {
            const int err = ::open(errPath_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
            const int out = ::open(outPath_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
            int in[2];
            if (err < 0 || out < 0 || ::pipe(in) != 0) ::_exit(120);
            // Standard input: no terminal; a pipe holding launch.input, then at its end.
            if (::write(in[1], launch.input.data(), launch.input.size()) != static_cast<ssize_t>(launch.input.size()))
                ::_exit(122);
            ::close(in[1]);
            ::dup2(in[0], 0);
            ::dup2(out, 1);
            ::dup2(err, 2);
            // Whatever the test runner was started with, the signals the command handles start at their defaults.
            for (int s : {SIGINT, SIGTERM, SIGHUP}) std::signal(s, SIG_DFL);
            std::signal(SIGXFSZ, launch.xfszIgnored ? SIG_IGN : SIG_DFL);
            if (launch.fileSizeLimit) {
                struct rlimit lim = {launch.fileSizeLimit, launch.fileSizeLimit};
                ::setrlimit(RLIMIT_FSIZE, &lim);
            }
            ::alarm(300);  // a hang ends as a failure, not as a stuck test
            ::execve(kBinary.c_str(), argv.data(), envp.data());
            ::_exit(121);
        }
    }
    pid_t Pid() const { return pid_; }
    Outcome Wait() {
        Outcome o;
        int status = 0;
        if (pid_ > 0 && ::waitpid(pid_, &status, 0) == pid_)
            o.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        pid_ = -1;
        o.err = ReadFile(errPath_);
        o.out = ReadFile(outPath_);
        fs::remove(errPath_);
        fs::remove(outPath_);
        return o;
    }

private:
    pid_t pid_ = -1;
    std::string errPath_, outPath_;
};

Outcome RunCommand(const std::vector<std::string>& args, const std::string& home, const Launch& launch = {}) {
    return Command(args, home, launch).Wait();
}

// Everything in dir (not recursing), with contents; directories as "<dir>".
std::map<std::string, std::string> Snapshot(const std::string& dir) {
    std::map<std::string, std::string> files;
    for (const auto& e : fs::directory_iterator(dir)) {
        const std::string name = e.path().filename().string();
        files[name] = e.is_directory() ? "<dir>" : ReadFile(e.path().string());
    }
    return files;
}

class CommandTest : public ::testing::Test {
public:
    std::string Scene(const std::string& name, const std::string& text) {
        const std::string path = dir_ + "/" + name;
        WriteFile(path, text);
        return path;
    }

protected:
    void SetUp() override {
        if (::access(kBinary.c_str(), X_OK) != 0) GTEST_SKIP() << kBinary << " is not built";
        char tmpl[] = "/tmp/qsx_bad_input_XXXXXX";
        ASSERT_NE(::mkdtemp(tmpl), nullptr);
        dir_ = tmpl;
        home_ = dir_ + "/home";
        out_ = dir_ + "/out";
        fs::create_directories(home_);
        fs::create_directories(out_);
    }
    void TearDown() override {
        if (dir_.empty()) return;
        std::error_code ec;
        for (const auto& e : fs::recursive_directory_iterator(dir_, ec))
            if (e.is_directory()) ::chmod(e.path().c_str(), 0700);
        fs::remove_all(dir_, ec);
    }
    std::string dir_, home_, out_;
};

const bool kRoot = ::geteuid() == 0;

// One triangle node; name and extra members spliced in.
std::string NodeJson(const std::string& nameJson, const std::string& extra = "") {
    return "{\"name\":" + nameJson +
           ",\"object\":{\"mesh\":{\"vertices\":[[0,0,0],[1,0,0],[0,1,0]],\"faces\":[[0,1,2]]}}" + extra + "}";
}
std::string SceneJson(const std::string& nodes) { return "{\"qsxScene\":1,\"nodes\":[" + nodes + "]}"; }

// A file the 3D importer reads far enough to trip an internal assertion of
// Debian's Assimp (an index beyond the vertex list): it aborts the process.
const char kAbortingOpenGex[] = R"(GeometryNode $node1
{
	Name {string {"n"}}
	ObjectRef {ref {$geometry1}}
}
GeometryObject $geometry1
{
	Mesh (primitive = "triangles")
	{
		VertexArray (attrib = "position")
		{
			float[3] { {0.0, 0.0, 0.0}, {1.0, 0.0, 0.0}, {0.0, 1.0, 0.0} }
		}
		IndexArray
		{
			unsigned_int32[3] { {0, 1, 7} }
		}
	}
}
)";

// A cube whose OFF header declares a billion vertices: the reader asks for
// all of them at once, far more memory than a file of this size can need.
const char kOverstatedOff[] = "OFF\n1000000000 2 0\n0 0 0\n1 0 0\n1 1 0\n0 1 0\n4 0 1 2 3\n4 3 2 1 0\n";

// A glTF triangle whose material shows an embedded picture: named `image`
// when that is not empty, else unnamed.
std::string TexturedGltf(const std::string& image, const std::string& picture) {
    gltf::Gltf g;
    const int pos = g.Floats({0, 0, 0, 1, 0, 0, 0, 1, 0}, "VEC3", 3);
    const int idx = g.Indices({0, 1, 2});
    const std::string name = image.empty() ? "" : R"("name":")" + image + R"(",)";
    return g.Json(R"("scenes":[{"nodes":[0]}],"nodes":[{"name":"T","mesh":0}],)"
                  R"("meshes":[{"primitives":[{"attributes":{"POSITION":)" + std::to_string(pos) +
                  R"(},"indices":)" + std::to_string(idx) + R"(,"material":0}]}],)"
                  R"("images":[{)" + name + R"("uri":"data:image/png;base64,)" + gltf::Base64(picture) + R"("}],)"
                  R"("textures":[{"source":0}],)"
                  R"("materials":[{"pbrMetallicRoughness":{"baseColorTexture":{"index":0}}}])");
}

struct BadCase {
    const char* name;
    // Makes the scene and answers {scene path, output path}; may chmod.
    std::function<std::pair<std::string, std::string>(CommandTest&, const std::string& dir, const std::string& out)>
        make;
    int status;
    const char* about;    // "scene" or "output": which file the message names
    const char* reason;   // part of the message
    bool needsNonRoot = false;
    std::vector<std::string> flags = {};  // after --no-header --no-animation
};

TEST_F(CommandTest, EveryBadInputGetsOneMessageItsStatusAndNoFile) {
    const std::string good = SceneJson(NodeJson("\"Box\""));
    const std::string previous = "previous good script\r\n";
    auto scene = [](std::string name, std::string text) {
        return [name, text](CommandTest& t, const std::string&, const std::string& out) {
            return std::make_pair(t.Scene(name, text), out + "/scene.QSX");
        };
    };
    auto output = [good](std::function<std::string(const std::string& dir, const std::string& out)> where) {
        return [good, where](CommandTest& t, const std::string& dir, const std::string& out) {
            return std::make_pair(t.Scene("good.json", good), where(dir, out));
        };
    };
    const std::string longName(NAME_MAX + 1, 'n');
    std::string longPath;
    while (longPath.size() <= PATH_MAX) longPath += "/" + std::string(200, 'p');

    const BadCase cases[] = {
        {"scene missing", [](CommandTest&, const std::string& dir, const std::string& out) {
             return std::make_pair(dir + "/none.json", out + "/scene.QSX");
         }, 2, "scene", "No such file or directory"},
        {"scene unreadable", [good](CommandTest& t, const std::string&, const std::string& out) {
             const std::string p = t.Scene("locked.json", good);
             ::chmod(p.c_str(), 0);
             return std::make_pair(p, out + "/scene.QSX");
         }, 2, "scene", "Permission denied", true},
        {"scene empty", scene("empty.json", ""), 2, "scene", "empty"},
        {"scene a directory", [](CommandTest&, const std::string& dir, const std::string& out) {
             fs::create_directory(dir + "/folder.json");
             return std::make_pair(dir + "/folder.json", out + "/scene.QSX");
         }, 2, "scene", "directory"},
        {"scene not JSON", scene("text.json", "hello, world\n"), 2, "scene", "JSON"},
        {"scene truncated", scene("cut.json", good.substr(0, good.size() / 2)), 2, "scene", "JSON"},
        {"scene of another version", scene("v2.json", "{\"qsxScene\":2,\"nodes\":[]}"), 2, "scene", "version 2"},
        {"face index out of range",
         scene("range.json", SceneJson("{\"name\":\"M\",\"object\":{\"mesh\":{\"vertices\":[[0,0,0]],"
                                       "\"faces\":[[0,0,0],[0,9,0]]}}}")),
         2, "scene", "nodes[0].object.mesh.faces[1]"},
        {"3D file the importer aborts on", scene("broken.ogex", kAbortingOpenGex), 2, "scene",
         "the importer gave up on this file"},
        {"3D file declaring more than its size holds", scene("overstated.off", kOverstatedOff), 2, "scene",
         "of memory, which no intact file of 63 bytes needs"},
        {"output in a missing folder", output([](const std::string& dir, const std::string&) {
             return dir + "/missing/scene.QSX";
         }), 1, "output", "No such file or directory"},
        {"output in an unwritable folder", output([](const std::string& dir, const std::string&) {
             fs::create_directory(dir + "/readonly");
             ::chmod((dir + "/readonly").c_str(), 0500);
             return dir + "/readonly/scene.QSX";
         }), 1, "output", "Permission denied", true},
        {"output a write-protected file", output([](const std::string&, const std::string& out) {
             ::chmod((out + "/scene.QSX").c_str(), 0444);
             return out + "/scene.QSX";
         }), 1, "output", "Permission denied", true},
        {"output a directory", output([](const std::string&, const std::string& out) {
             fs::create_directory(out + "/folder.QSX");
             return out + "/folder.QSX";
         }), 1, "output", "Is a directory"},
        {"output path longer than PATH_MAX", output([longPath](const std::string&, const std::string& out) {
             return out + longPath + "/scene.QSX";
         }), 1, "output", "File name too long"},
        {"output name longer than NAME_MAX", output([longName](const std::string&, const std::string& out) {
             return out + "/" + longName + ".QSX";
         }), 1, "output", "File name too long"},
        // A run that would write over its own scene, or one of its files over another, writes nothing.
        {"output is the scene", [good](CommandTest& t, const std::string&, const std::string&) {
             const std::string p = t.Scene("good.json", good);
             return std::make_pair(p, p);
         }, 2, "output", "would overwrite the scene file"},
        {"output is the scene through ./", [good](CommandTest& t, const std::string& dir, const std::string&) {
             return std::make_pair(t.Scene("good.json", good), dir + "/./good.json");
         }, 2, "output", "would overwrite the scene file"},
        {"output a link to the scene", [good](CommandTest& t, const std::string&, const std::string& out) {
             const std::string p = t.Scene("good.json", good);
             fs::create_symlink(p, out + "/link.QSX");
             return std::make_pair(p, out + "/link.QSX");
         }, 2, "output", "would overwrite the scene file"},
        {"header is the script", output([](const std::string&, const std::string& out) {
             return out + "/scene.qsh";
         }), 2, "output", "would overwrite the script", false, {"--header"}},
        {"animation is the script", output([](const std::string&, const std::string& out) {
             return out + "/scene.qsv";
         }), 2, "output", "would overwrite the script", false, {"--animation"}},
        {"header is the scene", [good](CommandTest&, const std::string&, const std::string& out) {
             WriteFile(out + "/scene.qsh", good);
             return std::make_pair(out + "/scene.qsh", out + "/scene.QSX");
         }, 2, "output", "would overwrite the scene file", false, {"--header"}},
        {"a node's script is the scene", [good](CommandTest&, const std::string&, const std::string& out) {
             WriteFile(out + "/part0.QSX", good);
             return std::make_pair(out + "/part0.QSX", out + "/part.QSX");
         }, 2, "output", "would overwrite the scene file", false, {"--hierarchy", "separate"}},
        {"output a hard link to the scene", [good](CommandTest& t, const std::string&, const std::string& out) {
             const std::string p = t.Scene("good.json", good);
             fs::create_hard_link(p, out + "/hard.QSX");
             return std::make_pair(p, out + "/hard.QSX");
         }, 2, "output", "would overwrite the scene file"},
        {"header a hard link to the script", output([](const std::string&, const std::string& out) {
             fs::create_hard_link(out + "/scene.QSX", out + "/scene.qsh");
             return out + "/scene.QSX";
         }), 2, "output", "would overwrite the script", false, {"--header"}},
        {"preview is the script", output([](const std::string&, const std::string& out) {
             return out + "/scene.QSX";
         }), 2, "output", "the preview picture", false, {"--preview", "OUT/scene.QSX"}},
        {"preview is the scene", output([](const std::string&, const std::string& out) {
             return out + "/scene.QSX";
         }), 2, "output", "would overwrite the scene file", false, {"--preview", "DIR/good.json"}},
        {"a texture named like the script", [](CommandTest& t, const std::string&, const std::string& out) {
             return std::make_pair(t.Scene("tex.gltf", TexturedGltf("scene.QSX", "picture")), out + "/scene.QSX");
         }, 2, "output", "would replace a different file", false, {"--extract-textures"}},
        {"a texture named like the scene", [](CommandTest& t, const std::string& dir, const std::string&) {
             return std::make_pair(t.Scene("tex.gltf", TexturedGltf("tex.gltf", "picture")), dir + "/scene.QSX");
         }, 2, "scene", "would replace a different file", false, {"--extract-textures"}},
        {"standard output with a header", output([](const std::string&, const std::string&) {
             return std::string("-");
         }), 2, "output", "standard output takes the script alone", false, {"--header"}},
        {"a device with a side file in /dev", output([](const std::string&, const std::string&) {
             return std::string("/dev/null");
         }), 2, "output", "/dev/null.qsv would be a new file in /dev", false, {"--animation"}},
    };

    int tried = 0;
    for (const BadCase& c : cases) {
        if (c.needsNonRoot && kRoot) {
            std::printf("[ bad input ] skipped as root (permissions do not bind): %s\n", c.name);
            continue;
        }
        SCOPED_TRACE(c.name);
        fs::remove_all(out_);
        fs::create_directories(out_);
        // A good script from an earlier run stands where the output goes.
        WriteFile(out_ + "/scene.QSX", previous);
        auto [scenePath, outputPath] = c.make(*this, dir_, out_);
        const auto before = Snapshot(out_);
        std::vector<std::string> args = {"--batch", "--no-header", "--no-animation"};
        for (std::string f : c.flags) {
            if (f.rfind("OUT/", 0) == 0) f = out_ + f.substr(3);
            if (f.rfind("DIR/", 0) == 0) f = dir_ + f.substr(3);
            args.push_back(f);
        }
        args.insert(args.end(), {scenePath, outputPath});
        const Outcome o = RunCommand(args, home_);
        ++tried;
        EXPECT_EQ(o.status, c.status) << o.err;
        const auto lines = SplitLines(o.err);
        ASSERT_EQ(lines.size(), 1u) << "standard error:\n" << o.err;
        const std::string& file = std::string(c.about) == "scene" ? scenePath : outputPath;
        const std::string prefix = "qsxexport: " + file + ": ";
        EXPECT_EQ(lines[0].rfind(prefix, 0), 0u) << lines[0];
        EXPECT_GT(lines[0].size(), prefix.size()) << "no reason given";
        EXPECT_NE(lines[0].find(c.reason), std::string::npos) << lines[0];
        EXPECT_EQ(o.err.find("Aborted"), std::string::npos);
        EXPECT_TRUE(o.out.empty()) << o.out;
        // Nothing new, nothing changed, nothing removed beside the output.
        EXPECT_EQ(Snapshot(out_), before);
        EXPECT_EQ(Snapshot(home_).count("config"), 0u) << "a batch run stored settings";
    }
    std::printf("[ bad input ] %d bad inputs tried through the command\n", tried);
}

// A run's files (path, estimate) are weighed together against the space free where
// they go, per file system, before anything is written ("" approves); the figures are the test's.
TEST(OutputGate, RefusesFilesThatTogetherWouldNotFitTheirFileSystem) {
    const struct { std::vector<std::pair<std::string, uint64_t>> files; const char* refusal; } cases[] = {
        {{{"a/out.QSX", 1000}}, ""},
        {{{"b/out.qsv", 412'000'000'000}},
         "the animation file b/out.qsv would take about 412 GB, but its file system has 38.2 GB free; nothing written"},
        {{{"a/out.qsv", 400}, {"a/out.QSX", 700}},  // each fits alone
         "the script a/out.QSX and the animation file a/out.qsv would take about 1.10 kB, but their file system has"},
        {{{"a/out.qsv", 400}, {"c/out.QSX", 700}}, ""},
        {{{"dev/out.QSX", UINT64_MAX}}, ""},  // written in place: no space known
    };
    const std::map<char, qsx::util::FreeSpace> spaces = {
        {'a', {"one", 1000, true}}, {'b', {"two", 38'249'000'000, true}}, {'c', {"three", 1000, true}}};
    for (const auto& c : cases) {
        std::vector<host::PlannedFile> plan;
        for (const auto& [path, bytes] : c.files)
            plan.push_back({path.c_str(), path.back() == 'v' ? "animation file" : "script", bytes});
        qsxhost::OutputGate gate;
        gate.SetSpaceQuery([&](const std::string& p) { return spaces.count(p[0]) ? spaces.at(p[0]) : qsx::util::FreeSpace{}; });
        const std::string refusal = gate.Approve(plan.data(), plan.size());
        EXPECT_EQ(refusal.substr(0, std::strlen(c.refusal)), c.refusal) << c.files[0].first;
        EXPECT_EQ(gate.Destinations().size(), *c.refusal ? 0u : plan.size()) << refusal;
    }
}

// Runs the gate lets through: a texture already there unchanged, models in
// one folder apart, standard output and devices without side files.
TEST_F(CommandTest, RunsThatMeetNoOtherFileGoThrough) {
    const std::string good = Scene("good.json", SceneJson(NodeJson("\"Box\"")));
    const std::string a = Scene("a.gltf", TexturedGltf("", "picture A"));
    const std::string b = Scene("b.gltf", TexturedGltf("", "picture B"));
    const std::string skin = Scene("skin.gltf", TexturedGltf("skin", "skin picture"));
    // Header and animation ticked in the stored settings.
    ASSERT_EQ(RunCommand({"--batch", "--save-defaults", "--header", "--animation", good, dir_ + "/first.QSX"}, home_)
                  .status, 0);
    WriteFile(out_ + "/skin.png", "skin picture");
    struct stat before {};
    ASSERT_EQ(::stat((out_ + "/skin.png").c_str(), &before), 0);
    WriteFile(out_ + "/a_texture0.png", "an older picture A");  // the OUTPUT's own, from an earlier export

    struct Case {
        std::vector<std::string> args;
        std::set<std::string> files;  // in out_ afterwards
        bool script = false;          // standard output holds the script
    };
    const Case cases[] = {
        {{skin, out_ + "/s.QSX", "--extract-textures", "--no-header", "--no-animation"},
         {"a_texture0.png", "s.QSX", "skin.png"}, false},
        {{a, out_ + "/a.QSX", "--extract-textures", "--no-header", "--no-animation"},
         {"s.QSX", "skin.png", "a.QSX", "a_texture0.png"}, false},
        {{b, out_ + "/b.QSX", "--extract-textures", "--no-header", "--no-animation"},
         {"s.QSX", "skin.png", "a.QSX", "a_texture0.png", "b.QSX", "b_texture0.png"}, false},
        {{good, "-"}, {"s.QSX", "skin.png", "a.QSX", "a_texture0.png", "b.QSX", "b_texture0.png"}, true},
        {{good, "/dev/null"}, {"s.QSX", "skin.png", "a.QSX", "a_texture0.png", "b.QSX", "b_texture0.png"}, false},
    };
    for (const Case& c : cases) {
        std::vector<std::string> args = {"--batch"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        SCOPED_TRACE(args[2]);
        const Outcome o = RunCommand(args, home_);
        EXPECT_EQ(o.status, 0) << o.err;
        std::set<std::string> names;
        for (const auto& e : fs::directory_iterator(out_)) names.insert(e.path().filename().string());
        EXPECT_EQ(names, c.files);
        EXPECT_EQ(o.out.find("ModelEnd\r\n") != std::string::npos, c.script) << o.out;
    }
    struct stat after {};
    ASSERT_EQ(::stat((out_ + "/skin.png").c_str(), &after), 0);
    EXPECT_EQ(after.st_ino, before.st_ino) << "a texture with the same bytes was written again";
    EXPECT_EQ(ReadFile(out_ + "/a_texture0.png"), "picture A");
    EXPECT_EQ(ReadFile(out_ + "/b_texture0.png"), "picture B");
    for (const char* side : {"/dev/null.qsh", "/dev/null.qsv", "-", "-.qsh"}) EXPECT_FALSE(fs::exists(side)) << side;
}

// Text from a scene or a path reaches the terminal only as printable text:
// escape sequences in names cannot retitle the window or clear the screen,
// and a quote inside a quoted name is escaped.
TEST_F(CommandTest, MessagesShowHostileTextAsPrintableText) {
    const std::string zeroParent = ",\"transform\":[[0,0,0],[0,0,0],[0,0,0],[0,0,0]],\"children\":[";
    struct Case {
        const char* name;
        std::string scene;      // the JSON scene
        std::string output;     // under out_
        std::string expected;   // part of standard error
    };
    const Case cases[] = {
        {"escape sequences in a node name",
         SceneJson(NodeJson(R"("\u001b]0;owned\u0007P")", zeroParent + NodeJson(R"("\u001b[2JC")") + "]")), "a.QSX",
         R"(warning: node "\x1b[2JC" is written with the identity transform: the transform of its parent "\x1b]0;owned\x07P")"},
        {"a quote in a node name", SceneJson(NodeJson(R"("P")", zeroParent + NodeJson(R"("C\"q")") + "]")), "b.QSX",
         R"(node "C\"q" is written)"},
        {"an unknown member named with an escape", SceneJson(NodeJson(R"("N")", R"(,"\u001b[31mred":1)")), "c.QSX",
         R"(unknown member "\x1b[31mred" ignored)"},
        {"a path with a control byte", SceneJson(NodeJson(R"("N")")), "d\x1b[2J/x.QSX", R"(d\x1b[2J/x.QSX: not written)"},
        {"bytes that are not UTF-8", SceneJson(NodeJson(R"("N")")), "e\xc2\x9b\xff/x.QSX", R"(e\xc2\x9b\xff/x.QSX)"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Outcome o = RunCommand({"--batch", Scene("hostile.json", c.scene), out_ + "/" + c.output}, home_);
        EXPECT_NE(o.err.find(c.expected), std::string::npos) << o.err;
        for (const char ch : o.err) {
            const auto u = static_cast<unsigned char>(ch);
            EXPECT_TRUE(ch == '\n' || (u >= 0x20 && u != 0x7F && u < 0x80)) << "byte " << int(u) << " in " << o.err;
        }
    }
}

// Every file the run wrote is whole: it ends with a line end, a script with ModelEnd.
void ExpectWholeFiles(const std::string& dir, size_t count) {
    const auto files = Snapshot(dir);
    EXPECT_EQ(files.size(), count);
    for (const auto& [name, text] : files) {
        if (text.empty()) continue;  // an animation file of no frames
        EXPECT_EQ(text.compare(text.size() - 2, 2, "\r\n"), 0) << name;
        if (name.size() > 4 && name.compare(name.size() - 4, 4, ".QSX") == 0) {
            EXPECT_EQ(text.compare(text.size() - 10, 10, "ModelEnd\r\n"), 0) << name;
        }
    }
}

TEST_F(CommandTest, StrangeButValidScenesAreWritten) {
    struct Case {
        const char* name;
        std::string scene;
        std::vector<std::string> options;
        std::string expectLine;  // a line the script must hold (after its indentation)
        int triangles;           // Triangle lines expected
        std::string warning = "";  // what standard error says of the scene, if anything
    };
    // Ten million faces, all three corners on vertex 0: degenerate, so no
    // line; the file is streamed out rather than built in a script language.
    const std::string manyFaces = [] {
        std::string s = "{\"qsxScene\":1,\"nodes\":[{\"name\":\"Degenerate\",\"object\":{\"mesh\":{"
                        "\"vertices\":[[0,0,0],[1,0,0],[0,1,0]],\"faces\":[";
        const std::string face = "[0,0,0],";
        s.reserve(s.size() + face.size() * 10'000'000 + 16);
        for (int i = 0; i < 10'000'000; ++i) s += face;
        s.back() = ']';
        return s + "}}}]}";
    }();
    // Ten thousand levels, each node the only child of the one above.
    const int levels = 10'000;
    std::string deep;
    for (int i = 0; i < levels; ++i)
        deep += "{\"name\":\"L" + std::to_string(i) +
                "\",\"object\":{\"mesh\":{\"vertices\":[[0,0,0],[1,0,0],[0,1,0]],\"faces\":[[0,1,2]]}},"
                "\"children\":[";
    for (int i = 0; i < levels; ++i) deep += "]}";
    const std::string longName(100'000, 'N');
    const std::string controlName = "tab here  [31mred ";  // each control byte a blank

    const Case cases[] = {
        {"node name of 100,000 characters", SceneJson(NodeJson("\"" + longName + "\"")), {}, "# " + longName, 1},
        {"node name with control characters", SceneJson(NodeJson("\"tab\\there\\u0001\\u001b[31mred\\u007f\"")), {},
         "# " + controlName, 1},
        {"ten million faces on one vertex", manyFaces, {}, "# Degenerate", 0,
         "left out 10000000 triangles whose corners coincide"},
        // Flat clumps keep the indentation constant; nested, ten thousand
        // levels would indent the deepest lines by 80,000 spaces.
        {"hierarchy 10,000 levels deep", SceneJson(deep), {"--hierarchy", "multiple"}, "Tag 10000", levels},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove_all(out_);
        fs::create_directories(out_);
        const std::string scenePath = Scene("scene.json", c.scene);
        std::vector<std::string> args = {"--batch", "--header", "--animation"};
        args.insert(args.end(), c.options.begin(), c.options.end());
        args.push_back(scenePath);
        args.push_back(out_ + "/scene.QSX");
        const Outcome o = RunCommand(args, home_);
        EXPECT_EQ(o.status, 0) << o.err;
        EXPECT_EQ(o.err, c.warning.empty() ? "" : "qsxexport: " + scenePath + ": warning: " + c.warning + "\n");
        ExpectWholeFiles(out_, 3);
        const std::string script = ReadFile(out_ + "/scene.QSX");
        int triangles = 0;
        bool found = false;
        for (size_t pos = 0; pos < script.size();) {
            size_t end = script.find("\r\n", pos);
            if (end == std::string::npos) end = script.size();
            const size_t start = script.find_first_not_of(' ', pos);
            const std::string_view line(script.data() + start, start < end ? end - start : 0);
            if (line.substr(0, 9) == "Triangle ") ++triangles;
            if (line == c.expectLine) found = true;
            pos = end + 2;
        }
        EXPECT_TRUE(found) << c.expectLine.substr(0, 80);
        EXPECT_EQ(triangles, c.triangles);
        fs::remove(scenePath);
    }
    std::printf("[ bad input ] %zu strange but valid scenes exported through the command\n", std::size(cases));
}

TEST_F(CommandTest, HierarchyBeyondTheReadersLimitIsRefusedClearly) {
    const int levels = 50'000;  // the reader takes 49,995
    std::string deep;
    deep.reserve(size_t(levels) * 40);
    for (int i = 0; i < levels; ++i) deep += "{\"name\":\"L\",\"children\":[";
    for (int i = 0; i < levels; ++i) deep += "]}";
    const std::string scenePath = Scene("deep.json", SceneJson(deep));
    const Outcome o = RunCommand({"--batch", scenePath, out_ + "/scene.QSX"}, home_);
    EXPECT_EQ(o.status, 2);
    const auto lines = SplitLines(o.err);
    ASSERT_EQ(lines.size(), 1u) << o.err;
    EXPECT_EQ(lines[0].rfind("qsxexport: " + scenePath + ": ", 0), 0u) << lines[0];
    EXPECT_NE(lines[0].find("nested more than"), std::string::npos) << lines[0];
    EXPECT_TRUE(Snapshot(out_).empty());
}

// A file-size limit makes the script fail like a full disk, whether the
// command starts with SIGXFSZ ignored or must ignore it itself: the earlier
// script stays as it was and the message says so.
TEST_F(CommandTest, FileSizeLimitKeepsTheEarlierScriptAndSaysSo) {
    std::string nodes;
    for (int i = 0; i < 200; ++i) nodes += (i ? "," : "") + NodeJson("\"Node" + std::to_string(i) + "\"");
    const std::string scenePath = Scene("scene.json", SceneJson(nodes));
    const std::string out = out_ + "/scene.QSX";
    const std::string earlier = "earlier script\r\n";
    for (const bool ignored : {true, false}) {
        SCOPED_TRACE(ignored ? "SIGXFSZ ignored by the parent" : "SIGXFSZ at its default");
        fs::remove_all(out_);
        fs::create_directories(out_);
        WriteFile(out, earlier);
        const Outcome o =
            RunCommand({"--batch", "--header", "--no-animation", scenePath, out}, home_, {16384, ignored, "", ""});
        EXPECT_EQ(o.status, 1) << o.err;
        const auto lines = SplitLines(o.err);
        ASSERT_EQ(lines.size(), 1u) << o.err;
        EXPECT_EQ(lines[0], "qsxexport: " + out + ": not written: File too large; the earlier file is unchanged");
        // The header is small enough to be written whole; nothing else is there.
        const auto files = Snapshot(out_);
        EXPECT_EQ(files.size(), 2u);
        EXPECT_EQ(files.at("scene.QSX"), earlier);
        ASSERT_EQ(files.count("scene.qsh"), 1u);
        EXPECT_NE(files.at("scene.qsh").find("#define TAG_Node199 200\r\n"), std::string::npos);
    }
}

// One node named name whose mesh is a square drawn `squares` times, over a
// hundred frames: two million squares make a script of tens of megabytes,
// whose export lasts long enough to be caught while the script is written.
std::string SquaresScene(const std::string& name, int squares) {
    std::string s = "{\"qsxScene\":1,\"animation\":{\"start\":0,\"end\":16000},\"nodes\":[{\"name\":\"" + name +
                    "\",\"object\":{\"mesh\":{\"vertices\":[[0,0,0],[1,0,0],[0,1,0],[1,1,0]],\"faces\":[";
    const std::string faces = "[0,1,2],[1,3,2],";
    s.reserve(s.size() + faces.size() * size_t(squares) + 16);
    for (int i = 0; i < squares; ++i) s += faces;
    s.back() = ']';
    return s + "}}}]}";
}

// The temporary the command writes beside path, once there is one; waits at most two minutes.
std::string AwaitTemporary(const std::string& dir, const std::string& name) {
    for (int i = 0; i < 120'000; ++i) {
        for (const auto& e : fs::directory_iterator(dir)) {
            const std::string n = e.path().filename().string();
            if (n.rfind(name + ".partial-", 0) == 0) return n;
        }
        ::usleep(1000);
    }
    return "";
}

// Whether dir holds anything of a killed or interrupted run.
std::vector<std::string> Temporaries(const std::string& dir) {
    std::vector<std::string> found;
    for (const auto& e : fs::directory_iterator(dir))
        if (e.path().filename().string().find(".partial-") != std::string::npos) found.push_back(e.path().filename());
    return found;
}

// A signal while the script is being written: the handled ones leave the
// earlier files and no temporary, say so and end with 128 + the signal; after
// SIGKILL the script is the earlier one or the new one whole (and a temporary
// named for the process may be left).
TEST_F(CommandTest, SignalDuringTheExportLeavesEveryFileWholeOrAsItWas) {
    const std::string scenePath = Scene("large.json", SquaresScene("Large", 2'000'000));
    const std::string out = out_ + "/scene.QSX";
    const std::string earlier = "earlier script\r\n", earlierHeader = "earlier header\r\n";
    const struct {
        int sig;
        bool handled;
    } cases[] = {{SIGTERM, true}, {SIGINT, true}, {SIGHUP, true}, {SIGKILL, false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(strsignal(c.sig));
        fs::remove_all(out_);
        fs::create_directories(out_);
        WriteFile(out, earlier);
        WriteFile(out_ + "/scene.qsh", earlierHeader);
        Command run({"--batch", "--header", "--no-animation", scenePath, out}, home_);
        const std::string temporary = AwaitTemporary(out_, "scene.QSX");
        ASSERT_EQ(temporary, "scene.QSX.partial-" + std::to_string(run.Pid()));
        ASSERT_EQ(::kill(run.Pid(), c.sig), 0);
        const Outcome o = run.Wait();
        EXPECT_EQ(o.status, 128 + c.sig) << o.err;
        const std::string script = ReadFile(out);
        if (c.handled) {
            EXPECT_EQ(o.err, "qsxexport: interrupted; nothing written\n");
            EXPECT_EQ(script, earlier);
            EXPECT_EQ(ReadFile(out_ + "/scene.qsh"), earlierHeader);
            EXPECT_TRUE(Temporaries(out_).empty()) << Temporaries(out_)[0];
        } else {
            EXPECT_TRUE(script == earlier || script.ends_with("ModelEnd\r\n")) << script.size() << " bytes";
            for (const std::string& t : Temporaries(out_)) EXPECT_EQ(t, temporary);
        }
    }
}

// A signal after a file was put in place names the files that are complete.
// The animation file is a pipe that nobody reads: its pass waits in the open.
TEST_F(CommandTest, InterruptedRunLeavesEveryEarlierFile) {
    const std::string scenePath = Scene("scene.json", SceneJson(NodeJson("\"Box\"")));
    const std::string out = out_ + "/scene.QSX";
    WriteFile(out, "earlier script\r\n");
    ASSERT_EQ(::mkfifo((out_ + "/scene.qsv").c_str(), 0600), 0);
    Command run({"--batch", "--header", "--animation", scenePath, out}, home_);
    // The script and the header are finished (their temporaries closed) when
    // the run waits for a reader of the animation pipe.
    const std::string headerTemporary = out_ + "/scene.qsh.partial-" + std::to_string(run.Pid());
    for (int i = 0; i < 120'000 && !fs::exists(headerTemporary); ++i) ::usleep(1000);
    ASSERT_TRUE(fs::exists(headerTemporary));
    ASSERT_EQ(::kill(run.Pid(), SIGTERM), 0);
    const Outcome o = run.Wait();
    EXPECT_EQ(o.status, 143);
    EXPECT_EQ(o.err, "qsxexport: interrupted; nothing written\n");
    std::set<std::string> left;  // names only: the pipe is not to be read
    for (const auto& e : fs::directory_iterator(out_)) left.insert(e.path().filename().string());
    EXPECT_EQ(left, (std::set<std::string>{"scene.QSX", "scene.qsv"}));
    EXPECT_EQ(ReadFile(out), "earlier script\r\n");
}

// A signal while the files of one script per node are put in place: the
// message names exactly the files in place, each whole, and no temporary is
// left. A run that ends before the signal lands is tried again.
TEST_F(CommandTest, SignalWhileFilesArePutInPlaceNamesEachFileInPlace) {
    std::string nodes;
    for (int i = 0; i < 3000; ++i) nodes += (i ? "," : "") + NodeJson("\"N" + std::to_string(i) + "\"");
    const std::string scenePath = Scene("many.json", SceneJson(nodes));
    const std::string whole = dir_ + "/whole";
    fs::create_directories(whole);
    auto args = [&](const std::string& out) {
        return std::vector<std::string>{"--batch", "--hierarchy", "separate", scenePath, out};
    };
    ASSERT_EQ(Command(args(whole + "/m.QSX"), home_).Wait().status, 0);
    const std::string said = "qsxexport: interrupted; complete: ";
    for (int attempt = 0; attempt < 5; ++attempt) {
        fs::remove_all(out_);
        fs::create_directories(out_);
        Command run(args(out_ + "/m.QSX"), home_);
        bool placed = false;
        for (int i = 0; i < 600'000 && !placed; ++i) {
            for (const auto& e : fs::directory_iterator(out_))
                placed = placed || e.path().extension() == ".QSX";
            if (!placed) ::usleep(200);
        }
        ASSERT_TRUE(placed);
        ASSERT_EQ(::kill(run.Pid(), SIGINT), 0);
        const Outcome o = run.Wait();
        if (o.status == 0) continue;
        EXPECT_EQ(o.status, 130);
        ASSERT_TRUE(o.err.starts_with(said) && o.err.ends_with("\n")) << o.err;
        std::set<std::string> named, present;
        std::istringstream list(o.err.substr(said.size(), o.err.size() - said.size() - 1));
        for (std::string p; std::getline(list, p, ',');)
            named.insert(fs::path(p.substr(p.find_first_not_of(' '))).filename().string());
        for (const auto& e : fs::directory_iterator(out_)) present.insert(e.path().filename().string());
        EXPECT_EQ(named, present);
        for (const std::string& name : present) EXPECT_EQ(ReadFile(out_ + "/" + name), ReadFile(whole + "/" + name)) << name;
        return;
    }
    GTEST_SKIP() << "each run ended before the signal came";
}

// Two runs writing the same OUTPUT at once: each file is whole, and is the
// one or the other run's (the last to be put in place).
TEST_F(CommandTest, ConcurrentRunsOnOneOutputLeaveWholeFiles) {
    const std::string scenes[] = {Scene("a.json", SquaresScene("A", 200'000)), Scene("b.json", SquaresScene("B", 300'000))};
    const char* const names[] = {"scene.QSX", "scene.qsh", "scene.qsv"};
    auto args = [](const std::string& scene, const std::string& dir) {
        return std::vector<std::string>{"--batch", "--header", "--animation", scene, dir + "/scene.QSX"};
    };
    std::vector<std::map<std::string, std::string>> alone;
    for (const std::string& scene : scenes) {
        const std::string dir = dir_ + "/alone" + std::to_string(alone.size());
        fs::create_directories(dir);
        ASSERT_EQ(RunCommand(args(scene, dir), home_).status, 0);
        alone.push_back(Snapshot(dir));
        ASSERT_EQ(alone.back().size(), 3u);
    }
    for (int round = 0; round < 3; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        const std::string captures[] = {dir_ + "/capture0", dir_ + "/capture1"};
        std::vector<std::unique_ptr<Command>> runs;
        for (int i = 0; i < 2; ++i) {
            fs::create_directories(captures[i]);
            runs.push_back(std::make_unique<Command>(args(scenes[i], out_), home_, Launch{0, false, captures[i], ""}));
        }
        for (auto& r : runs) EXPECT_EQ(r->Wait().status, 0);
        const auto files = Snapshot(out_);
        EXPECT_EQ(files.size(), 3u) << "a temporary was left";
        for (const char* name : names) {
            const bool fromA = files.count(name) && files.at(name) == alone[0].at(name);
            const bool fromB = files.count(name) && files.at(name) == alone[1].at(name);
            EXPECT_TRUE(fromA || fromB) << name << " is neither run's";
        }
    }
}

// A replaced file keeps what made it the user's: a link at the path stays a
// link and the file it leads to is replaced (or made, when the link dangles),
// and the permission bits stay; a new file gets 0666 less the umask.
TEST_F(CommandTest, ReplacedFilesKeepTheirLinksAndPermissions) {
    const std::string scenePath = Scene("scene.json", SceneJson(NodeJson("\"Box\"")));
    const std::string elsewhere = dir_ + "/elsewhere";
    fs::create_directories(elsewhere);
    WriteFile(elsewhere + "/real.QSX", "earlier script\r\n");
    fs::create_symlink("../elsewhere/real.QSX", out_ + "/scene.QSX");
    fs::create_symlink(elsewhere + "/new.qsv", out_ + "/scene.qsv");
    WriteFile(out_ + "/scene.qsh", "earlier header\r\n");
    ASSERT_EQ(::chmod((out_ + "/scene.qsh").c_str(), 0604), 0);
    const Outcome o = RunCommand({"--batch", "--header", "--animation", scenePath, out_ + "/scene.QSX"}, home_);
    ASSERT_EQ(o.status, 0) << o.err;

    EXPECT_EQ(fs::read_symlink(out_ + "/scene.QSX"), "../elsewhere/real.QSX");
    EXPECT_EQ(ReadFile(elsewhere + "/real.QSX").rfind("# Output from", 0), 0u);
    EXPECT_EQ(fs::read_symlink(out_ + "/scene.qsv"), elsewhere + "/new.qsv");
    EXPECT_TRUE(fs::is_regular_file(elsewhere + "/new.qsv"));
    const mode_t umaskNow = ::umask(0);
    ::umask(umaskNow);
    struct stat st {};
    ASSERT_EQ(::stat((out_ + "/scene.qsh").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0604u);
    EXPECT_NE(ReadFile(out_ + "/scene.qsh"), "earlier header\r\n");
    ASSERT_EQ(::stat((elsewhere + "/new.qsv").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0666u & ~umaskNow);
    EXPECT_EQ(Snapshot(out_).size(), 3u);
    EXPECT_EQ(Snapshot(elsewhere).size(), 2u);
}

// Inputs the fuzzers found, kept in tests/data/regress/, each with what the
// command must answer.
TEST_F(CommandTest, InputsTheFuzzersFound) {
    struct Case {
        const char* file;
        int status;
        const char* reason;
    } cases[] = {
        // A face line missing from the ASE face list: the library reads far
        // out of bounds and crashes inside the import.
        {"ase_missing_face_line.ase", 2, "the importer gave up on this file"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        const std::string scenePath = std::string(QSX_SOURCE_DIR) + "/tests/data/regress/" + c.file;
        ASSERT_TRUE(fs::exists(scenePath));
        const Outcome o = RunCommand({"--batch", "--header", "--animation", scenePath, out_ + "/scene.QSX"}, home_);
        EXPECT_EQ(o.status, c.status) << o.err;
        const auto lines = SplitLines(o.err);
        ASSERT_EQ(lines.size(), 1u) << o.err;
        EXPECT_EQ(lines[0].rfind("qsxexport: " + scenePath + ": " + c.reason, 0), 0u) << lines[0];
        EXPECT_TRUE(Snapshot(out_).empty());
    }
}

// --- the settings store through the command

std::string SettingsPath(const std::string& home) { return home + "/config/qsxexport/settings.reg"; }

qsx::ExportOptions StoredOptions(const std::string& home) {
    qsxhost::FileRegistry reg(SettingsPath(home));
    qsx::ExportOptions o;
    qsx::LoadOptions(&reg, o);
    return o;
}

TEST_F(CommandTest, FailedSettingsSaveKeepsTheOldFileAndIsReported) {
    const std::string scenePath = Scene("empty.json", "{\"qsxScene\":1}");
    // Stored once with hints "editable".
    Outcome o = RunCommand({"--batch", "--save-defaults", "--hints", "editable", "--no-header", "--no-animation",
                            scenePath, out_ + "/a.QSX"},
                           home_);
    ASSERT_EQ(o.status, 0) << o.err;
    const std::string before = ReadFile(SettingsPath(home_));
    ASSERT_NE(before.find("\"Hints\"=dword:00000002"), std::string::npos) << before;
    ASSERT_LT(before.size(), 1000u);

    // The script of an empty scene fits under the limit, the settings file does not.
    o = RunCommand({"--batch", "--save-defaults", "--hints", "none", scenePath, out_ + "/b.QSX"}, home_,
                   {200, false, "", ""});
    EXPECT_EQ(o.status, 1) << o.err;
    const auto lines = SplitLines(o.err);
    ASSERT_TRUE(lines.size() == 1 || lines.size() == 2) << o.err;
    EXPECT_EQ(lines[0].rfind("qsxexport: " + SettingsPath(home_) + ": settings not saved: ", 0), 0u) << lines[0];
    EXPECT_NE(lines[0].find("File too large"), std::string::npos) << lines[0];
    // Then the warning that the scene has nothing to export, as far as the
    // same limit lets standard error (a file here) grow.
    const std::string empty = "qsxexport: " + scenePath + ": warning: nothing to export: the scene has no nodes";
    if (lines.size() == 2) {
        EXPECT_EQ(empty.rfind(lines[1], 0), 0u) << lines[1];
    }
    EXPECT_EQ(ReadFile(SettingsPath(home_)), before);
    EXPECT_EQ(ReadFile(out_ + "/b.QSX"),
              "# Output from 3DSMax Quorvantis File Export plug-in V1.0\r\nModelBegin\r\nModelEnd\r\n");
    // No temporary file is left beside it.
    for (const auto& [name, text] : Snapshot(home_ + "/config/qsxexport"))
        EXPECT_TRUE(name == "settings.reg" || name == "settings.reg.lock") << name;

    // A folder that cannot be written to (permissions do not bind root).
    if (kRoot) return;
    const std::string folder = home_ + "/config/qsxexport";
    ASSERT_EQ(::chmod(folder.c_str(), 0500), 0);
    o = RunCommand({"--batch", "--save-defaults", "--hints", "none", scenePath, out_ + "/c.QSX"}, home_);
    ::chmod(folder.c_str(), 0700);
    EXPECT_EQ(o.status, 1) << o.err;
    const auto roLines = SplitLines(o.err);
    ASSERT_EQ(roLines.size(), 1u) << o.err;
    EXPECT_EQ(roLines[0].rfind("qsxexport: " + SettingsPath(home_) + ": settings not saved: ", 0), 0u) << roLines[0];
    EXPECT_NE(roLines[0].find("Permission denied"), std::string::npos) << roLines[0];
    EXPECT_EQ(ReadFile(SettingsPath(home_)), before);
}

TEST_F(CommandTest, ConcurrentRunsSavingDefaultsNeverTearTheSettings) {
    const std::string scenePath = Scene("scene.json", SceneJson(NodeJson("\"Box\"")));
    struct Variant {
        std::vector<std::string> args;
        int hints;
        float scale;
        int hierarchy;
    };
    const Variant variants[] = {
        {{"--hints", "editable", "--scale-by", "2", "--hierarchy", "single", "--ext", "TGA"}, 2, 2.0f, 1},
        {{"--hints", "none", "--scale-by", "3.5", "--hierarchy", "separate", "--no-ext"}, 0, 3.5f, 3},
        {{"--hints", "hidden-surface", "--scale-to", "10", "--hierarchy", "multiple", "--ext", "PNG"}, 1, 10.0f, 2},
    };
    std::vector<std::string> captures;
    for (size_t v = 0; v < std::size(variants); ++v) {
        captures.push_back(dir_ + "/run" + std::to_string(v));
        fs::create_directories(captures.back());
    }
    const int rounds = 6;
    for (int round = 0; round < rounds; ++round) {
        std::vector<pid_t> pids;
        for (size_t v = 0; v < std::size(variants); ++v) {
            const pid_t pid = ::fork();
            ASSERT_GE(pid, 0);
            if (pid == 0) {
                std::vector<std::string> args = {"--batch", "--save-defaults", "--no-header", "--no-animation"};
                args.insert(args.end(), variants[v].args.begin(), variants[v].args.end());
                args.push_back(scenePath);
                args.push_back(out_ + "/r" + std::to_string(round) + "v" + std::to_string(v) + ".QSX");
                // The settings are shared; each runner captures its own output.
                const Outcome o = RunCommand(args, home_, {0, false, captures[v], ""});
                ::_exit(o.status == 0 && o.err.empty() ? 0 : 1);
            }
            pids.push_back(pid);
        }
        for (pid_t pid : pids) {
            int status = 0;
            ASSERT_EQ(::waitpid(pid, &status, 0), pid);
            EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "round " << round;
        }
        // The file is whole and holds one run's options, not a mixture.
        const std::string text = ReadFile(SettingsPath(home_));
        ASSERT_EQ(text.rfind("Windows Registry Editor Version 5.00\r\n", 0), 0u) << text;
        ASSERT_EQ(text.compare(text.size() - 2, 2, "\r\n"), 0) << text;
        const qsx::ExportOptions o = StoredOptions(home_);
        int matches = 0;
        for (const Variant& v : variants) {
            if (o.hints == v.hints && o.scaleFactor == v.scale && o.hierarchyType == v.hierarchy) ++matches;
        }
        EXPECT_EQ(matches, 1) << "round " << round << ": a torn or mixed settings file\n" << text;
        for (const auto& [name, content] : Snapshot(home_ + "/config/qsxexport"))
            EXPECT_TRUE(name == "settings.reg" || name == "settings.reg.lock") << name;
    }
}

// --- numbers that are not numbers never reach a file

// A file of the run that holds "inf" or "nan" (the scenes below have no such
// names), or "".
std::string FileWithANonNumber(const std::map<std::string, std::string>& files) {
    for (const auto& [name, text] : files)
        if (text.find("nan") != std::string::npos || text.find("inf") != std::string::npos) return name;
    return "";
}

// Parent above Child, both triangles; `parentTransform` is the parent's
// node transform, the child stands at (4, 6, 8); two frames of animation.
std::string ParentChildJson(const std::string& parentTransform) {
    return "{\"qsxScene\":1,\"animation\":{\"start\":0,\"end\":320},\"nodes\":[" +
           NodeJson("\"Parent\"", ",\"transform\":" + parentTransform + ",\"children\":[" +
                                      NodeJson("\"Child\"", ",\"transform\":[[1,0,0],[0,1,0],[0,0,1],[4,6,8]]") + "]") +
           "]}";
}

// The same in a glTF file: Parent (its scale given) holding Child, below a group.
std::string ParentChildGltf(const std::string& parentScale, float coordinate = 1) {
    gltf::Gltf g;
    const int pos = g.Floats({0, 0, 0, 1, 0, 0, 0, coordinate, 0}, "VEC3", 3);
    const int idx = g.Indices({0, 1, 2});
    return g.Json(R"("scenes":[{"nodes":[0]}],"nodes":[{"name":"Group","children":[1]},)"
                  R"({"name":"Parent","mesh":0,"scale":)" + parentScale + R"(,"children":[2]},)"
                  R"({"name":"Child","mesh":0,"translation":[4,6,8]}],)"
                  R"("meshes":[{"name":"Tri","primitives":[{"attributes":{"POSITION":)" + std::to_string(pos) +
                  R"(},"indices":)" + std::to_string(idx) + "}]}]");
}

const char kIdentityTransform[] =
    "Transform  1.000000  0.000000  0.000000  0.000000  0.000000  1.000000  0.000000  0.000000"
    "  0.000000  0.000000  1.000000  0.000000  0.000000  0.000000  0.000000  1.000000";

// A parent scaled to nothing hides its subtree: the child is written with
// the identity relative to it, in the script and in every frame, and is
// named in one warning.
TEST_F(CommandTest, ChildOfAParentScaledToNothingIsWrittenWithTheIdentity) {
    const struct {
        const char* name;
        std::string file, text;
        int frames;
    } cases[] = {
        {"JSON parent of all-zero transform", "zero.json", ParentChildJson("[[0,0,0],[0,0,0],[0,0,0],[0,0,0]]"), 2},
        {"glTF parent of scale 0", "zero.gltf", ParentChildGltf("[0,0,0]"), 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove_all(out_);
        fs::create_directories(out_);
        const std::string out = out_ + "/scene.QSX";
        const std::string scene = Scene(c.file, c.text);
        const Outcome o = RunCommand({"--batch", "--header", "--animation", scene, out}, home_);
        EXPECT_EQ(o.status, 0) << o.err;
        const auto lines = SplitLines(o.err);
        ASSERT_EQ(lines.size(), 1u) << o.err;
        EXPECT_EQ(lines[0].rfind("qsxexport: " + scene + ": warning: node \"Child\" is written with the identity transform", 0), 0u)
            << lines[0];
        const auto files = Snapshot(out_);
        EXPECT_EQ(files.size(), 3u);
        EXPECT_EQ(FileWithANonNumber(files), "");
        EXPECT_NE(files.at("scene.QSX").find("    " + std::string(kIdentityTransform) + "\r\n"), std::string::npos);
        // The child's line in each frame: tag 2, the identity.
        const std::string frameLine = "Transform 2  1.000000  0.000000  0.000000  0.000000  1.000000  0.000000"
                                      "  0.000000  0.000000  1.000000  0.000000  0.000000  0.000000\r\n";
        size_t seen = 0;
        for (size_t at = 0; (at = files.at("scene.qsv").find(frameLine, at)) != std::string::npos; ++at) ++seen;
        EXPECT_EQ(seen, static_cast<size_t>(c.frames));
    }
}

// A scale factor is used when it and its reciprocal are finite floats and
// every number the scene's script holds stays finite with it, and then every
// transform keeps its axes; any other is refused before anything is written,
// naming where it came from: the flag at once, a factor that scaling to a
// size needs, or one the scene cannot take, once the scene is measured, or
// the stored options. A factor the scene cannot take is told with the limit
// it can.
TEST_F(CommandTest, ScaleFactorsAreUsedWhenFiniteBothWaysAndRefusedOtherwise) {
    const std::string box = Scene("box.json", SceneJson(NodeJson("\"Box\"")));
    const std::string huge =
        Scene("huge.json", SceneJson("{\"name\":\"Huge\",\"object\":{\"mesh\":{\"vertices\":[[0,0,0],[1e10,0,0],"
                                     "[0,1,0]],\"faces\":[[0,1,2]]}}}"));
    const std::string tiny =
        Scene("tiny.json", SceneJson("{\"name\":\"Tiny\",\"object\":{\"mesh\":{\"vertices\":[[0,0,0],[1e-20,0,0],"
                                     "[0,1e-20,0]],\"faces\":[[0,1,2]]}}}"));
    // Axes of length 4 and a translation of 100: a factor multiplies the one, divides the other.
    const std::string far = Scene("far.json", SceneJson("{\"name\":\"Far\",\"transform\":[[4,0,0],[0,4,0],[0,0,4],"
                                                        "[100,0,0]],\"object\":{\"mesh\":{\"vertices\":[[0,0,0],"
                                                        "[1,0,0],[0,1,0]],\"faces\":[[0,1,2]]}}}"));
    const std::string range = "outside the range where a float and its reciprocal are both finite";
    const std::string beyond = "takes numbers of this scene beyond the float range: it can be scaled ";
    const struct {
        const char* name;
        std::vector<std::string> options;
        std::string scene;
        std::string stored;  // a size to scale to in the settings, as text, or ""
        int status;
        std::string message;  // the start of the one message, when refused
        int storedType = 0;   // the stored scale type: 0 a size, 1 a factor
    } cases[] = {
        {"tiny factor", {"--scale-by", "1e-30"}, box, "", 0, ""},
        {"factor whose cube leaves float", {"--scale-by", "1e13"}, box, "", 0, ""},
        {"huge factor", {"--scale-by", "1e30"}, box, "", 0, ""},
        {"factor without a float reciprocal", {"--scale-by", "1e-39"}, box, "", 2,
         "qsxexport: --scale-by: '1e-39' is not a positive number whose reciprocal is a finite float too"},
        {"factor beyond float", {"--scale-by", "1e39"}, box, "", 2,
         "qsxexport: --scale-by: '1e39' is not a positive number whose reciprocal is a finite float too"},
        {"size that needs a factor without a float reciprocal", {"--scale-to", "1e-30"}, huge, "", 2,
         "qsxexport: --scale-to: scaling to 1e-30 needs the factor 1e-40 for the scene's largest extent 1e+10, " +
             range},
        {"size that needs a factor beyond float", {"--scale-to", "1e30"}, tiny, "", 2,
         "qsxexport: --scale-to: scaling to 1e+30 needs the factor 1e+50 for the scene's largest extent 1e-20, " +
             range},
        {"stored size that needs a factor beyond float", {}, tiny, "1e30", 2,
         "qsxexport: the stored options: scaling to 1e+30 needs the factor 1e+50 for the scene's largest extent "
         "1e-20, " + range},
        {"factor a coordinate of the scene cannot take", {"--scale-by", "3e38"}, huge, "", 2,
         "qsxexport: --scale-by: scaling by 3e+38 " + beyond + "by factors up to about 3.4e+28; nothing was written"},
        {"factor at the limit the scene takes", {"--scale-by", "3.4e28"}, huge, "", 0, ""},
        {"factor the axes of the scene cannot take", {"--scale-by", "1e-38"}, far, "", 2,
         "qsxexport: --scale-by: scaling by 1e-38 " + beyond + "by factors down to about 1.18e-38; nothing was written"},
        {"factor at the limit the axes take", {"--scale-by", "1.18e-38"}, far, "", 0, ""},
        {"size a translation of the scene cannot take", {"--scale-to", "3e38", "--no-centre"}, far, "", 2,
         "qsxexport: --scale-to: scaling to 3e+38 needs the factor 7.5e+37 for the scene's largest extent 4, which " +
             beyond + "to sizes up to about 1.36e+37; nothing was written"},
        {"size at the limit the translation takes", {"--scale-to", "1.36e37", "--no-centre"}, far, "", 0, ""},
        {"stored factor a coordinate of the scene cannot take", {}, huge, "3e38", 2,
         "qsxexport: the stored options: scaling by 3e+38 " + beyond + "by factors up to about 3.4e+28", 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove_all(out_);
        fs::create_directories(out_);
        fs::remove_all(home_ + "/config");
        if (!c.stored.empty()) {
            qsxhost::FileRegistry reg(SettingsPath(home_));
            auto key = reg.CreateKey(qsx::kOptionsKey);
            const unsigned char scaleType[4] = {static_cast<unsigned char>(c.storedType), 0, 0, 0};
            ASSERT_TRUE(key && key->SetValue("Scale factor", host::REG_SZ, c.stored.c_str(), c.stored.size() + 1) &&
                        key->SetValue("Scale type", host::REG_DWORD, scaleType, 4) && key->Close());
        }
        std::vector<std::string> args = {"--batch", "--header", "--animation"};
        args.insert(args.end(), c.options.begin(), c.options.end());
        args.push_back(c.scene);
        args.push_back(out_ + "/scene.QSX");
        const Outcome o = RunCommand(args, home_);
        EXPECT_EQ(o.status, c.status) << o.err;
        const auto files = Snapshot(out_);
        if (c.status != 0) {
            const auto lines = SplitLines(o.err);
            ASSERT_EQ(lines.size(), 1u) << o.err;
            EXPECT_EQ(lines[0].rfind(c.message, 0), 0u) << lines[0];
            EXPECT_TRUE(files.empty());
            continue;
        }
        EXPECT_EQ(o.err, "");
        ASSERT_EQ(files.size(), 3u);
        EXPECT_EQ(FileWithANonNumber(files), "");
        std::string axes(kIdentityTransform, 129);
        for (size_t at = 0; c.scene == far && (at = axes.find("1.000000", at)) != std::string::npos;)
            axes.replace(at, 1, "4");
        EXPECT_NE(files.at("scene.QSX").find(axes), std::string::npos) << "the node's axes are kept";
    }
}

// Numbers that are not finite in a 3D file refuse the scene, naming the
// first; a number that becomes infinite on the way out fails the file it
// would be written to, and the run's other files are written.
TEST_F(CommandTest, NumbersThatAreNotFiniteRefuseTheSceneOrFailTheirFile) {
    const float inf = std::numeric_limits<float>::infinity();
    const std::string big = "{\"name\":\"Big\",\"offsetPosition\":[3e38,0,0],\"object\":{\"mesh\":{\"vertices\":"
                            "[[0,0,0],[3e38,0,0],[0,1,0]],\"faces\":[[0,1,2]]}}}";
    const struct {
        const char* name;
        std::string file, text;
        std::vector<std::string> options;
        int status;
        std::string message;  // after "qsxexport: FILE: ", FILE the scene or the script as `aboutScene` says
        bool aboutScene;
        std::set<std::string> written;
    } cases[] = {
        {"infinite coordinate in a glTF file", "inf.gltf", ParentChildGltf("[1,1,1]", inf), {}, 2,
         R"(node "Parent", mesh "Tri", vertex 2: coordinate is not a finite number)", true, {}},
        {"coordinate beyond float once offset", "big.json", SceneJson(big), {"--scale-by", "1", "--no-centre"}, 1,
         "not written: a number to be written is not finite (inf or nan)", false, {"scene.qsh", "scene.qsv"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove_all(out_);
        fs::create_directories(out_);
        const std::string scene = Scene(c.file, c.text), out = out_ + "/scene.QSX";
        std::vector<std::string> args = {"--batch", "--header", "--animation"};
        args.insert(args.end(), c.options.begin(), c.options.end());
        args.push_back(scene);
        args.push_back(out);
        const Outcome o = RunCommand(args, home_);
        EXPECT_EQ(o.status, c.status) << o.err;
        const auto lines = SplitLines(o.err);
        ASSERT_EQ(lines.size(), 1u) << o.err;
        EXPECT_EQ(lines[0], "qsxexport: " + (c.aboutScene ? scene : out) + ": " + c.message);
        const auto files = Snapshot(out_);
        std::set<std::string> names;
        for (const auto& [name, text] : files) names.insert(name);
        EXPECT_EQ(names, c.written);
        EXPECT_EQ(FileWithANonNumber(files), "");
    }
}

// The stored options' key with the value lines given, as a settings file.
std::string SettingsFile(const std::string& values) {
    return "Windows Registry Editor Version 5.00\r\n\r\n"
           "[HKEY_CURRENT_USER\\Software\\Dunmarrow\\Quorvantis 3dsMax Exporter]\r\n" +
           values;
}

// ASCII text in UTF-16 little-endian after its byte-order mark, as the registry editor saves a file.
std::string Utf16Le(const std::string& ascii) {
    std::string out = "\xFF\xFE";
    for (char c : ascii) out += {c, '\0'};
    return out;
}

// The command line's forms: values after '=', -o, - for standard input, a
// refused value named with its option and its text, -v naming every file
// written, the JSON reader's warnings and stored values the dialog would
// refuse. Words "@SCENE", "@GLTF", "@OUT", "@DIR" and "@SETTINGS" stand for
// the run's paths.
TEST_F(CommandTest, CommandLineFormsAndRefusedValues) {
    const std::string scene = SceneJson(NodeJson("\"A\"") + "," + NodeJson("\"B\""));
    const std::string gltfText = ParentChildGltf("[1,1,1]");
    const std::string scenePath = Scene("two.json", scene), gltfPath = Scene("tri.gltf", gltfText);
    const std::string noOutput = "qsxexport: OUTPUT is an empty path (see --help)";
    const std::string badStore = SettingsFile("\"Scale factor\"=\"-5\"\r\n\"Ext Name\"=\"TOOLONG\"\r\n");
    const std::string badScale = "qsxexport: @SETTINGS: stored \"Scale factor\" \"-5\" is not a number above 0; "
                                 "the default 1.0000 is used";
    const std::string badExt = "qsxexport: @SETTINGS: stored \"Ext Name\" \"TOOLONG\" is not 1 to 3 ASCII letters or "
                               "digits; the default BMP is used";
    const struct {
        const char* name;
        std::vector<std::string> args;  // after --batch --no-animation
        std::string input;              // standard input
        int status;
        std::vector<std::string> err;      // standard error, the lines of -v that name no file left out
        std::vector<std::string> written;  // in out/, in the order -v lists them when it is given
        std::string settings = {};         // the settings file's bytes, when there is one
    } cases[] = {
        {"size not a number", {"--scale-to", "abc", "@SCENE", "@OUT"}, "", 2,
         {"qsxexport: --scale-to: 'abc' is not a number above 0"}, {}},
        {"size in hexadecimal", {"--scale-to", "0x10", "@SCENE", "@OUT"}, "", 2,
         {"qsxexport: --scale-to: '0x10' is not a number above 0"}, {}},
        {"size with a decimal comma", {"--scale-to=1,5", "@SCENE", "@OUT"}, "", 2,
         {"qsxexport: --scale-to: '1,5' is not a number above 0"}, {}},
        {"size with trailing text", {"--scale-to", "5abc", "@SCENE", "@OUT"}, "", 2,
         {"qsxexport: --scale-to: '5abc' is not a number above 0"}, {}},
        {"infinite size", {"--scale-to", "inf", "@SCENE", "@OUT"}, "", 2,
         {"qsxexport: --scale-to: 'inf' is not a number above 0"}, {}},
        {"size beyond float", {"--scale-to", "1e40", "@SCENE", "@OUT"}, "", 2,
         {"qsxexport: --scale-to: '1e40' is outside the float range (about 1e-45 to 3e+38)"}, {}},
        {"factor 0", {"--scale-by=0", "@SCENE", "@OUT"}, "", 2,
         {"qsxexport: --scale-by: '0' is not a number above 0"}, {}},
        {"extension too long", {"--ext", "TOOLONG", "@SCENE", "@OUT"}, "", 2,
         {"qsxexport: --ext: 'TOOLONG' is not 1 to 3 letters or digits"}, {}},
        {"extension with a dot", {"--ext", ".BM", "@SCENE", "@OUT"}, "", 2,
         {"qsxexport: --ext: '.BM' is not 1 to 3 letters or digits"}, {}},
        {"extension with a space", {"--ext", "A B", "@SCENE", "@OUT"}, "", 2,
         {"qsxexport: --ext: 'A B' is not 1 to 3 letters or digits"}, {}},
        {"empty extension", {"--ext=", "@SCENE", "@OUT"}, "", 2,
         {"qsxexport: --ext: '' is not 1 to 3 letters or digits"}, {}},
        {"value given to a flag without one", {"--centre=yes", "@SCENE", "@OUT"}, "", 2,
         {"qsxexport: option --centre takes no value (see --help)"}, {}},
        {"a format the importer does not read", {"--input-format", "xyz", "-", "@OUT"}, gltfText, 2,
         {"qsxexport: --input-format takes a 3D file extension the importer reads (see --list-input-formats), not 'xyz'"},
         {}},
        {"a frame rate that is no whole number", {"--fps", "24.5", "@GLTF", "@OUT"}, "", 2,
         {"qsxexport: --fps takes a whole number from 1 to 4800, not '24.5'"}, {}},
        {"an animation index below 0", {"--animation-index=-1", "@GLTF", "@OUT"}, "", 2,
         {"qsxexport: --animation-index takes a whole number from 0, not '-1'"}, {}},
        {"--version with an operand", {"-V", "extra"}, "", 2, {"qsxexport: --version takes no operand (see --help)"}, {}},
        {"--check without a file", {"--check"}, "", 2, {"qsxexport: --check needs at least one FILE to check (see --help)"},
         {}},
        {"empty OUTPUT", {"@SCENE", ""}, "", 2, {noOutput}, {}},
        {"empty -o OUTPUT", {"-o", "", "@SCENE"}, "", 2, {noOutput}, {}},
        {"-o and a second operand", {"-o", "@OUT", "@SCENE", "@OUT"}, "", 2,
         {"qsxexport: expected SCENE and -o OUTPUT, no second operand (see --help)"}, {}},
        {"plug-in missing", {"--plugin", "@DIR/none.so", "@SCENE", "@OUT"}, "", 2,
         {"qsxexport: @DIR/none.so: cannot open shared object file: No such file or directory"}, {}},
        {"3D file on standard input without its format", {"-", "@OUT"}, gltfText, 2,
         {"qsxexport: standard input: not a JSON scene; give --input-format EXT (obj, gltf, ...) for a 3D file"}, {}},
        {"--input-format for a file that has a name", {"--input-format", "gltf", "@GLTF", "@OUT"}, "", 2,
         {"qsxexport: --input-format is for a scene read from a pipe or standard input, not the file @GLTF"}, {}},
        {"-v lists each node's script and the header",
         {"-v", "--hierarchy=separate", "--header", "-o", "@OUT", "@SCENE"}, "", 0, {}, {"a0.QSX", "a1.QSX", "a.qsh"}},
        {"JSON scene with a byte-order mark on standard input", {"-v", "--header", "-", "@OUT"}, "\xEF\xBB\xBF" + scene,
         0, {}, {"a.QSX", "a.qsh"}},
        {"glTF file on standard input", {"--input-format=GLTF", "--", "-", "@OUT"}, gltfText, 0, {}, {"a.QSX"}},
        {"unknown JSON members named, notes passed over, the export goes on", {"-", "@OUT"},
         SceneJson(NodeJson("\"A\"") + "," + NodeJson("\"B\"", ",\"Keys\":[],\"_note\":1")), 0,
         {"qsxexport: standard input: nodes[1]: unknown member \"Keys\" ignored"}, {"a.QSX"}},
        {"text after the JSON document", {"-", "@OUT"}, scene + "\n}", 2,
         {"qsxexport: standard input: unexpected text after the document at byte " + std::to_string(scene.size() + 1)},
         {}},
        {"stored values the dialog would refuse give way to their defaults", {"@SCENE", "@OUT"}, "", 0,
         {badScale, badExt}, {"a.QSX"}, badStore},
        {"settings file in UTF-16", {"@SCENE", "@OUT"}, "", 0, {badScale, badExt}, {"a.QSX"}, Utf16Le(badStore)},
        {"a flag's value in place of a refused stored one", {"--scale-by", "2", "--ext", "png", "@SCENE", "@OUT"}, "",
         0, {}, {"a.QSX"}, badStore},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove_all(out_);
        fs::create_directories(out_);
        auto expand = [&](std::string text) {
            for (const auto& [word, path] : {std::pair<std::string, std::string>{"@SCENE", scenePath},
                                             {"@GLTF", gltfPath}, {"@OUT", out_ + "/a.QSX"}, {"@DIR", dir_},
                                             {"@SETTINGS", SettingsPath(home_)}})
                if (const size_t at = text.find(word); at != std::string::npos) text.replace(at, word.size(), path);
            return text;
        };
        fs::remove(SettingsPath(home_));
        if (!c.settings.empty()) {
            fs::create_directories(fs::path(SettingsPath(home_)).parent_path());
            WriteFile(SettingsPath(home_), c.settings);
        }
        std::vector<std::string> args = {"--batch", "--no-animation"};
        for (const std::string& a : c.args) args.push_back(expand(a));
        const Outcome o = RunCommand(args, home_, {0, false, "", c.input});
        EXPECT_EQ(o.status, c.status) << o.err;
        EXPECT_EQ(o.out, "");
        std::vector<std::string> wantErr, err;
        for (const std::string& line : c.err) wantErr.push_back(expand(line));
        const bool verbose = std::find(c.args.begin(), c.args.end(), "-v") != c.args.end();
        const bool saving = std::find(c.args.begin(), c.args.end(), "--save-defaults") != c.args.end();
        if (verbose && o.status == 0)
            wantErr.push_back("qsxexport: settings: " + SettingsPath(home_) +
                              (saving ? " (read and saved)" : " (read only)"));
        for (const std::string& w : c.written)
            if (verbose)
                wantErr.push_back("qsxexport: wrote " + out_ + "/" + w + " (" +
                                  std::to_string(ReadFile(out_ + "/" + w).size()) + " bytes)");
        for (const std::string& line : SplitLines(o.err))
            if (line.rfind("qsxexport: read ", 0) != 0 && line.rfind("qsxexport: exported in ", 0) != 0)
                err.push_back(line);
        EXPECT_EQ(err, wantErr);
        std::set<std::string> names;
        for (const auto& [name, text] : Snapshot(out_)) names.insert(name);
        EXPECT_EQ(names, std::set<std::string>(c.written.begin(), c.written.end()));
    }
}

// Each stored value a batch run cannot take says so once, naming the file, the
// value as stored, what is wrong and what is used instead; the run goes on as
// it would with that value's default (textures named with the extension used).
TEST_F(CommandTest, StoredValuesAreJudgedAndNamed) {
    const std::string scene = Scene("t.json", "{\"qsxScene\":1,\"maps\":[{\"class\":\"bitmap\",\"file\":\"crate.tga\"}],"
                                              "\"materials\":[{\"class\":\"standard\",\"diffuseMap\":{\"enabled\":true,"
                                              "\"map\":0}}],\"nodes\":[" + NodeJson("\"A\"", ",\"material\":0") + "]}");
    const std::string key = "[HKEY_CURRENT_USER\\Software\\Dunmarrow\\Quorvantis 3dsMax Exporter]";
    const std::string head = "Windows Registry Editor Version 5.00\r\n\r\n";
    const std::string over = "\"Texture type\"=dword:00000011\r\n\"Ext Name\"=";  // extensions replaced
    const auto utf16be = [](const std::string& ascii) {
        std::string out = "\xFE\xFF";
        for (const char c : ascii) out += {'\0', c};
        return out;
    };
    const std::string dflt = "; the default ", notValue = " is not found among the exporter's values";
    const std::string notPlain = " is not 1 to 3 ASCII letters or digits; the default BMP is used";
    // A key of many values the exporter does not know: the first few named, the rest counted.
    const auto foreign = [&](int n, const std::string& more = "") {
        std::string values;
        for (int i = 1; i <= n; ++i) values += "\"Extra " + std::to_string(i) + "\"=\"v\"\r\n";
        return SettingsFile(values + more);
    };
    const auto foreignNotes = [&](int n) {
        std::string notes;
        for (int i = 1; i <= n; ++i)
            notes += "stored \"Extra " + std::to_string(i) + "\" \"v\"" + notValue + "; it is ignored\n";
        return notes;
    };
    const struct {
        std::string settings;
        std::vector<std::string> args;
        std::string note;  // after "qsxexport: FILE: ", "" for none
        std::string texture = "crate.tga";
    } cases[] = {
        {SettingsFile("\"Hierarchy type\"=dword:00000009\r\n"), {},
         "stored \"Hierarchy type\" dword:00000009 is out of range (0 to 3)" + dflt + "0 (Preserve hierarchy) is used"},
        {SettingsFile("\"Hierarchy type\"=dword:00000009\r\n"), {"--hierarchy", "preserve"}, ""},
        {SettingsFile("\"Hints\"=dword:ffffffff\r\n"), {},
         "stored \"Hints\" dword:ffffffff is out of range (0 to 2)" + dflt + "0 (None) is used"},
        {SettingsFile("\"Scale type\"=dword:00000005\r\n"), {},
         "stored \"Scale type\" dword:00000005 is out of range (0 to 1)" + dflt + "1 (Scale by) is used"},
        {SettingsFile("\"Centre\"=dword:000000000\r\n"), {},
         "stored \"Centre\" dword:000000000 cannot be read (dword: takes 8 hexadecimal digits; a text is in quotes)" +
             dflt + "1 is used"},
        {SettingsFile("\"Centre\"=\"0\"\r\n"), {}, "stored \"Centre\" \"0\" has the wrong type (a dword is expected)" +
                                                       dflt + "1 is used"},
        {utf16be(head + key + "\r\n\"Hints\"=dword:00000007\r\n"), {},
         "stored \"Hints\" dword:00000007 is out of range (0 to 2)" + dflt + "0 (None) is used"},
        {"Windows Registry Editor Version 5.00\r\r" + key + "\r\"Hints\"=dword:00000003\r", {},
         "stored \"Hints\" dword:00000003 is out of range (0 to 2)" + dflt + "0 (None) is used"},
        {SettingsFile("\"Hierachy type\"=dword:00000001\r\n"), {},
         "stored \"Hierachy type\" dword:00000001" + notValue + " (is it \"Hierarchy type\"?)" + dflt +
             "0 (Preserve hierarchy) is used"},
        {SettingsFile("\"Colour\"=\"\x1b]0;x\x07\"\r\n"), {},
         "stored \"Colour\" \"\\x1b]0;x\\x07\"" + notValue + "; it is ignored"},
        {head + "[HKEY_CURRENT_USER\\Software\\Dunmarrow\\Quorvantis Exporter]\r\n\"Hints\"=dword:00000001\r\n", {},
         "holds no key " + key + " (it has [HKEY_CURRENT_USER\\Software\\Dunmarrow\\Quorvantis Exporter]); "
                                 "the defaults are used"},
        {std::string("W\0i\0n\0", 6), {}, "holds no key " + key + " (it is not text in UTF-8, nor in UTF-16 with a "
                                                                  "byte-order mark); the defaults are used"},
        {SettingsFile(over + "\"\xC3\x84\xC3\x96\"\r\n"), {}, "stored \"Ext Name\" \"\\xc3\\x84\\xc3\\x96\"" + notPlain,
         "crate.BMP"},
        {SettingsFile(over + "\"a\\\"b\"\r\n"), {}, "stored \"Ext Name\" \"a\\\"b\"" + notPlain, "crate.BMP"},
        {SettingsFile(over + "\"\xC4\xD6\"\r\n"), {}, "stored \"Ext Name\" \"\\xc4\\xd6\"" + notPlain, "crate.BMP"},
        {SettingsFile(over + "\"png\"\r\n"), {},
         "stored \"Ext Name\" \"png\" is in small letters; PNG is used, as the dialog's box turns typed letters into "
         "capitals",
         "crate.PNG"},
        {SettingsFile("\"Scale factor\"=dword:00000002\r\n"), {},
         "stored \"Scale factor\" dword:00000002 has the wrong type (a text is expected)" + dflt + "1.0000 is used"},
        {foreign(11), {}, foreignNotes(10) + "1 more stored value not found among the exporter's values is ignored"},
        // A name in other spellings is one name: told once, counted once.
        {SettingsFile("\"Colour\"=\"a\"\r\n\"COLOUR\"=\"b\"\r\n\"colour\"=\"c\"\r\n"), {},
         "stored \"Colour\" \"a\"" + notValue + "; it is ignored"},
        {foreign(12, "\"EXTRA 12\"=\"w\"\r\n\"extra 2\"=\"w\"\r\n"), {},
         foreignNotes(10) + "2 more stored values not found among the exporter's values are ignored"},
    };
    fs::create_directories(fs::path(SettingsPath(home_)).parent_path());
    fs::remove(SettingsPath(home_));
    ASSERT_EQ(RunCommand({"--batch", scene, out_ + "/base.QSX"}, home_).status, 0);
    const std::string base = ReadFile(out_ + "/base.QSX");
    ASSERT_NE(base.find("Texture crate.tga\r\n"), std::string::npos) << base;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.note);
        WriteFile(SettingsPath(home_), c.settings);
        std::vector<std::string> args = {"--batch"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        args.insert(args.end(), {scene, out_ + "/a.QSX"});
        const Outcome o = RunCommand(args, home_);
        EXPECT_EQ(o.status, 0);
        std::string err;
        for (size_t at = 0; at < c.note.size();) {
            const size_t end = std::min(c.note.find('\n', at), c.note.size());
            err += "qsxexport: " + SettingsPath(home_) + ": " + c.note.substr(at, end - at) + "\n";
            at = end + 1;
        }
        EXPECT_EQ(o.err, err);
        std::string want = base;
        want.replace(want.find("crate.tga"), 9, c.texture);
        EXPECT_EQ(ReadFile(out_ + "/a.QSX"), want);
    }
}

}  // namespace
