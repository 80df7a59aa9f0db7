// SCENE on Windows: a file, through its wide-character name, is left for its
// reader, which takes it a piece at a time (a scene larger than this 32-bit
// program could hold at once is still read); standard input is read whole, in
// binary mode (no line-end translation, no end at a Ctrl-Z).
#include "qsxhost/sources/SceneFile.h"

#include <fcntl.h>
#include <io.h>

#include <cstdint>
#include <cstdio>

#include "util/Files.h"

namespace qsxhost {

bool FindSceneFile(const SceneRequest& request, SceneFile* file, SceneProblem* problem) {
    file->scene = request.scene;
    file->fromStdin = request.scene == "-";
    file->name = file->fromStdin ? "standard input" : request.scene;
    file->path = file->fromStdin ? std::string() : request.scene;
    std::string error;
    if (file->fromStdin) {
        _setmode(_fileno(stdin), _O_BINARY);
        if (!qsx::util::ReadAll(_fileno(stdin), file->bytes, SIZE_MAX, &error)) {
            *problem = {file->name, error};
            return false;
        }
        if (file->bytes.empty()) {
            *problem = {file->name, "is empty"};
            return false;
        }
        file->inMemory = true;
        return true;
    }
    qsx::util::Fd fd;
    if (const auto state = qsx::util::OpenRegularFile(request.scene, &fd, &error); state != qsx::util::ReadState::Read) {
        *problem = {file->name, state == qsx::util::ReadState::Absent ? "No such file or directory" : error};
        return false;
    }
    if (qsx::util::FileSize(fd.Get()) == 0) {
        *problem = {file->name, "is empty"};
        return false;
    }
    return true;
}

bool FetchSceneFile(SceneFile*, SceneProblem*) { return true; }

}  // namespace qsxhost
