#include "lumenhollow/platform/settings_json.h"

#include <algorithm>
#include <limits>
#include <map>
#include <nlohmann/json.hpp>
#include <optional>
#include <set>

#include "hollowkit/base/log_excerpt.h"
#include "lumenhollow/platform/base64.h"
#include "lumenhollow/platform/json_repair.h"

namespace lumenhollow {
namespace {

using nlohmann::json;

constexpr std::string_view kDataTag = "$data";
constexpr std::string_view kUrlTag = "$url";

// The one-member object {"<tag>": "<text>"}, or nothing.
std::optional<std::string> taggedText(const json& member, std::string_view tag) {
    if (!member.is_object() || member.size() != 1) return std::nullopt;
    const auto found = member.find(tag);
    if (found == member.end() || !found->is_string()) return std::nullopt;
    return found->get<std::string>();
}

std::optional<SettingsValue> readValue(const json& member) {
    switch (member.type()) {
        case json::value_t::boolean:
            return SettingsValue(member.get<bool>());
        case json::value_t::number_integer:
            return SettingsValue(member.get<int64_t>());
        case json::value_t::number_unsigned: {
            const uint64_t number = member.get<uint64_t>();
            if (number > static_cast<uint64_t>(std::numeric_limits<int64_t>::max())) return std::nullopt;
            return SettingsValue(static_cast<int64_t>(number));
        }
        case json::value_t::number_float:
            return SettingsValue(member.get<double>());
        case json::value_t::string:
            return SettingsValue(member.get<std::string>());
        case json::value_t::array: {
            StringArray texts;
            for (const json& element : member) {
                if (!element.is_string()) return std::nullopt;
                texts.push_back(element.get<std::string>());
            }
            return SettingsValue(std::move(texts));
        }
        case json::value_t::object:
            if (auto data = taggedText(member, kDataTag)) {
                if (auto bytes = base64Decode(*data)) return SettingsValue(std::move(*bytes));
                return std::nullopt;
            }
            if (auto url = taggedText(member, kUrlTag)) return SettingsValue(Url{std::move(*url)});
            return std::nullopt;
        default:
            return std::nullopt;
    }
}

json writeValue(const SettingsValue& value) {
    struct Writer {
        json operator()(bool flag) const { return flag; }
        json operator()(int64_t number) const { return number; }
        json operator()(double number) const { return number; }
        json operator()(const std::string& text) const { return text; }
        json operator()(const StringArray& texts) const { return texts; }
        json operator()(const Bytes& bytes) const { return json{{kDataTag, base64Encode(bytes)}}; }
        json operator()(const Url& url) const { return json{{kUrlTag, url.text}}; }
    };
    return std::visit(Writer{}, value);
}

std::string typeName(const json& value) {
    return value.type_name();
}

// Collects the top-level object's keys in the order of the text, repeats
// included, so that a repair's member number names its key. The parser's
// own callback cannot be used for this: with one, closing each nested
// object searches its parent, which is quadratic in the members.
class TopLevelKeys final : public nlohmann::json_sax<json> {
public:
    std::vector<std::string> keys;

    bool null() override { return true; }
    bool boolean(bool) override { return true; }
    bool number_integer(number_integer_t) override { return true; }
    bool number_unsigned(number_unsigned_t) override { return true; }
    bool number_float(number_float_t, const string_t&) override { return true; }
    bool string(string_t&) override { return true; }
    bool binary(binary_t&) override { return true; }
    bool start_object(std::size_t) override { return ++depth_, true; }
    bool end_object() override { return --depth_, true; }
    bool start_array(std::size_t) override { return ++depth_, true; }
    bool end_array() override { return --depth_, true; }
    bool key(string_t& key) override {
        if (depth_ == 1) keys.push_back(key);
        return true;
    }
    bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception&) override { return false; }

private:
    int depth_ = 0;
};

// The keys whose members the repair marked as holding bad text. The parser
// keeps the last of repeated keys, so a key goes only when its last member
// is a damaged one.
std::set<std::string, std::less<>> keysWithBadText(const std::string& text,
                                                   const std::vector<JsonRepair::Flaw>& flaws) {
    std::set<size_t> damaged;
    for (const JsonRepair::Flaw& flaw : flaws) {
        if (flaw.kind == JsonRepair::Kind::badText) damaged.insert(flaw.member);
    }
    if (damaged.empty()) return {};
    TopLevelKeys collector;
    json::sax_parse(text, &collector);
    std::map<std::string_view, size_t> lastMember;
    for (size_t i = 0; i < collector.keys.size(); ++i) lastMember[collector.keys[i]] = i;
    std::set<std::string, std::less<>> keys;
    for (const auto& [key, member] : lastMember) {
        if (damaged.contains(member)) keys.emplace(key);
    }
    return keys;
}

// No location this program stores holds a NUL byte, and as a path it would
// end early there.
bool urlHoldsNul(const SettingsValue& value) {
    const Url* url = std::get_if<Url>(&value);
    return url != nullptr && url->text.find("%00") != std::string::npos;
}

}  // namespace

hollowkit::Result<ParsedSettings, std::string> parseSettingsJson(std::string_view text) {
    // A text that is not UTF-8 (a name typed in Latin-1 by hand) costs only
    // the member holding it: the pairing identifier and every other setting
    // are kept.
    JsonRepair repaired = repairJson(text, /*repairTexts=*/true);
    if (repaired.deepestNesting > kMaxSettingsNesting) {
        return hollowkit::unexpected("nested deeper than " + std::to_string(kMaxSettingsNesting) + " levels");
    }
    json root;
    try {
        root = json::parse(repaired.text);
    } catch (const json::parse_error& error) {
        return hollowkit::unexpected("not JSON at byte " + std::to_string(error.byte));
    } catch (const json::exception& error) {
        // The message may quote the text at length.
        return hollowkit::unexpected("not JSON (" + hollowkit::logExcerpt(error.what(), 2 * hollowkit::kLogExcerptBytes) +
                                     ")");
    }
    if (!root.is_object()) return hollowkit::unexpected("the top level is " + typeName(root) + ", not an object");

    ParsedSettings parsed;
    for (const JsonRepair::Flaw& flaw : repaired.flaws) {
        if (flaw.kind == JsonRepair::Kind::badText) {
            ++parsed.membersWithBadText;
        } else {
            ++parsed.membersWithNumbersOutOfRange;
        }
    }
    parsed.firstRepair = std::move(repaired.firstExample);
    const std::set<std::string, std::less<>> leftOut = keysWithBadText(repaired.text, repaired.flaws);
    for (const auto& [key, member] : root.items()) {
        if (leftOut.contains(key)) continue;
        std::optional<SettingsValue> value = readValue(member);
        if (value && urlHoldsNul(*value)) {
            parsed.urlsWithNul.push_back(key);
            value.reset();
        }
        if (value) {
            parsed.document.values.emplace(key, std::move(*value));
        } else {
            parsed.document.foreign.emplace(key, member.dump(-1, ' ', false, json::error_handler_t::replace));
        }
    }
    return parsed;
}

std::string formatSettingsJson(const SettingsDocument& document, SettingsLayout layout) {
    json root = json::object();
    for (const auto& [key, value] : document.values) root[key] = writeValue(value);
    for (const auto& [key, text] : document.foreign) {
        // Foreign text came from the parser above, so it parses again.
        root[key] = json::parse(text, nullptr, false);
    }
    if (layout == SettingsLayout::compact) return root.dump(-1, ' ', false, json::error_handler_t::replace);
    return root.dump(2, ' ', false, json::error_handler_t::replace) + "\n";
}

}  // namespace lumenhollow
