#include "qsxhost/app/DialogFlags.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <initializer_list>

#include "QsxExp/Options.h"
#include "QsxExp/resource.h"
#include "qsxhost/settings/StoreContents.h"
#include "util/Text.h"

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
    return qsx::PlainExtension(argument) ? "" : "'" + argument + "' is not 1 to 3 letters or digits";
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

namespace {

// The controls that show a stored value, by the value's name.
std::vector<int> ControlsOf(std::string_view name) {
    if (name == "Centre") return {IDC_CENTRE};
    if (name == "Scale factor") return {IDC_SCALEFACTOR};
    if (name == "Scale type") return {IDC_SCALETYPE};
    if (name == "Hierarchy type") return {IDC_HIERARCHY};
    if (name == "Hints") return {IDC_HINTS};
    if (name == "Texture type") return {IDC_SHOWTEXTURES, IDC_LIT, IDC_FORESHORTEN, IDC_FILTER, IDC_OVERRIDEEXT};
    if (name == "Ext Name") return {IDC_EXTNAME};
    if (name == "Save header") return {IDC_SAVEHEADER};
    if (name == "Save animation") return {IDC_SAVEANIMATION};
    return {};
}

// The edits that put v.use (v.shown for a text) in the value's controls.
void EditsFor(const qsx::StoredValue& v, std::vector<ControlEdit>& fixes) {
    static const std::pair<int, uint32_t> kBits[] = {{IDC_SHOWTEXTURES, qsx::TEX_SHOW}, {IDC_LIT, qsx::TEX_LIT},
                                                     {IDC_FORESHORTEN, qsx::TEX_FORESHORTEN}, {IDC_FILTER, qsx::TEX_FILTER},
                                                     {IDC_OVERRIDEEXT, qsx::TEX_OVERRIDE_EXT}};
    const std::string_view name = v.name;
    const int id = ControlsOf(name).front();
    if (name == "Scale factor" || name == "Ext Name") {
        fixes.push_back({ControlEdit::Text, id, 0, v.shown});
    } else if (name == "Texture type") {
        for (const auto& [bit, mask] : kBits) fixes.push_back({ControlEdit::Check, bit, (v.use & mask) ? 1 : 0, {}});
    } else if (name == "Scale type" || name == "Hierarchy type" || name == "Hints") {
        fixes.push_back({ControlEdit::Select, id, static_cast<int>(v.use), {}});
    } else {
        fixes.push_back({ControlEdit::Check, id, v.use != 0 ? 1 : 0, {}});
    }
}

// A value as a settings file writes it.
std::string Shown(const qsx::StoredValue& v) {
    if (v.type == host::REG_DWORD && v.data.size() == 4) {
        char buf[16];
        const auto b = [&](int i) { return uint32_t(static_cast<unsigned char>(v.data[size_t(i)])); };
        std::snprintf(buf, sizeof buf, "dword:%08x", b(0) | b(1) << 8 | b(2) << 16 | b(3) << 24);
        return buf;
    }
    std::string_view text = v.data;
    if (v.type == host::REG_SZ) text = text.substr(0, text.find('\0'));
    std::string shown(1, '"');
    shown += qsx::util::EscapeBytes(text);
    shown += '"';
    return shown;
}

// Names one edit apart (a letter left out, added, changed or two swapped),
// without regard to letter case.
bool Misspelt(std::string_view a, std::string_view b) {
    if (a.size() > b.size()) std::swap(a, b);
    if (b.size() - a.size() > 1) return false;
    size_t i = 0;
    while (i < a.size() && qsx::util::AsciiLower(a[i]) == qsx::util::AsciiLower(b[i])) ++i;
    const auto same = [](std::string_view x, std::string_view y) { return qsx::util::EqualsNoCase(x, y); };
    if (a.size() < b.size()) return same(a.substr(i), b.substr(i + 1));
    if (i + 1 < a.size() && same(a.substr(i, 1), b.substr(i + 1, 1)) && same(a.substr(i + 1, 1), b.substr(i, 1)) &&
        same(a.substr(i + 2), b.substr(i + 2)))
        return true;
    return i == a.size() || same(a.substr(i + 1), b.substr(i + 1));
}

}  // namespace

std::vector<std::string> ReplaceRefusedStoredValues(host::Registry& registry, std::vector<ControlEdit>& edits) {
    std::vector<std::string> notes;
    const qsx::StoredOptions stored = qsx::ReadStoredOptions(&registry);
    const qsx::ExportOptions defaults;
    std::vector<ControlEdit> fixes;
    // A value every control of which a flag sets is not the run's to judge.
    const auto set = [&](std::string_view name) {
        bool all = true;
        for (const int id : ControlsOf(name)) all = all && Edited(edits, id);
        return all;
    };
    const auto used = [](const qsx::StoredValue& v) {
        return v.fault == qsx::StoredFault::LowerCase
                   ? v.shown + " is used, as the dialog's box turns typed letters into capitals"
                   : "the default " + v.shown + " is used";
    };

    for (const qsx::StoredValue& v : stored.values) {
        if (v.fault == qsx::StoredFault::None || set(v.name)) continue;
        notes.push_back("stored \"" + std::string(v.name) + "\" " + Shown(v) + " " + v.why + "; " + used(v));
        EditsFor(v, fixes);
    }

    if (!Edited(edits, IDC_EXTNAME)) {
        const std::string& ext = stored.options.extName;
        bool overridden = (stored.options.textureFlags & qsx::TEX_OVERRIDE_EXT) != 0;
        if (const int ticked = EditedValue(edits, IDC_OVERRIDEEXT); ticked >= 0) overridden = ticked == host::BST_CHECKED;
        // The dialog takes an empty extension; the command, as its --ext
        // does, refuses one that replaces the texture files' own.
        if (ext.empty() && overridden) {
            notes.push_back("stored \"Ext Name\" \"\" is empty, and texture file extensions are replaced by it; "
                            "the default " + defaults.extName + " is used");
            fixes.push_back({ControlEdit::Text, IDC_EXTNAME, 0, defaults.extName});
        }
    }

    // What the store holds that the exporter never sees: values it cannot
    // read (they give way to their defaults) and names it does not ask for.
    if (const auto* described = dynamic_cast<const DescribedStore*>(&registry)) {
        const KeyContents contents = described->Contents(qsx::kOptionsKey);
        if (contents.read && !contents.keyFound) {
            std::string what = "holds no key [HKEY_CURRENT_USER\\" + std::string(qsx::kOptionsKey) + "]";
            if (!contents.otherKey.empty())
                what += " (it has [" + qsx::util::EscapeBytes(contents.otherKey, false) + "])";
            else if (!contents.text)
                what += " (it is not text in UTF-8, nor in UTF-16 with a byte-order mark)";
            notes.push_back(what + "; the defaults are used");
        }
        // Each name once, whatever its spelling; a key of thousands of
        // foreign values is summed up past the first few, not listed.
        constexpr size_t kListed = 10;
        std::vector<bool> told;  // by the name's number
        size_t toldCount = 0;
        int64_t unlisted = 0;
        std::vector<std::string_view> names;  // measured once, not per line
        for (const qsx::StoredValue& v : stored.values) names.emplace_back(v.name);
        for (const KeyContents::Line& line : contents.lines) {
            const qsx::StoredValue* value = nullptr;
            const qsx::StoredValue* meant = nullptr;
            for (size_t k = 0; k < names.size(); ++k) {
                const qsx::StoredValue& v = stored.values[k];
                if (qsx::util::EqualsNoCase(names[k], line.name)) value = &v;
                if (!v.found && Misspelt(names[k], line.name)) meant = &v;
            }
            if (value && (value->found || line.readable)) continue;
            const qsx::StoredValue* standsFor = value ? value : meant;
            if (standsFor && set(standsFor->name)) continue;
            if (line.nameNumber >= told.size()) told.resize(size_t(line.nameNumber) + 1);
            if (told[line.nameNumber]) continue;
            told[line.nameNumber] = true;
            ++toldCount;
            if (!standsFor && toldCount > kListed) {
                ++unlisted;
                continue;
            }
            std::string note = "stored \"" + qsx::util::EscapeBytes(line.name) + "\" " +
                               qsx::util::EscapeBytes(line.data, false);
            if (value)
                note += " cannot be read (dword: takes 8 hexadecimal digits; a text is in quotes)";
            else
                note += std::string(" is not found among the exporter's values") +
                        (meant ? " (is it \"" + std::string(meant->name) + "\"?)" : "");
            note += standsFor ? "; the default " + standsFor->shown + " is used" : "; it is ignored";
            notes.push_back(std::move(note));
        }
        if (unlisted > 0)
            notes.push_back(qsx::util::Count(unlisted, "more stored value", "more stored values") +
                            " not found among the exporter's values " +
                            (unlisted == 1 ? "is" : "are") + " ignored");
    }
    // Before the flags' edits, as if the stored value had been the default.
    edits.insert(edits.begin(), fixes.begin(), fixes.end());
    return notes;
}

}  // namespace qsxhost
