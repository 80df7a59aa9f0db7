// The preview: written scripts drawn as one picture, offscreen, into a PNG file.
#pragma once

#include <string>
#include <vector>

namespace qsxhost {

// What the preview has to say about a picture it drew: under a file's name
// (a script, or the picture), a note or warning.
struct PreviewNote {
    std::string file;
    std::string what;
};

// Draws the scripts at the given paths together (each clump placed by its
// transform blocks, faces in their material colour lit from the viewer, the
// named textures found beside each script drawn on), seen from a
// three-quarter view that frames their bounding box, and writes the picture
// of width x height pixels to pngPath, published whole. False with *error
// ("FILE:LINE: what is wrong" or "FILE: what is wrong") when a script does not
// read cleanly or the picture cannot be drawn or written; *scriptRefused tells
// the first from the second. What was drawn otherwise than asked (a texture
// not found or not readable, nothing visible) is added to *notes.
bool WritePreview(const std::vector<std::string>& scripts, const std::string& pngPath, int width, int height,
                  std::string* error, bool* scriptRefused = nullptr, std::vector<PreviewNote>* notes = nullptr);

}  // namespace qsxhost
