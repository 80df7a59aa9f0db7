#include "qsxhost/app/SceneReport.h"

#include <rapidjson/encodings.h>
#include <rapidjson/memorystream.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include <charconv>
#include <cstdint>
#include <initializer_list>
#include <string_view>
#include <utility>
#include <vector>

#include "qsxhost/app/Messages.h"
#include "util/Text.h"

namespace qsxhost {

bool WritesTriangles(host::INode* root, host::TimeValue t) {
    std::vector<host::INode*> stack;
    for (int i = root->NumberOfChildren(); i-- > 0;) stack.push_back(root->GetChildNode(i));
    while (!stack.empty()) {
        host::INode* n = stack.back();
        stack.pop_back();
        if (!n) continue;
        host::Object* obj = n->EvalWorldState(t);
        if (!obj || !obj->IsRenderable()) continue;
        host::TriObject* tri = obj->ConvertToType(t, host::TRIOBJ_CLASS_ID);
        const bool faces = tri && tri->GetMesh().getNumFaces() > 0;
        if (tri && static_cast<host::Object*>(tri) != obj) tri->DeleteThis();
        if (faces) return true;
        for (int i = n->NumberOfChildren(); i-- > 0;) stack.push_back(n->GetChildNode(i));
    }
    return false;
}

void ReportExport(SceneSource& scene, const std::string& sceneName, const std::vector<std::string>& written) {
    if (!WritesTriangles(scene.GetRootNode(), scene.GetAnimRange().start))
        PrintMessage(sceneName, std::string("warning: nothing to export: ").append(scene.WhyNothingToExport()));
    for (const std::string& note : scene.Notes()) PrintMessage(sceneName, "note: " + note);
    for (const std::string& path : written) {
        if (!qsx::util::EndsWithNoCase(path, ".qsv")) continue;
        if (const std::string note = scene.AnimationNote(); !note.empty()) PrintMessage(path, "note: " + note);
    }
}

namespace {

// Names are bytes from the file: quoted so that one name stays one line and
// shows as it is on any terminal.
std::string Quote(const std::string& s) { return qsx::util::Quoted(s); }

// Seconds to the millisecond, whatever the locale.
std::string Fixed3(double v) {
    char buf[48];
    const auto r = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::fixed, 3);
    return r.ec == std::errc() ? std::string(buf, r.ptr) : "?";
}

std::string Shortest(double v) {
    char buf[48];
    const auto r = std::to_chars(buf, buf + sizeof buf, v);
    return r.ec == std::errc() ? std::string(buf, r.ptr) : "?";
}

std::string IndexList(const std::vector<int64_t>& list) {
    std::string out;
    for (size_t i = 0; i < list.size(); ++i)
        out += (i ? ", " : "") + (list[i] < 0 ? std::string("none") : std::to_string(list[i]));
    return out;
}

// Text that is valid UTF-8: each byte that starts no valid sequence becomes U+FFFD.
std::string ValidUtf8(const std::string& s) {
    std::string out;
    size_t pos = 0;
    while (pos < s.size()) {
        rapidjson::MemoryStream in(s.data() + pos, s.size() - pos);
        rapidjson::StringBuffer one;
        if (rapidjson::UTF8<>::Validate(in, one)) {
            out.append(s, pos, in.Tell());
            pos += in.Tell();
        } else {
            out += "\xEF\xBF\xBD";
            ++pos;
        }
    }
    return out;
}

}  // namespace

std::string InfoText(const SceneInfo& info, const std::string& scene) {
    std::string out;
    // Lines are built by appending, part by part.
    const auto line = [&](std::initializer_list<std::string_view> parts) {
        for (const std::string_view p : parts) out.append(p);
        out += '\n';
    };
    const auto num = [](int64_t v) { return std::to_string(v); };
    int64_t meshes = 0, positions = 0, triangles = 0;
    for (const SceneInfo::Node& n : info.nodes) {
        meshes += n.meshes;
        positions += n.positions;
        triangles += n.triangles;
    }
    line({"scene: ", Quote(scene)});
    line({"format: ", info.format});
    // "+Y" reads as "Y"; a downward axis keeps its sign.
    const std::string_view up = std::string_view(info.upAxis).substr(info.upAxis.rfind('+', 0) == 0 ? 1 : 0);
    line({"up axis: ", up, " (", info.upAxisWhy, ")"});
    if (info.unit)
        line({"unit: 1 unit = ", Shortest(*info.unit), " cm (", info.unitWhy, ")"});
    else
        line({"unit: ", info.unitWhy});
    line({"nodes: ", num(static_cast<int64_t>(info.nodes.size())), ", meshes ", num(meshes), ", positions ",
          num(positions), ", triangles ", num(triangles)});
    for (const SceneInfo::Node& n : info.nodes) {
        const std::string indent(static_cast<size_t>(n.depth - 1) * 2, ' ');
        const std::string_view materials = n.materials.empty()       ? ", no material"
                                           : n.materials.size() == 1 ? ", material "
                                                                     : ", materials ";
        line({indent, "node ", Quote(n.name), ": meshes ", num(n.meshes), ", positions ", num(n.positions),
              ", triangles ", num(n.triangles), materials, IndexList(n.materials)});
    }
    line({"materials: ", num(static_cast<int64_t>(info.materials.size()))});
    for (size_t i = 0; i < info.materials.size(); ++i) {
        const SceneInfo::Material& m = info.materials[i];
        std::string textures;
        for (const SceneInfo::Texture& t : m.textures) {
            textures.append(", ").append(t.channel).append(" map ").append(Quote(t.file));
            if (t.embedded) textures.append(" (embedded)");
        }
        line({"material ", num(static_cast<int64_t>(i)), m.name.empty() ? "" : " ", m.name.empty() ? "" : Quote(m.name),
              ": ", m.kind, m.subs.empty() ? "" : " of ", IndexList(m.subs), textures});
    }
    line({"animations: ", num(static_cast<int64_t>(info.animations.size()))});
    for (const SceneInfo::Animation& a : info.animations) {
        const std::string morph =
            a.morphChannels > 0 ? ", " + qsx::util::Count(a.morphChannels, "morph channel", "morph channels") : "";
        line({"animation ", num(a.index), a.name.empty() ? "" : " ", a.name.empty() ? "" : Quote(a.name), ": ",
              Fixed3(a.seconds), " s, ", qsx::util::Count(a.frames, "frame", "frames"), " at ", Shortest(a.fps), " fps, animated nodes ",
              num(a.nodes), ", keys ", num(a.positionKeys), " position, ", num(a.rotationKeys), " rotation, ",
              num(a.scalingKeys), " scaling, ", num(a.transformKeys), " transform", morph,
              a.exported ? " (exported)" : ""});
    }
    for (const std::string& n : info.notes) line({"note: ", n});
    return out;
}

std::string InfoJson(const SceneInfo& info, const std::string& scene) {
    rapidjson::StringBuffer buf;
    rapidjson::Writer<rapidjson::StringBuffer> w(buf);
    const auto str = [&](const char* key, const std::string& value) {
        w.Key(key);
        const std::string valid = ValidUtf8(value);
        w.String(valid.data(), static_cast<rapidjson::SizeType>(valid.size()));
    };
    const auto num = [&](const char* key, int64_t value) {
        w.Key(key);
        w.Int64(value);
    };
    const auto list = [&](const char* key, const std::vector<int64_t>& values) {
        w.Key(key);
        w.StartArray();
        for (const int64_t v : values) v < 0 ? w.Null() : w.Int64(v);
        w.EndArray();
    };
    w.StartObject();
    str("scene", scene);
    str("format", info.format);
    str("upAxis", info.upAxis);
    str("upAxisReason", info.upAxisWhy);
    w.Key("unit");
    info.unit ? w.Double(*info.unit) : w.Null();
    str("unitReason", info.unitWhy);
    w.Key("nodes");
    w.StartArray();
    for (const SceneInfo::Node& n : info.nodes) {
        w.StartObject();
        str("name", n.name);
        w.Key("parent");
        n.parent < 0 ? w.Null() : w.Int64(n.parent);
        num("depth", n.depth);
        num("meshes", n.meshes);
        num("positions", n.positions);
        num("triangles", n.triangles);
        list("materials", n.materials);
        w.EndObject();
    }
    w.EndArray();
    w.Key("materials");
    w.StartArray();
    for (const SceneInfo::Material& m : info.materials) {
        w.StartObject();
        str("name", m.name);
        str("kind", m.kind);
        if (!m.subs.empty()) list("subs", m.subs);
        w.Key("textures");
        w.StartArray();
        for (const SceneInfo::Texture& t : m.textures) {
            w.StartObject();
            str("channel", t.channel);
            str("file", t.file);
            w.Key("embedded");
            w.Bool(t.embedded);
            w.EndObject();
        }
        w.EndArray();
        w.EndObject();
    }
    w.EndArray();
    w.Key("animations");
    w.StartArray();
    for (const SceneInfo::Animation& a : info.animations) {
        w.StartObject();
        num("index", a.index);
        str("name", a.name);
        w.Key("seconds");
        w.Double(a.seconds);
        num("frames", a.frames);
        w.Key("fps");
        w.Double(a.fps);
        num("animatedNodes", a.nodes);
        num("positionKeys", a.positionKeys);
        num("rotationKeys", a.rotationKeys);
        num("scalingKeys", a.scalingKeys);
        num("transformKeys", a.transformKeys);
        num("morphChannels", a.morphChannels);
        w.Key("exported");
        w.Bool(a.exported);
        w.EndObject();
    }
    w.EndArray();
    w.Key("notes");
    w.StartArray();
    for (const std::string& n : info.notes) {
        const std::string valid = ValidUtf8(n);
        w.String(valid.data(), static_cast<rapidjson::SizeType>(valid.size()));
    }
    w.EndArray();
    w.EndObject();
    return std::string(buf.GetString(), buf.GetSize()) + "\n";
}

}  // namespace qsxhost
