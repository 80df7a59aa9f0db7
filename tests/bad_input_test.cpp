// Bad input through the qsxexport command: every scene or output it cannot
// use gets one message on standard error, "qsxexport: FILE: what is wrong",
// the documented exit status (0 written, 1 a file could not be written,
// 2 usage or refused input, 3 cancelled), and no file is left half written
// or changed where a good one stood. Strange but valid scenes (huge names,
// control characters, millions of degenerate faces, very deep trees) are
// written. The settings store is exercised under a full disk and by
// concurrent runs.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <climits>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <set>
#include <sstream>

#include "QsxExp/Options.h"
#include "qsxhost/settings/FileRegistry.h"

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

// Runs qsxexport with its settings under home; the child may have a file
// size limit (SIGXFSZ ignored, as the ignored disposition survives exec).
// Its output is captured in files in captureDir (home when empty).
Outcome RunCommand(const std::vector<std::string>& args, const std::string& home, rlim_t fileSizeLimit = 0,
                   std::string captureDir = "") {
    if (captureDir.empty()) captureDir = home;
    const std::string errPath = captureDir + "/.stderr", outPath = captureDir + "/.stdout";
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
    const pid_t pid = ::fork();
    if (pid == 0) {
        const int err = ::open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        const int out = ::open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        int in[2];
        if (err < 0 || out < 0 || ::pipe(in) != 0) ::_exit(120);
        ::close(in[1]);  // standard input: no terminal, at its end
        ::dup2(in[0], 0);
        ::dup2(out, 1);
        ::dup2(err, 2);
        if (fileSizeLimit) {
            std::signal(SIGXFSZ, SIG_IGN);
            struct rlimit lim = {fileSizeLimit, fileSizeLimit};
            ::setrlimit(RLIMIT_FSIZE, &lim);
        }
        ::alarm(300);  // a hang ends as a failure, not as a stuck test
        ::execve(kBinary.c_str(), argv.data(), envp.data());
        ::_exit(121);
    }
    Outcome o;
    int status = 0;
    if (pid > 0 && ::waitpid(pid, &status, 0) == pid)
        o.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    o.err = ReadFile(errPath);
    o.out = ReadFile(outPath);
    fs::remove(errPath);
    fs::remove(outPath);
    return o;
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

struct BadCase {
    const char* name;
    // Makes the scene and answers {scene path, output path}; may chmod.
    std::function<std::pair<std::string, std::string>(CommandTest&, const std::string& dir, const std::string& out)>
        make;
    int status;
    const char* about;    // "scene" or "output": which file the message names
    const char* reason;   // part of the message
    bool needsNonRoot = false;
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
        {"3D file the importer gives up on", scene("junk.obj", "this is no model\n"), 2, "scene", ""},
        {"3D file the importer aborts on", scene("broken.ogex", kAbortingOpenGex), 2, "scene",
         "the importer gave up on this file"},
        {"output in a missing folder", output([](const std::string& dir, const std::string&) {
             return dir + "/missing/scene.QSX";
         }), 1, "output", "No such file or directory"},
        {"output in an unwritable folder", output([](const std::string& dir, const std::string&) {
             fs::create_directory(dir + "/readonly");
             ::chmod((dir + "/readonly").c_str(), 0500);
             return dir + "/readonly/scene.QSX";
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
        const Outcome o = RunCommand({"--batch", "--no-header", "--no-animation", scenePath, outputPath}, home_);
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
    const std::string controlName = "tab\there\x01\x1b[31mred\x7f";

    const Case cases[] = {
        {"node name of 100,000 characters", SceneJson(NodeJson("\"" + longName + "\"")), {}, "# " + longName, 1},
        {"node name with control characters", SceneJson(NodeJson("\"tab\\there\\u0001\\u001b[31mred\\u007f\"")), {},
         "# " + controlName, 1},
        {"ten million faces on one vertex", manyFaces, {}, "# Degenerate", 0},
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
        EXPECT_TRUE(o.err.empty()) << o.err;
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

TEST_F(CommandTest, FullDiskRemovesTheCutScriptAndSaysSo) {
    std::string nodes;
    for (int i = 0; i < 200; ++i) nodes += (i ? "," : "") + NodeJson("\"Node" + std::to_string(i) + "\"");
    const std::string scenePath = Scene("scene.json", SceneJson(nodes));
    const std::string out = out_ + "/scene.QSX";
    const Outcome o = RunCommand({"--batch", "--header", "--no-animation", scenePath, out}, home_, 16384);
    EXPECT_EQ(o.status, 1) << o.err;
    const auto lines = SplitLines(o.err);
    ASSERT_EQ(lines.size(), 1u) << o.err;
    EXPECT_EQ(lines[0], "qsxexport: " + out + ": not written: File too large");
    // The header is small enough to be written whole; the script is gone.
    const auto files = Snapshot(out_);
    EXPECT_EQ(files.count("scene.QSX"), 0u);
    ASSERT_EQ(files.count("scene.qsh"), 1u);
    EXPECT_NE(files.at("scene.qsh").find("#define TAG_Node199 200\r\n"), std::string::npos);
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
    o = RunCommand({"--batch", "--save-defaults", "--hints", "none", scenePath, out_ + "/b.QSX"}, home_, 200);
    EXPECT_EQ(o.status, 0) << o.err;
    const auto lines = SplitLines(o.err);
    ASSERT_EQ(lines.size(), 1u) << o.err;
    EXPECT_EQ(lines[0].rfind("qsxexport: " + SettingsPath(home_) + ": settings not saved: ", 0), 0u) << lines[0];
    EXPECT_NE(lines[0].find("File too large"), std::string::npos) << lines[0];
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
    EXPECT_EQ(o.status, 0) << o.err;
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
                const Outcome o = RunCommand(args, home_, 0, captures[v]);
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

}  // namespace
