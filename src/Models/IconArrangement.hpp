#pragma once

#include "Models/MenuBarItemID.hpp"
#include "Models/MenuBarItemVisibility.hpp"
#include "Models/MenuBarSection.hpp"
#include "stashbay/runtime/Time.hpp"

#include <nlohmann/json.hpp>

#include <cstdint>
#include <iosfwd>
#include <map>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace stashbay {

// The user's arrangement: the visibility chosen for each item and the order of the items in
// each section. It is the whole content of the arrangement file. Every change goes through one
// of the operations below, which stamp `lastModified` with the current date.
class IconArrangement {
public:
    using Assignments = std::unordered_map<MenuBarItemID, MenuBarItemVisibility>;
    // An entry may hold an empty list, which is not the same as no entry.
    using SectionOrders = std::map<MenuBarSection::SectionType, std::vector<MenuBarItemID>>;

    IconArrangement(Assignments assignments, SectionOrders sectionOrders, runtime::Date lastModified)
        : assignments_(std::move(assignments)), sectionOrders_(std::move(sectionOrders)), lastModified_(lastModified) {}

    // No assignments, no orders, modified in the distant past.
    static const IconArrangement& empty();

    const Assignments& assignments() const { return assignments_; }
    const SectionOrders& sectionOrders() const { return sectionOrders_; }
    runtime::Date lastModified() const { return lastModified_; }

    // Records the choice and moves the identity out of its previous section's order into the
    // end of the new one, unless it stands there already. `pinned` counts as the visible section.
    void assign(const MenuBarItemID& id, MenuBarItemVisibility visibility);
    // Moves (or inserts) the identity to `index` of the section's order, clamped to the list.
    // A section without an entry is left alone, `lastModified` included.
    void reorder(const MenuBarItemID& id, MenuBarSection::SectionType section, std::int64_t index);
    // Forgets the identity in the assignments and every order; emptied orders stay.
    void remove(const MenuBarItemID& id);
    // The stored order, or an empty list when the section has no entry.
    std::vector<MenuBarItemID> order(MenuBarSection::SectionType section) const;
    // Forgets every identity that is not in `ids`; emptied orders stay.
    void pruneStaleEntries(const std::unordered_set<MenuBarItemID>& ids);

    // The file's JSON value: "assignments" keyed by the identities' key forms, "lastModified"
    // in seconds since 2001-01-01, "sectionOrders" as a flat array of title and identity list.
    // Throws EncodingError when `lastModified` is not finite.
    nlohmann::json encode() const;
    // Strict and all-or-nothing. Throws DecodingError.
    static IconArrangement decode(const nlohmann::json& value);

    // The file's bytes: indented, members sorted by name. Throws EncodingError.
    std::string encodedDocument() const;
    // Parses and decodes the file's bytes. Throws DecodingError, also for text that is not JSON.
    static IconArrangement decodeDocument(std::string_view data);

    friend bool operator==(const IconArrangement&, const IconArrangement&) = default;

private:
    Assignments assignments_;
    SectionOrders sectionOrders_;
    runtime::Date lastModified_;
};

// The file's document, or why there is none; test failures show arrangements this way.
std::ostream& operator<<(std::ostream& os, const IconArrangement& arrangement);

}  // namespace stashbay
