// What an export costs, against the limits of the machine: the exporter core
// writing a generated in-memory scene to a file and to memory, one large write
// of the same bytes (the physical limit), the same numbers formatted with plain
// snprintf (the naive way) and with the exporter's formatter, and loading the
// scene from its JSON file.
//
//   export_bench [--scenes=heavy,wide] [--scale=F] [--json-dir=DIR] [benchmark flags]
//   (the JSON load reads DIR/<scene>_x<F>.json when it exists, else writes one to $TMPDIR)
//   export_bench --write=FILE [--scenes=heavy] [--scale=F]   the script of the first scene, then exit
//   (--hierarchy=0..2 and --hints=0..2 set those options for every export)
//   export_bench --memory=heavy|FILE.json|FILE.glb [--scale=F] resident memory of loading and exporting
//
// Built twice: export_bench with the exporter's own number formatting, and
// export_ref (QSX_BENCH_REFERENCE) with every number printed by snprintf; the
// memory export's label carries a checksum of the script so that the two can be
// compared byte for byte.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <string_view>
#include <vector>

#include "QsxExp/FileSink.h"
#include "QsxExp/NumberFormat.h"
#include "QsxExp/QsxExport.h"
#include "bench/bench_scene.h"
#include "host/Interface.h"

#if !defined(QSX_BENCH_REFERENCE) && __has_include("qsxhost/sources/json/JsonScene.h")
#include "qsxhost/sources/json/JsonScene.h"
#define QSX_BENCH_JSON 1
#endif
#if !defined(QSX_BENCH_REFERENCE) && __has_include("qsxhost/sources/assimp/AssimpScene.h")
#include "qsxhost/sources/assimp/AssimpScene.h"
#define QSX_BENCH_ASSIMP 1
#endif

namespace {

// ---------------------------------------------------------------- host and sinks

class NullRegistry final : public host::Registry {
public:
    std::unique_ptr<host::RegistryKey> CreateKey(const char*) override { return nullptr; }
    std::unique_ptr<host::RegistryKey> OpenKey(const char*) override { return nullptr; }
};

// The options every export of this run uses: the defaults, or what --hierarchy
// and --hints ask for (the byte-for-byte checks cover every mode).
qsx::ExportOptions gOptions;

// A host whose dialog answers OK with gOptions.
class Host final : public host::Interface, public host::Extension {
public:
    Host(host::INode* root, host::Interval range, int ticksPerFrame)
        : root_(root), range_(range), ticksPerFrame_(ticksPerFrame) {}
    host::Interval GetAnimRange() override { return range_; }
    host::INode* GetRootNode() override { return root_; }
    int GetTicksPerFrame() override { return ticksPerFrame_; }
    void Assert1(int, const char*) override { ++asserts; }
    void Warning(std::string_view) override {}
    void FileFailure(std::string_view, std::string_view) override { ++failures; }
    host::Extension* GetExtension() override { return this; }
    intptr_t RunDialog(const host::DialogTemplate&, host::DlgProc, intptr_t param) override {
        reinterpret_cast<qsx::QsxExport*>(param)->options = gOptions;
        return 1;
    }
    void Progress(std::string_view, int64_t, int64_t) override {}
    host::Registry* GetRegistry() override { return &registry_; }

    int asserts = 0;
    int failures = 0;

private:
    host::INode* root_;
    host::Interval range_;
    int ticksPerFrame_;
    NullRegistry registry_;
};

// One growing buffer, kept between runs so that its capacity (and its pages)
// is paid once. It offers the writer a window, as the disk file does.
class BufferFileSystem final : public qsx::FileSystem {
public:
    std::string data;  // the script in its first `size` bytes
    size_t size = 0;
    std::string_view Text() const { return std::string_view(data).substr(0, size); }
    std::unique_ptr<qsx::OutputFile> Open(const std::string&, std::string*) override {
        size = 0;
        return std::make_unique<File>(this);
    }
    void Publish(const Published&) override {}
    void DropUnpublished() override {}

private:
    class File final : public qsx::OutputFile {
    public:
        explicit File(BufferFileSystem* fs) : fs_(fs) {}
        bool Write(const char* p, size_t n) override {
            Grow(n);
            std::memcpy(fs_->data.data() + fs_->size, p, n);
            fs_->size += n;
            return true;
        }
        bool Room(size_t n, Window* window) override {
            Grow(n);
            window->begin = fs_->data.data() + fs_->size;
            window->end = fs_->data.data() + fs_->data.size();
            return true;
        }
        void Put(const char* end) override { fs_->size = static_cast<size_t>(end - fs_->data.data()); }
        bool Commit() override { return true; }
        void Discard() override {}
        std::string Error() const override { return {}; }

    private:
        void Grow(size_t n) {
            std::string& d = fs_->data;
            if (d.size() - fs_->size < n) d.resize(std::max(2 * d.size(), fs_->size + n));
        }
        BufferFileSystem* fs_;
    };
};

int Export(host::INode* root, qsx::FileSystem* fs, const std::string& path, int* asserts = nullptr) {
    Host h(root, {0, 0}, 160);
    qsx::QsxExport e;
    if (fs) e.writer.SetFileSystem(fs);
    const int r = e.DoExport(path.c_str(), nullptr, &h, 1);
    if (asserts) *asserts = h.asserts;
    return r == 1 && h.failures == 0 ? 1 : 0;
}

uint64_t Fnv1a(std::string_view s) {
    uint64_t h = 1469598103934665603ull;
    for (unsigned char c : s) h = (h ^ c) * 1099511628211ull;
    return h;
}

std::string TempDir() {
    const char* t = std::getenv("TMPDIR");
    return t && *t ? t : "/tmp";
}

// ---------------------------------------------------------------- the numbers of a script

enum class NumKind : uint8_t { Fixed6, G4, Int };
struct Number {
    NumKind kind;
    double value;
    long integer;
};

// Every number of the script with the format that printed it: "Vertex" and
// "Transform" lines hold "% 4.6f" values, material colours "%4g", "Tag" and
// "Triangle" lines integers. Fixed values are read back to the float they came
// from, near enough for timing.
[[maybe_unused]] std::vector<Number> NumbersOf(const std::string& script) {
    std::vector<Number> out;
    const char* p = script.data();
    const char* const end = p + script.size();
    auto word = [&](std::string_view& w) {
        while (p < end && *p == ' ') ++p;
        const char* s = p;
        while (p < end && *p != ' ' && *p != '\r') ++p;
        w = std::string_view(s, static_cast<size_t>(p - s));
        return !w.empty();
    };
    while (p < end) {
        std::string_view w;
        if (word(w)) {
            int kind = -1;
            if (w == "Vertex" || w == "Transform") kind = 0;
            else if (w == "Ambient" || w == "Color" || w == "Diffuse" || w == "Specular" || w == "Opacity") kind = 1;
            else if (w == "Triangle" || w == "Tag") kind = 2;
            std::string_view tok;
            while (kind >= 0 && word(tok)) {
                if (tok == "UV" || tok == "0.0") continue;  // "Color 0.0 0.0 0.0" is literal text
                Number n{static_cast<NumKind>(kind), 0.0, 0};
                if (n.kind == NumKind::Int) {
                    std::from_chars(tok.data(), tok.data() + tok.size(), n.integer);
                } else {
                    std::from_chars(tok.data(), tok.data() + tok.size(), n.value);
                    n.value = static_cast<float>(n.value);
                }
                out.push_back(n);
            }
        }
        while (p < end && *p != '\n') ++p;
        ++p;
    }
    return out;
}

// ---------------------------------------------------------------- the prepared scenes

struct Prepared {
    std::string name;
    std::unique_ptr<bench::Scene> scene;
    std::string script;       // the script as the exporter writes it
    int64_t outputVertices = 0;
    std::vector<Number> numbers;
    std::string jsonPath;     // its JSON scene file, once written
    bool jsonTemporary = false;
};

std::vector<std::unique_ptr<Prepared>> gScenes;
double gScale = 1.0;
std::string gJsonDir;

// Every benchmark carries the same counters (the CSV report needs one set of
// columns): bytes per second of script, and seconds per output vertex (shown
// with an SI prefix: "52n" is 52 ns); input_MB is the JSON file's size where
// one is read.
void SetCounters(benchmark::State& state, const Prepared& p, double inputBytes = 0) {
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(p.script.size()));
    state.counters["script_MB"] = static_cast<double>(p.script.size()) / 1e6;
    state.counters["input_MB"] = inputBytes / 1e6;
    state.counters["numbers"] = static_cast<double>(p.numbers.size());
    state.counters["vertices"] = static_cast<double>(p.outputVertices);
    state.counters["per_vertex"] = benchmark::Counter(static_cast<double>(p.outputVertices),
                                                      benchmark::Counter::kIsIterationInvariantRate |
                                                          benchmark::Counter::kInvert);
}

// Each run writes a new file, and the last one is removed outside the timing:
// truncating or removing a file whose pages are still being written back
// waits for the disk, which is not the writer's cost.
class ScratchFiles {
public:
    explicit ScratchFiles(const char* tag) : base_(TempDir() + "/qsx_bench_" + tag + std::to_string(getpid()) + "_") {}
    ~ScratchFiles() { Drop(); }
    const std::string& Next() {
        Drop();
        path_ = base_ + std::to_string(n_++) + ".QSX";
        return path_;
    }
    const std::string& Last() const { return path_; }
    void Drop() {
        if (!path_.empty()) ::unlink(path_.c_str());
        path_.clear();
    }

private:
    std::string base_, path_;
    long n_ = 0;
};

void BM_ExportToFile(benchmark::State& state, Prepared* p) {
    ScratchFiles files("file");
    for (auto _ : state) {
        state.PauseTiming();
        const std::string path = files.Next();
        state.ResumeTiming();
        if (!Export(&p->scene->root, nullptr, path)) {
            state.SkipWithError("the export failed");
            break;
        }
    }
    struct stat st{};
    if (::stat(files.Last().c_str(), &st) != 0 || static_cast<size_t>(st.st_size) != p->script.size())
        state.SkipWithError("the file on disk is not the script");
    SetCounters(state, *p);
}

void BM_ExportToMemory(benchmark::State& state, Prepared* p) {
    BufferFileSystem fs;
    fs.data.resize(p->script.size() + (size_t{1} << 16));
    for (auto _ : state) {
        if (!Export(&p->scene->root, &fs, "scene.QSX")) {
            state.SkipWithError("the export failed");
            break;
        }
        benchmark::DoNotOptimize(fs.data.data());
        if (fs.size != p->script.size()) {
            state.SkipWithError("the script in memory has another size");
            break;
        }
    }
    char label[40];
    std::snprintf(label, sizeof label, "fnv1a=%016" PRIx64, Fnv1a(fs.Text()));
    state.SetLabel(label);
    SetCounters(state, *p);
}

#ifndef QSX_BENCH_REFERENCE
// The physical limit: the script's bytes, already in memory, in one write.
void BM_OneWrite(benchmark::State& state, Prepared* p) {
    ScratchFiles files("one");
    for (auto _ : state) {
        state.PauseTiming();
        const std::string path = files.Next();
        state.ResumeTiming();
        const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
        const char* d = p->script.data();
        size_t left = p->script.size();
        while (fd >= 0 && left > 0) {
            const ssize_t n = ::write(fd, d, left);
            if (n <= 0) break;
            d += n;
            left -= static_cast<size_t>(n);
        }
        if (fd < 0 || left != 0 || ::close(fd) != 0) {
            state.SkipWithError("the write failed");
            break;
        }
    }
    SetCounters(state, *p);
}

// The numbers are read from the script when a benchmark first needs them.
const std::vector<Number>& NumbersFor(Prepared& p) {
    if (p.numbers.empty()) p.numbers = NumbersOf(p.script);
    return p.numbers;
}

// The naive way: each number of the script through snprintf, into one buffer.
// (The process keeps the "C" locale: nothing here calls setlocale.)
void BM_NumbersSnprintf(benchmark::State& state, Prepared* p) {
    const std::vector<Number>& numbers = NumbersFor(*p);
    std::vector<char> buf(1 << 20);
    for (auto _ : state) {
        char* o = buf.data();
        for (const Number& n : numbers) {
            switch (n.kind) {
                case NumKind::Fixed6: o += std::snprintf(o, 400, "% 4.6f", n.value); break;
                case NumKind::G4: o += std::snprintf(o, 24, "%4g", n.value); break;
                case NumKind::Int: o += std::snprintf(o, 24, "%ld", n.integer); break;
            }
            if (o > buf.data() + buf.size() - 512) o = buf.data();
        }
        benchmark::DoNotOptimize(o);
        benchmark::ClobberMemory();
    }
    SetCounters(state, *p);
}

// The same numbers through the exporter's formatter: its share of the core.
void BM_NumbersFast(benchmark::State& state, Prepared* p) {
    const std::vector<Number>& numbers = NumbersFor(*p);
    std::vector<char> buf(1 << 20);
    for (auto _ : state) {
        char* o = buf.data();
        for (const Number& n : numbers) {
            switch (n.kind) {
                case NumKind::Fixed6: o = qsx::AppendFixed6(o, n.value); break;
                case NumKind::G4: o = qsx::AppendG4(o, n.value); break;
                case NumKind::Int: o = qsx::AppendInt(o, n.integer); break;
            }
            if (o > buf.data() + buf.size() - 512) o = buf.data();
        }
        benchmark::DoNotOptimize(o);
        benchmark::ClobberMemory();
    }
    SetCounters(state, *p);
}

[[maybe_unused]] size_t FileSize(const std::string& path) {
    struct stat st{};
    return ::stat(path.c_str(), &st) == 0 ? static_cast<size_t>(st.st_size) : 0;
}

[[maybe_unused]] void EnsureJson(Prepared& p) {
    if (!p.jsonPath.empty()) return;
    char scale[32];
    std::snprintf(scale, sizeof scale, "%g", gScale);
    if (!gJsonDir.empty()) {
        const std::string given = gJsonDir + "/" + p.name + "_x" + scale + ".json";
        if (FileSize(given) > 0) {
            p.jsonPath = given;
            return;
        }
    }
    p.jsonPath = TempDir() + "/qsx_bench_" + std::to_string(getpid()) + "_" + p.name + ".json";
    std::string error;
    if (!bench::WriteJson(*p.scene, p.jsonPath, &error)) {
        std::fprintf(stderr, "%s\n", error.c_str());
        p.jsonPath.clear();
        return;
    }
    p.jsonTemporary = true;
}

#ifdef QSX_BENCH_JSON
void BM_JsonLoad(benchmark::State& state, Prepared* p) {
    EnsureJson(*p);
    const size_t bytes = FileSize(p->jsonPath);
    std::unique_ptr<qsxhost::SceneSource> scene;
    for (auto _ : state) {
        // Freeing the previous scene is not part of a load.
        state.PauseTiming();
        scene.reset();
        state.ResumeTiming();
        qsxhost::SceneRead read = qsxhost::ReadJsonScene({p->jsonPath, nullptr, {}});
        scene = std::move(read.scene);
        if (!scene) {
            state.SkipWithError(read.error.c_str());
            break;
        }
        benchmark::DoNotOptimize(scene.get());
    }
    SetCounters(state, *p, static_cast<double>(bytes));
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(bytes));
}
#endif
#endif  // QSX_BENCH_REFERENCE

// ---------------------------------------------------------------- resident memory

long StatusKb(const char* field) {
    std::ifstream f("/proc/self/status");
    std::string line;
    const size_t n = std::strlen(field);
    while (std::getline(f, line))
        if (line.compare(0, n, field) == 0) return std::strtol(line.c_str() + n + 1, nullptr, 10);
    return -1;
}

// Resident memory once the scene is in memory, and the peak while it is
// exported to disk (the peak counter is reset after loading, so the loader's
// own transient peak does not hide the export's); and, first, what the export
// of a one-triangle scene adds (the writer's buffers, the exporter): the part
// of any export that does not grow with the scene.
int MeasureMemory(const std::string& what) {
    const std::string path = TempDir() + "/qsx_bench_mem_" + std::to_string(getpid()) + ".QSX";
    auto resetPeak = [] {
        std::ofstream reset("/proc/self/clear_refs");
        reset << "5";  // resets the peak resident size to the current one
    };
    // What any export costs, whatever the scene: one node of one box.
    long fixedKb = 0;
    {
        bench::Scene one;
        bench::Node* n = one.root.Add("Box");
        n->object = std::make_unique<bench::Object>();
        n->object->mesh.verts = {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}};
        n->object->mesh.faces.resize(1);
        n->object->mesh.faces[0].v[1] = 1;
        n->object->mesh.faces[0].v[2] = 2;
        const long rss = StatusKb("VmRSS:");
        resetPeak();
        Export(&one.root, nullptr, path);
        fixedKb = StatusKb("VmHWM:") - rss;
    }
    const long before = StatusKb("VmRSS:");
    std::unique_ptr<bench::Scene> generated;
    host::INode* root = nullptr;
    int64_t largestV = 0, largestT = 0;
#if defined(QSX_BENCH_JSON) || defined(QSX_BENCH_ASSIMP)
    std::unique_ptr<qsxhost::SceneSource> loaded;
#endif
    bench::Kind kind;
    if (bench::ParseKind(what, &kind)) {
        generated = bench::Generate(kind, gScale);
        root = &generated->root;
        const bench::Stats s = generated->Measure();
        largestV = s.largestMeshVertices;
        largestT = s.largestMeshTexVertices;
    } else {
#if defined(QSX_BENCH_JSON) || defined(QSX_BENCH_ASSIMP)
        const bool glb = what.size() > 4 && what.compare(what.size() - 4, 4, ".glb") == 0;
        const qsxhost::SceneInput input{what, nullptr, {}};
        qsxhost::SceneRead read;
#ifdef QSX_BENCH_ASSIMP
        if (glb) read = qsxhost::ReadAssimpScene(input, qsxhost::AssimpOptions{});
#endif
#ifdef QSX_BENCH_JSON
        if (!glb) read = qsxhost::ReadJsonScene(input);
#endif
        loaded = std::move(read.scene);
        if (!loaded) {
            const std::string& error = read.error;
            std::fprintf(stderr, "%s: %s\n", what.c_str(), error.empty() ? "cannot be loaded" : error.c_str());
            return 1;
        }
        root = loaded->GetRootNode();
        // The largest mesh, by walking the tree.
        std::vector<host::INode*> stack{root};
        while (!stack.empty()) {
            host::INode* n = stack.back();
            stack.pop_back();
            if (host::Object* o = n->EvalWorldState(0, 1)) {
                if (host::TriObject* t = o->ConvertToType(0, host::TRIOBJ_CLASS_ID)) {
                    const host::Mesh& m = t->GetMesh();
                    if (static_cast<int64_t>(m.verts.size()) > largestV) {
                        largestV = static_cast<int64_t>(m.verts.size());
                        largestT = static_cast<int64_t>(m.tVerts.size());
                    }
                    if (static_cast<host::Object*>(t) != o) t->DeleteThis();
                }
            }
            for (int i = 0; i < n->NumberOfChildren(); ++i) stack.push_back(n->GetChildNode(i));
        }
#else
        std::fprintf(stderr, "%s: no loader for this file in this build\n", what.c_str());
        return 1;
#endif
    }
    const long loadedKb = StatusKb("VmRSS:");
    resetPeak();
    int asserts = 0;
    const int ok = Export(root, nullptr, path, &asserts);
    const long peakKb = StatusKb("VmHWM:");
    ::unlink(path.c_str());
    // A vertex table: one slot per mesh vertex, one used-flag per texture vertex,
    // and (at most) one overflow link per texture vertex.
    const int64_t tableBytes = largestV * static_cast<int64_t>(sizeof(qsx::VertexSlot)) + largestT +
                               largestT * static_cast<int64_t>(sizeof(qsx::VertexSlotLink));
    std::printf("memory %s: before_kB=%ld loaded_kB=%ld export_peak_kB=%ld added_kB=%ld fixed_kB=%ld "
                "largest_table_kB=%lld file_buffer_kB=%zu ok=%d\n",
                what.c_str(), before, loadedKb, peakKb, peakKb - loadedKb, fixedKb,
                static_cast<long long>((tableBytes + 1023) / 1024), qsx::kDiskFileBufferSize / 1024, ok);
    return ok ? 0 : 1;
}

// ---------------------------------------------------------------- main

std::vector<std::string> Split(const std::string& s) {
    std::vector<std::string> out;
    size_t start = 0;
    while (start <= s.size()) {
        const size_t comma = s.find(',', start);
        const std::string item = s.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
        if (!item.empty()) out.push_back(item);
        if (comma == std::string::npos) break;
        start = comma + 1;
    }
    return out;
}

bool Option(const char* arg, const char* name, std::string* value) {
    const size_t n = std::strlen(name);
    if (std::strncmp(arg, name, n) != 0 || arg[n] != '=') return false;
    *value = arg + n + 1;
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> names{"heavy", "wide"};
    std::string write, memory, value;
    std::vector<char*> rest{argv[0]};
    for (int i = 1; i < argc; ++i) {
        if (Option(argv[i], "--scenes", &value)) {
            names = Split(value);
        } else if (Option(argv[i], "--scale", &value)) {
            if (std::from_chars(value.data(), value.data() + value.size(), gScale).ptr != value.data() + value.size() ||
                !(gScale > 0 && gScale <= 64)) {
                std::fprintf(stderr, "--scale takes a factor above 0, at most 64\n");
                return 2;
            }
        } else if (Option(argv[i], "--hierarchy", &value)) {
            gOptions.hierarchyType = std::atoi(value.c_str());
        } else if (Option(argv[i], "--hints", &value)) {
            gOptions.hints = std::atoi(value.c_str());
        } else if (Option(argv[i], "--json-dir", &value)) {
            gJsonDir = value;
        } else if (Option(argv[i], "--write", &value)) {
            write = value;
        } else if (Option(argv[i], "--memory", &value)) {
            memory = value;
        } else {
            rest.push_back(argv[i]);
        }
    }
    if (!memory.empty()) return MeasureMemory(memory);

    for (const std::string& n : names) {
        bench::Kind kind;
        if (!bench::ParseKind(n, &kind)) {
            std::fprintf(stderr, "unknown scene %s (heavy, wide)\n", n.c_str());
            return 2;
        }
        auto p = std::make_unique<Prepared>();
        p->name = n;
        p->scene = bench::Generate(kind, gScale);
        BufferFileSystem fs;
        int asserts = 0;
        if (!Export(&p->scene->root, &fs, "scene.QSX", &asserts) || asserts != 0) {
            std::fprintf(stderr, "the %s scene does not export cleanly (%d consistency reports)\n", n.c_str(), asserts);
            return 1;
        }
        p->script = std::string(fs.Text());
        if (!write.empty()) {
            std::ofstream f(write, std::ios::binary);
            f.write(p->script.data(), static_cast<std::streamsize>(p->script.size()));
            return f.good() ? 0 : 1;
        }
        for (size_t pos = 0; (pos = p->script.find("Vertex ", pos)) != std::string::npos; pos += 7) ++p->outputVertices;
        gScenes.push_back(std::move(p));
    }

    for (auto& up : gScenes) {
        Prepared* p = up.get();
        const std::string& n = p->name;
        benchmark::RegisterBenchmark(("export_file/" + n).c_str(), BM_ExportToFile, p)->UseRealTime()->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark(("export_memory/" + n).c_str(), BM_ExportToMemory, p)->UseRealTime()->Unit(benchmark::kMillisecond);
#ifndef QSX_BENCH_REFERENCE
        benchmark::RegisterBenchmark(("one_write/" + n).c_str(), BM_OneWrite, p)->UseRealTime()->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark(("numbers_snprintf/" + n).c_str(), BM_NumbersSnprintf, p)->UseRealTime()->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark(("numbers_fast/" + n).c_str(), BM_NumbersFast, p)->UseRealTime()->Unit(benchmark::kMillisecond);
#ifdef QSX_BENCH_JSON
        // The reader may run on a thread of its own: its time is the process's.
        benchmark::RegisterBenchmark(("json_load/" + n).c_str(), BM_JsonLoad, p)
            ->UseRealTime()
            ->MeasureProcessCPUTime()
            ->Unit(benchmark::kMillisecond);
#endif
#endif
    }
    int bargc = static_cast<int>(rest.size());
    benchmark::Initialize(&bargc, rest.data());
    if (benchmark::ReportUnrecognizedArguments(bargc, rest.data())) return 2;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    for (auto& p : gScenes)
        if (p->jsonTemporary) ::unlink(p->jsonPath.c_str());
    return 0;
}
