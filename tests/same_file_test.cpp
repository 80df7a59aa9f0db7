#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "util/FileIdentity.h"

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
