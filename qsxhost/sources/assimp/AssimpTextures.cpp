// The embedded textures of a 3D file: the names they are written under, and
// the writing of them beside the output.
#include "qsxhost/sources/assimp/AssimpSource.h"
#include "util/posix/AtomicFile.h"
#include "util/Text.h"

#include <algorithm>
#include <cstring>
#include <unordered_set>

namespace qsxhost {
namespace assimp {

// Embedded textures take the file name their hint gives (without its
// directories), else textureN with the format hint as extension; a texture
// stored as raw texels is written as a TGA file.
void AssimpSceneSource::NameEmbeddedTextures() {
    if (!scene_->mTextures) return;
    std::unordered_set<std::string> used;
    for (unsigned i = 0; i < scene_->mNumTextures; ++i) {
        const aiTexture* tex = scene_->mTextures[i];
        std::string ext;
        std::string base;
        if (tex) {
            const bool raw = tex->mHeight != 0;
            const size_t hintLen = strnlen(tex->achFormatHint, HINTMAXTEXTURELEN);
            for (size_t k = 0; k < hintLen; ++k) {
                const char c = tex->achFormatHint[k];
                if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')) ext += c;
            }
            ext = raw ? "tga" : (ext.empty() ? "bin" : qsx::util::ToAsciiLower(ext));
            const std::string hint = ToString(tex->mFilename);
            const size_t cut = hint.find_last_of("/\\:");
            base = cut == std::string::npos ? hint : hint.substr(cut + 1);
            if (base == "." || base == "..") base.clear();
            if (!base.empty()) {
                const size_t dot = base.find_last_of('.');
                if (raw) base = (dot == std::string::npos ? base : base.substr(0, dot)) + ".tga";
                else if (dot == std::string::npos) base += "." + ext;
            }
        }
        if (ext.empty()) ext = "bin";
        const std::string fallback = unnamedTexturePrefix_ + "texture" + std::to_string(i) + "." + ext;
        std::string name = base.empty() || used.count(qsx::util::ToAsciiLower(base)) ? fallback : base;
        if (used.count(qsx::util::ToAsciiLower(name)))
            name = unnamedTexturePrefix_ + "texture" + std::to_string(i) + "_" + std::to_string(used.size()) + "." + ext;
        used.insert(qsx::util::ToAsciiLower(name));
        embeddedNames_.push_back(name);
    }
}

}  // namespace assimp

namespace {

using assimp::AssimpSceneSource;

// Published whole or not at all, like every file of an export.
bool WriteFile(const std::string& path, const void* data, size_t size, std::string* error) {
    std::string why;
    if (qsx::util::PublishFile(path, static_cast<const char*>(data), size, &why)) return true;
    *error = path + ": " + why;
    return false;
}

// Raw texels (BGRA, top row first) as an uncompressed 32-bit TGA.
std::vector<unsigned char> RawTextureAsTga(const aiTexture& tex) {
    std::vector<unsigned char> out(18, 0);
    out[2] = 2;  // uncompressed true colour
    out[12] = static_cast<unsigned char>(tex.mWidth & 0xFF);
    out[13] = static_cast<unsigned char>((tex.mWidth >> 8) & 0xFF);
    out[14] = static_cast<unsigned char>(tex.mHeight & 0xFF);
    out[15] = static_cast<unsigned char>((tex.mHeight >> 8) & 0xFF);
    out[16] = 32;
    out[17] = 0x28;  // 8 alpha bits, top-left origin
    const size_t n = static_cast<size_t>(tex.mWidth) * tex.mHeight;
    out.reserve(out.size() + n * 4);
    for (size_t i = 0; i < n; ++i) {
        const aiTexel& t = tex.pcData[i];
        out.insert(out.end(), {t.b, t.g, t.r, t.a});
    }
    return out;
}


}  // namespace

bool PlanEmbeddedTextures(SceneSource& scene, const std::string& outputDir, std::vector<TextureFile>* files,
                          std::string* error) {
    files->clear();
    const auto* source = dynamic_cast<const AssimpSceneSource*>(&scene);
    if (!source) return true;
    const aiScene& sc = source->Scene();
    const std::vector<std::string>& names = source->EmbeddedNames();
    std::string dir = outputDir.empty() ? "." : outputDir;
    if (dir.back() != '/') dir += '/';
    for (unsigned i = 0; i < sc.mNumTextures && i < names.size(); ++i) {
        const aiTexture* tex = sc.mTextures ? sc.mTextures[i] : nullptr;
        if (!tex || !tex->pcData) continue;
        TextureFile f;
        f.path = dir + names[i];
        if (tex->mHeight == 0) {
            const auto* data = reinterpret_cast<const unsigned char*>(tex->pcData);
            f.bytes.assign(data, data + tex->mWidth);
        } else if (tex->mWidth > 0xFFFF || tex->mHeight > 0xFFFF) {
            *error = f.path + ": a texture of " + std::to_string(tex->mWidth) + " by " +
                     std::to_string(tex->mHeight) + " texels is too large to write";
            return false;
        } else {
            f.bytes = RawTextureAsTga(*tex);
        }
        std::string there, why;
        f.alreadyThere = qsx::util::ReadWholeFile(f.path, there, f.bytes.size(), &why) == qsx::util::ReadState::Read &&
                         there.size() == f.bytes.size() &&
                         std::equal(there.begin(), there.end(), f.bytes.begin(),
                                    [](char a, unsigned char b) { return static_cast<unsigned char>(a) == b; });
        files->push_back(std::move(f));
    }
    return true;
}

bool WriteTextureFiles(const std::vector<TextureFile>& files, const std::function<void(const std::string&)>& written,
                       std::string* error) {
    for (const TextureFile& f : files) {
        if (f.alreadyThere) continue;
        if (!WriteFile(f.path, f.bytes.data(), f.bytes.size(), error)) return false;
        written(f.path);
    }
    return true;
}

}  // namespace qsxhost
