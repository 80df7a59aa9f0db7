#include "qsxhost/app/DialogFlags.h"

#include <initializer_list>

#include "QsxExp/resource.h"

namespace qsxhost {
namespace {

// What an edit's value is: fixed, the flag's argument as typed, or the
// argument's place among the flag's choices.
enum class From { Fixed, Argument, Choice };

struct EditSpec {
    ControlEdit::Kind kind;
    int id;
    From from;
    int value;
};

struct FlagSpec {
    std::string_view flag;
    std::initializer_list<const char*> choices;
    std::initializer_list<EditSpec> edits;
};

constexpr auto kCheck = ControlEdit::Check;
constexpr auto kText = ControlEdit::Text;
constexpr auto kSelect = ControlEdit::Select;

const FlagSpec kFlags[] = {
    {"--scale-to", {}, {{kSelect, IDC_SCALETYPE, From::Fixed, 0}, {kText, IDC_SCALEFACTOR, From::Argument, 0}}},
    {"--scale-by", {}, {{kSelect, IDC_SCALETYPE, From::Fixed, 1}, {kText, IDC_SCALEFACTOR, From::Argument, 0}}},
    {"--centre", {}, {{kCheck, IDC_CENTRE, From::Fixed, 1}}},
    {"--no-centre", {}, {{kCheck, IDC_CENTRE, From::Fixed, 0}}},
    {"--hierarchy", {"preserve", "single", "multiple", "separate"}, {{kSelect, IDC_HIERARCHY, From::Choice, 0}}},
    {"--hints", {"none", "hidden-surface", "editable"}, {{kSelect, IDC_HINTS, From::Choice, 0}}},
    {"--textures", {}, {{kCheck, IDC_SHOWTEXTURES, From::Fixed, 1}}},
    {"--no-textures", {}, {{kCheck, IDC_SHOWTEXTURES, From::Fixed, 0}}},
    {"--lit", {}, {{kCheck, IDC_LIT, From::Fixed, 1}}},
    {"--no-lit", {}, {{kCheck, IDC_LIT, From::Fixed, 0}}},
    {"--foreshorten", {}, {{kCheck, IDC_FORESHORTEN, From::Fixed, 1}}},
    {"--no-foreshorten", {}, {{kCheck, IDC_FORESHORTEN, From::Fixed, 0}}},
    {"--filter", {}, {{kCheck, IDC_FILTER, From::Fixed, 1}}},
    {"--no-filter", {}, {{kCheck, IDC_FILTER, From::Fixed, 0}}},
    // The extension box turns typed letters into capitals, as it does for a user.
    {"--ext", {}, {{kCheck, IDC_OVERRIDEEXT, From::Fixed, 1}, {kText, IDC_EXTNAME, From::Argument, 0}}},
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
std::string ChoiceList(std::initializer_list<const char*> choices) {
    std::string out;
    size_t i = 0;
    for (const char* c : choices) {
        if (i > 0) out += i + 1 == choices.size() ? " or " : ", ";
        out += c;
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
            int i = 0;
            for (const char* c : spec.choices) {
                if (argument == c) choice = i;
                ++i;
            }
            if (choice < 0) {
                *error = std::string(flag) + " takes " + ChoiceList(spec.choices) + ", not '" + argument + "'";
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

DialogChoices ReadDialogChoices(const host::DialogWindow& dialog) {
    DialogChoices c;
    c.header = dialog.GetCheck(IDC_SAVEHEADER) == host::BST_CHECKED;
    c.animation = dialog.GetCheck(IDC_SAVEANIMATION) == host::BST_CHECKED;
    c.hierarchy = dialog.GetCurSel(IDC_HIERARCHY);
    return c;
}

}  // namespace qsxhost
