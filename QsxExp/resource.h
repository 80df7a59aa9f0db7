/* Identifiers of the plug-in's resources: the options dialog and its controls.
   The numbers are those the dialog has always had; anything that drives the
   dialog by id (batch edits, saved scripts) relies on them. Plain #defines,
   as the resource compiler reads this file too (qsexp.rc). */
#pragma once

#define IDD_OPTIONS 133

#define IDC_CENTRE 1007
#define IDC_SCALETYPE 1036
#define IDC_SCALEFACTOR 1037
#define IDC_PROTOTYPES 1038
#define IDC_HIERARCHY 1039
#define IDC_HINTS 1046
#define IDC_LIT 1040
#define IDC_FILTER 1042
#define IDC_FORESHORTEN 1041
#define IDC_SHOWTEXTURES 1043
#define IDC_OVERRIDEEXT 1044
#define IDC_EXTNAME 1022
#define IDC_SAVEHEADER 1006
#define IDC_HEADERPATH 1048
#define IDC_SAVEANIMATION 1002
#define IDC_ANIMATIONPATH 1082
#define IDC_USEDEFAULTS 1056
#define IDC_SAVEDEFAULTS 1050
