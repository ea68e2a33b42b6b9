#include "flows/Tidy.h"

#include "vault/Records.h"

namespace vaultry::flows {

std::string tidyRefusal(const platform::Paths& paths, const std::string& location) {
    return tidy::desktopRefusal(paths.desktop().string(), paths.home().string(), location,
                                paths.configHome().string());
}

tidy::TidyOptions tidyOptions(const Preferences& prefs, const std::string& desktop,
                              const StringArray& records, const StringArray& decrypted) {
    tidy::TidyOptions options;
    options.exclusions = prefs.tidyExclusions();
    options.keep = vault::vaultNamesIn(desktop, records, decrypted);
    return options;
}

}  // namespace vaultry::flows
