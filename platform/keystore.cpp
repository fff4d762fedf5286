#include "platform/keystore.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <filesystem>
#include <optional>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/system.h"

namespace plat {

namespace {

// File format, one line each, UTF-8:
//   [Software\Norvane\Privasweep\Config]
//   "Name"=dword:00000078
//   "Name"="text with \" and \\ and \n escaped"
// The unnamed default value is written with the name @.

std::string Escape(WStringView w)
{
    const std::string s = WideToUtf8(w);
    std::string out;
    out.reserve(s.size() + 8);
    size_t plain = 0;  // start of the run not yet copied
    for (size_t i = 0; i < s.size(); ++i) {
        const char* esc = nullptr;
        switch (s[i]) {
        case '\\': esc = "\\\\"; break;
        case '"': esc = "\\\""; break;
        case '\n': esc = "\\n"; break;
        case '\r': esc = "\\r"; break;
        case '\0': esc = "\\0"; break;
        default: continue;
        }
        out.append(s, plain, i - plain);
        out.append(esc);
        plain = i + 1;
    }
    out.append(s, plain, std::string::npos);
    return out;
}

// Reads a quoted text starting at s[pos] == '"'; pos ends after the quote.
bool Unquote(std::string_view s, size_t& pos, WString& out)
{
    if (pos >= s.size() || s[pos] != '"')
        return false;
    std::string raw;
    ++pos;
    while (pos < s.size()) {
        const size_t stop = s.find_first_of("\"\\", pos);
        if (stop == std::string_view::npos)
            return false;
        raw.append(s.substr(pos, stop - pos));
        pos = stop;
        if (s[pos] == '"') {
            ++pos;
            out = Utf8ToWide(raw);
            return true;
        }
        if (pos + 1 >= s.size())
            return false;
        const char e = s[++pos];
        raw += e == 'n' ? '\n' : e == 'r' ? '\r' : e == '0' ? '\0' : e;
        ++pos;
    }
    return false;
}

class FileLock {
public:
    explicit FileLock(const std::string& path)
    {
        fd_ = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
        if (fd_ >= 0)
            while (flock(fd_, LOCK_EX) != 0 && errno == EINTR) {}
    }
    ~FileLock()
    {
        if (fd_ >= 0) {
            flock(fd_, LOCK_UN);
            ::close(fd_);
        }
    }

private:
    int fd_ = -1;
};

}  // namespace

KeyStore& KeyStore::User()
{
    static KeyStore store(PathToNative(VendorSubdir(ConfigDir())) + "/registry.conf");
    return store;
}

KeyStore::KeyStore(std::string filePath) : path_(std::move(filePath)) {}

KeyStore::~KeyStore()
{
    for (InPlaceValue& v : inPlace_)
        if (v.fd >= 0)
            ::close(v.fd);
}

// ---- Values kept in place ---------------------------------------------------
//
// The file holds "PSV1 <length>\n" and that many bytes of UTF-8, written by
// one pwrite at offset 0. A program that ends between that write and the
// truncation after it leaves bytes of an older, longer value behind the
// length, which the reader ignores. An empty file holds no value.

namespace {

constexpr char kInPlaceMagic[] = "PSV1 ";
constexpr size_t kInPlaceMaxBytes = 1 << 20;

// Opens a file of the store's folder only when it is a regular file, never
// through a link and never waiting on a pipe or device.
int OpenRegular(const std::string& path, int flags)
{
    const int fd = ::open(path.c_str(), flags | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY, 0600);
    if (fd < 0)
        return -1;
    struct stat st;
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        errno = EINVAL;
        return -1;
    }
    return fd;
}

}  // namespace

void KeyStore::KeepInPlace(WStringView key, WStringView name)
{
    std::lock_guard<RankedMutex> guard(inPlaceMutex_);
    if (FindInPlace(key, name))
        return;
    InPlaceValue v;
    v.key = Normalise(key);
    v.name = ToLowerAscii(name);
    v.file = path_ + "-" + WideToUtf8(v.name);
    inPlace_.push_back(std::move(v));
}

KeyStore::InPlaceValue* KeyStore::FindInPlace(WStringView key, WStringView name)
{
    if (inPlace_.empty())
        return nullptr;
    const WString k = Normalise(key);
    const WString n = ToLowerAscii(name);
    for (InPlaceValue& v : inPlace_)
        if (v.key == k && v.name == n)
            return &v;
    return nullptr;
}

bool KeyStore::OpenInPlace(InPlaceValue& v)
{
    if (v.fd >= 0)
        return true;
    std::error_code ec;
    std::filesystem::create_directories(std::filesystem::path(v.file).parent_path(), ec);
    v.fd = OpenRegular(v.file, O_RDWR | O_CREAT);
    if (v.fd < 0)
        return false;
    struct stat st;
    v.size = fstat(v.fd, &st) == 0 ? static_cast<size_t>(st.st_size) : 0;
    return true;
}

std::optional<WString> KeyStore::ReadInPlace(const std::string& file)
{
    const int fd = OpenRegular(file, O_RDONLY);
    if (fd < 0)
        return std::nullopt;
    std::string content;
    char buf[4096];
    for (;;) {
        const ssize_t n = ::read(fd, buf, sizeof buf);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        content.append(buf, static_cast<size_t>(n));
        if (content.size() > kInPlaceMaxBytes)
            break;
    }
    ::close(fd);
    const size_t magic = sizeof kInPlaceMagic - 1;
    if (content.compare(0, magic, kInPlaceMagic) != 0)
        return std::nullopt;
    const size_t eol = content.find('\n', magic);
    if (eol == std::string::npos || eol == magic || eol - magic > 9)
        return std::nullopt;
    size_t length = 0;
    for (size_t i = magic; i < eol; ++i) {
        if (content[i] < '0' || content[i] > '9')
            return std::nullopt;
        length = length * 10 + static_cast<size_t>(content[i] - '0');
    }
    if (length > content.size() - eol - 1)
        return std::nullopt;
    return Utf8ToWide(std::string_view(content).substr(eol + 1, length));
}

bool KeyStore::ValidKey(WStringView key)
{
    if (Normalise(key).empty())
        return false;
    for (char16_t c : key)
        if (c < 0x20 || c == 0x7F)
            return false;
    return true;
}

WString KeyStore::Normalise(WStringView key)
{
    WString k = ToLowerAscii(key);
    for (auto& c : k)
        if (c == u'/')
            c = u'\\';
    while (!k.empty() && k.back() == u'\\')
        k.pop_back();
    while (!k.empty() && k.front() == u'\\')
        k.erase(k.begin());
    return k;
}

// Renames the oversized file open as fd aside ("<file>.damaged-<stamp>",
// numbered when taken) under the file lock, and only when the name still
// holds that file: a writer may have replaced it meanwhile.
void KeyStore::SetAsideOversized(int fd, bool locked)
{
    std::optional<FileLock> lock;
    if (!locked)
        lock.emplace(path_ + ".lock");
    struct stat opened{}, named{};
    if (fstat(fd, &opened) != 0 || ::lstat(path_.c_str(), &named) != 0 || opened.st_dev != named.st_dev ||
        opened.st_ino != named.st_ino)
        return;
    const LocalTime now = LocalTimeNow();
    char stamp[40];
    std::snprintf(stamp, sizeof stamp, ".damaged-%04d%02d%02d-%02d%02d%02d", now.year, now.month, now.day, now.hour,
                  now.minute, now.second);
    std::string aside = path_ + stamp;
    struct stat taken{};
    for (int n = 2; ::lstat(aside.c_str(), &taken) == 0; ++n) {
        if (n > 1000)
            return;
        aside = path_ + stamp + "-" + std::to_string(n);
    }
    if (std::rename(path_.c_str(), aside.c_str()) == 0)
        DebugOutput(u"Settings file too large, set aside as " + PathFromNative(aside));
}

bool KeyStore::Load(Tree& tree, bool locked)
{
    tree.clear();
    // Only a regular file is read: a pipe or device put in its place would
    // block the reader for ever.
    const int fd = OpenRegular(path_, O_RDONLY);
    if (fd < 0)
        return errno == ENOENT;
    struct stat st{};
    if (fstat(fd, &st) == 0 && static_cast<uint64_t>(st.st_size) > kMaxFileBytes) {
        SetAsideOversized(fd, locked);
        ::close(fd);
        return true;  // the defaults
    }
    FILE* f = fdopen(fd, "rb");
    if (!f) {
        ::close(fd);
        return false;
    }
    std::string content;
    char buf[8192];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof(buf), f)) > 0) {
        content.append(buf, n);
        if (content.size() > kMaxFileBytes) {
            // Grown past the cap while it was read.
            SetAsideOversized(fileno(f), locked);
            std::fclose(f);
            return true;
        }
    }
    std::fclose(f);

    Key* current = nullptr;
    size_t start = 0;
    while (start < content.size()) {
        size_t end = content.find('\n', start);
        if (end == std::string::npos)
            end = content.size();
        std::string line = content.substr(start, end - start);
        start = end + 1;
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (line.empty() || line[0] == ';' || line[0] == '#')
            continue;
        if (line[0] == '[' && line.back() == ']') {
            WString name = Utf8ToWide(line.substr(1, line.size() - 2));
            Key& k = tree[Normalise(name)];
            if (k.displayName.empty())
                k.displayName = name;
            current = &k;
            continue;
        }
        if (!current)
            continue;
        size_t pos = 0;
        WString name;
        if (line[0] == '@') {
            pos = 1;
        } else if (!Unquote(line, pos, name)) {
            continue;
        }
        if (pos >= line.size() || line[pos] != '=')
            continue;
        ++pos;
        KeyValue v;
        if (line.compare(pos, 6, "dword:") == 0) {
            v.type = KeyValue::Type::Dword;
            v.dword = static_cast<uint32_t>(std::strtoul(line.c_str() + pos + 6, nullptr, 16));
        } else if (!Unquote(line, pos, v.text)) {
            continue;
        }
        current->values[ToLowerAscii(name)] = {name, v};
    }
    return true;
}

bool KeyStore::Save(const Tree& tree)
{
    std::string out = "; Privasweep settings\n";
    for (const auto& [norm, key] : tree) {
        out += "\n[" + WideToUtf8(key.displayName) + "]\n";
        for (const auto& [lname, nv] : key.values) {
            const auto& [name, v] = nv;
            out += name.empty() ? std::string("@") : "\"" + Escape(name) + "\"";
            out += '=';
            if (v.type == KeyValue::Type::Dword) {
                char hex[16];
                std::snprintf(hex, sizeof(hex), "dword:%08x", v.dword);
                out += hex;
            } else {
                out += "\"" + Escape(v.text) + "\"";
            }
            out += '\n';
        }
    }
    std::filesystem::path target(path_);
    std::error_code ec;
    std::filesystem::create_directories(target.parent_path(), ec);
    std::string tmpl = path_ + ".XXXXXX";
    int fd = mkstemp(tmpl.data());
    if (fd < 0)
        return false;
    const char* p = out.data();
    size_t left = out.size();
    bool ok = true;
    while (left > 0) {
        ssize_t w = ::write(fd, p, left);
        if (w < 0) {
            if (errno == EINTR)
                continue;
            ok = false;
            break;
        }
        p += w;
        left -= static_cast<size_t>(w);
    }
    ok = ok && fchmod(fd, 0600) == 0 && fsync(fd) == 0;
    ok = (::close(fd) == 0) && ok;
    if (!ok || std::rename(tmpl.c_str(), path_.c_str()) != 0) {
        ::unlink(tmpl.c_str());
        return false;
    }
    // Make the rename itself durable.
    int dirFd = ::open(target.parent_path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd >= 0) {
        fsync(dirFd);
        ::close(dirFd);
    }
    return true;
}

// Temporary files of a writer that died before its rename. Called with the
// file lock held, so no live writer has one open.
void KeyStore::RemoveStaleTemporaries()
{
    std::error_code ec;
    const std::filesystem::path target(path_);
    const std::string prefix = target.filename().string() + ".";
    for (const auto& entry : std::filesystem::directory_iterator(target.parent_path(), ec)) {
        const std::string name = entry.path().filename().string();
        if (name.size() == prefix.size() + 6 && name.compare(0, prefix.size(), prefix) == 0 &&
            name.compare(prefix.size(), 6, "lock") != 0 && entry.is_regular_file(ec))
            ::unlink(entry.path().c_str());
    }
}

template <typename F>
bool KeyStore::Modify(F&& change)
{
    std::lock_guard<RankedMutex> guard(mutex_);
    std::error_code ec;
    std::filesystem::create_directories(std::filesystem::path(path_).parent_path(), ec);
    FileLock lock(path_ + ".lock");
    RemoveStaleTemporaries();
    Tree tree;
    if (!Load(tree, true))
        return false;
    int r = change(tree);  // 1 changed, 0 unchanged, -1 failure
    if (r < 0)
        return false;
    return r == 0 || Save(tree);
}

bool KeyStore::KeyExists(WStringView key)
{
    std::lock_guard<RankedMutex> guard(mutex_);
    Tree tree;
    Load(tree);
    return tree.count(Normalise(key)) != 0;
}

bool KeyStore::CreateKey(WStringView key)
{
    WString norm = Normalise(key);
    if (!ValidKey(key))
        return false;
    return Modify([&](Tree& t) {
        if (t.count(norm))
            return 0;
        t[norm].displayName = WString(key);
        return 1;
    });
}

std::optional<KeyValue> KeyStore::Get(WStringView key, WStringView name)
{
    {
        std::lock_guard<RankedMutex> inPlace(inPlaceMutex_);
        if (InPlaceValue* v = FindInPlace(key, name)) {
            if (auto text = ReadInPlace(v->file)) {
                KeyValue kv;
                kv.type = KeyValue::Type::String;
                kv.text = std::move(*text);
                return kv;
            }
            // Nothing in place: a value an older version left in the file.
        }
    }
    std::lock_guard<RankedMutex> guard(mutex_);
    Tree tree;
    Load(tree);
    auto k = tree.find(Normalise(key));
    if (k == tree.end())
        return std::nullopt;
    auto v = k->second.values.find(ToLowerAscii(name));
    if (v == k->second.values.end())
        return std::nullopt;
    return v->second.second;
}

bool KeyStore::SetString(WStringView key, WStringView name, WStringView text)
{
    WString norm = Normalise(key);
    if (!ValidKey(key))
        return false;
    {
        std::lock_guard<RankedMutex> inPlace(inPlaceMutex_);
        InPlaceValue* v = FindInPlace(key, name);
        if (v && OpenInPlace(*v)) {
            const std::string bytes = WideToUtf8(text);
            std::string record = kInPlaceMagic + std::to_string(bytes.size()) + "\n";
            record += bytes;
            if (record.size() <= kInPlaceMaxBytes) {
                ssize_t w;
                do {
                    w = ::pwrite(v->fd, record.data(), record.size(), 0);
                } while (w < 0 && errno == EINTR);
                if (w == static_cast<ssize_t>(record.size())) {
                    if (v->size > record.size() && ::ftruncate(v->fd, static_cast<off_t>(record.size())) != 0)
                        v->size = std::max(v->size, record.size());
                    else
                        v->size = record.size();
                    return true;
                }
            }
            // Could not be written in place: the file takes it below, and
            // the in-place copy, which would shadow it, is emptied.
            if (::ftruncate(v->fd, 0) == 0)
                v->size = 0;
        }
    }
    return Modify([&](Tree& t) {
        Key& k = t[norm];
        if (k.displayName.empty())
            k.displayName = WString(key);
        KeyValue v;
        v.type = KeyValue::Type::String;
        v.text = WString(text);
        auto& slot = k.values[ToLowerAscii(name)];
        if (slot.first.empty())
            slot.first = WString(name);
        slot.second = v;
        return 1;
    });
}

bool KeyStore::SetDword(WStringView key, WStringView name, uint32_t value)
{
    WString norm = Normalise(key);
    if (!ValidKey(key))
        return false;
    return Modify([&](Tree& t) {
        Key& k = t[norm];
        if (k.displayName.empty())
            k.displayName = WString(key);
        KeyValue v;
        v.type = KeyValue::Type::Dword;
        v.dword = value;
        auto& slot = k.values[ToLowerAscii(name)];
        if (slot.first.empty())
            slot.first = WString(name);
        slot.second = v;
        return 1;
    });
}

bool KeyStore::DeleteValue(WStringView key, WStringView name)
{
    bool removedInPlace = false;
    {
        std::lock_guard<RankedMutex> inPlace(inPlaceMutex_);
        if (InPlaceValue* v = FindInPlace(key, name)) {
            removedInPlace = ReadInPlace(v->file).has_value();
            if (OpenInPlace(*v) && ::ftruncate(v->fd, 0) == 0)
                v->size = 0;
        }
    }
    bool removed = false;
    WString norm = Normalise(key);
    bool ok = Modify([&](Tree& t) {
        auto k = t.find(norm);
        if (k == t.end())
            return 0;
        removed = k->second.values.erase(ToLowerAscii(name)) != 0;
        return removed ? 1 : 0;
    });
    return (ok && removed) || removedInPlace;
}

bool KeyStore::DeleteKey(WStringView key)
{
    bool removed = false;
    WString norm = Normalise(key);
    if (norm.empty())
        return false;
    {
        std::lock_guard<RankedMutex> inPlace(inPlaceMutex_);
        const WString prefix = norm + u"\\";
        for (InPlaceValue& v : inPlace_) {
            if (v.key != norm && v.key.compare(0, prefix.size(), prefix) != 0)
                continue;
            removed = ReadInPlace(v.file).has_value() || removed;
            if (OpenInPlace(v) && ::ftruncate(v.fd, 0) == 0)
                v.size = 0;
        }
    }
    bool ok = Modify([&](Tree& t) {
        WString prefix = norm + u"\\";
        for (auto it = t.begin(); it != t.end();) {
            if (it->first == norm || it->first.compare(0, prefix.size(), prefix) == 0) {
                it = t.erase(it);
                removed = true;
            } else {
                ++it;
            }
        }
        return removed ? 1 : 0;
    });
    return ok && removed;
}

std::vector<std::pair<WString, KeyValue>> KeyStore::Values(WStringView key)
{
    std::vector<std::pair<WString, KeyValue>> out;
    std::lock_guard<RankedMutex> guard(mutex_);
    Tree tree;
    Load(tree);
    auto k = tree.find(Normalise(key));
    if (k == tree.end())
        return out;
    for (const auto& [lname, nv] : k->second.values)
        out.push_back(nv);
    return out;
}

}  // namespace plat
