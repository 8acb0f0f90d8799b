#include "instrument/Activities.h"

#include <algorithm>

namespace tq {

const Activity& ActivityRegistry::Add(Activity activity) {
    if (Activity* same = Find(activity.owner)) {
        *same = std::move(activity);
        return *same;
    }
    activities_.push_back(std::move(activity));
    return activities_.back();
}

Activity* ActivityRegistry::Find(const void* owner) {
    const auto it = std::find_if(activities_.begin(), activities_.end(),
                                 [owner](const Activity& a) { return a.owner == owner; });
    return it == activities_.end() ? nullptr : &*it;
}

const Activity* ActivityRegistry::Find(const void* owner) const {
    return const_cast<ActivityRegistry*>(this)->Find(owner);
}

bool ActivityRegistry::Remove(const void* owner) {
    return std::erase_if(activities_, [owner](const Activity& a) { return a.owner == owner; }) > 0;
}

bool ActivityRegistry::AnyStartedBy(const void* startedBy) const {
    return std::any_of(activities_.begin(), activities_.end(),
                       [startedBy](const Activity& a) { return a.startedBy == startedBy; });
}

}  // namespace tq
