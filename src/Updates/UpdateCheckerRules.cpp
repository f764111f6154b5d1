// The version and download-address rules of the update checker.
#include "Updates/UpdateChecker.hpp"

#include <curl/curl.h>
#include <unicode/ubrk.h>
#include <unicode/uchar.h>
#include <unicode/utext.h>
#include <unicode/utf8.h>

#include <algorithm>
#include <charconv>
#include <memory>

namespace stashbay {

namespace {

constexpr std::size_t maximumVersionLength = 20;

// The text's extended grapheme clusters (user-perceived characters), as views into it, up to
// `limit` of them. Bytes that are not UTF-8 read as replacement characters.
std::vector<std::string_view> graphemeClusters(std::string_view text, std::size_t limit) {
    std::vector<std::string_view> clusters;
    if (text.empty()) return clusters;
    UErrorCode status = U_ZERO_ERROR;
    // Opening an iterator costs far more than using one; each thread keeps its own.
    thread_local std::unique_ptr<UBreakIterator, decltype(&ubrk_close)> breaks(
        ubrk_open(UBRK_CHARACTER, "", nullptr, 0, &status), &ubrk_close);
    if (!breaks) status = U_MISSING_RESOURCE_ERROR;
    std::unique_ptr<UText, decltype(&utext_close)> utext(
        utext_openUTF8(nullptr, text.data(), static_cast<int64_t>(text.size()), &status), &utext_close);
    if (U_SUCCESS(status)) ubrk_setUText(breaks.get(), utext.get(), &status);
    if (U_FAILURE(status)) {
        // No break data: every code unit counts as one, which only ever overcounts.
        for (std::size_t i = 0; i < text.size() && clusters.size() < limit; ++i) clusters.push_back(text.substr(i, 1));
        return clusters;
    }
    // With a UTF-8 text the iterator's offsets are byte offsets.
    int32_t start = ubrk_first(breaks.get());
    for (int32_t end = ubrk_next(breaks.get()); end != UBRK_DONE && clusters.size() < limit;
         start = end, end = ubrk_next(breaks.get())) {
        clusters.push_back(text.substr(static_cast<std::size_t>(start), static_cast<std::size_t>(end - start)));
    }
    return clusters;
}

bool isNumberCharacter(std::string_view cluster) {
    UChar32 first = 0;
    int32_t offset = 0;
    U8_NEXT(cluster.data(), offset, static_cast<int32_t>(cluster.size()), first);
    return first >= 0 && u_getIntPropertyValue(first, UCHAR_NUMERIC_TYPE) != U_NT_NONE;
}

// A whole segment as a signed 64-bit decimal: an optional sign, then ASCII digits only.
std::int64_t componentValue(std::string_view segment) {
    std::string_view digits = segment;
    if (!digits.empty() && (digits.front() == '+' || digits.front() == '-')) digits.remove_prefix(1);
    if (digits.empty() || !std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; })) {
        return 0;
    }
    // from_chars takes a minus sign but not a plus.
    std::string_view number = segment.front() == '+' ? digits : segment;
    std::int64_t value = 0;
    auto [end, error] = std::from_chars(number.data(), number.data() + number.size(), value);
    if (error != std::errc() || end != number.data() + number.size()) return 0;
    return value;
}

std::string lowercased(const char* text) {
    std::string out(text);
    std::transform(out.begin(), out.end(), out.begin(),
                   [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; });
    return out;
}

}  // namespace

bool UpdateChecker::isValidVersionString(std::string_view version) {
    auto clusters = graphemeClusters(version, maximumVersionLength + 1);
    if (clusters.empty() || clusters.size() > maximumVersionLength) return false;
    return std::all_of(clusters.begin(), clusters.end(),
                       [](std::string_view c) { return c == "." || isNumberCharacter(c); });
}

std::vector<std::int64_t> UpdateChecker::versionComponents(std::string_view version) {
    // Split at every character that is a full stop alone: a dot carrying a combining mark is
    // another character, and stays inside its segment.
    std::vector<std::int64_t> components;
    std::size_t segmentStart = 0;
    auto endSegment = [&](std::size_t segmentEnd) {
        if (segmentEnd > segmentStart)
            components.push_back(componentValue(version.substr(segmentStart, segmentEnd - segmentStart)));
    };
    for (std::string_view cluster : graphemeClusters(version, version.size())) {
        if (cluster != ".") continue;
        auto at = static_cast<std::size_t>(cluster.data() - version.data());
        endSegment(at);
        segmentStart = at + 1;
    }
    endSegment(version.size());
    return components;
}

bool UpdateChecker::isNewer(std::string_view candidate, std::string_view current) {
    auto candidateComponents = versionComponents(candidate);
    auto currentComponents = versionComponents(current);
    std::size_t count = std::max(candidateComponents.size(), currentComponents.size());
    for (std::size_t i = 0; i < count; ++i) {
        std::int64_t c = i < candidateComponents.size() ? candidateComponents[i] : 0;
        std::int64_t r = i < currentComponents.size() ? currentComponents[i] : 0;
        if (c != r) return c > r;
    }
    return false;
}

bool UpdateChecker::isValidDownloadURL(const ns::URL& url) {
    // The URL parser also reads a host after one slash or three ("https:/host", "https:///host"),
    // where an address has none; only "//" followed by an authority names a host.
    const std::string& text = url.absoluteString();
    std::size_t colon = text.find(':');
    if (colon == std::string::npos || text.compare(colon + 1, 2, "//") != 0 || colon + 3 >= text.size() ||
        text[colon + 3] == '/' || text[colon + 3] == '\\') {
        return false;
    }
    std::unique_ptr<CURLU, decltype(&curl_url_cleanup)> parsed(curl_url(), &curl_url_cleanup);
    if (!parsed || curl_url_set(parsed.get(), CURLUPART_URL, url.absoluteString().c_str(), 0) != CURLUE_OK) {
        return false;
    }
    char* scheme = nullptr;
    char* host = nullptr;
    bool valid = curl_url_get(parsed.get(), CURLUPART_SCHEME, &scheme, 0) == CURLUE_OK &&
                 curl_url_get(parsed.get(), CURLUPART_HOST, &host, 0) == CURLUE_OK && lowercased(scheme) == "https" &&
                 lowercased(host) == updateHost;
    curl_free(scheme);
    curl_free(host);
    return valid;
}

}  // namespace stashbay
