// The preview as a library of its own, loaded only by a run that draws: the
// offscreen renderer brings its compiler libraries (about 50 MB resident and
// 20 ms of loading), which no export should pay for.
#include <new>

#include "qsxhost/preview/Preview.h"

extern "C" __attribute__((visibility("default"))) bool QsxWritePreview(const std::vector<std::string>& scripts,
                                                                      const std::string& pngPath, int width,
                                                                      int height, std::string* error,
                                                                      bool* scriptRefused,
                                                                      std::vector<qsxhost::PreviewNote>* notes) {
    try {
        return qsxhost::WritePreview(scripts, pngPath, width, height, error, scriptRefused, notes);
    } catch (const std::bad_alloc&) {
        *error = pngPath + ": not drawn: out of memory";
        return false;
    }
}
