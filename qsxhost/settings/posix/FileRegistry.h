// The per-user settings store of the stand-alone host: one text file in the
// form of a registry export,
//
//   Windows Registry Editor Version 5.00
//
//   [HKEY_CURRENT_USER\Software\...]
//   "Name"=dword:0000002a
//   "Other"="text with \\ and \" escaped"
//
// with CR LF line ends (LF alone, or CR alone in a file without any LF, is
// accepted when reading), in UTF-8; a file in UTF-16 with a byte-order mark,
// as the registry editor saves one (little-endian) or other editors do
// (big-endian), is read too (and written back in UTF-8 when saved). Key paths are
// relative to HKEY_CURRENT_USER unless they name their root. Key paths and
// value names compare without regard to ASCII letter case. Two value types are
// understood: REG_DWORD (4 bytes, little-endian) and REG_SZ (the text and one
// terminating zero). Everything else in the file (other keys, other value
// types, lines that cannot be read) is left as it is when the file is saved.
//
// Keys made by CreateKey collect their changes; Close writes the whole file
// anew beside the old one and renames it over it, holding a lock on
// "<file>.lock" while it re-reads the file and merges the changes, so neither
// a failed write nor another process saving at the same time can leave a
// partial file or lose the other's values.
#pragma once

#include <memory>
#include <string>

#include "host/Registry.h"
#include "qsxhost/settings/StoreContents.h"

namespace qsxhost {

class FileRegistry : public host::Registry, public DescribedStore {
public:
    explicit FileRegistry(std::string filePath);

    // $XDG_CONFIG_HOME/qsxexport/settings.reg, with ~/.config when that is not
    // set; the home directory comes from $HOME or, failing that, the password
    // database. Empty when no home directory can be found.
    static std::string DefaultPath();

    // The key's changes reach the file only through its Close. SetValue takes
    // REG_DWORD data of 4 bytes and REG_SZ data up to its first zero byte (a
    // text holding a line break cannot be stored); other types are refused.
    std::unique_ptr<host::RegistryKey> CreateKey(const char* path) override;
    // Null when the file or the key is absent, or the file cannot be read.
    // The key is a snapshot taken when it is opened; SetValue fails on it.
    std::unique_ptr<host::RegistryKey> OpenKey(const char* path) override;

    // When set, keys made by CreateKey accept values but their Close writes
    // nothing and answers true.
    // The key's value lines as the file holds them now, readable or not.
    KeyContents Contents(const char* path) const override;

    void SetReadOnly(bool readOnly);
    // What the latest failed operation could not do and why, naming the
    // file; empty when nothing has failed.
    std::string LastError() const;
    // Why the stored values could not be read (a folder, a pipe or a device
    // at the path, or an unreadable file), naming the file; the defaults
    // stand in for them. Empty when they were read or there are none.
    std::string ReadError() const;
    const std::string& Path() const;

    struct Shared;

private:
    std::shared_ptr<Shared> shared_;
};

}  // namespace qsxhost
