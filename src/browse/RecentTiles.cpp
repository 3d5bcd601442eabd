#include "browse/RecentTiles.h"

#include <algorithm>

const RecentTiles::Entry *RecentTiles::find(const QString &path)
{
    const auto it = entries_.find(path);
    if (it == entries_.end())
        return nullptr;
    it->used = ++clock_;
    return &it->entry;
}

void RecentTiles::keep(const QString &path, Entry entry)
{
    entries_.insert(path, Kept{std::move(entry), ++clock_});
    while (entries_.size() > capacity_) {
        const auto oldest = std::min_element(entries_.begin(), entries_.end(),
                                             [](const Kept &a, const Kept &b) { return a.used < b.used; });
        entries_.erase(oldest);
    }
}
