#ifndef VELMORA_CLOCALE_H
#define VELMORA_CLOCALE_H

#include <clocale>
#include <locale.h>

/// The "C" locale, for the numbers of files whatever locale the process runs in: in one with
/// a decimal comma the C library's number readers stop "0.5" at its point. The toolkit's
/// program sets the numbers back to "C", others (the off-screen renderer, tests) need not.
class CLocale {
public:
    /// The locale object, for the functions that take one (strtod_l, ...); made once.
    static locale_t get()
    {
        static const locale_t c = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
        return c;
    }

    /// Sets the "C" locale on the calling thread for as long as it lives, for readers that go
    /// through scanf and its kin; the thread's own comes back after, also when a refusal
    /// unwinds the reading.
    class Scope {
    public:
        Scope() : previous(uselocale(get())) {}
        ~Scope() { uselocale(previous); }
        Scope(const Scope &) = delete;
        Scope &operator=(const Scope &) = delete;

    private:
        locale_t previous;
    };
};

#endif
