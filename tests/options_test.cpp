#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include <unistd.h>

#include "QsxExp/Options.h"
#include "options_util.h"
#include "qsxhost/settings/posix/FileRegistry.h"

using qsx::ExportOptions;

namespace {

bool SameName(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

// A registry kept in memory that can be told to fail. What a key sets lasts
// only once the key is closed, as the store's contract has it.
class MemRegistry : public host::Registry {
public:
    struct Value {
        std::string name;
        uint32_t type;
        std::string data;
    };
    std::vector<Value> values;  // of the options key only, as they last
    bool keyExists = false;
    std::string failSetName;
    bool failCreate = false;
    bool failClose = false;

    void Put(const std::string& name, uint32_t type, const std::string& data) {
        keyExists = true;
        for (Value& v : values)
            if (SameName(v.name, name)) {
                v.data = data;
                v.type = type;
                return;
            }
        values.push_back({name, type, data});
    }
    void PutDword(const std::string& name, uint32_t v) {
        Put(name, host::REG_DWORD, std::string{char(v), char(v >> 8), char(v >> 16), char(v >> 24)});
    }
    void PutText(const std::string& name, const std::string& text) { Put(name, host::REG_SZ, text + '\0'); }
    const Value* Get(const std::string& name) const {
        for (const Value& v : values)
            if (SameName(v.name, name)) return &v;
        return nullptr;
    }

    class Key : public host::RegistryKey {
    public:
        explicit Key(MemRegistry& r) : r_(r) {}
        bool SetValue(const char* name, uint32_t type, const void* data, uint32_t size) override {
            if (r_.failSetName == name) return false;
            pending_.push_back({name, type, std::string(static_cast<const char*>(data), size)});
            return true;
        }
        bool QueryValue(const char* name, uint32_t* type, void* data, uint32_t* size) const override {
            const Value* v = r_.Get(name);
            if (!v || v->data.size() > *size) return false;
            std::memcpy(data, v->data.data(), v->data.size());
            *size = static_cast<uint32_t>(v->data.size());
            *type = v->type;
            return true;
        }
        bool Close() override {
            if (r_.failClose) return false;
            for (const Value& v : pending_) r_.Put(v.name, v.type, v.data);
            pending_.clear();
            return true;
        }

    private:
        MemRegistry& r_;
        std::vector<Value> pending_;
    };

    std::unique_ptr<host::RegistryKey> CreateKey(const char*) override {
        if (failCreate) return nullptr;
        keyExists = true;
        return std::make_unique<Key>(*this);
    }
    std::unique_ptr<host::RegistryKey> OpenKey(const char*) override {
        if (!keyExists) return nullptr;
        return std::make_unique<Key>(*this);
    }
};

const ExportOptions kDefaults{};

ExportOptions Unusual() {
    ExportOptions o;
    o.scaleFactor = 3.25f;
    o.scaleType = 0;
    o.centre = 0;
    o.saveHeader = 1;
    o.saveAnimation = 1;
    o.hierarchyType = 2;
    o.textureFlags = 0x1e;
    o.hints = 2;
    o.extName = "TGA";
    return o;
}


std::string Bytes(uint32_t v) { return std::string{char(v), char(v >> 8), char(v >> 16), char(v >> 24)}; }

class TempDir {
public:
    TempDir() {
        std::string tmpl = (std::filesystem::temp_directory_path() / "qsx-options-XXXXXX").string();
        if (::mkdtemp(tmpl.data())) path_ = tmpl;
    }
    ~TempDir() {
        std::error_code ec;
        if (!path_.empty()) std::filesystem::remove_all(path_, ec);
    }
    const std::string& Path() const { return path_; }

private:
    std::string path_;
};

TEST(Options, FirstUseGivesDefaultsWithoutCreatingTheKey) {
    ExportOptions o = Unusual();
    qsx::LoadOptions(nullptr, o);
    EXPECT_EQ(o, kDefaults);

    MemRegistry mem;
    o = Unusual();
    qsx::LoadOptions(&mem, o);
    EXPECT_EQ(o, kDefaults);
    EXPECT_FALSE(mem.keyExists);

    TempDir dir;
    ASSERT_FALSE(dir.Path().empty());
    std::string file = dir.Path() + "/cfg/settings.reg";
    qsxhost::FileRegistry reg(file);
    o = Unusual();
    qsx::LoadOptions(&reg, o);
    EXPECT_EQ(o, kDefaults);
    EXPECT_FALSE(std::filesystem::exists(dir.Path() + "/cfg"));
}

TEST(Options, SaveStoresNineValuesWithTheirTypesAndBytes) {
    MemRegistry mem;
    ExportOptions o = Unusual();
    o.textureFlags = 0xdeadbe01u;  // unused bits are carried through
    o.hierarchyType = -1;          // a list without selection
    ASSERT_TRUE(qsx::SaveOptions(&mem, o));

    struct Want {
        const char* name;
        uint32_t type;
        std::string data;
    };
    const Want wants[] = {
        {"Centre", host::REG_DWORD, Bytes(0)},
        {"Scale factor", host::REG_SZ, std::string("3.2500").append(506, '\0')},  // the whole field
        {"Scale type", host::REG_DWORD, Bytes(0)},
        {"Hierarchy type", host::REG_DWORD, Bytes(0xffffffffu)},
        {"Hints", host::REG_DWORD, Bytes(2)},
        {"Texture type", host::REG_DWORD, Bytes(0xdeadbe01u)},
        {"Ext Name", host::REG_SZ, std::string("TGA").append(509, '\0')},
        {"Save header", host::REG_DWORD, Bytes(1)},
        {"Save animation", host::REG_DWORD, Bytes(1)},
    };
    ASSERT_EQ(mem.values.size(), std::size(wants));
    for (const Want& w : wants) {
        const MemRegistry::Value* v = mem.Get(w.name);
        ASSERT_NE(v, nullptr) << w.name;
        EXPECT_EQ(v->type, w.type) << w.name;
        EXPECT_EQ(v->data, w.data) << w.name;
    }
}

TEST(Options, SaveReportsFailuresButStillWritesEveryValue) {
    {
        MemRegistry mem;
        mem.failSetName = "Centre";
        EXPECT_FALSE(qsx::SaveOptions(&mem, Unusual()));
        EXPECT_EQ(mem.values.size(), 8u);
    }
    {
        MemRegistry mem;
        mem.failClose = true;
        EXPECT_FALSE(qsx::SaveOptions(&mem, Unusual()));
        EXPECT_TRUE(mem.values.empty());
    }
    {
        MemRegistry mem;
        mem.failCreate = true;
        EXPECT_FALSE(qsx::SaveOptions(&mem, Unusual()));
        EXPECT_TRUE(mem.values.empty());
    }
    EXPECT_FALSE(qsx::SaveOptions(nullptr, Unusual()));
}

TEST(Options, RoundTripThroughTheSettingsFile) {
    struct Case {
        const char* what;
        ExportOptions saved;
        float loadedScale;
    };
    std::vector<Case> cases;
    cases.push_back({"defaults", kDefaults, 1.0f});
    cases.push_back({"unusual", Unusual(), 3.25f});
    ExportOptions o = Unusual();
    o.scaleFactor = 0.12345f;
    cases.push_back({"four decimals kept", o, 0.1235f});
    o.scaleFactor = 0.00004f;
    cases.push_back({"below half the last place", o, 0.0f});
    o.scaleFactor = 123456.78f;
    o.hierarchyType = -1;
    o.hints = 7;
    o.textureFlags = 0xffffffe5u;
    o.extName = "";
    cases.push_back({"values outside their lists, empty extension", o, 123456.7813f});
    o.extName = std::string(511, 'x');
    o.centre = -5;
    cases.push_back({"longest extension", o, 123456.7813f});
    o.extName = "a\\b\"c d";
    cases.push_back({"extension with escaped characters", o, 123456.7813f});

    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TempDir dir;
        qsxhost::FileRegistry reg(dir.Path() + "/settings.reg");
        ASSERT_TRUE(qsx::SaveOptions(&reg, c.saved)) << reg.LastError();
        ExportOptions loaded = Unusual();
        loaded.extName = "zzz";
        qsx::LoadOptions(&reg, loaded);
        ExportOptions want = c.saved;
        want.scaleFactor = c.loadedScale;
        EXPECT_EQ(loaded, want);
    }
}

TEST(Options, SaveCutsTheExtensionWhereItsFieldEnds) {
    MemRegistry mem;
    ExportOptions o;
    o.extName = std::string(600, 'e');
    ASSERT_TRUE(qsx::SaveOptions(&mem, o));
    EXPECT_EQ(mem.Get("Ext Name")->data, std::string(511, 'e') + '\0');

    o.extName = std::string("ab\0cd", 5);
    ASSERT_TRUE(qsx::SaveOptions(&mem, o));
    EXPECT_EQ(mem.Get("Ext Name")->data, std::string("ab").append(510, '\0'));
}

TEST(Options, ScaleFactorTextIsReadLikeAtof) {
    struct Case {
        const char* text;
        float want;
    };
    const Case cases[] = {
        {"1.0000", 1.0f},  {"  2.5x", 2.5f},  {"\t\n-3e2kg", -300.0f}, {"abc", 0.0f},
        {"", 0.0f},        {".5", 0.5f},      {"1,5", 1.0f},          {"0x1p4", 0.0f},
        {"1e", 1.0f},      {"+.25e+1", 2.5f}, {"0.12345", 0.12345f},   {"0x20", 0.0f},
        {"inf", 0.0f},     {"1e40", HUGE_VALF},
    };
    for (const Case& c : cases) {
        MemRegistry mem;
        mem.PutText("Scale factor", c.text);
        ExportOptions o;
        qsx::LoadOptions(&mem, o);
        EXPECT_EQ(o.scaleFactor, c.want) << '"' << c.text << '"';
    }
}

// OK sees a stored factor as the dialog shows it, "%.4f", so a factor that
// loads above 0 but shows as 0.0000 or inf is refused as 0 would be.
TEST(Options, StoredValuesOkWouldRefuse) {
    const struct {
        const char* scale;
        const char* ext;
        bool scaleRefused, extRefused;
    } cases[] = {
        {"2.5", "TGA", false, false}, {"-5", "", true, false},       {"0.00004", "TOOLONG", true, true},
        {"1e39", "BMPX", true, true}, {"0.00006", "B", false, false}, {"3e38", "", false, false},
    };
    for (const auto& c : cases) {
        MemRegistry mem;
        mem.PutText("Scale factor", c.scale);
        mem.PutText("Ext Name", c.ext);
        const qsx::StoredOptions stored = qsx::ReadStoredOptions(&mem);
        ASSERT_EQ(stored.values.size(), 9u);
        EXPECT_EQ(stored.values[1].fault != qsx::StoredFault::None, c.scaleRefused) << c.scale;
        EXPECT_EQ(stored.values[6].fault != qsx::StoredFault::None, c.extRefused) << c.ext;
        EXPECT_EQ(stored.values[1].data, c.scale + std::string(1, '\0'));
        EXPECT_EQ(stored.options.extName, c.ext);
    }
}

// Each case stores one value oddly and every other value unusually; the odd
// value gives its field what the rules for reading give, the rest load as
// stored.
TEST(Options, EachValueIsReadOnItsOwnIntoItsBuffer) {
    struct Case {
        const char* what;
        const char* name;
        uint32_t type;
        std::string data;
        void (*check)(const ExportOptions&);
    };
    const Case cases[] = {
        {"number of 8 bytes", "Centre", host::REG_DWORD, std::string(8, '\1'),
         [](const ExportOptions& o) { EXPECT_EQ(o.centre, 1); }},
        {"number of 2 bytes", "Hints", host::REG_DWORD, std::string(2, '\1'),
         [](const ExportOptions& o) { EXPECT_EQ(o.hints, 0); }},
        {"empty number", "Texture type", host::REG_DWORD, std::string(),
         [](const ExportOptions& o) { EXPECT_EQ(o.textureFlags, 1u); }},
        {"text of 4 bytes read as number", "Centre", host::REG_SZ, std::string("abc", 4),
         [](const ExportOptions& o) { EXPECT_EQ(o.centre, 0x00636261); }},
        {"short text read as number", "Scale type", host::REG_SZ, std::string("ab", 3),
         [](const ExportOptions& o) { EXPECT_EQ(o.scaleType, 1); }},
        {"number read as text", "Scale factor", host::REG_DWORD, Bytes(0x00352e32),  // "2.5"
         [](const ExportOptions& o) { EXPECT_EQ(o.scaleFactor, 2.5f); }},
        {"text without terminator", "Scale factor", host::REG_DWORD, "1111",
         [](const ExportOptions& o) { EXPECT_EQ(o.scaleFactor, 1111.0f); }},
        {"extension of 600 characters", "Ext Name", host::REG_SZ, std::string(600, 'x') + '\0',
         [](const ExportOptions& o) { EXPECT_EQ(o.extName, "BMP"); }},
        {"extension of 511 characters", "Ext Name", host::REG_SZ, std::string(511, 'x') + '\0',
         [](const ExportOptions& o) { EXPECT_EQ(o.extName, std::string(511, 'x')); }},
        {"extension of 512 characters and its terminator", "Ext Name", host::REG_SZ, std::string(512, 'x') + '\0',
         [](const ExportOptions& o) { EXPECT_EQ(o.extName, "BMP"); }},
        {"extension filling the buffer without terminator", "Ext Name", host::REG_SZ, std::string(512, 'y'),
         [](const ExportOptions& o) { EXPECT_EQ(o.extName, std::string(512, 'y')); }},
        {"extension with bytes after its terminator", "Ext Name", host::REG_SZ, std::string("png\0junk", 9),
         [](const ExportOptions& o) { EXPECT_EQ(o.extName, "png"); }},
        {"scale factor too long", "Scale factor", host::REG_SZ, "7" + std::string(600, ' ') + '\0',
         [](const ExportOptions& o) { EXPECT_EQ(o.scaleFactor, 1.0f); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        MemRegistry mem;
        ASSERT_TRUE(qsx::SaveOptions(&mem, Unusual()));
        mem.Put(c.name, c.type, c.data);
        ExportOptions o;
        qsx::LoadOptions(&mem, o);
        c.check(o);
        // The field of the case was checked above; all others load as stored.
        ExportOptions want = Unusual();
        std::string n = c.name;
        if (n == "Centre") want.centre = o.centre;
        if (n == "Hints") want.hints = o.hints;
        if (n == "Texture type") want.textureFlags = o.textureFlags;
        if (n == "Scale type") want.scaleType = o.scaleType;
        if (n == "Scale factor") want.scaleFactor = o.scaleFactor;
        if (n == "Ext Name") want.extName = o.extName;
        EXPECT_EQ(o, want);
    }
}

TEST(Options, KeyWithSomeValuesAndNamesInOtherCase) {
    MemRegistry mem;
    mem.PutDword("hints", 2);
    mem.PutText("EXT NAME", "png");
    mem.PutText("scale FACTOR", "0.5");
    ExportOptions o = Unusual();
    qsx::LoadOptions(&mem, o);
    ExportOptions want;
    want.hints = 2;
    want.extName = "png";
    want.scaleFactor = 0.5f;
    EXPECT_EQ(o, want);
}

TEST(AtofC, ReadsTheLongestLeadingDecimalNumber) {
    struct Case {
        const char* text;
        double want;
    };
    const Case cases[] = {
        {"2.5", 2.5},           {"  2.5x", 2.5},       {"\v\f\r 7", 7.0},   {"-0.125", -0.125},
        {"1e3", 1000.0},        {"1e", 1.0},           {"1e+", 1.0},         {"5.", 5.0},
        {".", 0.0},             {"-", 0.0},            {"", 0.0},            {"x1", 0.0},
        {"+.5e-1x", 0.05},      {"1.2.3", 1.2},        {"1,5", 1.0},         {"0.1", 0.1},
        {"1e400", HUGE_VAL},    {"-1e400", -HUGE_VAL}, {"0.001e312", HUGE_VAL}, {"1e-400", 0.0},
        {"12345e-330", 0.0},    {"0e99999999999", 0.0},
        // Not decimal: the number ends before the letters, or there is none.
        {"0x1.8p1", 0.0},       {"0X10", 0.0},         {"0x20", 0.0},        {"0x", 0.0},
        {"inf", 0.0},           {"-Infinity", 0.0},    {"INFINITE", 0.0},    {"nan", 0.0},
        {" NaN(123)", 0.0},
    };
    for (const Case& c : cases) EXPECT_EQ(qsx::AtofC(c.text), c.want) << '"' << c.text << '"';
    EXPECT_TRUE(std::signbit(qsx::AtofC("-0")));
}

// The numbers must not follow a user locale with a decimal comma.
TEST(AtofC, IgnoresTheUserLocale) {
    std::string saved = std::setlocale(LC_ALL, nullptr);
    const char* names[] = {"de_DE.UTF-8", "de_DE.utf8", "de_DE", "fr_FR.UTF-8", "fr_FR.utf8", "nl_NL.UTF-8"};
    const char* active = nullptr;
    for (const char* n : names)
        if (std::setlocale(LC_ALL, n)) {
            active = n;
            break;
        }
    if (!active) GTEST_SKIP() << "no locale with a decimal comma is installed (tried de_DE, fr_FR, nl_NL)";
    // Only meaningful if the C library now really reads a comma.
    double libc = std::strtod("1,5", nullptr);
    char printed[32];
    std::snprintf(printed, sizeof printed, "%.4f", 2.5);
    double ours = qsx::AtofC("1,5");
    double ours2 = qsx::AtofC("2.75");
    std::string formatted = qsx::FormatScaleFactor(2.5f);
    std::setlocale(LC_ALL, saved.c_str());
    ASSERT_EQ(libc, 1.5) << active;
    ASSERT_STREQ(printed, "2,5000") << active;
    EXPECT_EQ(ours, 1.0);
    EXPECT_EQ(ours2, 2.75);
    EXPECT_EQ(formatted, "2.5000");
}

TEST(FormatScaleFactor, PrintsLikePrintfFourDecimals) {
    struct Case {
        float value;
        const char* want;
    };
    const float inf = std::numeric_limits<float>::infinity();
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const Case cases[] = {
        {1.0f, "1.0000"},      {2.5f, "2.5000"},     {0.12345f, "0.1235"},  {0.00004f, "0.0000"},
        {0.00005f, "0.0000"}, {0.00006f, "0.0001"},  {-0.0f, "-0.0000"},   {-0.00004f, "-0.0000"}, {1e10f, "10000000000.0000"},
        {inf, "inf"},          {-inf, "-inf"},       {nan, "nan"},          {-nan, "-nan"},
        {0.5f, "0.5000"},      {123456.78f, "123456.7812"},
    };
    for (const Case& c : cases) EXPECT_EQ(qsx::FormatScaleFactor(c.value), c.want) << c.want;
}

// printf in the C locale is the reference; any float must come out the same.
TEST(FormatScaleFactor, AgreesWithPrintfOverManyFloats) {
    ASSERT_STREQ(std::setlocale(LC_NUMERIC, nullptr), "C");
    std::mt19937 rng(12345);
    std::vector<float> values = {std::numeric_limits<float>::max(), std::numeric_limits<float>::denorm_min(),
                                 0.00005f, 0.99995f, 9.99995f, 1.00005f};
    for (int i = 0; i < 20000; ++i) {
        uint32_t bits = rng();
        float f;
        std::memcpy(&f, &bits, sizeof f);
        values.push_back(f);
        values.push_back(std::ldexp(static_cast<float>(rng() % 100000), -static_cast<int>(rng() % 20)));
    }
    char buf[128];
    for (float f : values) {
        std::snprintf(buf, sizeof buf, "%.4f", static_cast<double>(f));
        ASSERT_EQ(qsx::FormatScaleFactor(f), buf) << "bits of the float: " << std::hexfloat << f;
    }
}

}  // namespace
