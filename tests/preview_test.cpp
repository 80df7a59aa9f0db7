// The preview draws a known scene: a box in its material colour (or its
// texture's, where one is mapped) at the picture's centre, the background at
// its corners.
#include <gtest/gtest.h>
#include <stb/stb_image.h>
#include <stb/stb_image_write.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <tuple>

#include "tests/support/fake_scene.h"
#include "qsxhost/preview/Blocks.h"
#include "qsxhost/preview/Preview.h"

namespace {

// A 2-unit box around the origin, each side's corners mapped to the texture's corners.
void Box(fake::Node* n) {
    host::Mesh& m = n->MakeMesh();
    for (int i = 0; i < 8; ++i) m.verts.push_back({i & 1 ? 1.0f : -1.0f, i & 2 ? 1.0f : -1.0f, i & 4 ? 1.0f : -1.0f});
    m.tVerts = {{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}};
    const uint32_t sides[6][4] = {{0, 1, 3, 2}, {4, 6, 7, 5}, {0, 4, 5, 1}, {2, 3, 7, 6}, {0, 2, 6, 4}, {1, 5, 7, 3}};
    for (const auto& s : sides) {
        m.faces.push_back(fake::F(s[0], s[1], s[2]));
        m.faces.push_back(fake::F(s[0], s[2], s[3]));
        m.tvFaces.push_back(fake::T(0, 1, 2));
        m.tvFaces.push_back(fake::T(0, 2, 3));
    }
}

TEST(Preview, DrawsTheObjectItsTextureAndTheBackground) {
    const std::string dir = ::testing::TempDir() + "qsx_preview_" + std::to_string(::getpid());
    std::filesystem::create_directories(dir);
    const unsigned char green[4 * 3] = {30, 200, 40, 30, 200, 40, 30, 200, 40, 30, 200, 40};
    ASSERT_TRUE(stbi_write_png((dir + "/grass.png").c_str(), 2, 2, 3, green, 6));
    struct Case {
        const char* texture;  // none: the material's colour shows
        int dominant;         // the channel that outweighs the other two at the centre
    } cases[] = {{nullptr, 0}, {"C:\\maps\\GRASS.png", 1}};
    for (const Case& c : cases) {
        fake::Host h;
        fake::Mtl red;
        red.diffuse = {0.9f, 0.1f, 0.1f};
        fake::Texmap map;
        if (c.texture) {
            map.file = c.texture;
            red.diffuseMap.map = &map;
            red.diffuseMap.enabled = true;
        }
        fake::Node* box = h.root.Add("Box");
        Box(box);
        box->mtl = &red;
        fake::Run r;
        r.Export(h);
        const std::string script = dir + "/box.QSX", png = dir + "/box.png";
        std::ofstream(script, std::ios::binary) << r.File("out/scene.QSX");
        std::string error;
        ASSERT_TRUE(qsxhost::WritePreview({script}, png, 160, 120, &error)) << error;
        int w = 0, hgt = 0, n = 0;
        unsigned char* px = stbi_load(png.c_str(), &w, &hgt, &n, 3);
        ASSERT_TRUE(px);
        ASSERT_EQ(w, 160);
        ASSERT_EQ(hgt, 120);
        auto at = [&](int x, int y) { return px + (static_cast<size_t>(y) * 160 + static_cast<size_t>(x)) * 3; };
        for (auto [x, y] : {std::pair{0, 0}, {159, 0}, {0, 119}, {159, 119}}) {
            const unsigned char* p = at(x, y);
            EXPECT_NEAR(p[0], 222, 3) << x << "," << y;
            EXPECT_NEAR(p[1], 227, 3) << x << "," << y;
            EXPECT_NEAR(p[2], 235, 3) << x << "," << y;
        }
        const unsigned char* mid = at(80, 60);
        for (int k = 0; k < 3; ++k)
            if (k != c.dominant) {
                EXPECT_GT(mid[c.dominant], 2 * mid[k]) << (c.texture ? "texture" : "colour");
            }
        stbi_image_free(px);
    }
    std::filesystem::remove_all(dir);
}

// What the preview says when it draws otherwise than asked: once per texture
// it cannot draw (whatever the number of triangles on it), and a warning
// when nothing drawn can be seen.
TEST(Preview, SaysWhatItCouldNotDraw) {
    const std::string dir = ::testing::TempDir() + "qsx_preview_notes_" + std::to_string(::getpid());
    std::filesystem::create_directories(dir);
    std::ofstream(dir + "/scratch.pcx", std::ios::binary) << "not a picture the preview reads";
    struct Case {
        const char* texture;
        float opacity;
        const char* file;  // null: nothing said
        const char* says;
    } cases[] = {
        {nullptr, 1.0f, nullptr, nullptr},
        {nullptr, 0.5f, nullptr, nullptr},
        {"C:\\maps\\lost.png", 1.0f, "/box.QSX", "texture \"lost.png\" is drawn without its picture: no such file"},
        {"scratch.pcx", 1.0f, "/box.QSX", "texture \"scratch.pcx\" is drawn without its picture: "},
        {nullptr, 0.0f, "/box.png", "warning: the picture shows no surface"},
    };
    for (const Case& c : cases) {
        fake::Host h;
        fake::Mtl red;
        red.diffuse = {0.9f, 0.1f, 0.1f};
        red.opacity = c.opacity;
        fake::Texmap map;
        if (c.texture) {
            map.file = c.texture;
            red.diffuseMap.map = &map;
            red.diffuseMap.enabled = true;
        }
        // Two nodes on the one material: still one note.
        for (const char* name : {"Box", "Twin"}) {
            fake::Node* box = h.root.Add(name);
            Box(box);
            box->mtl = &red;
        }
        fake::Run r;
        r.Export(h);
        const std::string script = dir + "/box.QSX", png = dir + "/box.png";
        std::ofstream(script, std::ios::binary) << r.File("out/scene.QSX");
        std::string error;
        std::vector<qsxhost::PreviewNote> notes;
        ASSERT_TRUE(qsxhost::WritePreview({script}, png, 32, 24, &error, nullptr, &notes)) << error;
        const std::string label = c.texture ? c.texture : "opacity " + std::to_string(c.opacity);
        EXPECT_EQ(notes.size(), c.says ? 1u : 0u) << label << (notes.empty() ? "" : ": " + notes[0].what);
        if (!c.says || notes.empty()) continue;
        EXPECT_EQ(notes[0].file, dir + c.file) << label;
        EXPECT_NE(notes[0].what.find(c.says), std::string::npos) << label << ": " << notes[0].what;
    }
    std::filesystem::remove_all(dir);
}

// The geometry's blocks hold what a vector would across a block's edge and after values are dropped there.
TEST(Preview, BlocksHoldWhatWasPutAcrossTheirEdges) {
    constexpr size_t k = size_t{1} << 16;
    for (const auto& [put, keep, more] :
         {std::tuple{k - 1, k - 2, size_t{3}}, {k, k, 1}, {k + 1, k, 2}, {2 * k + 5, k - 1, k + 3}, {k + 1, 0, k}}) {
        qsxhost::preview::Blocks<uint32_t> blocks;
        std::vector<uint32_t> want, got;
        for (uint32_t i = 0; i < put + more; ++i) {
            if (i == put) blocks.truncate(keep), want.resize(keep);
            blocks.push_back(i * 3 + 7), want.push_back(i * 3 + 7);
        }
        for (size_t i = 0; i < blocks.size(); ++i) got.push_back(blocks[i]);
        EXPECT_EQ(got, want) << put << " " << keep;
    }
}

}  // namespace
