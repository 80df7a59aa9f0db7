// The plug-in on Windows, as a host meets it: qsexp.dle loaded by its path,
// its exports by name and ordinal, its version and dialog resources, the
// golden scenes written through it to disk, the options in the registry, and
// the real dialog driven with window messages (needs a display: Xvfb).
#include <gtest/gtest.h>

#include <io.h>
#include <process.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "QsxExp/OptionsDialog.h"
#include "QsxExp/Version.h"
#include "QsxExp/resource.h"
#include "qsxhost/settings/win32/Registry.h"
#include "qsxhost/ui/MemoryDialog.h"
#include "tests/support/three_nodes.h"
#include "util/Files.h"
#include "util/Paths.h"
#include "util/FileIdentity.h"
#include "util/Text.h"
#include "util/win32/AtomicFile.h"
#include "util/win32/Wide.h"

// Last: <windows.h> defines macros named like the host's constants.
#include <windows.h>

namespace {

std::atomic<int> gInitCustomControlsCalls{0};
std::atomic<int> gInitCommonControlsCalls{0};

void WINAPI CountInitCommonControls() { ++gInitCommonControlsCalls; }

// Before the plug-in loads, comctl32's ordinal 17 jumps to the counter: the
// plug-in's own call is seen, whoever else loaded comctl32 (this program does).
void CountCommonControlsInitialisation() {
    auto* entry = reinterpret_cast<unsigned char*>(
        reinterpret_cast<void*>(GetProcAddress(LoadLibraryA("comctl32.dll"), MAKEINTRESOURCEA(17))));
    DWORD was = 0;
    VirtualProtect(entry, 5, PAGE_EXECUTE_READWRITE, &was);
    entry[0] = 0xE9;  // jmp rel32
    const auto jump = reinterpret_cast<uintptr_t>(&CountInitCommonControls) - reinterpret_cast<uintptr_t>(entry + 5);
    std::memcpy(entry + 1, &jump, 4);
}

}  // namespace

// What the plug-in's first entry looks for in the program that loads it.
extern "C" __declspec(dllexport) void InitCustomControls(void*) { ++gInitCustomControlsCalls; }

namespace {

const std::string kDll = std::string(QSX_BINARY_DIR) + "/qsexp.dle";

std::wstring Wide(const std::string& s) {
    std::wstring w;
    qsx::util::Utf8ToWide(s, &w);
    return w;
}

// Loaded once for the whole program, as a host keeps its plug-ins.
HMODULE Plugin() {
    static HMODULE module = [] {
        CountCommonControlsInitialisation();
        return LoadLibraryExW(Wide(kDll).c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    }();
    return module;
}

template <typename Fn>
Fn Export(LPCSTR nameOrOrdinal) {
    return reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(Plugin(), nameOrOrdinal)));
}

host::ClassDesc* Descriptor() { return Export<host::LibClassDescFn>("LibClassDesc")(0); }

std::string ReadFile(const std::string& path) {
    std::string text, error;
    qsx::util::ReadWholeFile(path, text, size_t{1} << 24, &error);
    return text;
}

std::string Golden(const std::string& name) { return ReadFile(std::string(QSX_SOURCE_DIR) + "/tests/data/golden/" + name); }

// A fresh folder whose name is not ASCII, so that every file name takes the wide route.
std::string TempFolder(const std::string& leaf) {
    wchar_t base[MAX_PATH];
    GetTempPathW(MAX_PATH, base);
    const std::string dir = qsx::util::WideToUtf8(base) + "qsx \xC3\xBC\xE2\x9C\x93 " + leaf;
    CreateDirectoryW(Wide(dir).c_str(), nullptr);
    return dir;
}

std::vector<std::string> FilesIn(const std::string& dir) {
    std::vector<std::string> out;
    WIN32_FIND_DATAW data;
    const HANDLE h = FindFirstFileW(Wide(dir + "\\*").c_str(), &data);
    if (h == INVALID_HANDLE_VALUE) return out;
    do {
        const std::string name = qsx::util::WideToUtf8(data.cFileName);
        if (name != "." && name != "..") out.push_back(name);
    } while (FindNextFileW(h, &data));
    FindClose(h);
    std::sort(out.begin(), out.end());
    return out;
}

void ForgetOptions() { RegDeleteKeyA(HKEY_CURRENT_USER, qsx::kOptionsKey); }

// A host over the in-memory scene; its dialog is the batch one over the
// plug-in's handler (the edits, then OK), or, for a plain host without our
// extension, the real one with the settings in the registry.
struct DllHost : fake::Host {
    std::vector<qsxhost::ControlEdit> edits;
    bool plain = false;
    host::Extension* GetExtension() override { return plain ? nullptr : this; }
    intptr_t RunDialog(const host::DialogTemplate& dlg, host::DlgProc proc, intptr_t param) override {
        return qsxhost::RunBatchDialog(dlg, proc, param, edits, nullptr);
    }
    std::vector<std::string> reasons;
    void FileFailure(std::string_view path, std::string_view why) override {
        fake::Host::FileFailure(path, why);
        reasons.emplace_back(why);
    }
};

int ExportThroughDll(DllHost& h, const std::string& path) {
    host::ExporterPtr exporter(static_cast<host::SceneExport*>(Descriptor()->Create(0)));
    return exporter->DoExport(path.c_str(), nullptr, &h, 0);
}

TEST(Plugin, ExportsByNameAndOrdinalAnswerAsAHostExpects) {
    ASSERT_NE(Plugin(), nullptr) << kDll;
    const char* names[] = {"LibDescription", "LibNumberClasses", "LibClassDesc", "LibVersion"};
    for (int ordinal = 1; ordinal <= 4; ++ordinal) {
        void* byName = Export<void*>(names[ordinal - 1]);
        EXPECT_NE(byName, nullptr) << names[ordinal - 1];
        EXPECT_EQ(byName, Export<void*>(MAKEINTRESOURCEA(ordinal))) << names[ordinal - 1];
    }
    EXPECT_EQ(Export<void*>(MAKEINTRESOURCEA(5)), nullptr);
    // What a host checks before it uses the library: its interface version,
    // one class, and that class a scene exporter, the same object each time.
    EXPECT_EQ(Export<host::LibVersionFn>("LibVersion")(), host::VERSION_PLUGIN_API);
    EXPECT_EQ(Export<host::LibNumberClassesFn>("LibNumberClasses")(), 1);
    auto classDesc = Export<host::LibClassDescFn>("LibClassDesc");
    ASSERT_NE(classDesc(0), nullptr);
    EXPECT_EQ(classDesc(0), classDesc(0));
    EXPECT_EQ(classDesc(1), nullptr);
    EXPECT_EQ(classDesc(-1), nullptr);
    EXPECT_EQ(classDesc(0)->SuperClassID(), host::SCENE_EXPORT_CLASS_ID);
}

TEST(Plugin, ControlsAreInitialisedOnceWhateverTheEntryIsCalledFor) {
    ASSERT_NE(Plugin(), nullptr);
    // A new thread calls every library's entry again (thread attach and detach).
    std::thread([] {}).join();
    EXPECT_EQ(gInitCustomControlsCalls.load(), 1);
    EXPECT_EQ(gInitCommonControlsCalls.load(), 1);
}

TEST(Plugin, VersionResourceHoldsTheVersionRecord) {
    const std::wstring path = Wide(kDll);
    DWORD ignored = 0;
    std::string data(GetFileVersionInfoSizeW(path.c_str(), &ignored), '\0');
    ASSERT_FALSE(data.empty());
    ASSERT_TRUE(GetFileVersionInfoW(path.c_str(), 0, static_cast<DWORD>(data.size()), data.data()));
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT len = 0;
    ASSERT_TRUE(VerQueryValueW(data.data(), L"\\", reinterpret_cast<void**>(&fixed), &len));
    EXPECT_EQ(fixed->dwFileVersionMS, 0x00010000u);
    EXPECT_EQ(fixed->dwFileVersionLS, 0u);
    EXPECT_EQ(fixed->dwProductVersionMS, 0x00020001u);
    EXPECT_EQ(fixed->dwProductVersionLS, 0u);
    EXPECT_EQ(fixed->dwFileType, static_cast<DWORD>(VFT_DLL));
    WORD* translation = nullptr;
    ASSERT_TRUE(VerQueryValueW(data.data(), L"\\VarFileInfo\\Translation", reinterpret_cast<void**>(&translation), &len));
    ASSERT_EQ(len, 4u);
    EXPECT_EQ(translation[0], 0x0809);
    EXPECT_EQ(translation[1], 0x04B0);
    // Every key of the record the code carries, with the same text.
    for (int i = 0; i < qsx::kVersionRecordSize; ++i) {
        const qsx::VersionEntry& e = qsx::kVersionRecord[i];
        wchar_t* value = nullptr;
        const std::wstring key = L"\\StringFileInfo\\080904B0\\" + Wide(e.key);
        EXPECT_TRUE(VerQueryValueW(data.data(), key.c_str(), reinterpret_cast<void**>(&value), &len)) << e.key;
        EXPECT_EQ(value && len > 0 ? qsx::util::WideToUtf8(std::wstring_view(value, len - 1)) : std::string(), e.value)
            << e.key;
    }
}

// The resource compiler's template, read back from the DLL, against the
// template table the batch and terminal dialogs use: control by control.
TEST(Plugin, DialogResourceIsTheTemplateTable) {
    const HRSRC res = FindResourceW(Plugin(), MAKEINTRESOURCEW(IDD_OPTIONS), reinterpret_cast<LPCWSTR>(RT_DIALOG));
    ASSERT_NE(res, nullptr);
    const auto* p = static_cast<const BYTE*>(LockResource(LoadResource(Plugin(), res)));
    ASSERT_NE(p, nullptr);
    auto word = [&]() {
        WORD w;
        std::memcpy(&w, p, 2);
        p += 2;
        return w;
    };
    auto dword = [&]() {
        DWORD d;
        std::memcpy(&d, p, 4);
        p += 4;
        return d;
    };
    // A name or ordinal: 0xFFFF and a number, else a zero-ended wide string.
    auto text = [&]() -> std::string {
        if (reinterpret_cast<const WORD*>(p)[0] == 0xFFFF) {
            p += 2;
            return "#" + std::to_string(word());
        }
        std::wstring s;
        for (WORD c; (c = word()) != 0;) s += static_cast<wchar_t>(c);
        return qsx::util::WideToUtf8(s);
    };
    const host::DialogTemplate& t = qsx::OptionsDialogTemplate();
    ASSERT_EQ(word(), 1);       // DLGTEMPLATEEX
    ASSERT_EQ(word(), 0xFFFF);
    dword();                    // help id
    EXPECT_EQ(dword(), 0u);     // extended style
    EXPECT_EQ(dword(), static_cast<DWORD>(WS_POPUP | WS_VISIBLE | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_SETFONT));
    ASSERT_EQ(word(), t.controlCount);
    EXPECT_EQ(word(), 0);
    EXPECT_EQ(word(), 0);
    EXPECT_EQ(word(), t.w);
    EXPECT_EQ(word(), t.h);
    EXPECT_EQ(text(), "");  // no menu
    EXPECT_EQ(text(), "");  // the standard dialog class
    EXPECT_EQ(text(), t.caption);
    EXPECT_EQ(word(), t.pointSize);
    word();  // weight
    word();  // italic, character set
    EXPECT_EQ(text(), t.font);
    // A class by its ordinal or its name, as resource compilers write either.
    auto kindOf = [](const std::string& cls, DWORD style) {
        auto is = [&](const char* ordinal, const char* name) { return cls == ordinal || qsx::util::EqualsNoCase(cls, name); };
        if (is("#129", "Edit")) return host::ControlKind::Edit;
        if (is("#133", "ComboBox") && (style & 3) == CBS_DROPDOWNLIST) return host::ControlKind::DropDownList;
        if (!is("#128", "Button")) return static_cast<host::ControlKind>(-1);
        switch (style & 0xF) {
        case BS_GROUPBOX: return host::ControlKind::GroupBox;
        case BS_AUTOCHECKBOX: return host::ControlKind::CheckBox;
        case BS_DEFPUSHBUTTON: return host::ControlKind::DefPushButton;
        case BS_PUSHBUTTON: return host::ControlKind::PushButton;
        default: return static_cast<host::ControlKind>(-1);
        }
    };
    for (int i = 0; i < t.controlCount; ++i) {
        const host::DialogControl& c = t.controls[i];
        p = reinterpret_cast<const BYTE*>((reinterpret_cast<uintptr_t>(p) + 3) & ~uintptr_t{3});
        dword();  // help id
        EXPECT_EQ(dword(), 0u) << c.id;
        const DWORD style = dword();
        const short x = static_cast<short>(word()), y = static_cast<short>(word());
        const short w = static_cast<short>(word()), h = static_cast<short>(word());
        const int id = static_cast<int>(dword());
        const std::string cls = text();
        const std::string title = text();
        p += word();  // creation data
        EXPECT_EQ(id, c.id) << "control " << i;
        EXPECT_EQ(kindOf(cls, style), c.kind) << c.id << " " << cls;
        EXPECT_EQ(title, c.text) << c.id;
        EXPECT_EQ(x, c.x) << c.id;
        EXPECT_EQ(y, c.y) << c.id;
        EXPECT_EQ(w, c.w) << c.id;
        EXPECT_EQ(h, c.h) << c.id;
        // Beyond the button or list type bits (an edit box has none), the table's styles.
        const DWORD typeBits = c.kind == host::ControlKind::Edit ? 0 : 0xF;
        EXPECT_EQ(style & ~typeBits, static_cast<DWORD>(WS_CHILD | WS_VISIBLE) | c.style) << c.id;
    }
}

// The golden scenes, through the DLL's exporter and dialog handler, onto disk:
// the same bytes as the Linux tests expect, and nothing else left in the folder.
TEST(Plugin, GoldenScenesWrittenToDiskByteForByte) {
    const char* const golden[4][3] = {{"three_nodes_mode0.QSX"},
                                      {"three_nodes_mode1.QSX"},
                                      {"three_nodes_mode2.QSX"},
                                      {"three_nodes_mode3_0.QSX", "three_nodes_mode3_1.QSX", "three_nodes_mode3_2.QSX"}};
    for (int mode = 0; mode < 4; ++mode) {
        const std::string dir = TempFolder("mode" + std::to_string(mode));
        DllHost h;
        golden::ThreeNodes(h.root);
        using E = qsxhost::ControlEdit;
        h.edits = {{E::Check, IDC_CENTRE, 0, ""},
                   {E::Select, IDC_SCALETYPE, 1, ""},
                   {E::Text, IDC_SCALEFACTOR, 0, "2"},
                   {E::Select, IDC_HIERARCHY, mode, ""}};
        const std::string script = dir + "\\sc\xC3\xA8ne.QSX";
        ASSERT_EQ(ExportThroughDll(h, script), 1) << mode;
        std::vector<std::string> expected;
        for (int i = 0; i < 3 && golden[mode][i]; ++i) {
            const std::string path =
                mode == 3 ? dir + "\\sc\xC3\xA8ne" + std::to_string(i) + ".QSX" : script;
            const std::string want = Golden(golden[mode][i]);
            ASSERT_FALSE(want.empty()) << golden[mode][i];
            EXPECT_EQ(ReadFile(path), want) << path;
            expected.push_back(path.substr(dir.size() + 1));
        }
        std::sort(expected.begin(), expected.end());
        EXPECT_EQ(FilesIn(dir), expected) << mode;
        EXPECT_TRUE(h.fileFailures.empty());
    }
}

// A destination that cannot be replaced when the file is complete (another
// program holds it open): the export fails, the old file stays as it was, and
// the finished temporary is deleted.
TEST(Plugin, FailedFileLeavesTheOldOneAndNoTemporary) {
    const std::string dir = TempFolder("held");
    const std::string script = dir + "\\kept.QSX";
    const HANDLE f = CreateFileW(Wide(script).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                 FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(f, INVALID_HANDLE_VALUE);
    DWORD n = 0;
    WriteFile(f, "old\r\n", 5, &n, nullptr);
    DllHost h;
    golden::ThreeNodes(h.root);
    EXPECT_EQ(ExportThroughDll(h, script), 0);
    CloseHandle(f);
    EXPECT_EQ(h.fileFailures, std::vector<std::string>{script});
    EXPECT_EQ(ReadFile(script), "old\r\n");
    EXPECT_EQ(FilesIn(dir), std::vector<std::string>{"kept.QSX"});
}

DWORD Attributes(const std::string& path) { return GetFileAttributesW(Wide(path).c_str()); }

// An earlier file in the way: replaced with its marks kept, or, marked
// read-only, refused and left as it was; every export twice, so that the
// second replaces what the first wrote.
TEST(Files, EarlierFileReplacedWithItsMarksOrRefusedWhenReadOnly) {
    const struct {
        const char* name;
        DWORD marks;
        bool replaced;
    } cases[] = {
        {"plain", FILE_ATTRIBUTE_NORMAL, true},
        {"hidden", FILE_ATTRIBUTE_HIDDEN, true},
        {"read-only", FILE_ATTRIBUTE_READONLY, false},
        {"hidden read-only", FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_READONLY, false},
    };
    const std::string dir = TempFolder("marks");
    for (const auto& c : cases) {
        const std::string script = dir + "\\" + c.name + ".QSX";
        for (int round = 0; round < 2; ++round) {
            const HANDLE f = CreateFileW(Wide(script).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
            ASSERT_NE(f, INVALID_HANDLE_VALUE) << c.name;
            DWORD n = 0;
            WriteFile(f, "old\r\n", 5, &n, nullptr);
            CloseHandle(f);
            SetFileAttributesW(Wide(script).c_str(), c.marks);
            DllHost h;
            golden::ThreeNodes(h.root);
            EXPECT_EQ(ExportThroughDll(h, script), c.replaced ? 1 : 0) << c.name;
            EXPECT_EQ(h.reasons, c.replaced ? std::vector<std::string>{}
                                            : std::vector<std::string>{qsx::util::WindowsErrorText(ERROR_ACCESS_DENIED)})
                << c.name;
            EXPECT_EQ(ReadFile(script) == "old\r\n", !c.replaced) << c.name;
            EXPECT_EQ(Attributes(script) & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_READONLY), c.marks & ~FILE_ATTRIBUTE_NORMAL)
                << c.name;
            SetFileAttributesW(Wide(script).c_str(), FILE_ATTRIBUTE_NORMAL);
        }
    }
    std::vector<std::string> names;
    for (const auto& c : cases) names.push_back(std::string(c.name) + ".QSX");
    std::sort(names.begin(), names.end());
    EXPECT_EQ(FilesIn(dir), names);
}

// The names the system keeps for devices, in any folder, letter case or
// extension, are refused naming the device; names that only begin like them
// are files.
TEST(Files, DeviceNamesRefusedNamingTheDevice) {
    const struct {
        const char* name;
        const char* device;
    } cases[] = {
        {"NUL", "NUL"},           {"aux.QSX", "AUX"},      {"com1", "COM1"},          {"Lpt9.qsx", "LPT9"},
        {"con .QSX", "CON"},      {"prn.a.b", "PRN"},      {"auxiliary.QSX", ""},     {"com10.QSX", ""},
        {"com0.QSX", ""},         {"nul-not.QSX", ""},     {"scene.nul", ""},
    };
    const std::string dir = TempFolder("devices");
    std::vector<std::string> files;
    for (const auto& c : cases) {
        const std::string script = dir + "\\" + c.name;
        EXPECT_EQ(qsx::util::ReservedDeviceName(script), c.device) << c.name;
        DllHost h;
        golden::ThreeNodes(h.root);
        const bool device = *c.device != '\0';
        EXPECT_EQ(ExportThroughDll(h, script), device ? 0 : 1) << c.name;
        ASSERT_EQ(h.reasons.size(), device ? 1u : 0u) << c.name;
        if (device) {
            EXPECT_NE(h.reasons[0].find(std::string(" ") + c.device + ","), std::string::npos) << h.reasons[0];
        } else {
            files.push_back(c.name);
        }
    }
    std::sort(files.begin(), files.end());
    EXPECT_EQ(FilesIn(dir), files);
}

// Both separators cut a path, and names differing only in letter case or
// separator are one file, whether it exists yet or not.
TEST(Paths, BackslashCutsAndLetterCaseIsOneFile) {
    EXPECT_EQ(qsx::util::SideFileName("C:\\a.b\\scene", ".qsh"), "C:\\a.b\\scene.qsh");
    EXPECT_EQ(qsx::util::DirName("C:/x\\y.QSX"), "C:/x");
    const std::string dir = TempFolder("same");
    CloseHandle(CreateFileW(Wide(dir + "\\a.QSX").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    CloseHandle(CreateFileW(Wide(dir + "\\b.QSX").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    const struct {
        const char *a, *b;
        bool same;
    } cases[] = {
        {"\\a.QSX", "\\A.qsx", true},     {"\\a.QSX", "/a.QSX", true},     {"\\a.QSX", "\\b.QSX", false},
        {"\\new.QSX", "\\NEW.qsx", true}, {"\\new.QSX", "/new.QSX", true}, {"\\new.QSX", "\\old.QSX", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(qsx::util::SameFile(dir + c.a, dir + c.b), c.same) << c.a << " and " << c.b;
}

DWORD QueryDword(const char* name) {
    DWORD value = 0xDEADBEEF, size = 4, type = 0;
    RegGetValueA(HKEY_CURRENT_USER, qsx::kOptionsKey, name, RRF_RT_REG_DWORD, &type, &value, &size);
    return value;
}

std::string QueryText(const char* name) {
    char buf[512] = {};
    DWORD size = sizeof buf;
    if (RegGetValueA(HKEY_CURRENT_USER, qsx::kOptionsKey, name, RRF_RT_REG_SZ, nullptr, buf, &size) != ERROR_SUCCESS)
        return "<missing>";
    return buf;
}

TEST(Registry, OptionsSavedAndLoadedWithTheirTypes) {
    ForgetOptions();
    qsxhost::Registry registry;
    qsx::ExportOptions loaded;
    loaded.centre = 0;
    qsx::LoadOptions(&registry, loaded);
    EXPECT_EQ(loaded.centre, 1);  // first use: the defaults
    EXPECT_EQ(loaded.extName, "BMP");

    qsx::ExportOptions saved;
    saved.scaleFactor = 0.12345f;
    saved.scaleType = 0;
    saved.centre = 0;
    saved.hierarchyType = 3;
    saved.textureFlags = 0x1F;
    saved.hints = -1;
    saved.extName = "TGA";
    saved.saveHeader = 1;
    ASSERT_TRUE(qsx::SaveOptions(&registry, saved));
    EXPECT_EQ(QueryText("Scale factor"), "0.1235");
    EXPECT_EQ(QueryText("Ext Name"), "TGA");
    EXPECT_EQ(QueryDword("Hints"), 0xFFFFFFFFu);
    EXPECT_EQ(QueryDword("Texture type"), 0x1Fu);
    qsx::LoadOptions(&registry, loaded);
    EXPECT_FLOAT_EQ(loaded.scaleFactor, 0.1235f);
    EXPECT_EQ(loaded.hierarchyType, 3);
    EXPECT_EQ(loaded.hints, -1);
    EXPECT_EQ(loaded.extName, "TGA");
    EXPECT_EQ(loaded.saveHeader, 1);
    EXPECT_EQ(loaded.centre, 0);

    // A read-only store (a batch run) takes the values and keeps none.
    ForgetOptions();
    registry.SetReadOnly(true);
    EXPECT_TRUE(qsx::SaveOptions(&registry, saved));
    HKEY key = nullptr;
    EXPECT_NE(RegOpenKeyA(HKEY_CURRENT_USER, qsx::kOptionsKey, &key), ERROR_SUCCESS);
}

// --- the real dialog, driven from a second thread with window messages ---

HWND WaitForDialog(const char* caption) {
    for (int i = 0; i < 1500; ++i) {
        if (HWND h = FindWindowA("#32770", caption); h && IsWindowVisible(h)) return h;
        Sleep(10);
    }
    return nullptr;
}

void WaitUntilGone(HWND h) {
    for (int i = 0; i < 1500 && IsWindow(h); ++i) Sleep(10);
}

BOOL CALLBACK CollectStaticText(HWND child, LPARAM out) {
    char cls[16], buf[256];
    GetClassNameA(child, cls, sizeof cls);
    if (lstrcmpiA(cls, "Static") == 0 && GetWindowTextA(child, buf, sizeof buf) > 0)
        *reinterpret_cast<std::string*>(out) += buf;
    return TRUE;
}

// The text of a message box, and its OK pressed.
std::string AnswerMessageBox() {
    const HWND box = WaitForDialog(qsx::kWarningCaption);
    if (!box) return "<no message box>";
    std::string text;
    EnumChildWindows(box, CollectStaticText, reinterpret_cast<LPARAM>(&text));
    PostMessageA(box, WM_COMMAND, IDOK, 0);
    WaitUntilGone(box);
    return text;
}

// As wide characters: read through the ANSI calls, text the dialog garbled
// would come back as it went in.
std::string ItemText(HWND dlg, int id) {
    wchar_t buf[260] = {};
    GetDlgItemTextW(dlg, id, buf, 260);
    return qsx::util::WideToUtf8(buf);
}

void Click(HWND dlg, int id) { SendMessageA(GetDlgItem(dlg, id), BM_CLICK, 0, 0); }
// For a press that may open a message box, which would hold a sent message.
void PostClick(HWND dlg, int id) { PostMessageA(GetDlgItem(dlg, id), BM_CLICK, 0, 0); }
void SetText(HWND dlg, int id, const char* text) { SendDlgItemMessageA(dlg, id, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text)); }
void Type(HWND dlg, int id, const char* text) {
    SetText(dlg, id, "");
    for (const char* c = text; *c; ++c) SendDlgItemMessageA(dlg, id, WM_CHAR, static_cast<unsigned char>(*c), 1);
}
bool Enabled(HWND dlg, int id) { return IsWindowEnabled(GetDlgItem(dlg, id)) != FALSE; }
bool Checked(HWND dlg, int id) { return IsDlgButtonChecked(dlg, id) == BST_CHECKED; }
int Selected(HWND dlg, int id) { return static_cast<int>(SendDlgItemMessageA(dlg, id, CB_GETCURSEL, 0, 0)); }

bool HaveDisplay() { return GetEnvironmentVariableA("DISPLAY", nullptr, 0) > 0; }

// qsxexport.exe run as a user runs it: its flags are in the real dialog the
// plug-in makes, and OK stores what the dialog shows.
TEST(Command, FlagsAreInTheRealDialogAndOkStoresThem) {
    if (!HaveDisplay()) GTEST_SKIP() << "no display (run under Xvfb)";
    ForgetOptions();
    const std::wstring out = Wide("\"" + TempFolder("command") + "\\out.QSX\"");
    const std::wstring scene = Wide("\"" QSX_SOURCE_DIR "/examples/robot.json\"");
    std::string scale;
    bool header = false;
    std::thread driver([&] {
        if (const HWND dlg = WaitForDialog("Quorvantis Export Options")) {
            scale = ItemText(dlg, IDC_SCALEFACTOR);
            header = Checked(dlg, IDC_SAVEHEADER) && Enabled(dlg, IDC_HEADERPATH);
            PostClick(dlg, IDOK);
        }
    });
    const intptr_t exit = _wspawnl(_P_WAIT, Wide(QSX_BINARY_DIR "/qsxexport.exe").c_str(), L"qsxexport", L"--scale-by",
                                   L"3", L"--header", scene.c_str(), out.c_str(), nullptr);
    driver.join();
    EXPECT_EQ(exit, 0);
    EXPECT_EQ(scale, "3");
    EXPECT_TRUE(header);
    EXPECT_EQ(QueryText("Scale factor"), "3.0000");
}

// qsxexport.exe with its standard error in a file: its exit status and what it said.
std::pair<intptr_t, std::string> RunCommand(const std::string& scene, const std::string& out, const std::string& errFile) {
    FILE* err = _wfopen(Wide(errFile).c_str(), L"w");
    const int saved = _dup(2);
    _dup2(_fileno(err), 2);
    const intptr_t exit = _wspawnl(_P_WAIT, Wide(QSX_BINARY_DIR "/qsxexport.exe").c_str(), L"qsxexport",
                                   Wide("\"" + scene + "\"").c_str(), Wide("\"" + out + "\"").c_str(), nullptr);
    _dup2(saved, 2);
    _close(saved);
    std::fclose(err);
    return {exit, ReadFile(errFile)};
}

// The plug-in stores what OK chose in the registry itself; when the registry
// refuses it (a key under a volatile one cannot last), the command says so
// and fails, the export written all the same.
TEST(Command, OptionsTheRegistryRefusesAreTold) {
    if (!HaveDisplay()) GTEST_SKIP() << "no display (run under Xvfb)";
    const std::string dir = TempFolder("unsaved");
    const std::string refused = std::string("qsxexport: HKEY_CURRENT_USER\\") + qsx::kOptionsKey + ": ";
    for (const bool volatileParent : {false, true}) {
        SCOPED_TRACE(volatileParent ? "volatile parent" : "plain registry");
        ForgetOptions();
        RegDeleteKeyA(HKEY_CURRENT_USER, "Software\\Dunmarrow");
        HKEY parent = nullptr;
        ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\Dunmarrow", 0, nullptr,
                                  volatileParent ? REG_OPTION_VOLATILE : REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS,
                                  nullptr, &parent, nullptr),
                  ERROR_SUCCESS);
        RegCloseKey(parent);
        DeleteFileW(Wide(dir + "\\out.QSX").c_str());
        std::thread driver([] {
            if (const HWND dlg = WaitForDialog("Quorvantis Export Options")) PostClick(dlg, IDOK);
        });
        const auto [exit, said] = RunCommand(QSX_SOURCE_DIR "/examples/robot.json", dir + "\\out.QSX", dir + ".err");
        driver.join();
        RegDeleteKeyA(HKEY_CURRENT_USER, "Software\\Dunmarrow");
        EXPECT_EQ(FilesIn(dir), std::vector<std::string>{"out.QSX"});
        if (volatileParent) {
            EXPECT_EQ(exit, 1);
            EXPECT_EQ(said.rfind(refused, 0), 0u) << said;
            EXPECT_TRUE(said.ends_with(": settings not saved\r\n")) << said;
            EXPECT_EQ(std::count(said.begin(), said.end(), '\n'), 1) << said;
        } else {
            EXPECT_EQ(exit, 0);
            EXPECT_EQ(said, "");
        }
    }
}

TEST(RealDialog, CancelStoresNothingAndWritesNothing) {
    if (!HaveDisplay()) GTEST_SKIP() << "no display (run under Xvfb)";
    ForgetOptions();
    const std::string dir = TempFolder("cancel");
    DllHost h;
    golden::ThreeNodes(h.root);
    h.plain = true;
    std::thread driver([] {
        const HWND dlg = WaitForDialog("Quorvantis Export Options");
        if (!dlg) return;
        Click(dlg, IDC_SAVEHEADER);
        SetText(dlg, IDC_SCALEFACTOR, "7");
        Click(dlg, IDCANCEL);
    });
    EXPECT_EQ(ExportThroughDll(h, dir + "\\none.QSX"), 1);
    driver.join();
    HKEY key = nullptr;
    EXPECT_NE(RegOpenKeyA(HKEY_CURRENT_USER, qsx::kOptionsKey, &key), ERROR_SUCCESS);
    EXPECT_TRUE(FilesIn(dir).empty());
}

TEST(RealDialog, FirstUseEnablingRulesWarningsAndOk) {
    if (!HaveDisplay()) GTEST_SKIP() << "no display (run under Xvfb)";
    ForgetOptions();
    const std::string dir = TempFolder("ok");
    const std::string script = dir + "\\scene.QSX";
    DllHost h;
    golden::ThreeNodes(h.root);
    h.plain = true;

    struct Seen {
        bool opened = false;
        bool centre = false, showTextures = false, otherTextureBoxes = true, extEnabled = true;
        int scaleType = -2, hierarchy = -2, hints = -2;
        std::string scale, ext, headerPath;
        bool headerPathEnabled = true, animationPathEnabled = true;
        bool followsOverride[2] = {}, followsHeader[2] = {}, followsAnimation[2] = {};
        std::string warnZero, warnLong, typedExt;
        bool openAfterWarnings = false;
    } seen;
    std::thread driver([&seen] {
        const HWND dlg = WaitForDialog("Quorvantis Export Options");
        if (!dlg) return;
        seen.opened = true;
        seen.centre = Checked(dlg, IDC_CENTRE);
        seen.scaleType = Selected(dlg, IDC_SCALETYPE);
        seen.scale = ItemText(dlg, IDC_SCALEFACTOR);
        seen.hierarchy = Selected(dlg, IDC_HIERARCHY);
        seen.hints = Selected(dlg, IDC_HINTS);
        seen.showTextures = Checked(dlg, IDC_SHOWTEXTURES);
        seen.otherTextureBoxes = Checked(dlg, IDC_LIT) || Checked(dlg, IDC_FILTER) || Checked(dlg, IDC_FORESHORTEN) ||
                                 Checked(dlg, IDC_OVERRIDEEXT);
        seen.extEnabled = Enabled(dlg, IDC_EXTNAME);
        seen.ext = ItemText(dlg, IDC_EXTNAME);
        seen.headerPath = ItemText(dlg, IDC_HEADERPATH);
        seen.headerPathEnabled = Enabled(dlg, IDC_HEADERPATH);
        seen.animationPathEnabled = Enabled(dlg, IDC_ANIMATIONPATH);
        for (int i = 0; i < 2; ++i) {
            Click(dlg, IDC_OVERRIDEEXT);
            seen.followsOverride[i] = Enabled(dlg, IDC_EXTNAME) == (i == 0);
            Click(dlg, IDC_SAVEHEADER);
            seen.followsHeader[i] = Enabled(dlg, IDC_HEADERPATH) == (i == 0);
            Click(dlg, IDC_SAVEANIMATION);
            seen.followsAnimation[i] = Enabled(dlg, IDC_ANIMATIONPATH) == (i == 0);
        }
        // Both checks, the scale factor's first.
        SetText(dlg, IDC_SCALEFACTOR, "0");
        SetText(dlg, IDC_EXTNAME, "ABCD");
        PostClick(dlg, IDOK);
        seen.warnZero = AnswerMessageBox();
        SetText(dlg, IDC_SCALEFACTOR, "2.5x");
        PostClick(dlg, IDOK);
        seen.warnLong = AnswerMessageBox();
        seen.openAfterWarnings = IsWindow(dlg) && IsWindowVisible(dlg);
        // Typed letters come out as capitals.
        Click(dlg, IDC_OVERRIDEEXT);
        Type(dlg, IDC_EXTNAME, "jpg");
        seen.typedExt = ItemText(dlg, IDC_EXTNAME);
        Click(dlg, IDC_SAVEHEADER);
        SendDlgItemMessageA(dlg, IDC_HINTS, CB_SETCURSEL, 2, 0);
        PostClick(dlg, IDOK);
    });
    EXPECT_EQ(ExportThroughDll(h, script), 1);
    driver.join();

    ASSERT_TRUE(seen.opened);
    EXPECT_TRUE(seen.centre);
    EXPECT_EQ(seen.scaleType, 1);
    EXPECT_EQ(seen.scale, "1.0000");
    EXPECT_EQ(seen.hierarchy, 0);
    EXPECT_EQ(seen.hints, 0);
    EXPECT_TRUE(seen.showTextures);
    EXPECT_FALSE(seen.otherTextureBoxes);
    EXPECT_FALSE(seen.extEnabled);
    EXPECT_EQ(seen.ext, "BMP");
    EXPECT_EQ(seen.headerPath, dir + "\\scene.qsh");
    EXPECT_FALSE(seen.headerPathEnabled);
    EXPECT_FALSE(seen.animationPathEnabled);
    for (int i = 0; i < 2; ++i) {
        EXPECT_TRUE(seen.followsOverride[i]) << i;
        EXPECT_TRUE(seen.followsHeader[i]) << i;
        EXPECT_TRUE(seen.followsAnimation[i]) << i;
    }
    EXPECT_EQ(seen.warnZero, qsx::kScaleFactorWarning);
    EXPECT_EQ(seen.warnLong, qsx::kExtensionWarning);
    EXPECT_TRUE(seen.openAfterWarnings);
    EXPECT_EQ(seen.typedExt, "JPG");

    // OK stored what the dialog showed, and the export used it.
    EXPECT_EQ(QueryText("Scale factor"), "2.5000");
    EXPECT_EQ(QueryText("Ext Name"), "JPG");
    EXPECT_EQ(QueryDword("Texture type"), 17u);
    EXPECT_EQ(QueryDword("Hints"), 2u);
    EXPECT_EQ(QueryDword("Save header"), 1u);
    EXPECT_EQ(QueryDword("Save animation"), 0u);
    EXPECT_EQ(QueryDword("Centre"), 1u);
    EXPECT_EQ(FilesIn(dir), (std::vector<std::string>{"scene.QSX", "scene.qsh"}));
}

}  // namespace
