// SCENE on a POSIX system: a regular file is left for its reader, which may
// need its name (a 3D file's textures and side files lie beside it); a pipe,
// FIFO or device gives its bytes once, so they are read whole here.
#include "qsxhost/sources/SceneFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>

#include "util/Files.h"

namespace qsxhost {

bool FindSceneFile(const SceneRequest& request, SceneFile* file, SceneProblem* problem) {
    file->scene = request.scene;
    file->fromStdin = request.scene == "-";
    file->name = file->fromStdin ? "standard input" : request.scene;
    file->path = file->fromStdin ? "/dev/stdin" : request.scene;
    struct stat st {};
    if (file->fromStdin ? fstat(STDIN_FILENO, &st) != 0 : stat(request.scene.c_str(), &st) != 0) {
        *problem = {file->name, qsx::util::ErrnoText(errno)};
        return false;
    }
    if (S_ISDIR(st.st_mode)) {
        *problem = {file->name, "is a directory, not a scene file"};
        return false;
    }
    if (!request.inputFormat.empty() && S_ISREG(st.st_mode) && !file->fromStdin) {
        *problem = {"", "--input-format is for a scene read from a pipe or standard input, not the file " +
                            request.scene};
        return false;
    }
    file->inMemory = file->fromStdin || !S_ISREG(st.st_mode);
    return true;
}

bool FetchSceneFile(SceneFile* file, SceneProblem* problem) {
    if (!file->inMemory) return true;
    std::string error;
    const int fd = file->fromStdin ? STDIN_FILENO : open(file->scene.c_str(), O_RDONLY | O_CLOEXEC);
    const bool whole = fd >= 0 && qsx::util::ReadAll(fd, file->bytes, SIZE_MAX, &error);
    if (fd < 0) error = qsx::util::ErrnoText(errno);
    if (fd >= 0 && !file->fromStdin) close(fd);
    if (!whole) {
        *problem = {file->name, error};
        return false;
    }
    if (file->bytes.empty()) {
        *problem = {file->name, "is empty"};
        return false;
    }
    return true;
}

}  // namespace qsxhost
