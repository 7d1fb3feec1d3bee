// The process heap as a whole: what a long-running host needs after a burst of work.
#pragma once

namespace VexaOS {

// Hands the heap's free pages back to the system. The allocator keeps what a job freed for
// later use, per thread arena; a server whose every stream has ended should shrink back to its
// idle size instead. Costs a walk over the heap: call it when work ends, not per operation.
void ReturnFreeMemory();

}  // namespace VexaOS
