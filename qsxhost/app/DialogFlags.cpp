#include "qsxhost/app/DialogFlags.h"

#include <charconv>
#include <cmath>
#include <initializer_list>

#include "QsxExp/Options.h"
#include "QsxExp/resource.h"

namespace qsxhost {
namespace {

// What an edit's value is: fixed, the flag's argument as typed, or the value
// of the flag's choice the argument names.
enum class From { Fixed, Argument, Choice };

struct EditSpec {
    ControlEdit::Kind kind;
    int id;
    From from;
    int value;
};

// An argument a flag takes by name, and the value it puts in the control.
struct Choice {
    const char* name;
    int value;
};

struct FlagSpec {
    std::string_view flag;
    std::initializer_list<Choice> choices;
    std::initializer_list<EditSpec> edits;
    // The argument, when it must be checked before the dialog sees it: answers
    // what is wrong with it after "FLAG: ", or "" when it is taken.
    std::string (*refusal)(const std::string& argument) = nullptr;
};

// The whole text a finite decimal number: no hexadecimal, no trailing text,
// no decimal comma, no inf or nan, whatever the user's locale.
bool StrictNumber(const std::string& text, double* v) {
    const char* end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, *v, std::chars_format::general);
    return !text.empty() && ec == std::errc() && ptr == end && std::isfinite(*v);
}

std::string NotAPositiveNumber(const std::string& argument) { return "'" + argument + "' is not a number above 0"; }

// A size the dialog can hold: a positive number that is a finite float.
std::string SizeRefusal(const std::string& argument) {
    double v = 0.0;
    float f = 0.0f;
    if (!StrictNumber(argument, &v) || v <= 0.0) return NotAPositiveNumber(argument);
    if (!qsx::AcceptScaleFactor(argument.c_str(), &f) || !std::isfinite(f))
        return "'" + argument + "' is outside the float range (about 1e-45 to 3e+38)";
    return "";
}

// A factor the exporter can multiply by and divide by in float: a finite
// positive number whose reciprocal is finite too. The dialog reads only a
// positive number, and a run that finds the factor unusable would refuse the
// export after the scene was loaded; the command line says so at once.
std::string FactorRefusal(const std::string& argument) {
    double v = 0.0;
    float f = 0.0f;
    if (!StrictNumber(argument, &v) || v <= 0.0) return NotAPositiveNumber(argument);
    if (qsx::AcceptScaleFactor(argument.c_str(), &f) && std::isfinite(f) && std::isfinite(1.0f / f)) return "";
    return "'" + argument + "' is not a positive number whose reciprocal is a finite float too (about 3e-39 to 3e+38)";
}

// A file extension any file system and the script's texture names take as it
// is: one the dialog takes, not empty, of letters and digits only.
std::string ExtRefusal(const std::string& argument) {
    bool plain = !argument.empty() && qsx::AcceptExtension(argument.c_str());
    for (const char c : argument)
        plain = plain && ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'));
    return plain ? "" : "'" + argument + "' is not 1 to 3 letters or digits";
}

constexpr auto kCheck = ControlEdit::Check;
constexpr auto kText = ControlEdit::Text;
constexpr auto kSelect = ControlEdit::Select;

const FlagSpec kFlags[] = {
    {"--scale-to", {}, {{kSelect, IDC_SCALETYPE, From::Fixed, 0}, {kText, IDC_SCALEFACTOR, From::Argument, 0}},
     SizeRefusal},
    {"--scale-by", {}, {{kSelect, IDC_SCALETYPE, From::Fixed, 1}, {kText, IDC_SCALEFACTOR, From::Argument, 0}},
     FactorRefusal},
    {"--centre", {}, {{kCheck, IDC_CENTRE, From::Fixed, 1}}},
    {"--no-centre", {}, {{kCheck, IDC_CENTRE, From::Fixed, 0}}},
    {"--hierarchy",
     {{"preserve", qsx::HIER_PRESERVE},
      {"single", qsx::HIER_FLAT_SINGLE},
      {"multiple", qsx::HIER_FLAT_MULTIPLE},
      {"separate", qsx::HIER_SEPARATE}},
     {{kSelect, IDC_HIERARCHY, From::Choice, 0}}},
    // The hints list's places.
    {"--hints", {{"none", 0}, {"hidden-surface", 1}, {"editable", 2}}, {{kSelect, IDC_HINTS, From::Choice, 0}}},
    {"--textures", {}, {{kCheck, IDC_SHOWTEXTURES, From::Fixed, 1}}},
    {"--no-textures", {}, {{kCheck, IDC_SHOWTEXTURES, From::Fixed, 0}}},
    {"--lit", {}, {{kCheck, IDC_LIT, From::Fixed, 1}}},
    {"--no-lit", {}, {{kCheck, IDC_LIT, From::Fixed, 0}}},
    {"--foreshorten", {}, {{kCheck, IDC_FORESHORTEN, From::Fixed, 1}}},
    {"--no-foreshorten", {}, {{kCheck, IDC_FORESHORTEN, From::Fixed, 0}}},
    {"--filter", {}, {{kCheck, IDC_FILTER, From::Fixed, 1}}},
    {"--no-filter", {}, {{kCheck, IDC_FILTER, From::Fixed, 0}}},
    // The extension box turns typed letters into capitals, as it does for a user.
    {"--ext", {}, {{kCheck, IDC_OVERRIDEEXT, From::Fixed, 1}, {kText, IDC_EXTNAME, From::Argument, 0}},
     ExtRefusal},
    {"--no-ext", {}, {{kCheck, IDC_OVERRIDEEXT, From::Fixed, 0}}},
    {"--header", {}, {{kCheck, IDC_SAVEHEADER, From::Fixed, 1}}},
    {"--no-header", {}, {{kCheck, IDC_SAVEHEADER, From::Fixed, 0}}},
    {"--animation", {}, {{kCheck, IDC_SAVEANIMATION, From::Fixed, 1}}},
    {"--no-animation", {}, {{kCheck, IDC_SAVEANIMATION, From::Fixed, 0}}},
};

bool TakesArgument(const FlagSpec& spec) {
    for (const EditSpec& e : spec.edits)
        if (e.from != From::Fixed) return true;
    return false;
}

// "a, b or c"
std::string ChoiceList(std::initializer_list<Choice> choices) {
    std::string out;
    size_t i = 0;
    for (const Choice& c : choices) {
        if (i > 0) out += i + 1 == choices.size() ? " or " : ", ";
        out += c.name;
        ++i;
    }
    return out;
}

}  // namespace

FlagMatch TakeDialogFlag(std::string_view flag, const std::function<bool(std::string*)>& value,
                         std::vector<ControlEdit>& edits, std::string* error) {
    for (const FlagSpec& spec : kFlags) {
        if (spec.flag != flag) continue;
        std::string argument;
        if (TakesArgument(spec) && !value(&argument)) return FlagMatch::Refused;
        int choice = -1;
        if (spec.choices.size() > 0) {
            bool named = false;
            for (const Choice& c : spec.choices) {
                if (argument != c.name) continue;
                choice = c.value;
                named = true;
            }
            if (!named) {
                *error = std::string(flag) + " takes " + ChoiceList(spec.choices) + ", not '" + argument + "'";
                return FlagMatch::Refused;
            }
        }
        if (spec.refusal) {
            if (std::string why = spec.refusal(argument); !why.empty()) {
                *error = std::string(flag) + ": " + why;
                return FlagMatch::Refused;
            }
        }
        for (const EditSpec& e : spec.edits) {
            const int v = e.from == From::Choice ? choice : e.value;
            edits.push_back({e.kind, e.id, v, e.from == From::Argument ? argument : std::string()});
        }
        return FlagMatch::Taken;
    }
    return FlagMatch::NotOurs;
}

// Each flag adds its edits together, in the order its entry lists them: the
// edits around the last one of the control tell which entry made them.
std::string_view FlagThatSet(const std::vector<ControlEdit>& edits, int id) {
    size_t last = edits.size();
    while (last > 0 && edits[last - 1].id != id) --last;
    if (last == 0) return {};
    const size_t at = last - 1;
    for (const FlagSpec& spec : kFlags) {
        size_t k = 0;  // the control's place among the entry's edits
        for (const EditSpec& e : spec.edits) {
            if (e.id == id) break;
            ++k;
        }
        if (k == spec.edits.size() || k > at || at - k + spec.edits.size() > edits.size()) continue;
        const ControlEdit* made = &edits[at - k];
        bool same = true;
        for (const EditSpec& e : spec.edits) {
            same = same && made->kind == e.kind && made->id == e.id &&
                   (e.from != From::Fixed || made->value == e.value);
            ++made;
        }
        if (same) return spec.flag;
    }
    return {};
}

namespace {

bool Edited(const std::vector<ControlEdit>& edits, int id) {
    for (const ControlEdit& e : edits)
        if (e.id == id) return true;
    return false;
}

// The last value an edit gives control id, or -1 when none does.
int EditedValue(const std::vector<ControlEdit>& edits, int id) {
    for (auto it = edits.rbegin(); it != edits.rend(); ++it)
        if (it->id == id) return it->value;
    return -1;
}

}  // namespace

std::vector<std::string> ReplaceRefusedStoredValues(host::Registry& registry, std::vector<ControlEdit>& edits) {
    std::vector<std::string> notes;
    const qsx::StoredOptions stored = qsx::ReadStoredOptions(&registry);
    const qsx::ExportOptions defaults;
    std::vector<ControlEdit> fixes;

    if (!Edited(edits, IDC_SCALEFACTOR) && stored.scaleFactorRefused) {
        const float loaded = stored.options.scaleFactor;
        const std::string why = !(loaded > 0.0f)      ? "is not a number above 0"
                                : std::isinf(loaded) ? "is beyond the float range"
                                                     : "is below 0.00005, which the dialog shows as 0.0000";
        const std::string fallback = qsx::FormatScaleFactor(defaults.scaleFactor);
        notes.push_back("stored \"Scale factor\" '" + stored.scaleFactorText + "' " + why + "; the default " +
                        fallback + " is used");
        fixes.push_back({ControlEdit::Text, IDC_SCALEFACTOR, 0, fallback});
    }

    if (!Edited(edits, IDC_EXTNAME)) {
        const std::string& ext = stored.options.extName;
        bool overridden = (stored.options.textureFlags & qsx::TEX_OVERRIDE_EXT) != 0;
        if (const int ticked = EditedValue(edits, IDC_OVERRIDEEXT); ticked >= 0) overridden = ticked == host::BST_CHECKED;
        // The dialog takes an empty extension; the command, as its --ext
        // does, refuses one that replaces the texture files' own.
        std::string why;
        if (stored.extNameRefused)
            why = "is longer than 3 characters";
        else if (ext.empty() && overridden)
            why = "is empty, and texture file extensions are replaced by it";
        if (!why.empty()) {
            notes.push_back("stored \"Ext Name\" '" + ext + "' " + why + "; the default " + defaults.extName +
                            " is used");
            fixes.push_back({ControlEdit::Text, IDC_EXTNAME, 0, defaults.extName});
        }
    }
    // Before the flags' edits, as if the stored value had been the default.
    edits.insert(edits.begin(), fixes.begin(), fixes.end());
    return notes;
}

}  // namespace qsxhost
