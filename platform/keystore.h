// The per-user key store that stands in for the Windows registry
// (HKEY_CURRENT_USER). One human-readable file under
// $XDG_CONFIG_HOME/Norvane/Privasweep/; key paths and value names are
// case-insensitive; values are typed (string or DWORD) and deletable. Every
// write replaces the file atomically (temporary file and rename) under a
// process-wide lock and an advisory file lock, so the file always holds
// either the old or the new contents.
#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/lockorder.h"
#include "platform/text.h"

namespace plat {

struct KeyValue {
    enum class Type { String, Dword } type = Type::String;
    WString text;        // Type::String
    uint32_t dword = 0;  // Type::Dword
};

class KeyStore {
public:
    // The store of the current user.
    static KeyStore& User();

    // No version of the program writes a settings file near this size (a
    // few kilobytes is usual). A larger file is taken as damaged: it would
    // be read whole on every read of a value. It is renamed aside to
    // "<file>.damaged-<date>-<time>" and the settings start from their
    // defaults, as they do for lines that cannot be read.
    static constexpr size_t kMaxFileBytes = size_t{2} << 20;

    // A store over a given file (tests).
    explicit KeyStore(std::string filePath);
    ~KeyStore();

    const std::string& FilePath() const { return path_; }

    bool KeyExists(WStringView key);
    bool CreateKey(WStringView key);
    std::optional<KeyValue> Get(WStringView key, WStringView name);
    bool SetString(WStringView key, WStringView name, WStringView text);
    bool SetDword(WStringView key, WStringView name, uint32_t value);
    // True when the value existed and was removed.
    bool DeleteValue(WStringView key, WStringView name);
    // Removes a key, its values and its sub-keys.
    bool DeleteKey(WStringView key);
    // The values of a key with their names as first written, in the order of
    // their lower-case names; empty when the key does not exist.
    std::vector<std::pair<WString, KeyValue>> Values(WStringView key);

    // Key paths: '\\' (or '/') separates the parts; leading and trailing
    // separators are ignored. A path holding a control character is refused
    // by every writer.

    // Keeps one string value outside the store's file, in a small file of
    // its own beside it ("<file>-<lower-case name>") that is rewritten in
    // place: for a value written very often whose last state must survive
    // the program ending but not a power failure. Get, SetString and
    // DeleteValue reach it as any other value; a write costs one pwrite,
    // whatever the store's file holds. Values() does not list it.
    void KeepInPlace(WStringView key, WStringView name);

private:
    struct Key {
        WString displayName;
        std::map<WString, std::pair<WString, KeyValue>> values;  // lower-case name -> (name, value)
    };
    using Tree = std::map<WString, Key>;  // normalised key path -> key

    static WString Normalise(WStringView key);
    static bool ValidKey(WStringView key);
    void RemoveStaleTemporaries();
    // `locked`: the caller holds the file lock.
    bool Load(Tree& tree, bool locked = false);
    void SetAsideOversized(int fd, bool locked);
    bool Save(const Tree& tree);
    template <typename F> bool Modify(F&& change);

    struct InPlaceValue {
        WString key;   // normalised
        WString name;  // lower case
        std::string file;
        int fd = -1;
        size_t size = 0;  // bytes written last
    };
    InPlaceValue* FindInPlace(WStringView key, WStringView name);
    static bool OpenInPlace(InPlaceValue& v);
    static std::optional<WString> ReadInPlace(const std::string& file);

    std::string path_;
    // guards: the store's file against the other threads of this process
    // (the file lock keeps other processes out). Taken alone.
    RankedMutex mutex_{LockRank::KeyStoreFile, "KeyStore::mutex_"};
    // guards: inPlace_ and the in-place files' descriptors and writes.
    // Taken alone: released before mutex_ is taken.
    RankedMutex inPlaceMutex_{LockRank::KeyStoreInPlace, "KeyStore::inPlaceMutex_"};
    std::vector<InPlaceValue> inPlace_;
};

}  // namespace plat
