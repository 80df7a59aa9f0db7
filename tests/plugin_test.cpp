// The plug-in as a host sees it: its exports, its class descriptor, the
// exporter's fixed answers, and loading it as a library.
#include <gtest/gtest.h>

#include "QsxExp/ClassDesc.h"
#include "QsxExp/QsxExport.h"
#include "fake_scene.h"
#include "qsxhost/app/PluginLoader.h"

namespace {

const std::string kPlugin = std::string(QSX_BINARY_DIR) + "/qsexp.so";

TEST(ClassDescriptor, FixedAnswers) {
    qsx::QsxExportClassDesc* d = qsx::GetQsxExportDesc();
    EXPECT_EQ(d, qsx::GetQsxExportDesc());
    EXPECT_EQ(d->IsPublic(), 1);
    EXPECT_STREQ(d->ClassName(), "Quorvantis");
    EXPECT_EQ(d->SuperClassID(), 0xA20u);
    EXPECT_EQ(d->ClassID(), (host::Class_ID{0x503A5EE2, 0x3BD153FF}));
    EXPECT_STREQ(d->Category(), "Scene Export");
    EXPECT_EQ(d->BeginCreate(nullptr), 0);
    EXPECT_EQ(d->OkToCreate(nullptr), 1);
    EXPECT_EQ(d->NumActionTables(), 0);
    std::unique_ptr<host::SceneExport> e(static_cast<host::SceneExport*>(d->Create(0)));
    ASSERT_NE(e, nullptr);
    EXPECT_EQ(e->ExtCount(), 1);
    EXPECT_STREQ(e->Ext(0), "QSX");
    ASSERT_NE(e->Ext(1), nullptr);
    EXPECT_STREQ(e->Ext(1), "");
    EXPECT_STREQ(e->LongDesc(), "Quorvantis QSX Script File");
    EXPECT_STREQ(e->ShortDesc(), "Quorvantis");
    EXPECT_STREQ(e->OtherMessage1(), "");
    EXPECT_EQ(e->Version(), 200u);
}

TEST(Exporter, ConstructionSetsTheAxisChange) {
    qsx::QsxExport e;
    const host::Point3 p{1, 2, 3};
    EXPECT_EQ(p * e.normaliseTM, (host::Point3{1, 3, -2}));
    EXPECT_EQ((p * e.normaliseTM) * e.normaliseInvTM, p);
    EXPECT_EQ(e.vertexBase, 0);
    EXPECT_EQ(e.options.textureFlags, 0u);
}

TEST(EntryPoint, InitialisesControlsOnlyOnce) {
    const int before = qsx::ControlInitCount();
    qsx::LibraryEntry(reinterpret_cast<void*>(0x1000), 1, nullptr);
    const int afterFirst = qsx::ControlInitCount();
    qsx::LibraryEntry(reinterpret_cast<void*>(0x2000), 2, nullptr);
    EXPECT_LE(afterFirst - before, 1);
    EXPECT_EQ(qsx::ControlInitCount(), afterFirst);
    EXPECT_EQ(qsx::ModuleInstance(), reinterpret_cast<void*>(0x2000)) << "the handle is stored on every call";
}

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
