#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <vector>

#include "util/FileIdentity.h"
#include "util/Files.h"
#include "util/posix/AtomicFile.h"

namespace fs = std::filesystem;

// Names that reach one file by a link, a second name or another spelling of
// its folder are one file; names of files that do not exist yet are one file
// only when their resolved folders and last components agree.
TEST(SameFile, AnswersAsTheFileSystemDoes) {
    std::string dir = (fs::temp_directory_path() / "qsx-same-XXXXXX").string();
    ASSERT_NE(mkdtemp(dir.data()), nullptr);
    fs::create_directory(dir + "/real");
    std::ofstream(dir + "/real/a.QSX") << "a";
    std::ofstream(dir + "/real/b.QSX") << "b";
    fs::create_symlink(dir + "/real/a.QSX", dir + "/link.QSX");
    fs::create_hard_link(dir + "/real/a.QSX", dir + "/hard.QSX");
    fs::create_directory_symlink(dir + "/real", dir + "/folder");
    const struct {
        std::string a, b;
        bool same;
    } cases[] = {
        {"real/a.QSX", "real/a.QSX", true},
        {"real/a.QSX", "link.QSX", true},
        {"real/a.QSX", "hard.QSX", true},
        {"real/a.QSX", "folder/../real/a.QSX", true},
        {"real/a.QSX", "real/b.QSX", false},
        {"real/new.QSX", "folder/new.QSX", true},
        {"real/new.QSX", "real/./new.QSX", true},
        {"real/new.QSX", "real/other.QSX", false},
        {"real/new.QSX", "real/NEW.QSX", false},
        {"real/a.QSX", "real/a.QSX.partial", false},
        {"missing/new.QSX", "missing/other.QSX", false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(qsx::util::SameFile(dir + "/" + c.a, dir + "/" + c.b), c.same) << c.a << " and " << c.b;
        EXPECT_EQ(qsx::util::SameFile(dir + "/" + c.b, dir + "/" + c.a), c.same) << c.b << " and " << c.a;
    }
    fs::remove_all(dir);
}

namespace {

// The calls PublishTogether makes, in order: "sync", "rename NAME", "fsync".
std::vector<std::string> gCalls;
bool gFailSync = false;

int RecordSync(int) {
    gCalls.push_back("sync");
    if (!gFailSync) return 0;
    errno = EIO;
    return -1;
}
int RecordRename(const char* from, const char* to) {
    gCalls.push_back("rename " + fs::path(to).filename().string());
    return ::rename(from, to);
}
int RecordFsync(int) {
    gCalls.push_back("fsync");
    return 0;
}

}  // namespace

// Finished files go in place together: their data reaches the disk before
// any of them is renamed over its destination, and a failed sync puts none
// in place and leaves no temporary.
TEST(PublishTogether, SyncsBeforeItRenamesAndKeepsEveryEarlierFileOnFailure) {
    std::string dir = (fs::temp_directory_path() / "qsx-publish-XXXXXX").string();
    ASSERT_NE(mkdtemp(dir.data()), nullptr);
    const qsx::util::PublishCalls recorded{RecordSync, RecordRename, RecordFsync};
    for (const bool failSync : {false, true}) {
        SCOPED_TRACE(failSync ? "the sync fails" : "all goes well");
        std::ofstream(dir + "/a.QSX") << "earlier a";
        std::vector<qsx::util::FinishedFile> files;
        for (const char* name : {"a.QSX", "b.qsh"}) {
            qsx::util::AtomicFile f;
            std::string error;
            ASSERT_TRUE(f.Open(dir + "/" + name, &error)) << error;
            ASSERT_TRUE(qsx::util::WriteAll(f.Descriptor(), std::string("new ") + name));
            files.emplace_back();
            ASSERT_TRUE(f.Finish(&files.back(), &error)) << error;
        }
        gCalls.clear();
        gFailSync = failSync;
        std::vector<std::string> errors;
        qsx::util::PublishTogether(
            files, [&](size_t, const std::string& e) { errors.push_back(e); }, recorded);
        std::set<std::string> names;
        for (const auto& e : fs::directory_iterator(dir)) names.insert(e.path().filename().string());
        std::ifstream a(dir + "/a.QSX");
        const std::string aText((std::istreambuf_iterator<char>(a)), {});
        if (failSync) {
            EXPECT_EQ(gCalls, std::vector<std::string>{"sync"});
            EXPECT_EQ(errors, (std::vector<std::string>(2, std::strerror(EIO))));
            EXPECT_EQ(names, std::set<std::string>{"a.QSX"});
            EXPECT_EQ(aText, "earlier a");
        } else {
            EXPECT_EQ(gCalls, (std::vector<std::string>{"sync", "rename a.QSX", "rename b.qsh", "fsync"}));
            EXPECT_EQ(errors, (std::vector<std::string>(2, "")));
            EXPECT_EQ(names, (std::set<std::string>{"a.QSX", "b.qsh"}));
            EXPECT_EQ(aText, "new a.QSX");
        }
        fs::remove(dir + "/b.qsh");
    }
    fs::remove_all(dir);
}

// A file larger than the memory the program may use is refused with a reason, whole or as a stream, instead of
// ending the program (a 32-bit build meets this with scenes that a 64-bit one reads).
TEST(ReadWholeFile, AFileLargerThanMemoryIsRefusedNotFatal) {
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "the sanitizer's shadow memory does not fit an address space limit";
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
    GTEST_SKIP() << "the sanitizer's shadow memory does not fit an address space limit";
#endif
#endif
    std::string dir = (fs::temp_directory_path() / "qsx-big-XXXXXX").string();
    ASSERT_NE(mkdtemp(dir.data()), nullptr);
    const std::string path = dir + "/big.json";
    std::ofstream(path) << "{}";
    fs::resize_file(path, std::uintmax_t{1} << 30);  // sparse: no disk taken
    for (const bool whole : {true, false}) {
        const pid_t pid = ::fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            const rlimit lim{std::uintmax_t{384} << 20, std::uintmax_t{384} << 20};
            ::setrlimit(RLIMIT_AS, &lim);
            std::string text, error;
            bool refused;
            if (whole) {
                refused = qsx::util::ReadWholeFile(path, text, SIZE_MAX, &error) == qsx::util::ReadState::Failed;
            } else {
                qsx::util::Fd fd;
                qsx::util::OpenRegularFile(path, &fd, &error);
                refused = !qsx::util::ReadAll(fd.Get(), text, SIZE_MAX, &error);
            }
            const bool said = error == "the file does not fit in the memory this program can address";
            ::_exit(refused && said && text.empty() ? 0 : 1);
        }
        int status = 0;
        ASSERT_EQ(::waitpid(pid, &status, 0), pid);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << (whole ? "whole" : "as a stream") << ": status "
                                                                   << status;
    }
    fs::remove_all(dir);
}
