#include "QsxExp/Version.h"

namespace qsx {

const VersionEntry kVersionRecord[] = {
    {"FileVersion", "1, 0, 0, 0"},
    {"ProductVersion", "2, 1, 0, 0"},
    {"CompanyName", "The qsxexport developers"},
    {"FileDescription", "3dsMax to Quorvantis file exporter plugin."},
    {"InternalName", "qsexp"},
    {"LegalCopyright", "Copyright (C) 2026 The qsxexport developers"},
    {"LegalTrademarks", ""},
    {"OriginalFilename", "qsexp.dle"},
    {"ProductName", "Quorvantis"},
};
const int kVersionRecordSize = sizeof(kVersionRecord) / sizeof(kVersionRecord[0]);

}  // namespace qsx
