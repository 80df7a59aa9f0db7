// SCENE opened through the one place the command uses: which reader took it,
// and what came back to be said, printed by nobody on the way.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <string>
#include <vector>

#include "qsxhost/sources/OpenScene.h"

namespace {

std::string Dir() {
    static const std::string dir = [] {
        std::string d = std::string(QSX_BINARY_DIR) + "/open_scene_test." + std::to_string(getpid());
        mkdir(d.c_str(), 0777);
        return d;
    }();
    return dir;
}

std::string Write(const std::string& name, const std::string& text) {
    const std::string path = Dir() + "/" + name;
    std::ofstream(path, std::ios::binary) << text;
    return path;
}

TEST(OpenScene, ChoosesTheReaderAndHandsBackWhatThereIsToSay) {
    const std::string tri = "v 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 3\n";
    struct Case {
        std::string name, scene, inputFormat;
        qsxhost::SceneKind kind;
        std::vector<std::string> warnings;
        std::string problemFile, problem;  // problem: the message's start
    } cases[] = {
        {"json with an unknown member", Write("a.json", R"({"qsxScene":1,"odd":1,"nodes":[]})"), "",
         qsxhost::SceneKind::Json, {R"(document: unknown member "odd" ignored)"}, "", ""},
        {"json refused after a warning", Write("b.json", R"({"qsxScene":1,"odd":1,"nodes":3})"), "",
         qsxhost::SceneKind::Json, {}, "SCENE", "nodes: "},
        {"json by content", Write("c.txt", R"( {"qsxScene":1})"), "", qsxhost::SceneKind::Json, {}, "", ""},
        {"3D file", Write("d.obj", tri), "", qsxhost::SceneKind::File3D, {}, "", ""},
        {"script naming its own line", Write("e.QSX", "nonsense\r\n"), "", qsxhost::SceneKind::Script, {}, "",
         Dir() + "/e.QSX:1: "},
        {"directory", Dir(), "", qsxhost::SceneKind::None, {}, "SCENE", "is a directory, not a scene file"},
        {"absent", Dir() + "/none.json", "", qsxhost::SceneKind::None, {}, "SCENE", "No such file"},
        {"format for a named file", Write("f.obj", tri), "obj", qsxhost::SceneKind::None, {}, "",
         "--input-format is for a scene read from a pipe or standard input"},
        {"refused before reading", Write("g.json", "{}"), "", qsxhost::SceneKind::None, {}, "OUTPUT",
         "is the scene"},
    };
    for (const Case& c : cases) {
        qsxhost::SceneRequest request{c.scene, c.inputFormat, {}, {}, {}};
        std::vector<std::string> asked, imported;
        request.beforeReading = [&](const std::string& path) -> qsxhost::SceneProblem {
            asked.push_back(path);
            if (c.problemFile == "OUTPUT") return {"OUTPUT", "is the scene"};
            return {};
        };
        request.aroundImport = [&](const std::string& name, const std::function<void()>& import) {
            imported.push_back(name);
            import();
        };
        testing::internal::CaptureStderr();
        const qsxhost::OpenedScene opened = qsxhost::OpenScene(request);
        EXPECT_EQ(testing::internal::GetCapturedStderr(), "") << c.name;
        EXPECT_EQ(opened.name, c.scene) << c.name;
        EXPECT_EQ(opened.kind, c.kind) << c.name;
        EXPECT_EQ(opened.warnings, c.warnings) << c.name;
        EXPECT_EQ(imported.size(), c.kind == qsxhost::SceneKind::File3D ? 1u : 0u) << c.name;
        // Only a scene that is there is offered to the check before reading.
        const bool there = c.name != "directory" && c.name != "absent" && c.inputFormat.empty();
        EXPECT_EQ(asked, there ? std::vector<std::string>{c.scene} : std::vector<std::string>{}) << c.name;
        EXPECT_EQ(opened.scene == nullptr, !c.problem.empty()) << c.name;
        EXPECT_EQ(opened.problem.file, c.problemFile == "SCENE" ? c.scene : c.problemFile) << c.name;
        EXPECT_EQ(opened.problem.what.rfind(c.problem, 0), 0u) << c.name << ": " << opened.problem.what;
    }
}

}  // namespace
