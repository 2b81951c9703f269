#ifndef VELMORA_READREFUSAL_H
#define VELMORA_READREFUSAL_H

#include <string>
#include <vector>

/// How every reader refuses a file: the reason is thrown as std::runtime_error(reason) and,
/// when `owner` is not null, written as an error message after the name of the object kind
/// ("GLGraphObject: <reason>"). Readers whose caller reports the refusal itself (camera
/// models, key cameras, PLY headers) name no owner.
[[noreturn]] void refuseRead(const char *owner, const std::string &reason);

/// The same with a reason formatted as printf does. When `file` is not null the reason starts
/// with it ("<file>: <reason>").
[[noreturn]] void refuseFile(const char *owner, const char *file, const char *format, ...)
    __attribute__((format(printf, 3, 4)));

/// A reader's own refusal: `refuse("%d nodes", n)` in a reader that holds
/// `constexpr ReadRefusal refuse{"GLGraphObject"};`.
struct ReadRefusal {
    const char *owner;
    template <typename... Args>
    [[noreturn]] void operator()(const char *format, Args... args) const
    {
        refuseFile(owner, nullptr, format, args...);
    }
};

/// The same for readers whose reasons start with the file's name (`fallback` stands for a
/// missing one): `refuse(name, "%d levels", n)`.
struct NamedReadRefusal {
    const char *owner;
    const char *fallback;
    template <typename... Args>
    [[noreturn]] void operator()(const char *file, const char *format, Args... args) const
    {
        refuseFile(owner, file ? file : fallback, format, args...);
    }
};

/// A refusal that writes nothing: the reason is thrown after the format's name,
/// `refuse("camera 3 has no size")` in a reader that holds `constexpr QuietRefusal refuse{"COLMAP: "};`.
struct QuietRefusal {
    const char *prefix;
    [[noreturn]] void operator()(const std::string &reason) const { refuseRead(nullptr, prefix + reason); }
    /// The whole file at `path`, or refused with "cannot read <path>".
    std::vector<char> wholeFile(const char *path) const;
};

#endif
