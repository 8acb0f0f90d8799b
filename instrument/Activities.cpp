#include "instrument/Activities.h"

#include <algorithm>

namespace tq {

bool Activity::OutcomeReported() const {
    switch (outcome_.ending) {
        case ActivityOutcome::Ending::Finished:
            return false;
        case ActivityOutcome::Ending::Stopped:
            if (outcome_.stoppedBy == starter_ || outcome_.expected)
                return false;
            break;
        case ActivityOutcome::Ending::Failed:
            break;
    }
    return !outcome_.told;
}

std::string Activity::OutcomeText() const {
    if (outcome_.ending == ActivityOutcome::Ending::Finished)
        return {};
    const bool failed = outcome_.ending == ActivityOutcome::Ending::Failed;
    std::string text = Subject() + (failed ? " failed" : " stopped");
    if (!outcome_.where.empty())
        text += " at " + outcome_.where;
    return text + ": " + outcome_.why;
}

ActivityOutcome Activity::OutcomeOf(const StopReason& reason, std::string where) {
    ActivityOutcome outcome;
    outcome.ending =
        reason.failure ? ActivityOutcome::Ending::Failed : ActivityOutcome::Ending::Stopped;
    outcome.stoppedBy = reason.by;
    outcome.where = std::move(where);
    outcome.why = reason.why;
    return outcome;
}

void ActivityRegistry::Add(Activity& activity) {
    if (!Running(activity))
        activities_.push_back(&activity);
}

bool ActivityRegistry::Remove(const Activity& activity) {
    return std::erase(activities_, &activity) > 0;
}

bool ActivityRegistry::Running(const Activity& activity) const {
    return std::find(activities_.begin(), activities_.end(), &activity) != activities_.end();
}

bool ActivityRegistry::AnyStartedBy(const void* starter) const {
    return std::any_of(activities_.begin(), activities_.end(),
                       [starter](const Activity* a) { return a->Starter() == starter; });
}

int ActivityRegistry::OperationCondition() const {
    int condition = 0;
    for (const Activity* activity : activities_)
        condition |= activity->Kind().operationBit;
    return condition;
}

}  // namespace tq
