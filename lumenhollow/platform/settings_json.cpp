#include "lumenhollow/platform/settings_json.h"

#include <algorithm>
#include <limits>
#include <nlohmann/json.hpp>
#include <optional>

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

}  // namespace

hollowkit::Result<ParsedSettings, std::string> parseSettingsJson(std::string_view text) {
    // Texts are left as they are: a file that is not UTF-8 is not this
    // program's, and is refused whole.
    JsonRepair repaired = repairJson(text, /*repairTexts=*/false);
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
    parsed.membersWithNumbersOutOfRange = repaired.flaws.size();
    parsed.firstNumberOutOfRange = std::move(repaired.firstExample);
    for (const auto& [key, member] : root.items()) {
        if (auto value = readValue(member)) {
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
