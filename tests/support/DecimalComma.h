#ifndef VELMORA_TEST_DECIMALCOMMA_H
#define VELMORA_TEST_DECIMALCOMMA_H

#include "support/Process.h"

#include <clocale>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <unistd.h>

namespace testsupport {

/// The process's numbers in a locale with a decimal comma while it lives, as a desktop in such
/// a language gives them to a program that does not set them back: an installed locale, else
/// one localedef makes under the build's temporary folder. `why` says why when neither works.
class DecimalComma {
public:
    DecimalComma() : previous(std::setlocale(LC_NUMERIC, nullptr))
    {
        for (const char *name : {"de_DE.UTF-8", "de_DE.utf8", "fr_FR.UTF-8", "fr_FR.utf8"})
            if (use(name))
                return;
        namespace fs = std::filesystem;
        const fs::path folder = fs::path(VELMORA_TEMP_DIR) / "locales", made = folder / "de_DE.UTF-8";
        std::error_code ec;
        std::string err;
        if (!fs::exists(made / "LC_NUMERIC", ec)) {
            // Made in a folder of its own, then moved: tests at the same time never see half of one.
            const fs::path scratch = folder / ("making-" + std::to_string(getpid()));
            fs::create_directories(scratch, ec);
            err = runProcess({"/usr/bin/localedef", "-i", "de_DE", "-f", "UTF-8", (scratch / "l").string()}).err;
            fs::rename(scratch / "l", made, ec);
            fs::remove_all(scratch, ec);
        }
        setenv("LOCPATH", folder.c_str(), 1); // where the C library then looks for locales
        if (!use("de_DE.UTF-8"))
            why = "no locale with a decimal comma is installed and localedef made none: " + err;
    }
    ~DecimalComma() { std::setlocale(LC_NUMERIC, previous.c_str()); }
    DecimalComma(const DecimalComma &) = delete;
    DecimalComma &operator=(const DecimalComma &) = delete;

    bool active() const { return why.empty(); }
    std::string why;

private:
    bool use(const char *name)
    {
        if (std::setlocale(LC_NUMERIC, name) && std::localeconv()->decimal_point == std::string(","))
            return true;
        std::setlocale(LC_NUMERIC, previous.c_str());
        return false;
    }

    std::string previous;
};

} // namespace testsupport

#endif
