#pragma once
#include <string>
#include <string_view>
#include <vector>

#include "cookies/CookieStores.h"
#include "cookies/PRCookFileNode.h"
#include "util/Result.h"

namespace vaultry::cookies {

// One cookie as a store keys it; `originAttributes` is Firefox's (a container, a partition),
// empty elsewhere.
struct CookieKey {
    std::string host, name, path, originAttributes;
    bool operator==(const CookieKey&) const = default;
};
CookieKey keyOf(const PRCookFileNode& node);

// What to remove. Cookies of a kept domain are never removed, whatever else says so.
struct RemovalPlan {
    bool all = false;                  // every cookie that is not kept
    std::vector<std::string> domains;  // every cookie of these domains and their subdomains
    std::vector<CookieKey> rows;       // these cookies
    std::vector<std::string> keep;     // the keep-list
};

// "example.org" covers "example.org", ".example.org" and "www.example.org", not "badexample.org".
bool domainMatches(std::string_view host, std::string_view domain);
// A domain as the user types it: lower case, without blanks, a leading dot or a scheme; empty
// when nothing of a domain is left.
std::string normalizedDomain(std::string_view text);
bool doomed(const RemovalPlan& plan, const CookieKey& key);

// Removes what the plan names from the store, all or nothing. A database keeps its own schema and
// indexes; deleted rows are overwritten (secure_delete), the file rebuilt and its log folded in.
// Refused with kBrowserRunning while the browser runs. A binary cookie file is written anew with
// the cookies that stay (atomically). A missing store changes nothing.
Status removeCookies(const std::string& path, Layout layout, const RemovalPlan& plan);

}  // namespace vaultry::cookies
