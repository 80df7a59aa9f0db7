// The plug-in as a host sees it: loaded as a library, through its exports and
// its class descriptor.
#include <gtest/gtest.h>

#include "QsxExp/ClassDesc.h"
#include "tests/support/fake_scene.h"
#include "qsxhost/app/PluginLoader.h"

namespace {

const std::string kPlugin = std::string(QSX_BINARY_DIR) + "/qsexp.so";

TEST(LoadedLibrary, AnswersThroughItsExportsAndExports) {
    std::string error;
    auto plugin = qsxhost::Plugin::Load(kPlugin, &error);
    ASSERT_NE(plugin, nullptr) << error;
    EXPECT_STREQ(plugin->Description(), "Quorvantis QSX File Export Plug-In");
    ASSERT_NE(plugin->ExportDesc(), nullptr);
    EXPECT_NE(plugin->ExportDesc(), qsx::GetQsxExportDesc()) << "the library has its own descriptor";
    bool internalName = false;
    for (const auto& [k, v] : plugin->VersionRecord()) internalName |= (k == "InternalName" && v == "qsexp");
    EXPECT_TRUE(internalName);

    // Same scene, once through the library and once linked in: same bytes.
    char dir[] = "/tmp/qsxplugin.XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    fake::Host h;
    fake::Fan(h.root.Add("Box")->MakeMesh(), 5);
    auto loaded = plugin->CreateExporter();
    ASSERT_NE(loaded, nullptr);
    const std::string path = std::string(dir) + "/scene.QSX";
    EXPECT_EQ(loaded->DoExport(path.c_str(), nullptr, &h, 0), 1);
    fake::Run linked;
    linked.Export(h, path);
    std::FILE* f = std::fopen(path.c_str(), "rb");
    ASSERT_NE(f, nullptr);
    std::string bytes;
    char buf[4096];
    for (size_t n; (n = std::fread(buf, 1, sizeof buf, f)) > 0;) bytes.append(buf, n);
    std::fclose(f);
    EXPECT_EQ(bytes, linked.File(path));
    std::remove(path.c_str());
    rmdir(dir);
}

TEST(LoadedLibrary, RefusesMissingAndWrongLibraries) {
    struct Case {
        std::string path;
        const char* says;
    } cases[] = {
        {"/nonexistent/qsexp.so", "No such file"},
        {std::string(QSX_BINARY_DIR) + "/tests/qsx_wrong_version_plugin.so", "0x07D00400"},
    };
    for (const Case& c : cases) {
        std::string error;
        EXPECT_EQ(qsxhost::Plugin::Load(c.path, &error), nullptr) << c.path;
        EXPECT_NE(error.find(c.says), std::string::npos) << error;
    }
}

}  // namespace
