// The JSON scene source: a scene read from one JSON document ("qsxScene": 1),
// answering the host scene operations the exporter asks for.
//
// Reading choices where the format leaves room:
// - integers (times, indices, class words, ids, the version) must be written as
//   integers: 3.0 or 1e2 is refused, -0 is 0;
// - a number beyond the float range (after rounding) is refused, as are numbers
//   beyond the double range anywhere in the document;
// - a known member given twice in one object is refused; unknown members are
//   read only far enough to refuse a document that is not JSON, and each one
//   not named "_..." is a warning;
// - an empty `keys` list counts as absent; a key needs `time`, its `transform`
//   defaults to identity;
// - `classId` naming the standard, multi or bitmap class reads that class's members;
// - documents nest at most 99,992 levels (node hierarchies 49,995 levels);
// - a fault of the text itself (bytes that are not UTF-8, an unescaped control
//   character in a string, a string never closed) is reported before any other,
//   at "document"; otherwise the first fault in document order, except that the
//   version, a map's or material's class and an object's `renderable` are read
//   first in effect, wherever they stand.
#pragma once

#include <string_view>

#include "qsxhost/sources/SceneRead.h"

namespace qsxhost {

// A JSON scene from the input's bytes, or from its file when it has none. A
// refused document gives no scene and one error of the form
//   "<place>: <what is wrong>"  e.g. "nodes[2].object.mesh.faces[17]: vertex index 9 out of range (mesh has 4 vertices)"
// (the caller prefixes the file name). I/O errors (missing, unreadable, directory, empty) give the
// cause (strerror text) -- no place then. A scene read gives one warning per unknown member, of the
// form "<place>: unknown member "<name>" ignored".
SceneRead ReadJsonScene(const SceneInput& input);

// True when the text starts like a JSON scene document (first non-blank byte '{', after an optional UTF-8
// byte-order mark), used to choose the JSON reader over the 3D-file importer.
bool LooksLikeJsonScene(std::string_view firstBytes);

// A JSON scene's text: it opens like one and names the format near the start.
bool IsJsonText(std::string_view text);

}  // namespace qsxhost
