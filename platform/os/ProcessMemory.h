// The process heap as a whole: what a long-running host needs after a burst of work.
#pragma once

namespace VexaOS {

// Hands the heap's free pages back to the system. The allocator keeps what a job freed for
// later use, per thread arena; a server whose every stream has ended should shrink back to its
// idle size instead. Costs a walk over the heap: call it when work ends, not per operation.
// On Windows the C run-time's heap and the process heap are compacted, which decommits what
// they can of their free space.
void ReturnFreeMemory();

// Makes the threads that start from now on share the process's one heap arena. glibc gives a
// thread an arena of its own and never hands back the free top of such an arena, not even on
// ReturnFreeMemory, so a server whose streams (each with threads of its own) have ended would
// keep most of what they used. Measured, sharing costs the remux nothing. A host that set its
// own arena count (MALLOC_ARENA_MAX, or arena_max in GLIBC_TUNABLES) keeps it. Does nothing
// where the C library is not glibc: on Windows every thread already allocates from the one
// process heap.
void ShareOneHeapArena();

}  // namespace VexaOS
