#include "lumenhollow/platform/linux/libsecret_store.h"

#include <libsecret/secret.h>

#include <memory>

#include "hollowkit/base/pocket_log.h"
#include "hollowkit/base/utf8.h"

namespace lumenhollow {
namespace {

using hollowkit::PocketLog;

// The two attributes of the item. The schema's name is not matched, so
// items stored by other tools under other schema names are found as well.
const SecretSchema* lookupSchema() {
    static const SecretSchema schema = [] {
        SecretSchema built{};
        built.name = "com.tarvenc.lumenhollow.Password";
        built.flags = SECRET_SCHEMA_DONT_MATCH_NAME;
        built.attributes[0] = {"service", SECRET_SCHEMA_ATTRIBUTE_STRING};
        built.attributes[1] = {"account", SECRET_SCHEMA_ATTRIBUTE_STRING};
        return built;
    }();
    return &schema;
}

struct ErrorFree {
    void operator()(GError* error) const { g_error_free(error); }
};
struct PasswordFree {
    // Wipes the text before it is freed.
    void operator()(gchar* password) const { secret_password_free(password); }
};

// True when an item matches, locked or not. A lookup that finds nothing
// and reports no error has met no item, a locked one whose unlock prompt
// was refused (or could not be shown), or a secret that is not text; only
// the log tells the first apart from the others.
bool hasItem(const std::string& service, const std::string& account) {
    GError* rawError = nullptr;
    GList* items = secret_password_search_sync(lookupSchema(), SECRET_SEARCH_ALL, nullptr, &rawError, "service",
                                               service.c_str(), "account", account.c_str(), nullptr);
    std::unique_ptr<GError, ErrorFree> error(rawError);
    const bool any = items != nullptr;
    g_list_free_full(items, g_object_unref);
    return any;
}

}  // namespace

std::optional<std::string> LibsecretStore::password(std::string_view service, std::string_view account) {
    const std::string serviceText(service);
    const std::string accountText(account);
    GError* rawError = nullptr;
    std::unique_ptr<gchar, PasswordFree> found(
        secret_password_lookup_sync(lookupSchema(), nullptr, &rawError, "service", serviceText.c_str(), "account",
                                    accountText.c_str(), nullptr));
    std::unique_ptr<GError, ErrorFree> error(rawError);
    if (error) {
        PocketLog::logf("Keyring: no password for %s (%s)", serviceText.c_str(), error->message);
        return std::nullopt;
    }
    if (!found) {
        if (hasItem(serviceText, accountText)) {
            PocketLog::logf("Keyring: the password for %s is in a locked keyring or is not text; not used",
                            serviceText.c_str());
        } else {
            PocketLog::logf("Keyring: no password stored for %s, account \"%s\"", serviceText.c_str(),
                            accountText.c_str());
        }
        return std::nullopt;
    }
    std::string text(found.get());
    if (!hollowkit::isValidUtf8(text)) {
        PocketLog::logf("Keyring: the password for %s is not UTF-8 text; not used", serviceText.c_str());
        return std::nullopt;
    }
    return text;
}

}  // namespace lumenhollow
