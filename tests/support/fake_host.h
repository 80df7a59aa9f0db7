// The host that tests and fuzzers run exports under: its options dialog
// answers OK with options set beforehand (or Cancel), its settings store
// holds nothing unless one is given, and it keeps what the exporter reports.
// It has no scene of its own; a derived host gives one.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "QsxExp/QsxExport.h"
#include "host/Interface.h"

namespace fake {

class NullRegistry : public host::Registry {
public:
    std::unique_ptr<host::RegistryKey> CreateKey(const char*) override { return nullptr; }
    std::unique_ptr<host::RegistryKey> OpenKey(const char*) override { return nullptr; }
};

class OptionsHost : public host::Interface, public host::Extension {
public:
    qsx::ExportOptions preset;
    bool cancel = false;
    host::Registry* registry = &nullRegistry_;
    std::vector<std::pair<int, std::string>> asserts;
    std::vector<std::string> warnings;
    std::vector<std::string> fileFailures;
    std::vector<std::pair<int, std::string>> refusals;  // control, reason
    std::vector<std::string> notSaved;                  // the reasons, one per failed save

    host::Interval GetAnimRange() override { return {}; }
    host::INode* GetRootNode() override { return nullptr; }
    int GetTicksPerFrame() override { return 160; }
    void Assert1(int line, const char* file) override { asserts.emplace_back(line, file); }
    void Warning(std::string_view m) override { warnings.emplace_back(m); }
    void FileFailure(std::string_view path, std::string_view) override { fileFailures.emplace_back(path); }
    void ExportRefused(int control, std::string_view reason) override { refusals.emplace_back(control, reason); }
    host::Extension* GetExtension() override { return this; }
    intptr_t RunDialog(const host::DialogTemplate&, host::DlgProc, intptr_t param) override {
        if (cancel) return 0;
        reinterpret_cast<qsx::QsxExport*>(param)->options = preset;
        return 1;
    }
    void Progress(std::string_view, int64_t, int64_t) override {}
    host::Registry* GetRegistry() override { return registry; }
    void OptionsNotSaved(std::string_view reason) override { notSaved.emplace_back(reason); }

private:
    NullRegistry nullRegistry_;
};

}  // namespace fake
