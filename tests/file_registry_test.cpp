#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "QsxExp/Options.h"
#include "options_util.h"
#include "qsxhost/settings/posix/FileRegistry.h"

using qsx::ExportOptions;
using qsxhost::FileRegistry;
namespace fs = std::filesystem;

namespace {

constexpr const char* kKeyLine = "[HKEY_CURRENT_USER\\Software\\Dunmarrow\\Quorvantis 3dsMax Exporter]";

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

std::string ReplaceAll(std::string s, const std::string& from, const std::string& to) {
    for (size_t p = 0; (p = s.find(from, p)) != std::string::npos; p += to.size()) s.replace(p, from.size(), to);
    return s;
}

void WriteFile(const std::string& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
}

// text (UTF-8) in UTF-16 little-endian, after its byte-order mark.
std::string Utf16Le(const std::string& text) {
    std::string out = "\xFF\xFE";
    auto unit = [&](uint32_t u) {
        out += static_cast<char>(u & 0xFF);
        out += static_cast<char>(u >> 8);
    };
    for (size_t i = 0; i < text.size();) {
        const auto b = static_cast<unsigned char>(text[i]);
        const size_t n = b < 0x80 ? 1 : b < 0xE0 ? 2 : b < 0xF0 ? 3 : 4;
        uint32_t c = n == 1 ? b : b & (0x3F >> (n - 1));
        for (size_t k = 1; k < n; ++k) c = c << 6 | (static_cast<unsigned char>(text[i + k]) & 0x3F);
        i += n;
        if (c >= 0x10000) {
            unit(0xD800 + ((c - 0x10000) >> 10));
            unit(0xDC00 + ((c - 0x10000) & 0x3FF));
        } else {
            unit(c);
        }
    }
    return out;
}

std::vector<std::string> DirEntries(const std::string& dir) {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(dir)) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

bool QueryDword(host::RegistryKey& key, const char* name, uint32_t& v) {
    unsigned char b[4];
    uint32_t type = 0, size = 4;
    if (!key.QueryValue(name, &type, b, &size) || size != 4 || type != host::REG_DWORD) return false;
    v = b[0] | b[1] << 8 | b[2] << 16 | uint32_t(b[3]) << 24;
    return true;
}

bool SetDword(host::RegistryKey& key, const char* name, uint32_t v) {
    unsigned char b[4] = {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)};
    return key.SetValue(name, host::REG_DWORD, b, 4);
}

ExportOptions Unusual() {
    ExportOptions o;
    o.scaleFactor = 0.25f;
    o.scaleType = 0;
    o.centre = 0;
    o.saveHeader = 1;
    o.saveAnimation = 1;
    o.hierarchyType = 3;
    o.textureFlags = 0x1f;
    o.hints = 1;
    o.extName = "png";
    return o;
}


const char* const kUnusualLines[] = {
    "\"Centre\"=dword:00000000",      "\"Scale factor\"=\"0.2500\"",   "\"Scale type\"=dword:00000000",
    "\"Hierarchy type\"=dword:00000003", "\"Hints\"=dword:00000001",    "\"Texture type\"=dword:0000001f",
    "\"Ext Name\"=\"png\"",           "\"Save header\"=dword:00000001", "\"Save animation\"=dword:00000001",
};

class FileRegistryTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string tmpl = (fs::temp_directory_path() / "qsx-registry-XXXXXX").string();
        ASSERT_NE(::mkdtemp(tmpl.data()), nullptr);
        dir_ = tmpl;
        file_ = dir_ + "/settings.reg";
    }
    void TearDown() override {
        std::error_code ec;
        fs::permissions(dir_, fs::perms::owner_all, fs::perm_options::add, ec);
        fs::remove_all(dir_, ec);
    }

    ExportOptions Load() {
        FileRegistry reg(file_);
        ExportOptions o;
        qsx::LoadOptions(&reg, o);
        return o;
    }

    std::string dir_;
    std::string file_;
};

TEST_F(FileRegistryTest, NewFileHasTheExportForm) {
    std::string nested = dir_ + "/a/b/settings.reg";
    FileRegistry reg(nested);
    ASSERT_TRUE(qsx::SaveOptions(&reg, ExportOptions{})) << reg.LastError();
    const std::string want =
        "Windows Registry Editor Version 5.00\r\n"
        "\r\n"
        "[HKEY_CURRENT_USER\\Software\\Dunmarrow\\Quorvantis 3dsMax Exporter]\r\n"
        "\"Centre\"=dword:00000001\r\n"
        "\"Scale factor\"=\"1.0000\"\r\n"
        "\"Scale type\"=dword:00000001\r\n"
        "\"Hierarchy type\"=dword:00000000\r\n"
        "\"Hints\"=dword:00000000\r\n"
        "\"Texture type\"=dword:00000001\r\n"
        "\"Ext Name\"=\"BMP\"\r\n"
        "\"Save header\"=dword:00000000\r\n"
        "\"Save animation\"=dword:00000000\r\n"
        "\r\n";
    EXPECT_EQ(ReadFile(nested), want);
    struct stat st;
    ASSERT_EQ(::stat((dir_ + "/a").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    ASSERT_EQ(::stat(nested.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    EXPECT_EQ(DirEntries(dir_ + "/a/b"), (std::vector<std::string>{"settings.reg", "settings.reg.lock"}));
}

TEST_F(FileRegistryTest, ReadsEveryLineEndAndHeaderForm) {
    std::string body;
    for (const char* l : kUnusualLines) body += std::string(l) + "\n";
    body += "\"Other \xC3\xA4 \xF0\x9F\x98\x80\"=\"\xE2\x82\xAC\"\n";  // letters beyond ASCII, one beyond 16 bits
    struct Case {
        const char* what;
        std::string text;
    };
    const Case cases[] = {
        {"LF", std::string("Windows Registry Editor Version 5.00\n\n") + kKeyLine + "\n" + body},
        {"CR LF", ReplaceAll(std::string("Windows Registry Editor Version 5.00\n\n") + kKeyLine + "\n" + body,
                                     "\n", "\r\n")},
        {"byte order mark, old header", std::string("\xEF\xBB\xBFREGEDIT4\n") + kKeyLine + "\n" + body},
        {"no header, no final line end", std::string(kKeyLine) + "\n" + body.substr(0, body.size() - 1)},
        {"key in other letter case, spaces around =",
         "[hkey_current_user\\SOFTWARE\\dunmarrow\\quorvantis 3dsmax exporter]\n" +
             ReplaceAll(body, "=", " = ")},
        {"trailing blanks", std::string(kKeyLine) + " \t\n" + ReplaceAll(body, "\n", "  \t\r\n")},
        {"UTF-16 with a byte-order mark, as the registry editor saves it",
         Utf16Le(ReplaceAll(std::string("Windows Registry Editor Version 5.00\n\n") + kKeyLine + "\n" + body,
                            "\n", "\r\n"))},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        WriteFile(file_, c.text);
        EXPECT_EQ(Load(), Unusual());
        FileRegistry reg(file_);
        auto key = reg.OpenKey(qsx::kOptionsKey);
        ASSERT_NE(key, nullptr);
        char text[16] = {};
        uint32_t type = 0, size = sizeof text;
        EXPECT_TRUE(key->QueryValue("Other \xC3\xA4 \xF0\x9F\x98\x80", &type, text, &size));
        EXPECT_STREQ(text, "\xE2\x82\xAC");
    }
}

TEST_F(FileRegistryTest, KeyPathsAndLookups) {
    WriteFile(file_, std::string("[HKEY_CURRENT_USER\\Software\\Dunmarrow\\Quorvantis 3dsMax Exporter]\r\n") +
                         "\"centre\"=dword:0000002a\r\n@=\"default\"\r\n[HKEY_LOCAL_MACHINE\\Software\\X]\r\n");
    FileRegistry reg(file_);
    struct Case {
        const char* path;
        bool exists;
    };
    const Case cases[] = {
        {qsx::kOptionsKey, true},
        {"HKEY_CURRENT_USER\\Software\\Dunmarrow\\Quorvantis 3dsMax Exporter", true},
        {"hkcu\\software\\dunmarrow\\QUORVANTIS 3DSMAX EXPORTER\\", true},
        {"Software\\Dunmarrow", true},  // a key above one in the file
        {"Software\\Dunmarrow\\Quorvantis", false},
        {"Software\\X", false},
        {"HKEY_LOCAL_MACHINE\\Software\\X", true},
    };
    for (const Case& c : cases) EXPECT_EQ(reg.OpenKey(c.path) != nullptr, c.exists) << c.path;

    auto key = reg.OpenKey(qsx::kOptionsKey);
    ASSERT_NE(key, nullptr);
    uint32_t v = 0;
    EXPECT_TRUE(QueryDword(*key, "CENTRE", v));
    EXPECT_EQ(v, 42u);
    EXPECT_FALSE(key->SetValue("Centre", host::REG_DWORD, "\0\0\0\0", 4));

    // Data larger than the buffer fails and leaves the caller's variables alone.
    char buf[8] = "zzzzzzz";
    uint32_t type = 99, size = 7;
    EXPECT_FALSE(key->QueryValue("", &type, buf, &size));
    EXPECT_EQ(size, 7u);
    EXPECT_EQ(type, 99u);
    EXPECT_STREQ(buf, "zzzzzzz");
    size = 8;
    ASSERT_TRUE(key->QueryValue("", &type, buf, &size));
    EXPECT_EQ(size, 8u);
    EXPECT_EQ(type, host::REG_SZ);
    EXPECT_EQ(std::string(buf, 8), std::string("default", 8));
    size = 0;
    EXPECT_TRUE(key->QueryValue(nullptr, &type, nullptr, &size));
    EXPECT_EQ(size, 8u);
    EXPECT_FALSE(key->QueryValue("Hints", &type, buf, &size));

    fs::remove(file_);
    EXPECT_EQ(reg.OpenKey(qsx::kOptionsKey), nullptr);
    EXPECT_EQ(reg.LastError(), "");
}

TEST_F(FileRegistryTest, TextsRoundTripWithEscapes) {
    struct Case {
        const char* name;
        std::string text;
        const char* line;
    };
    const Case cases[] = {
        {"Empty", "", "\"Empty\"=\"\""},
        {"Dir", "C:\\dir\\", "\"Dir\"=\"C:\\\\dir\\\\\""},
        {"Quote \"q\"", "say \"hi\"", "\"Quote \\\"q\\\"\"=\"say \\\"hi\\\"\""},
        {"Umlaut", "gr\xC3\xBC\xC3\x9F", "\"Umlaut\"=\"gr\xC3\xBC\xC3\x9F\""},
        {"Brackets", "[x]=\"y\"", "\"Brackets\"=\"[x]=\\\"y\\\"\""},
    };
    {
        FileRegistry reg(file_);
        auto key = reg.CreateKey("Software\\Test");
        ASSERT_NE(key, nullptr);
        for (const Case& c : cases)
            ASSERT_TRUE(key->SetValue(c.name, host::REG_SZ, c.text.c_str(), uint32_t(c.text.size() + 1)));
        ASSERT_TRUE(key->Close()) << reg.LastError();
    }
    std::string text = ReadFile(file_);
    FileRegistry reg(file_);
    auto key = reg.OpenKey("Software\\Test");
    ASSERT_NE(key, nullptr);
    for (const Case& c : cases) {
        EXPECT_NE(text.find(std::string("\r\n") + c.line + "\r\n"), std::string::npos) << c.line;
        char buf[64];
        uint32_t type = 0, size = sizeof buf;
        ASSERT_TRUE(key->QueryValue(c.name, &type, buf, &size)) << c.name;
        EXPECT_EQ(std::string(buf, size), c.text + '\0');
        EXPECT_EQ(type, host::REG_SZ);
    }
}

TEST_F(FileRegistryTest, RefusesWhatTheFileCannotHold) {
    FileRegistry reg(file_);
    auto key = reg.CreateKey(qsx::kOptionsKey);
    ASSERT_NE(key, nullptr);
    EXPECT_FALSE(key->SetValue("Short", host::REG_DWORD, "\1\2", 2));
    EXPECT_FALSE(key->SetValue("Binary", 3, "\1\2", 2));
    EXPECT_FALSE(key->SetValue("Lines", host::REG_SZ, "a\r\nb", 5));
    EXPECT_FALSE(key->SetValue("Two\nlines", host::REG_SZ, "a", 2));
    EXPECT_NE(reg.LastError(), "");
    EXPECT_TRUE(SetDword(*key, "Good", 7));
    ASSERT_TRUE(key->Close());
    EXPECT_FALSE(SetDword(*key, "Late", 1));
    auto read = reg.OpenKey(qsx::kOptionsKey);
    ASSERT_NE(read, nullptr);
    uint32_t v = 0, type = 0, size = 4;
    char buf[4];
    EXPECT_TRUE(QueryDword(*read, "Good", v));
    EXPECT_EQ(v, 7u);
    for (const char* name : {"Short", "Binary", "Lines", "Late"})
        EXPECT_FALSE(read->QueryValue(name, &type, buf, &size)) << name;
}

TEST_F(FileRegistryTest, SettingANameInOtherCaseReplacesTheValue) {
    WriteFile(file_, std::string(kKeyLine) + "\r\n\"centre\"=dword:00000000\r\n\"Hints\"=dword:00000002\r\n" +
                         kKeyLine + "\r\n\"CENTRE\"=dword:00000003\r\n");
    EXPECT_EQ(Load().centre, 3);  // the later line wins, as an import would leave it
    FileRegistry reg(file_);
    auto key = reg.CreateKey(qsx::kOptionsKey);
    ASSERT_TRUE(SetDword(*key, "Centre", 5));
    ASSERT_TRUE(key->Close()) << reg.LastError();
    std::string text = ReadFile(file_);
    size_t count = 0;
    for (size_t p = 0; (p = text.find("entre\"=", p)) != std::string::npos; ++p) ++count;
    EXPECT_EQ(count, 1u) << text;
    EXPECT_NE(text.find("\"centre\"=dword:00000005\r\n\"Hints\"=dword:00000002\r\n"), std::string::npos) << text;
    EXPECT_EQ(Load().centre, 5);
    EXPECT_EQ(Load().hints, 2);
}

// Damage of many kinds: what can still be read loads, the rest gives defaults.
TEST_F(FileRegistryTest, DamagedFilesLoadWhatTheyCan) {
    auto withLine = [](int index, const std::string& replacement) {
        std::string s = std::string("Windows Registry Editor Version 5.00\r\n\r\n") + kKeyLine + "\r\n";
        for (int i = 0; i < 9; ++i) s += (i == index ? replacement : std::string(kUnusualLines[i])) + "\r\n";
        return s;
    };
    struct Case {
        const char* what;
        std::string text;
        void (*change)(ExportOptions&);  // from Unusual() to what loads
    };
    auto none = [](ExportOptions&) {};
    const Case cases[] = {
        {"garbage lines between values",
         ReplaceAll(withLine(-1, ""), "\r\n\"Hints", "\r\n%%%garbage\r\n=\r\n\"\r\n@\r\n\"Hints"),
         none},
        {"truncated number", withLine(5, "\"Texture type\"=dword:000000"),
         [](ExportOptions& o) { o.textureFlags = 1; }},
        {"number of nine digits", withLine(0, "\"Centre\"=dword:000000000"), [](ExportOptions& o) { o.centre = 1; }},
        {"bad hex digit", withLine(5, "\"Texture type\"=dword:0000001g"),
         [](ExportOptions& o) { o.textureFlags = 1; }},
        {"text without closing quote", withLine(6, "\"Ext Name\"=\"png"), [](ExportOptions& o) { o.extName = "BMP"; }},
        {"text with junk after it", withLine(1, "\"Scale factor\"=\"0.2500\"x"),
         [](ExportOptions& o) { o.scaleFactor = 1.0f; }},
        {"name without closing quote", withLine(2, "\"Scale type=dword:00000000"),
         [](ExportOptions& o) { o.scaleType = 1; }},
        {"value in hex form", withLine(3, "\"Hierarchy type\"=hex(4):03,00,00,00"),
         [](ExportOptions& o) { o.hierarchyType = 0; }},
        {"file cut inside a line", withLine(-1, "").substr(0, withLine(-1, "").find("\"Save animation\"") + 20),
         [](ExportOptions& o) { o.saveAnimation = 0; }},
        {"binary bytes on their own lines",
         ReplaceAll(withLine(-1, ""), "\r\n\"Hints",
                            std::string("\r\n\x00\xff\xfe\x01\"\x80", 6) + "\r\n\"Hints"),
         none},
        {"a line of a million bytes",
         ReplaceAll(withLine(-1, ""), "\r\n\"Hints", "\r\n" + std::string(1 << 20, 'x') + "\r\n\"Hints"),
         none},
        {"key header without closing bracket", "[HKEY_CURRENT_USER\\Software\\Dunmarrow\\Quorvantis 3dsMax Exporter\r\n" +
                                                   withLine(-1, "").substr(withLine(-1, "").find("\"Centre")),
         [](ExportOptions& o) { o = ExportOptions{}; }},
        {"empty file", "", [](ExportOptions& o) { o = ExportOptions{}; }},
        {"zero bytes only", std::string(4096, '\0'), [](ExportOptions& o) { o = ExportOptions{}; }},
        {"another key's values", ReplaceAll(withLine(-1, ""), "Quorvantis", "Other"),
         [](ExportOptions& o) { o = ExportOptions{}; }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        WriteFile(file_, c.text);
        ExportOptions want = Unusual();
        c.change(want);
        EXPECT_EQ(Load(), want);
    }
}

// Random damage to one line of a good file costs that value alone.
TEST_F(FileRegistryTest, RandomDamageToOneLineCostsOnlyThatValue) {
    std::mt19937 rng(4711);
    for (int round = 0; round < 300; ++round) {
        int hit = int(rng() % 9);
        std::string line = kUnusualLines[hit];
        std::string damaged;
        switch (rng() % 3) {
            case 0:  // cut short
                damaged = line.substr(0, rng() % line.size());
                break;
            case 1:  // one byte changed inside the data
            {
                damaged = line;
                size_t eq = line.find('=');
                size_t at = eq + 1 + rng() % (line.size() - eq - 1);
                char c;
                do c = char(rng() % 256);
                while (c == damaged[at] || c == '\n' || std::isxdigit(static_cast<unsigned char>(c)));
                damaged[at] = c;
                break;
            }
            default:  // random bytes
                for (size_t n = rng() % 200; n > 0; --n) {
                    char c = char(rng() % 256);
                    damaged += (c == '\n' || c == '[') ? '?' : c;
                }
        }
        std::string text = std::string("Windows Registry Editor Version 5.00\r\n\r\n") + kKeyLine + "\r\n";
        for (int i = 0; i < 9; ++i) text += (i == hit ? damaged : std::string(kUnusualLines[i])) + "\r\n";
        WriteFile(file_, text);

        ExportOptions want = Unusual();
        ExportOptions got = Load();
        SCOPED_TRACE(testing::Message() << "round " << round << ", line " << hit << ": " << damaged);
        // A changed byte may leave a readable value (a different text); the
        // other eight must be exactly as stored.
        switch (hit) {
            case 0: want.centre = got.centre == 1 ? 1 : want.centre; break;
            case 1: want.scaleFactor = got.scaleFactor; break;
            case 2: want.scaleType = got.scaleType == 1 ? 1 : want.scaleType; break;
            case 3: want.hierarchyType = got.hierarchyType == 0 ? 0 : want.hierarchyType; break;
            case 4: want.hints = got.hints == 0 ? 0 : want.hints; break;
            case 5: want.textureFlags = got.textureFlags == 1 ? 1 : want.textureFlags; break;
            case 6: want.extName = got.extName; break;
            case 7: want.saveHeader = got.saveHeader == 0 ? 0 : want.saveHeader; break;
            case 8: want.saveAnimation = got.saveAnimation == 0 ? 0 : want.saveAnimation; break;
        }
        EXPECT_EQ(got, want);
        if (HasFailure()) break;
    }
}

TEST_F(FileRegistryTest, SavingKeepsOtherKeysAndLinesItCannotRead) {
    const std::string other =
        "[HKEY_CURRENT_USER\\Software\\Someone Else]\r\n"
        "@=\"default text\"\r\n"
        "\"List\"=hex(7):61,00,62,00,00,00,63,00,64,00,00,00,00,00,65,00,66,00,00,00,\\\r\n"
        "  67,00,00,00,00,00\r\n"
        "\"Count\"=dword:0000000a\r\n"
        "; a note\r\n";
    const std::string tail = "[-HKEY_CURRENT_USER\\Software\\Gone]\r\n";
    WriteFile(file_, "Windows Registry Editor Version 5.00\r\n\r\n" + other + "\r\n" + kKeyLine +
                         "\r\n\"Hints\"=dword:00000002\r\n\"Unknown\"=hex:01,02\r\n"
                         "\"Ext Name\"=hex(1):41,00,\\\r\n  42,00\r\nstray garbage\r\n\r\n" + tail);
    FileRegistry reg(file_);
    ASSERT_TRUE(qsx::SaveOptions(&reg, Unusual())) << reg.LastError();
    std::string text = ReadFile(file_);
    EXPECT_NE(text.find(other), std::string::npos) << text;
    EXPECT_NE(text.find(tail), std::string::npos) << text;
    EXPECT_NE(text.find("\r\n\"Unknown\"=hex:01,02\r\n"), std::string::npos) << text;
    EXPECT_NE(text.find("\r\nstray garbage\r\n"), std::string::npos) << text;
    // The old "Ext Name" with its continuation line is replaced as a whole.
    EXPECT_EQ(text.find("42,00"), std::string::npos) << text;
    EXPECT_NE(text.find("\r\n\"Hints\"=dword:00000001\r\n"), std::string::npos) << text;
    EXPECT_EQ(Load(), Unusual());
}

TEST_F(FileRegistryTest, FailedWriteLeavesTheOldFileAsItWas) {
    WriteFile(file_, std::string("Windows Registry Editor Version 5.00\r\n\r\n") + kKeyLine +
                         "\r\n\"Hints\"=dword:00000002\r\n");
    ASSERT_EQ(::chmod(file_.c_str(), 0640), 0);
    const std::string before = ReadFile(file_);

    // A file size limit in a child stands in for a full disk.
    int pipeFds[2];
    ASSERT_EQ(::pipe(pipeFds), 0);
    pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        ::close(pipeFds[0]);
        std::signal(SIGXFSZ, SIG_IGN);
        struct rlimit lim = {64, 64};
        ::setrlimit(RLIMIT_FSIZE, &lim);
        FileRegistry reg(file_);
        bool saved = qsx::SaveOptions(&reg, Unusual());
        std::string error = reg.LastError();
        (void)!::write(pipeFds[1], error.data(), error.size());
        ::_exit(saved ? 1 : 0);
    }
    ::close(pipeFds[1]);
    std::string error;
    char buf[256];
    for (ssize_t n; (n = ::read(pipeFds[0], buf, sizeof buf)) > 0;) error.append(buf, size_t(n));
    ::close(pipeFds[0]);
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "the save did not report its failure";
    EXPECT_EQ(error, "cannot write " + file_ + ": " + std::strerror(EFBIG));
    EXPECT_EQ(ReadFile(file_), before);
    EXPECT_EQ(DirEntries(dir_), (std::vector<std::string>{"settings.reg", "settings.reg.lock"}));

    // Without the limit the same save goes through and keeps the file's mode.
    FileRegistry reg(file_);
    ASSERT_TRUE(qsx::SaveOptions(&reg, Unusual())) << reg.LastError();
    EXPECT_EQ(Load(), Unusual());
    struct stat st;
    ASSERT_EQ(::stat(file_.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u);
}

TEST_F(FileRegistryTest, ReadOnlyDirectoryFailsTheSave) {
    if (::geteuid() == 0) GTEST_SKIP() << "running as root: permissions do not stop writes (the size limit test covers a failed write)";
    WriteFile(file_, std::string(kKeyLine) + "\r\n\"Hints\"=dword:00000002\r\n");
    const std::string before = ReadFile(file_);
    ASSERT_EQ(::chmod(dir_.c_str(), 0500), 0);
    for (const char* state : {"without a lock file", "with a lock file"}) {
        SCOPED_TRACE(state);
        FileRegistry reg(file_);
        EXPECT_FALSE(qsx::SaveOptions(&reg, Unusual()));
        EXPECT_EQ(reg.LastError(), "cannot write " + file_ + ": " + std::strerror(EACCES));
        EXPECT_EQ(ReadFile(file_), before);
        ::chmod(dir_.c_str(), 0700);
        WriteFile(dir_ + "/settings.reg.lock", "");
        ::chmod(dir_.c_str(), 0500);
    }
    ::chmod(dir_.c_str(), 0700);
}

TEST_F(FileRegistryTest, UnreadableFileIsNeitherLoadedNorOverwritten) {
    // Something that is not a file where the file should be; a pipe must not
    // be waited on.
    for (const bool pipe : {false, true}) {
        SCOPED_TRACE(pipe ? "a named pipe" : "a folder");
        fs::remove_all(file_);
        ASSERT_TRUE(pipe ? ::mkfifo(file_.c_str(), 0600) == 0 : fs::create_directory(file_));
        FileRegistry reg(file_);
        EXPECT_EQ(reg.OpenKey(qsx::kOptionsKey), nullptr);
        EXPECT_NE(reg.ReadError().find("cannot read " + file_), std::string::npos) << reg.ReadError();
        EXPECT_EQ(reg.LastError(), "") << "reading is no failed save";
        EXPECT_FALSE(qsx::SaveOptions(&reg, Unusual()));
        EXPECT_NE(reg.LastError().find(file_), std::string::npos);
        EXPECT_EQ(fs::is_fifo(file_), pipe);
        EXPECT_EQ(Load(), ExportOptions{});
    }
}

TEST_F(FileRegistryTest, ReadOnlyModeWritesNothing) {
    {
        FileRegistry reg(dir_ + "/new/settings.reg");
        reg.SetReadOnly(true);
        EXPECT_TRUE(qsx::SaveOptions(&reg, Unusual()));
        EXPECT_FALSE(fs::exists(dir_ + "/new"));
    }
    WriteFile(file_, std::string(kKeyLine) + "\r\n\"Hints\"=dword:00000002\r\n");
    const std::string before = ReadFile(file_);
    FileRegistry reg(file_);
    reg.SetReadOnly(true);
    auto key = reg.CreateKey(qsx::kOptionsKey);
    ASSERT_NE(key, nullptr);
    ASSERT_TRUE(SetDword(*key, "Hints", 1));
    uint32_t v = 0;
    EXPECT_TRUE(QueryDword(*key, "Hints", v));  // the key itself sees what was set
    EXPECT_EQ(v, 1u);
    EXPECT_TRUE(key->Close());
    EXPECT_EQ(ReadFile(file_), before);
    EXPECT_EQ(DirEntries(dir_), std::vector<std::string>{"settings.reg"});
}

TEST_F(FileRegistryTest, WritingThroughALinkKeepsTheLink) {
    std::string target = dir_ + "/real.reg";
    WriteFile(target, std::string(kKeyLine) + "\r\n\"Hints\"=dword:00000002\r\n");
    ASSERT_EQ(::symlink("real.reg", file_.c_str()), 0);
    FileRegistry reg(file_);
    ASSERT_TRUE(qsx::SaveOptions(&reg, Unusual())) << reg.LastError();
    EXPECT_TRUE(fs::is_symlink(file_));
    EXPECT_NE(ReadFile(target).find("\"Ext Name\"=\"png\""), std::string::npos);
}

// Two processes saving at once: every file either leaves behind is whole,
// and neither loses the other's values.
TEST_F(FileRegistryTest, ConcurrentSaversNeverTearOrLoseTheFile) {
    constexpr int kRounds = 200;
    auto run = [&](const char* own, int hints) -> int {
        FileRegistry reg(file_);
        ExportOptions o = Unusual();
        o.hints = hints;
        for (int i = 0; i < kRounds; ++i) {
            if (i % 2 == 0 && !qsx::SaveOptions(&reg, o)) return 10;
            auto key = reg.CreateKey(qsx::kOptionsKey);
            if (!key || !SetDword(*key, own, uint32_t(i)) || !key->Close()) return 11;
            // Our last value must be there, with a complete set of options.
            std::string text = ReadFile(file_);
            if (text.rfind("Windows Registry Editor Version 5.00\r\n\r\n", 0) != 0) return 12;
            if (text.size() < 4 || text.compare(text.size() - 4, 4, "\r\n\r\n") != 0) return 13;
            auto read = reg.OpenKey(qsx::kOptionsKey);
            uint32_t v = 0;
            if (!read || !QueryDword(*read, own, v) || v != uint32_t(i)) return 14;
            ExportOptions loaded;
            qsx::LoadOptions(&reg, loaded);
            if (loaded.hints != 1 && loaded.hints != 2) return 15;
            if (loaded.extName != "png" || loaded.scaleFactor != 0.25f || loaded.hierarchyType != 3) return 16;
        }
        return 0;
    };
    pid_t a = ::fork();
    ASSERT_GE(a, 0);
    if (a == 0) ::_exit(run("Writer A", 1));
    pid_t b = ::fork();
    if (b == 0) ::_exit(run("Writer B", 2));
    int statusA = 0, statusB = 0;
    ASSERT_EQ(::waitpid(a, &statusA, 0), a);
    ASSERT_GT(b, 0);
    ASSERT_EQ(::waitpid(b, &statusB, 0), b);
    ASSERT_TRUE(WIFEXITED(statusA));
    ASSERT_TRUE(WIFEXITED(statusB));
    EXPECT_EQ(WEXITSTATUS(statusA), 0);
    EXPECT_EQ(WEXITSTATUS(statusB), 0);

    FileRegistry reg(file_);
    auto key = reg.OpenKey(qsx::kOptionsKey);
    ASSERT_NE(key, nullptr);
    uint32_t va = 0, vb = 0;
    EXPECT_TRUE(QueryDword(*key, "Writer A", va));
    EXPECT_TRUE(QueryDword(*key, "Writer B", vb));
    EXPECT_EQ(va, uint32_t(kRounds - 1));
    EXPECT_EQ(vb, uint32_t(kRounds - 1));
    EXPECT_EQ(DirEntries(dir_), (std::vector<std::string>{"settings.reg", "settings.reg.lock"}));
}

TEST(FileRegistryPath, FollowsTheUsersConfigurationDirectory) {
    struct Saved {
        const char* name;
        bool set;
        std::string value;
    };
    Saved saved[] = {{"XDG_CONFIG_HOME", false, {}}, {"HOME", false, {}}};
    for (Saved& s : saved)
        if (const char* v = std::getenv(s.name)) s.set = true, s.value = v;

    struct Case {
        const char* xdg;
        const char* home;
        std::string want;
    };
    const Case cases[] = {
        {"/x/conf", "/h", "/x/conf/qsxexport/settings.reg"},
        {"relative", "/h", "/h/.config/qsxexport/settings.reg"},  // not absolute: ignored
        {"", "/h", "/h/.config/qsxexport/settings.reg"},
        {nullptr, "/home/u", "/home/u/.config/qsxexport/settings.reg"},
    };
    for (const Case& c : cases) {
        c.xdg ? ::setenv("XDG_CONFIG_HOME", c.xdg, 1) : ::unsetenv("XDG_CONFIG_HOME");
        ::setenv("HOME", c.home, 1);
        EXPECT_EQ(FileRegistry::DefaultPath(), c.want) << (c.xdg ? c.xdg : "(unset)") << " " << c.home;
    }
    ::unsetenv("XDG_CONFIG_HOME");
    ::unsetenv("HOME");
    std::string fromPasswd = FileRegistry::DefaultPath();

    for (Saved& s : saved) s.set ? ::setenv(s.name, s.value.c_str(), 1) : ::unsetenv(s.name);

    const char* suffix = "/.config/qsxexport/settings.reg";
    ASSERT_GT(fromPasswd.size(), std::strlen(suffix)) << fromPasswd;
    EXPECT_EQ(fromPasswd.substr(fromPasswd.size() - std::strlen(suffix)), suffix);
    EXPECT_EQ(fromPasswd[0], '/');
}

}  // namespace
