// The script readers on any bytes: the input is read as a script, a header
// and an animation file, each checked against the script; a script that reads
// clean is made a scene and walked as the exporter would walk it.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "qsxhost/sources/qsx/QsxReader.h"
#include "qsxhost/sources/qsx/QsxScene.h"

namespace {

void Walk(host::INode* node) {
    for (int i = 0; i < node->NumberOfChildren(); ++i) {
        host::INode* c = node->GetChildNode(i);
        static_cast<void>(c->GetNodeTM(0));
        static_cast<void>(c->GetNodeTM(1000));
        if (host::Object* o = c->EvalWorldState(0, 1)) {
            const host::Mesh& m = o->ConvertToType(0, host::TRIOBJ_CLASS_ID)->GetMesh();
            for (const host::Face& f : m.faces)
                for (uint32_t v : f.v)
                    if (v >= m.verts.size()) __builtin_trap();
            if (host::Mtl* mtl = c->GetMtl())
                for (int k = 0; k < mtl->NumSubMtls(); ++k) static_cast<void>(mtl->GetSubMtl(k));
        }
        Walk(c);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace qsxhost::script;
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    Script s;
    Header h;
    Animation a;
    Problems p, side;
    ReadScript(text, &s, &p);
    ReadHeader(text, &h, &side);
    ReadAnimation(text, &a, &side);
    CheckHeader(s, h, &side);
    CheckAnimation(s, a, &side);
    if (p.Count() == 0) {
        auto scene = qsxhost::MakeQsxScene(s, nullptr);
        Walk(scene->GetRootNode());
    }
    return 0;
}
