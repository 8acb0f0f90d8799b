// Exclusive access: SYSTem:LOCK takes the one lock over every remote client (the lock a VXI-11
// link takes with device_lock) and gives it back. A client that leaves gives it back too.

#include "remote/RemoteLock.h"
#include "remote/StatusRegisters.h"
#include "remote/commands/Arguments.h"
#include "remote/commands/Command.h"

namespace tq {
namespace {

scpi::ScpiError LockedBy(const RemoteLock& lock) {
    return scpi::ScpiError(scpi::kExecutionError, "the board is locked by " + lock.Holder());
}

}  // namespace

scpi::ScpiError LockRefusal(const RemoteLock& lock) {
    return LockedBy(lock);
}

const CommandRows& LockCommands() {
    static const CommandRows rows = {
        // 1 granted (or held already), 0 while another client holds it.
        Query("SYSTem:LOCK:REQuest",
              [](Call& c) {
                  return c.targets.lock->Take(c.client.origin, c.client.name) ? "1" : "0";
              }),
        // Giving back a lock nobody holds is no fault; one another client holds is refused.
        PassingLock(Action("SYSTem:LOCK:RELease",
                           [](Call& c) {
                               if (c.targets.lock->HeldByAnother(c.client.origin))
                                   throw LockedBy(*c.targets.lock);
                               c.targets.lock->Give(c.client.origin);
                           })),
        // Who holds it: "" while nobody does.
        Query("SYSTem:LOCK:OWNer", [](Call& c) { return args::Quoted(c.targets.lock->Holder()); }),
    };
    return rows;
}

}  // namespace tq
