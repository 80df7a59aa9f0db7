// Identifiers of the plug-in's resources: the options dialog and its controls.
// The numbers are those the dialog has always had; anything that drives the
// dialog by id (batch edits, saved scripts) relies on them.
#pragma once

inline constexpr int IDD_OPTIONS = 133;

inline constexpr int IDC_CENTRE = 1007;
inline constexpr int IDC_SCALETYPE = 1036;
inline constexpr int IDC_SCALEFACTOR = 1037;
inline constexpr int IDC_PROTOTYPES = 1038;
inline constexpr int IDC_HIERARCHY = 1039;
inline constexpr int IDC_HINTS = 1046;
inline constexpr int IDC_LIT = 1040;
inline constexpr int IDC_FILTER = 1042;
inline constexpr int IDC_FORESHORTEN = 1041;
inline constexpr int IDC_SHOWTEXTURES = 1043;
inline constexpr int IDC_OVERRIDEEXT = 1044;
inline constexpr int IDC_EXTNAME = 1022;
inline constexpr int IDC_SAVEHEADER = 1006;
inline constexpr int IDC_HEADERPATH = 1048;
inline constexpr int IDC_SAVEANIMATION = 1002;
inline constexpr int IDC_ANIMATIONPATH = 1082;
inline constexpr int IDC_USEDEFAULTS = 1056;
inline constexpr int IDC_SAVEDEFAULTS = 1050;
