// The four exports by which a host discovers the plug-in. How they leave the
// library is the platform's: default visibility here, a module-definition
// file with their ordinals on Windows.
#include "QsxExp/ClassDesc.h"
// QSX_EXPORT, from the platform's folder (QsxExp/posix/ or QsxExp/win32/).
#include "LibExport.h"

QSX_EXPORT const char* LibDescription() { return qsx::kLibDescription; }

QSX_EXPORT int LibNumberClasses() { return 1; }

QSX_EXPORT host::ClassDesc* LibClassDesc(int i) { return i == 0 ? qsx::GetQsxExportDesc() : nullptr; }

QSX_EXPORT unsigned long LibVersion() { return host::VERSION_PLUGIN_API; }
