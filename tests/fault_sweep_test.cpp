// Nothing lost under faults: every open, every write and every vertex-table
// allocation of a full export is made to fail in turn, over the files of an
// earlier export, and each time the failed file must be named and the earlier
// file at its path unchanged, and every other file either untouched by the
// failure (byte for byte the clean run's) or, when its pass had already
// stopped, still the earlier one. A real file-size limit checks the disk
// layer the same way.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <set>
#include <utility>

#include "tests/support/fake_scene.h"

using fake::Lines;

namespace {

using fake::F;
using fake::T;

// Nested nodes, textured and untextured meshes, a vertex carrying hundreds of
// texture vertices (so the vertex table grows its overflow pool twice), a
// multi material with a missing and a non-standard sub-material, a node
// without an object and a non-renderable one with children, and node keys
// over four frames.
struct RichScene {
    fake::Host host;
    std::vector<std::unique_ptr<fake::Mtl>> mtls;
    std::vector<std::unique_ptr<fake::Texmap>> maps;

    fake::Mtl* Standard(float r, const char* diffuseMap, const char* opacityMap) {
        auto m = std::make_unique<fake::Mtl>();
        m->diffuse = {r, 0.5f, 0.25f};
        m->ambient = {0.05f, 0.2f, 0.3f};
        m->specular = {0.9f, 0.9f, 0.9f};
        m->opacity = r < 0.5f ? 0.75f : 1.0f;
        m->twoSided = r > 0.7f;
        auto map = [&](int ch, const char* file) {
            if (!file) return;
            auto t = std::make_unique<fake::Texmap>();
            t->file = file;
            fake::Slot(*m, ch).map = t.get();
            fake::Slot(*m, ch).enabled = true;
            maps.push_back(std::move(t));
        };
        map(host::ID_DI, diffuseMap);
        map(host::ID_OP, opacityMap);
        mtls.push_back(std::move(m));
        return mtls.back().get();
    }

    RichScene() {
        host.range = {0, 640};
        host.ticksPerFrame = 160;
        fake::Mtl* wood = Standard(0.8f, "C:\\maps\\wood.tga", nullptr);
        fake::Mtl* glass = Standard(0.3f, "D:glass.bmp", "C:\\maps\\glass_mask.tga");
        fake::Mtl* plain = Standard(0.6f, nullptr, nullptr);
        auto odd = std::make_unique<fake::Mtl>();
        odd->cls = {1024, 0};
        auto multi = std::make_unique<fake::Mtl>();
        multi->cls = host::MULTI_MATERIAL_CLASS_ID;
        multi->subs = {wood, nullptr, glass, odd.get(), plain};
        fake::Mtl* multiPtr = multi.get();
        mtls.push_back(std::move(odd));
        mtls.push_back(std::move(multi));

        fake::Node* a = host.root.Add("Body");
        fake::Fan(a->MakeMesh(), 8);
        a->mtl = plain;
        for (int f = 0; f <= 4; ++f) a->keys[f * 160] = fake::Translation(float(f), 2.0f * f, -1.0f);

        fake::Node* b = a->Add("Wheel");
        host::Mesh& mb = b->MakeMesh();
        mb.verts = {{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}, {0, 0, 1}};
        mb.tVerts = {{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {-0.5f, 0.25f, 0}, {2, 1.5f, 0}, {40, -3, 0}};
        mb.faces = {F(0, 1, 2, 0), F(0, 2, 3, 2), F(0, 3, 4, 1), F(1, 2, 4, 4), F(2, 2, 3, 0), F(0, 1, 4, 7)};
        mb.tvFaces = {T(0, 1, 2), T(3, 2, 4), T(5, 4, 0), T(1, 2, 5), T(2, 2, 3), T(0, 1, 4)};
        b->mtl = multiPtr;
        b->offsetPos = {0.5f, -0.25f, 1};
        b->offsetRot = {0, 0, 0.7071068f, 0.7071068f};
        b->keys[0] = fake::Translation(1, 0, 0);
        b->keys[320] = fake::Translation(1, 0, 3);

        fake::Node* c = b->Add("Hub");
        fake::Fan(c->MakeMesh(), 5);
        c->mtl = glass;
        c->SetTM(fake::Translation(1, 0.5f, 0));

        // Fans whose hub meets a texture vertex of its own in every face:
        // hundreds of entries beyond the two a slot holds, so the vertex
        // table grows its overflow pool twice.
        fake::Node* d = a->Add("Sunburst");
        host::Mesh& md = d->MakeMesh();
        const uint32_t hubs = 45, rays = 8;
        for (uint32_t h = 0; h < hubs; ++h) {
            const auto hub = static_cast<uint32_t>(md.verts.size());
            const auto tOuter = static_cast<uint32_t>(md.tVerts.size());
            md.verts.push_back({float(h), 0, 0});
            for (uint32_t r = 0; r <= rays; ++r) {
                md.verts.push_back({float(h) + 0.5f, float(r), 1});
                md.tVerts.push_back({float(r) / rays, 1, 0});
            }
            for (uint32_t r = 0; r < rays; ++r) {
                const auto t = static_cast<uint32_t>(md.tVerts.size());
                md.tVerts.push_back({float(h) / hubs, float(r) / rays, 0});
                md.faces.push_back(F(hub, hub + 1 + r, hub + 2 + r, static_cast<uint16_t>(r % 3)));
                md.tvFaces.push_back(T(t, tOuter + r, tOuter + r + 1));
            }
        }
        d->mtl = wood;

        host.root.Add("Light");  // no object
        fake::Node* hidden = host.root.Add("Helper");
        hidden->MakeMesh();
        hidden->object->renderable = false;
        fake::Fan(hidden->Add("UnderHelper")->MakeMesh(), 4);

        fake::Node* e = host.root.Add("Floor");
        host::Mesh& me = e->MakeMesh();
        me.verts = {{-5, -5, 0}, {5, -5, 0}, {5, 5, 0}, {-5, 5, 0}};
        me.tVerts = {{0, 0, 0}, {4, 0, 0}, {4, 4, 0}, {0, 4, 0}};
        me.faces = {F(0, 1, 2), F(0, 2, 3)};
        me.tvFaces = {T(0, 1, 2), T(0, 2, 3)};
        e->mtl = glass;
        e->keys[0] = fake::Translation(0, 0, -2);
        e->keys[480] = fake::Translation(0, 1, -2);
        fake::Fan(e->Add("Tile")->MakeMesh(), 6);

        host.preset.saveHeader = 1;
        host.preset.saveAnimation = 1;
        host.preset.centre = 1;
        host.preset.hints = 2;
        host.preset.textureFlags = qsx::TEX_SHOW | qsx::TEX_LIT | qsx::TEX_FILTER;
    }
};

// Passes the memory files through, remembering the order of the opens, the
// file of every write, and what dropped files held when they were dropped.
class Recorder final : public qsx::FileSystem {
public:
    qsx::MemoryFileSystem mem;
    std::vector<std::string> opened;
    std::vector<size_t> writtenTo;  // index into opened
    std::map<std::string, std::string> discarded;

    std::unique_ptr<qsx::OutputFile> Open(const std::string& path, std::string* error) override {
        opened.push_back(path);
        std::unique_ptr<qsx::OutputFile> inner = mem.Open(path, error);
        if (!inner) return nullptr;
        return std::make_unique<File>(this, opened.size() - 1, std::move(inner));
    }
    void Publish(const Published& done) override { mem.Publish(done); }
    void DropUnpublished() override { mem.DropUnpublished(); }

private:
    struct File final : qsx::OutputFile {
        Recorder* rec;
        size_t index;
        std::unique_ptr<qsx::OutputFile> inner;
        std::string text;
        File(Recorder* r, size_t i, std::unique_ptr<qsx::OutputFile> f) : rec(r), index(i), inner(std::move(f)) {}
        bool Write(const char* data, size_t size) override {
            rec->writtenTo.push_back(index);
            text.append(data, size);
            return inner->Write(data, size);
        }
        bool Commit() override { return inner->Commit(); }
        void Discard() override {
            rec->discarded[rec->opened[index]] = text;
            inner->Discard();
        }
        std::string Error() const override { return inner->Error(); }
    };
};

struct Outcome {
    int result = -1;
    Recorder fs;
    std::vector<qsx::FileFailureRecord> failures;
    std::vector<std::string> reported;  // what the host was told
    long allocations = 0;               // made for the vertex table
};

const std::string kOut = "out/scene.QSX";
using Files = std::map<std::string, std::string>;

// What an earlier export left at every path the clean run writes.
Files EarlierFiles(const Outcome& clean) {
    Files files;
    for (const std::string& path : clean.fs.opened) files[path] = "earlier " + path + "\r\n";
    return files;
}

// One export over the earlier files; the exporter is made afresh, as the
// host makes one per export.
std::unique_ptr<Outcome> Export(RichScene& s, int mode, long failOpen, long failWrite, long failAllocation = 0,
                                const Files& earlier = {}) {
    auto o = std::make_unique<Outcome>();
    o->fs.mem.files = earlier;
    s.host.preset.hierarchyType = mode;
    s.host.fileFailures.clear();
    o->fs.mem.FailOpenAt(failOpen);
    o->fs.mem.FailWriteAt(failWrite);
    qsx::QsxExport exporter;
    exporter.writer.SetFileSystem(&o->fs);
    exporter.vertexTable.FailAllocationAt(failAllocation);
    o->result = exporter.DoExport(kOut.c_str(), nullptr, &s.host, 0);
    o->failures = exporter.Failures();
    o->reported = s.host.fileFailures;
    o->allocations = exporter.vertexTable.AllocationCount();
    return o;
}

enum Pass { kScript, kHeader, kAnimation };
Pass PassOf(const std::string& path) {
    if (path.size() > 4 && path.compare(path.size() - 4, 4, ".qsh") == 0) return kHeader;
    if (path.size() > 4 && path.compare(path.size() - 4, 4, ".qsv") == 0) return kAnimation;
    return kScript;
}

// The files a run with exactly one failed file must leave over the earlier
// ones: every file of the clean run, equal to the clean run's, except the
// failed one and the files its own pass would have opened after it, which
// are still the earlier files.
void ExpectOnlyThatFileLost(const Outcome& clean, const Files& runFiles, const std::string& failedPath,
                            const std::string& what, const Files& earlier) {
    const auto& cleanOrder = clean.fs.opened;
    const auto failedAt = std::find(cleanOrder.begin(), cleanOrder.end(), failedPath);
    ASSERT_NE(failedAt, cleanOrder.end()) << what << ": " << failedPath << " is no file of the clean run";
    for (auto it = cleanOrder.begin(); it != cleanOrder.end(); ++it) {
        const bool lost = *it == failedPath || (PassOf(*it) == PassOf(failedPath) && it > failedAt);
        auto found = runFiles.find(*it);
        if (lost) {
            EXPECT_TRUE(found != runFiles.end() && found->second == earlier.at(*it))
                << what << ": the earlier " << *it << " was changed";
        } else if (found == runFiles.end()) {
            ADD_FAILURE() << what << ": " << *it << " is missing";
        } else {
            EXPECT_TRUE(found->second == clean.fs.mem.files.at(*it))
                << what << ": " << *it << " differs from the clean run's";
        }
    }
    for (const auto& [path, text] : runFiles) {
        EXPECT_TRUE(clean.fs.mem.files.count(path)) << what << ": unexpected file " << path;
    }
}

// Every Begin has its End at the same indentation, and the file ends at 0.
void ExpectBalanced(const std::string& text, const std::string& what) {
    std::vector<std::pair<std::string, size_t>> open;
    for (const std::string& line : Lines(text)) {
        const size_t ind = line.find_first_not_of(' ');
        if (ind == std::string::npos) continue;
        const std::string word = line.substr(ind, line.find(' ', ind) - ind);
        if (word.size() > 5 && word.compare(word.size() - 5, 5, "Begin") == 0) {
            open.emplace_back(word.substr(0, word.size() - 5), ind);
        } else if (word.size() > 3 && word.compare(word.size() - 3, 3, "End") == 0) {
            ASSERT_FALSE(open.empty()) << what << ": " << word << " without its Begin";
            EXPECT_EQ(open.back().first + "End", word) << what;
            EXPECT_EQ(open.back().second, ind) << what << ": " << word << " at another indentation";
            open.pop_back();
        }
    }
    EXPECT_TRUE(open.empty()) << what << ": " << open.size() << " blocks left open";
    const auto lines = Lines(text);
    ASSERT_FALSE(lines.empty()) << what;
    EXPECT_EQ(lines.back(), "ModelEnd") << what;
}

TEST(FaultSweep, EveryFailedWriteOrOpenLosesOnlyItsFile) {
    RichScene scene;
    long writeRuns = 0, openRuns = 0;
    for (int mode = 0; mode <= 3; ++mode) {
        const std::string m = "mode " + std::to_string(mode);
        const auto clean = Export(scene, mode, 0, 0);
        ASSERT_EQ(clean->result, 1) << m;
        ASSERT_TRUE(clean->failures.empty()) << m;
        const long writes = clean->fs.mem.writes;
        const long opens = clean->fs.mem.opens;
        const Files earlier = EarlierFiles(*clean);
        ASSERT_EQ(static_cast<size_t>(writes), clean->fs.writtenTo.size());
        // Header, animation and at least one script file; mode 3 one file per written node.
        ASSERT_EQ(static_cast<size_t>(opens), clean->fs.mem.files.size()) << m;
        EXPECT_EQ(opens, mode == 3 ? 2 + 6 : 3) << m;
        ASSERT_GT(writes, 1000) << m;

        // Fault k of one kind (a write or an open) loses the file it hit and nothing else.
        auto sweep = [&](bool writesFail, long count, const char* reason, long& runs) {
            for (long k = 1; k <= count; ++k) {
                const auto run = Export(scene, mode, writesFail ? 0 : k, writesFail ? k : 0, 0, earlier);
                const std::string what = m + (writesFail ? ", write " : ", open ") + std::to_string(k);
                const size_t at = static_cast<size_t>(k - 1);
                const size_t file = writesFail ? clean->fs.writtenTo[at] : at;
                const std::string& path = clean->fs.opened[file];
                ++runs;
                EXPECT_EQ(run->result, 0) << what;
                ASSERT_EQ(run->failures.size(), 1u) << what;
                EXPECT_EQ(run->failures[0].path, path) << what;
                EXPECT_EQ(run->failures[0].reason, reason) << what;
                EXPECT_EQ(run->reported, std::vector<std::string>{path}) << what;
                ExpectOnlyThatFileLost(*clean, run->fs.mem.files, path, what, earlier);
                if (::testing::Test::HasFailure()) return;
            }
        };
        sweep(true, writes, "No space left on device", writeRuns);
        if (::testing::Test::HasFailure()) return;
        sweep(false, opens, "Permission denied", openRuns);
        if (::testing::Test::HasFailure()) return;
        // One past the last write or open fails nothing: every earlier file is replaced.
        const auto past = Export(scene, mode, opens + 1, writes + 1, 0, earlier);
        EXPECT_EQ(past->result, 1) << m;
        EXPECT_EQ(past->fs.mem.files, clean->fs.mem.files) << m;
    }
    std::printf("[ fault sweep ] %ld export runs with a failed write, %ld with a failed open\n", writeRuns, openRuns);
}

TEST(FaultSweep, EveryFailedVertexTableAllocationFailsTheExportCleanly) {
    RichScene scene;
    long runs = 0;
    for (int mode = 0; mode <= 3; ++mode) {
        const std::string m = "mode " + std::to_string(mode);
        const auto clean = Export(scene, mode, 0, 0);
        ASSERT_EQ(clean->result, 1) << m;
        const long allocations = clean->allocations;
        const Files earlier = EarlierFiles(*clean);
        // Two blocks per mesh and two growths of the pool at least.
        ASSERT_GE(allocations, 2 * 6 + 2) << m;
        long k = 1;
        for (;; ++k) {
            const std::string what = m + ", allocation " + std::to_string(k);
            const auto run = Export(scene, mode, 0, 0, k, earlier);
            ++runs;
            if (run->result == 1) {
                EXPECT_EQ(run->fs.mem.files, clean->fs.mem.files) << what;
                break;
            }
            ASSERT_LE(k, allocations) << m << ": fails with allocation faults beyond the clean run's count";
            ASSERT_EQ(run->failures.size(), 1u) << what;
            const std::string& path = run->failures[0].path;
            EXPECT_EQ(run->failures[0].reason.rfind("out of memory for the vertex table of node \"", 0), 0u)
                << what << ": " << run->failures[0].reason;
            EXPECT_EQ(run->reported, std::vector<std::string>{path}) << what;
            ExpectOnlyThatFileLost(*clean, run->fs.mem.files, path, what, earlier);
            ASSERT_EQ(run->fs.discarded.count(path), 1u) << what;
            ExpectBalanced(run->fs.discarded.at(path), what);
            if (::testing::Test::HasFailure()) return;
        }
        EXPECT_EQ(k, allocations + 1) << m << ": a run failed no allocation before the clean count";
    }
    std::printf("[ fault sweep ] %ld export runs with a failed vertex-table allocation\n", runs);
}

// Recorded memory files offering the writer a window on a small buffer,
// handed on when full as the disk file does; longer lines come through Write.
class WindowFiles final : public qsx::FileSystem {
public:
    Recorder rec;
    std::unique_ptr<qsx::OutputFile> Open(const std::string& path, std::string* error) override {
        std::unique_ptr<qsx::OutputFile> inner = rec.Open(path, error);
        return inner ? std::make_unique<File>(std::move(inner)) : nullptr;
    }
    void Publish(const Published& done) override { rec.Publish(done); }
    void DropUnpublished() override { rec.DropUnpublished(); }

private:
    struct File final : qsx::OutputFile {
        static constexpr size_t kSize = 4096;
        std::unique_ptr<qsx::OutputFile> inner;
        char buffer[kSize];
        size_t used = 0;
        explicit File(std::unique_ptr<qsx::OutputFile> in) : inner(std::move(in)) {}
        bool Flush() { return used == 0 || inner->Write(buffer, std::exchange(used, 0)); }
        bool Write(const char* data, size_t size) override { return Flush() && inner->Write(data, size); }
        bool Room(size_t size, Window* window) override {
            const bool ok = size <= kSize - used || Flush();
            *window = size <= kSize - used ? Window{buffer + used, buffer + kSize} : Window{};
            return ok;
        }
        void Put(const char* end) override { used = static_cast<size_t>(end - buffer); }
        bool Commit() override { return Flush() && inner->Commit(); }
        void Discard() override { inner->Discard(); }
        std::string Error() const override { return inner->Error(); }
    };
};

// Lines built in the file's window give the bytes they give through Write,
// and a failed write of the window loses that file alone.
TEST(FaultSweep, LinesBuiltInTheFilesWindowGiveTheSameFilesAndFailures) {
    RichScene scene;
    for (int mode = 0; mode <= 3; ++mode) {
        const auto plain = Export(scene, mode, 0, 0);
        const Files earlier = EarlierFiles(*plain);
        auto run = [&](long failWrite, WindowFiles& fs) {
            fs.rec.mem.files = earlier;
            fs.rec.mem.FailWriteAt(failWrite);
            scene.host.preset.hierarchyType = mode;
            qsx::QsxExport exporter;
            exporter.writer.SetFileSystem(&fs);
            return std::make_pair(exporter.DoExport(kOut.c_str(), nullptr, &scene.host, 0), exporter.Failures());
        };
        WindowFiles clean;
        const std::string m = "mode " + std::to_string(mode);
        ASSERT_EQ(run(0, clean).first, 1) << m;
        EXPECT_EQ(clean.rec.mem.files, plain->fs.mem.files) << m;
        ASSERT_LT(clean.rec.mem.writes, plain->fs.mem.writes / 10) << m << ": the lines went through Write";
        for (long k = 1; k <= clean.rec.mem.writes; ++k) {
            const std::string what = m + ", window write " + std::to_string(k);
            WindowFiles fs;
            const auto [result, failures] = run(k, fs);
            const std::string& path = clean.rec.opened[clean.rec.writtenTo[static_cast<size_t>(k - 1)]];
            EXPECT_EQ(result, 0) << what;
            ASSERT_EQ(failures.size(), 1u) << what;
            EXPECT_EQ(failures[0].path + ": " + failures[0].reason, path + ": No space left on device") << what;
            ExpectOnlyThatFileLost(*plain, fs.rec.mem.files, path, what, earlier);
            if (::testing::Test::HasFailure()) return;
        }
    }
}

// A real file-size limit on the disk layer: the script outgrows it in a
// child process, which reports what the exporter said. An earlier export's
// files stand at the three paths.
TEST(FaultSweep, FileSizeLimitOnDiskKeepsTheEarlierScriptAndSaysWhy) {
    char tmpl[] = "/tmp/qsx_fsize_XXXXXX";
    ASSERT_NE(::mkdtemp(tmpl), nullptr);
    const std::string dir = tmpl;
    const std::string out = dir + "/scene.QSX";
    constexpr rlim_t kLimit = 8192;
    const std::string earlier = "earlier\r\n";
    for (const char* ext : {".QSX", ".qsh", ".qsv"}) {
        std::FILE* f = std::fopen((dir + "/scene" + ext).c_str(), "wb");
        ASSERT_NE(f, nullptr);
        std::fputs(earlier.c_str(), f);
        std::fclose(f);
    }
    auto read = [](const std::string& path) {
        std::string text;
        if (std::FILE* f = std::fopen(path.c_str(), "rb")) {
            char buf[4096];
            for (size_t n; (n = std::fread(buf, 1, sizeof buf, f)) > 0;) text.append(buf, n);
            std::fclose(f);
        }
        return text;
    };

    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        ::close(fds[0]);
        std::signal(SIGXFSZ, SIG_IGN);
        struct rlimit lim = {kLimit, kLimit};
        ::setrlimit(RLIMIT_FSIZE, &lim);
        RichScene scene;
        scene.host.preset.hierarchyType = 0;
        qsx::QsxExport exporter;  // on the disk file system
        const int result = exporter.DoExport(out.c_str(), nullptr, &scene.host, 0);
        std::string report;
        for (const auto& f : exporter.Failures()) report += f.path + "\t" + f.reason + "\n";
        (void)!::write(fds[1], report.data(), report.size());
        ::_exit(result == 0 ? 0 : 1);
    }
    ::close(fds[1]);
    std::string report;
    char buf[512];
    for (ssize_t n; (n = ::read(fds[0], buf, sizeof buf)) > 0;) report.append(buf, size_t(n));
    ::close(fds[0]);
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status)) << "the child died of signal " << WTERMSIG(status);
    EXPECT_EQ(WEXITSTATUS(status), 0) << "the export answered success";

    EXPECT_NE(report.find(out + "\t" + std::strerror(EFBIG) + "\n"), std::string::npos) << report;
    EXPECT_NE(report.find("File too large"), std::string::npos) << report;
    EXPECT_EQ(read(out), earlier) << "the earlier script was changed";
    // The side files are small enough to be written whole, and whatever is
    // on disk is complete (a file named in the report is the earlier one).
    for (const char* ext : {".qsh", ".qsv"}) {
        const std::string side = dir + "/scene" + ext;
        const bool failed = report.find(side + "\t") != std::string::npos;
        EXPECT_EQ(read(side) == earlier, failed) << side;
    }
    EXPECT_NE(read(dir + "/scene.qsh"), earlier);
    // Nothing but the three files: no temporary is left.
    size_t entries = 0;
    for (const auto& e : std::filesystem::directory_iterator(dir)) {
        ++entries;
        EXPECT_EQ(e.path().filename().string().rfind("scene.", 0), 0u) << e.path();
    }
    EXPECT_EQ(entries, 3u);
    std::filesystem::remove_all(dir);
}

}  // namespace
