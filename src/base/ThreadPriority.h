#pragma once

namespace tallyport {

// "Two steps below normal" for the calling thread only: the lowest priority above idle that
// the link workers run at. A refusal leaves the thread at its normal priority, which is
// harmless, so nothing is reported. Any thread may call it for itself.
void LowerThisThreadsPriority();

}  // namespace tallyport
