#ifndef VELMORA_READREFUSAL_H
#define VELMORA_READREFUSAL_H

/// How the readers refuse a file: the reason is printed on standard output after the name
/// of the object kind ("GLGraphObject: <reason>") and thrown as std::runtime_error(reason).
/// When `file` is not null the reason starts with it ("<file>: <reason>").
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

#endif
